// Timing sendra-sim: the built-in drive (which build.sh runs and must stay well under two
// seconds) and an hour of driving at 60 frames a second without recording, through the
// library and as the built program. The program's runs also report their peak resident
// memory, which must not grow with the length of the drive.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "run/Run.h"
#include "session/Paths.h"

extern char **environ;

namespace {

// A scratch folder for one benchmark's files, removed afterwards.
class Scratch {
public:
	Scratch() {
		std::string tmpl = (std::filesystem::temp_directory_path() / "sendra-sim-bench-XXXXXX").string();
		dir_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string(".");
	}
	~Scratch() {
		std::error_code ec;
		std::filesystem::remove_all(dir_, ec);
	}
	std::string operator/(const std::string &name) const { return (dir_ / name).string(); }

private:
	std::filesystem::path dir_;
};

// An hour at 60 frames a second (216000 frames): forward at full speed, lights on, with a
// turn every three minutes; only the last frame is recorded.
struct HourDrive {
	explicit HourDrive(const Scratch &scratch) : script(scratch / "hour.txt") {
		std::ofstream s(script);
		s << "0 tap NUMPAD8\n0 tap 7\n0 key ADD down\n10 key ADD up\n";
		for (int minute = 2; minute < 60; minute += 3)
			s << minute * 60 << " rudder 1\n" << minute * 60 + 10 << " rudder 0\n";
	}
	std::vector<std::string> Args() const {
		return {"--script", script, "--duration", "3600", "--dt", "0.016666666666666666", "--record-every", "1000000000"};
	}
	std::string script;
};

void RunInProcess(benchmark::State &state, const std::vector<std::string> &args, const Scratch &scratch) {
	std::vector<std::string> all = args;
	all.insert(all.end(), {"--quiet", "--out", scratch / "out"});
	sim::CommandLine cl = sim::ParseCommandLine(all, sim::DefaultRoot());
	std::ostringstream out, err;
	for (auto _ : state) {
		try {
			sim::RunDrive(cl.run, sim::RunConsole{out, err, false});
		} catch (const std::exception &e) {
			state.SkipWithError(e.what());
			break;
		}
	}
}

// Runs the built program; its peak resident memory [KiB] is reported as a counter.
void RunProgram(benchmark::State &state, const std::vector<std::string> &args, const Scratch &scratch) {
	std::vector<std::string> all{SENDRA_SIM_PROGRAM, "--quiet", "--out", scratch / "out"};
	all.insert(all.end(), args.begin(), args.end());
	std::vector<char *> argv;
	for (std::string &a : all)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	posix_spawn_file_actions_t quiet;  // warnings stay off the benchmark's own output
	::posix_spawn_file_actions_init(&quiet);
	::posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
	long peak = 0;
	for (auto _ : state) {
		pid_t pid;
		int status = 0;
		rusage usage{};
		if (::posix_spawn(&pid, SENDRA_SIM_PROGRAM, &quiet, nullptr, argv.data(), environ) != 0 ||
		    ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
			state.SkipWithError("sendra-sim failed");
			break;
		}
		peak = std::max(peak, usage.ru_maxrss);
	}
	::posix_spawn_file_actions_destroy(&quiet);
	state.counters["peak_rss_KiB"] = static_cast<double>(peak);
}

void BM_BuiltInDrive(benchmark::State &state) {
	Scratch scratch;
	RunInProcess(state, {}, scratch);
}
BENCHMARK(BM_BuiltInDrive)->Unit(benchmark::kMillisecond);

void BM_HourDriveAt60Hz(benchmark::State &state) {
	Scratch scratch;
	RunInProcess(state, HourDrive(scratch).Args(), scratch);
}
BENCHMARK(BM_HourDriveAt60Hz)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same hour with every frame recorded to trajectory.csv and hud.csv.
void BM_HourDriveAt60HzRecordingEveryFrame(benchmark::State &state) {
	Scratch scratch;
	std::vector<std::string> args = HourDrive(scratch).Args();
	args.back() = "1";
	RunInProcess(state, args, scratch);
}
BENCHMARK(BM_HourDriveAt60HzRecordingEveryFrame)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BuiltInDriveProgram(benchmark::State &state) {
	Scratch scratch;
	RunProgram(state, {}, scratch);
}
BENCHMARK(BM_BuiltInDriveProgram)->Unit(benchmark::kMillisecond);

void BM_HourDriveAt60HzProgram(benchmark::State &state) {
	Scratch scratch;
	RunProgram(state, HourDrive(scratch).Args(), scratch);
}
BENCHMARK(BM_HourDriveAt60HzProgram)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
