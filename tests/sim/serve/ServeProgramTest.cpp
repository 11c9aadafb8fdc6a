// `sendra-sim serve` as a user runs it: it says where it serves, runs in real time, and
// Ctrl-C (SIGINT), SIGTERM or SIGHUP stops it cleanly with the simulation saved to a file it
// names; bad options are usage errors, and a port in use or a folder it cannot save in stop it
// at once.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "SimProgram.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Text.h"
#include "serve/ServeSession.h"

namespace {

using nlohmann::json;
using sim_testing::Scratch;

// How a server is started besides its arguments and folder.
struct ServerStart {
	std::vector<std::pair<std::string, std::string>> env;  // variables set
	std::string faults;                                     // as sim_testing::Launch's
	rlim_t fileBytes = RLIM_INFINITY;                       // the file-size limit
	bool hupIgnored = false;                                // as nohup starts it
};

// sendra-sim serve running in a scratch folder (or in cwd), its output going to files there.
class Server {
public:
	Server(const Scratch &dir, const std::vector<std::string> &args, const std::string &cwd = "", const ServerStart &start = {})
		: dir_(dir) {
		// An earlier server's lines are not this one's.
		std::filesystem::remove(dir.dir() / "out.txt");
		std::filesystem::remove(dir.dir() / "err.txt");
		pid_ = ::fork();
		if (pid_ == 0) {
			int o = ::open((dir.dir() / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			int e = ::open((dir.dir() / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			if (o < 0 || e < 0 || ::chdir(cwd.empty() ? dir.dir().c_str() : cwd.c_str()) != 0)
				::_exit(127);
			::dup2(o, 1);
			::dup2(e, 2);
			for (const auto &[name, value] : start.env)
				::setenv(name.c_str(), value.c_str(), 1);
			sim_testing::InjectFaults(start.faults);
			rlimit limit{start.fileBytes, start.fileBytes};
			::setrlimit(RLIMIT_FSIZE, &limit);
			sim_testing::AsAShellStarts();
			if (start.hupIgnored)
				std::signal(SIGHUP, SIG_IGN);
			std::vector<char *> argv{const_cast<char *>(SENDRA_SIM_PROGRAM), const_cast<char *>("serve")};
			for (const std::string &a : args)
				argv.push_back(const_cast<char *>(a.c_str()));
			argv.push_back(nullptr);
			::execv(SENDRA_SIM_PROGRAM, argv.data());
			::_exit(127);
		}
	}
	pid_t pid() const { return pid_; }
	~Server() {
		if (pid_ > 0 && !exited_) {
			::kill(pid_, SIGKILL);
			::waitpid(pid_, nullptr, 0);
		}
	}
	// The port from the line that says where it serves; 0 if none came within seconds.
	int Port(const std::string &address = "127\\.0\\.0\\.1") {
		std::smatch m;
		for (int i = 0; i < 3000; ++i) {
			std::string out = dir_.Read("out.txt");
			if (std::regex_search(out, m, std::regex("serving Sendra-1 at http://" + address + ":([0-9]+)/")))
				return std::stoi(m[1]);
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		}
		return 0;
	}
	// Sends sig and waits a while for the exit status; -1 if it did not exit.
	int Stop(int sig) {
		::kill(pid_, sig);
		return Wait();
	}
	int Wait() {
		for (int i = 0; i < 3000; ++i) {
			int status = 0;
			if (::waitpid(pid_, &status, WNOHANG) == pid_) {
				exited_ = true;
				return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		}
		return -1;
	}

private:
	const Scratch &dir_;
	pid_t pid_ = -1;
	bool exited_ = false;
};

TEST(ServeProgram, RunsInRealTimeAndCtrlCSavesToAFileItNames) {
	Scratch dir;
	dir.Write("sendra-sim-quicksave-0001.scn", "someone else's file\n");
	Server server(dir, {"--port", "0", "--terrain", "flat"});
	int port = server.Port();
	ASSERT_GT(port, 0) << dir.Read("out.txt") << dir.Read("err.txt");
	httplib::Client client("127.0.0.1", port);
	httplib::Result first = client.Get("/api/state");
	ASSERT_TRUE(first && first->status == 200);
	auto start = std::chrono::steady_clock::now();
	std::this_thread::sleep_for(std::chrono::milliseconds(600));
	httplib::Result second = client.Get("/api/state");
	double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	ASSERT_TRUE(second && second->status == 200);
	double advanced = json::parse(second->body)["simt"].get<double>() - json::parse(first->body)["simt"].get<double>();
	// Paced by the wall clock: not run ahead as fast as it can (a loaded machine may lag).
	EXPECT_GT(advanced, 0);
	EXPECT_LT(advanced, wall + 0.1);

	EXPECT_EQ(server.Stop(SIGINT), 0) << dir.Read("err.txt");
	std::smatch m;
	std::string out = dir.Read("out.txt");
	ASSERT_TRUE(std::regex_search(out, m, std::regex("stopped at t=[0-9.]+ s; saved the simulation to (\\S+)\n")))
		<< out;
	EXPECT_EQ(m[1], "./sendra-sim-quicksave-0002.scn");
	EXPECT_EQ(dir.Read("sendra-sim-quicksave-0001.scn"), "someone else's file\n");
	host::ScenarioFile saved = host::ReadScenarioFile((dir / "sendra-sim-quicksave-0002.scn").string());
	ASSERT_EQ(saved.vessels.size(), 1u);
	EXPECT_EQ(saved.vessels[0].name, "Sendra-1");
	EXPECT_GT(saved.mjd.value_or(0), 60000.0);
	EXPECT_EQ(dir.Read("err.txt").find("warning"), std::string::npos) << dir.Read("err.txt");
}

TEST(ServeProgram, SigtermStopsAndSavesAScenarioNamedAfterTheLoadedOne) {
	Scratch dir;
	dir.Write("Two rovers.scn", sim_testing::RoverScenario({{"Sendra-1", 23.47, 0.67, 0}, {"Sendra-2", 23.4701, 0.67, 90}}));
	Server server(dir, {"Two rovers.scn", "--port", "0", "--dt", "0.02"});
	ASSERT_GT(server.Port(), 0) << dir.Read("err.txt");
	EXPECT_EQ(server.Stop(SIGTERM), 0) << dir.Read("err.txt");
	host::ScenarioFile saved = host::ReadScenarioFile((dir / "Two rovers-quicksave-0001.scn").string());
	ASSERT_EQ(saved.vessels.size(), 2u);
	EXPECT_EQ(saved.blocks.at(0).text, "BEGIN_DESC\nTest rovers\nEND_DESC\n");
}

TEST(ServeProgram, SighupStopsAndSavesAsCtrlCDoes) {
	Scratch dir;
	Server server(dir, {"--port", "0", "--terrain", "flat"});
	ASSERT_GT(server.Port(), 0) << dir.Read("err.txt");
	EXPECT_EQ(server.Stop(SIGHUP), 0) << dir.Read("err.txt");
	EXPECT_NE(dir.Read("out.txt").find("saved the simulation to ./sendra-sim-quicksave-0001.scn"), std::string::npos);
	EXPECT_EQ(host::ReadScenarioFile((dir / "sendra-sim-quicksave-0001.scn").string()).vessels.size(), 1u);

	// Killed once its save was written whole, before it had its name: the next command in the
	// folder puts it in place and says so.
	Server killed(dir, {"--port", "0", "--terrain", "flat"}, "", ServerStart{{}, "link@quicksave-0002=KILL"});
	ASSERT_GT(killed.Port(), 0) << dir.Read("err.txt");
	EXPECT_EQ(killed.Stop(SIGHUP), -1) << dir.Read("err.txt");
	EXPECT_FALSE(std::filesystem::exists(dir / "sendra-sim-quicksave-0002.scn"));
	sim_testing::ProgramResult r = dir.Run({"render", "--size", "32x32", "--out", "pic.png"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("sendra-sim: warning: ./sendra-sim-quicksave-0002.scn: put in place, a file that a command had "
	                     "written whole when it ended\n"),
	          std::string::npos)
		<< r.err;
	EXPECT_EQ(host::ReadScenarioFile((dir / "sendra-sim-quicksave-0002.scn").string()).vessels.size(), 1u);
	for (const std::string &name : dir.Files(""))
		EXPECT_NE(name.rfind(".sendra-", 0), 0u) << name;
}

TEST(ServeProgram, ASecondServerOnAPortInUseStopsAtOnceAndTheFirstServesOn) {
	Scratch dir, other;
	Server first(dir, {"--port", "0"});
	int port = first.Port();
	ASSERT_GT(port, 0) << dir.Read("err.txt");
	Server second(other, {"--port", std::to_string(port)});
	EXPECT_EQ(second.Wait(), 3) << other.Read("out.txt");
	EXPECT_EQ(other.Read("err.txt"), "sendra-sim: serve: port " + std::to_string(port) +
	                                       " is in use; --port 0 takes any free one\n");
	httplib::Client client("127.0.0.1", port);
	for (int i = 0; i < 4; ++i) {
		httplib::Result r = client.Get("/api/session");
		ASSERT_TRUE(r);
		EXPECT_EQ(r->status, 200);
	}
	EXPECT_EQ(first.Stop(SIGINT), 0);
}

TEST(ServeProgram, AFolderItCannotSaveInStopsItAtOnce) {
	Scratch dir;
	Server server(dir, {"--port", "0"}, "/proc");  // no one, not even root, makes files there
	EXPECT_EQ(server.Wait(), 3);
	EXPECT_NE(dir.Read("err.txt").find("sendra-sim: serve: cannot save in /proc"), std::string::npos) << dir.Read("err.txt");
	EXPECT_EQ(dir.Read("out.txt"), "") << "it never served";
}

TEST(ServeProgram, AQuicksaveThatCannotGoWhereItShouldGoesWhereItCanAndIsNamed) {
	namespace fs = std::filesystem;
	Scratch dir;
	const std::string here = dir.dir().string(), home = here + "/home", temp = here + "/temp";
	fs::create_directories(home);
	fs::create_directories(temp);
	const std::vector<std::pair<std::string, std::string>> env{{"HOME", home}, {"TMPDIR", temp}};
	// Every file or folder under the scratch folder whose name marks it as staged.
	auto staged = [&] {
		size_t n = 0;
		for (const auto &e : fs::recursive_directory_iterator(dir.dir()))
			n += e.path().filename().string().rfind(".sendra-", 0) == 0;
		return n;
	};
	auto stop = [&](Server &server, int signal, int status) {
		ASSERT_GT(server.Port(), 0) << dir.Read("err.txt");
		EXPECT_EQ(server.Stop(signal), status) << dir.Read("err.txt");
	};

	// The folder stops taking files during the session (it took the check's at start-up): the
	// save goes home, and both the reason and the place are said.
	{
		Server server(dir, {"--port", "0"}, "", ServerStart{env, "mkdir@" + here + "/.sendra-new#2+=EROFS"});
		stop(server, SIGTERM, 0);
	}
	EXPECT_NE(dir.Read("err.txt").find("sendra-sim: ./sendra-sim-quicksave-0001.scn: cannot create the file: Read-only "
	                                   "file system (making its hidden folder in .); saving in " + home + " instead"),
	          std::string::npos)
		<< dir.Read("err.txt");
	EXPECT_NE(dir.Read("out.txt").find("saved the simulation to " + home + "/sendra-sim-quicksave-0001.scn\n"),
	          std::string::npos);
	EXPECT_EQ(host::ReadScenarioFile(home + "/sendra-sim-quicksave-0001.scn").vessels.size(), 1u);

	// Beside 9,999 quicksaves, on a file system without hard links: a name of its own in the
	// same folder, still never over another file.
	fs::create_directories(dir / "many");
	for (int n = 1; n <= 9999; ++n)
		std::ofstream(dir / "many" / host::Format("sendra-sim-quicksave-%04d.scn", n).c_str());
	{
		Server server(dir, {"--port", "0"}, (dir / "many").string(), ServerStart{env, "link#1+=EPERM"});
		stop(server, SIGINT, 0);
	}
	std::smatch m;
	std::string out = dir.Read("out.txt");
	ASSERT_TRUE(std::regex_search(out, m, std::regex("saved the simulation to \\./(sendra-sim-quicksave-\\w{6}\\.scn)\n")))
		<< out;
	EXPECT_EQ(host::ReadScenarioFile((dir / "many" / m[1].str()).string()).vessels.size(), 1u);
	EXPECT_NE(dir.Read("err.txt").find("every quicksave number up to 9999 is in use in ."), std::string::npos);

	// A scenario's name as long as a quicksave's may be is kept; a longer one gives way to the
	// program's; control characters in a name are shown escaped.
	for (const std::string &stem : {std::string(236, 'n'), std::string(240, 'n'), std::string("esc\x1b[2J")}) {
		dir.Write(stem + ".scn", sim_testing::RoverScenario({{"Sendra-1", 23.47, 0.67, 0}}));
		Server server(dir, {stem + ".scn", "--port", "0"}, "", ServerStart{env, ""});
		stop(server, SIGHUP, 0);
	}
	EXPECT_TRUE(fs::exists(dir / (std::string(236, 'n') + "-quicksave-0001.scn")));
	EXPECT_TRUE(fs::exists(dir / "sendra-sim-quicksave-0001.scn"));
	EXPECT_NE(dir.Read("out.txt").find("saved the simulation to ./esc\\x1b[2J-quicksave-0001.scn\n"), std::string::npos)
		<< dir.Read("out.txt");
	EXPECT_TRUE(fs::exists(dir / "esc\x1b[2J-quicksave-0001.scn"));

	// When no place takes it after all: status 3, and every place tried is named.
	{
		Server server(dir, {"--port", "0"}, "", ServerStart{env, "mkdir@/.sendra-new#2+=EROFS"});
		stop(server, SIGTERM, 3);
	}
	EXPECT_NE(dir.Read("err.txt").find("sendra-sim: the simulation could not be saved: " + here + ", " + home + " and " +
	                                   temp + " would not take it\n"),
	          std::string::npos)
		<< dir.Read("err.txt");
	EXPECT_EQ(staged(), 0u);
	// A file-size limit below the save's size is found at start-up, by a save written then:
	// serve does not start a session that it could not save.
	std::vector<sim_testing::Rover> rovers;
	for (int i = 1; i <= 10; ++i)
		rovers.push_back({"Sendra-" + std::to_string(i), 23.47 + i * 0.001, 0.67, 0});
	dir.Write("ten.scn", sim_testing::RoverScenario(rovers));
	{
		Server server(dir, {"ten.scn", "--port", "0"}, "", ServerStart{env, "", 1024});
		EXPECT_EQ(server.Wait(), 3);
	}
	EXPECT_EQ(dir.Read("err.txt"), "sendra-sim: serve: cannot save in " + here +
	                                   " (./ten-quicksave-0001.scn: cannot save the scenario: write error: File too "
	                                   "large), where the simulation is saved when serve stops; run it in a folder it "
	                                   "can write to\n");
	EXPECT_EQ(dir.Read("out.txt"), "") << "it never served";
	EXPECT_EQ(staged(), 0u);

	// Started under nohup, SIGHUP stays ignored.
	Server server(dir, {"--port", "0"}, "", ServerStart{env, "", RLIM_INFINITY, true});
	ASSERT_GT(server.Port(), 0);
	std::string status = sim_testing::ReadFile("/proc/" + std::to_string(server.pid()) + "/status");
	std::smatch ignored;
	ASSERT_TRUE(std::regex_search(status, ignored, std::regex("SigIgn:\\s*([0-9a-f]+)")));
	EXPECT_TRUE(std::stoull(ignored[1], nullptr, 16) & (1ull << (SIGHUP - 1)));
	EXPECT_EQ(server.Stop(SIGTERM), 0);
}

// Tests listen on loopback addresses only: the warning is checked on the address alone.
TEST(ServeProgram, AnAddressOtherMachinesReachIsWarnedOfAndThisMachinesNamesStillWork) {
	for (const char *bind : {"0.0.0.0", "::", "192.168.4.7", "10.1.2.3"})
		EXPECT_NE(sim::ExposureWarning(bind).find("warning: serving on " + std::string(bind) +
		                                          ", which other machines may reach: anyone who can reach it can "
		                                          "watch and drive"),
		          std::string::npos)
			<< bind;
	for (const char *bind : {"127.0.0.1", "127.0.0.2", "::1", "localhost"})
		EXPECT_EQ(sim::ExposureWarning(bind), "") << bind;

	Scratch dir;
	Server server(dir, {"--port", "0", "--bind", "127.0.0.2", "--allow-host", "rover.lan"});
	int port = server.Port("127\\.0\\.0\\.2");
	ASSERT_GT(port, 0) << dir.Read("err.txt");
	httplib::Client client("127.0.0.2", port);
	EXPECT_EQ(client.Get("/api/session")->status, 200);
	EXPECT_EQ(client.Get("/api/session", {{"Host", "localhost:" + std::to_string(port)}})->status, 200);
	EXPECT_EQ(client.Get("/api/session", {{"Host", "rover.lan:" + std::to_string(port)}})->status, 200);
	EXPECT_EQ(client.Get("/api/session", {{"Host", "attacker.example:" + std::to_string(port)}})->status, 403);
	EXPECT_EQ(server.Stop(SIGTERM), 0);
	EXPECT_EQ(dir.Read("err.txt"), "") << "loopback is not warned of";
}

TEST(ServeProgram, OptionsOutsideTheirRangesAreUsageErrors) {
	Scratch dir;
	struct Case {
		std::vector<std::string> args;
		std::string message;
	};
	const std::vector<Case> cases = {
		{{"--port", "65536"}, "--port: '65536' is not a port number"},
		{{"--port", "-1"}, "--port: '-1'"},
		{{"--port", "http"}, "--port: 'http'"},
		{{"--dt", "0"}, "--dt: '0' is not a frame length from 0.001 to 1 second"},
		{{"--dt", "2"}, "--dt: '2'"},
		{{"--dt", "nan"}, "--dt: 'nan'"},
		{{"--terrain", "mountains"}, "--terrain: 'mountains' is not flat or hills"},
		{{"--bind", ""}, "--bind: '' is not a host name or an IP address"},
		{{"--allow-host", "evil.example/x"}, "--allow-host: 'evil.example/x' is not a host name or an IP address"},
		{{"--allow-host"}, "--allow-host"},
		{{"--root", ""}, "--root: the folder must not be empty"},
		{{"--script", "x.txt"}, "script"},
		{{"a.scn", "b.scn"}, ""},
	};
	for (const Case &c : cases) {
		std::vector<std::string> args{"serve"};
		args.insert(args.end(), c.args.begin(), c.args.end());
		sim_testing::ProgramResult r = dir.Run(args);
		EXPECT_EQ(r.status, 2) << c.args[0] << ": " << r.err;
		EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
		EXPECT_NE(r.err.find("Run 'sendra-sim help serve' for the usage."), std::string::npos) << r.err;
	}
	// A scenario that cannot be read, or an address that is not this machine's, is invalid
	// input, and nothing is saved.
	sim_testing::ProgramResult missing = dir.Run({"serve", "nosuch.scn", "--port", "0"});
	EXPECT_EQ(missing.status, 3);
	EXPECT_NE(missing.err.find("nosuch.scn"), std::string::npos);
	sim_testing::ProgramResult elsewhere = dir.Run({"serve", "--bind", "192.0.2.1", "--port", "0"});
	EXPECT_EQ(elsewhere.status, 3);
	EXPECT_NE(elsewhere.err.find("cannot listen on 192.0.2.1"), std::string::npos) << elsewhere.err;
	EXPECT_TRUE(dir.Files(".").empty());
}

}  // namespace
