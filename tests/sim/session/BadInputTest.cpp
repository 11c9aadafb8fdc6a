// Bad input end to end through the built sendra-sim: files that cannot be read, garbage,
// megabyte lines, a hundred thousand vessels, unknown names, unusable modules, numbers that
// are not finite or are huge, and writes that fail. Each is refused with
// "sendra-sim: FILE:LINE: what is wrong" and status 3 (or, where the real simulator carries
// on, accepted with a warning), and never leaves an output file written or overwritten.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <map>
#include <thread>

#include "SimProgram.h"
#include "sendra_host/HostError.h"
#include "session/DriveScript.h"

using namespace sim_testing;
namespace fs = std::filesystem;

namespace {

struct Limits {
	rlim_t fileBytes = RLIM_INFINITY;     // largest file the program may write [bytes]
	rlim_t addressBytes = RLIM_INFINITY;  // address space the program may use [bytes]
	double seconds = 300;                 // wall time before it is killed
};

struct Outcome : ProgramResult {
	double seconds = 0;   // wall time
	long maxRssKb = 0;    // peak resident memory [KiB]
	bool killed = false;  // ran out of time
};

// Runs sendra-sim in the scratch folder as Scratch::Run does, within limits of file size and
// wall time, measuring its time and peak memory.
Outcome RunLimited(const Scratch &s, const std::vector<std::string> &args, Limits limits = {}) {
	auto start = std::chrono::steady_clock::now();
	Launch launch;
	launch.fileBytes = limits.fileBytes;
	launch.addressBytes = limits.addressBytes;
	pid_t pid = s.Start(args, launch);
	Outcome r;
	int status = 0;
	rusage usage{};
	while (pid > 0) {
		pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
		if (done == pid)
			break;
		if (done < 0)
			return r;
		if (std::chrono::steady_clock::now() - start > std::chrono::duration<double>(limits.seconds)) {
			::kill(pid, SIGKILL);
			::wait4(pid, &status, 0, &usage);
			r.killed = true;
			break;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	r.maxRssKb = usage.ru_maxrss;
	if (!r.killed && WIFEXITED(status))
		r.status = WEXITSTATUS(status);
	s.Collect(r);
	return r;
}

// A stream that never ends, as a pipe from a runaway program would be.
class EndlessScript : public std::streambuf {
protected:
	int_type underflow() override {
		setg(line_, line_, line_ + sizeof line_ - 1);
		return traits_type::to_int_type(line_[0]);
	}

private:
	char line_[9] = "# drive\n";
};

// Four kilobytes of every byte value in a scrambled order; its first line break comes
// after its first zero byte.
std::string Garbage() {
	std::string bytes;
	for (int i = 0; i < 4096; ++i)
		bytes += static_cast<char>((i * 7919 + 13) % 256);
	return bytes;
}

// The error: the last line on stderr (warnings may come before it).
std::string ErrorLine(const std::string &err) {
	std::vector<std::string> lines = Lines(err);
	return lines.empty() ? std::string() : lines.back();
}

// Every file under folder (relative name -> content).
std::map<std::string, std::string> Snapshot(const fs::path &folder) {
	std::map<std::string, std::string> files;
	std::error_code ec;
	for (const auto &e : fs::recursive_directory_iterator(folder, ec))
		if (e.is_regular_file())
			files[fs::relative(e.path(), folder).string()] = ReadFile(e.path());
	return files;
}

// A scratch folder holding the outputs of an earlier good run, which no failing run may
// touch, and an Orbiter root of its own: the staged rover (configuration copied, module
// linked) and, per case, more classes, modules and meshes.
class BadInput : public ::testing::Test {
protected:
	void SetUp() override {
		fs::path staged(SENDRA_ORBITER_ROOT);
		fs::create_directories(root() / "Config" / "Vessels");
		fs::create_directories(root() / "Modules");
		fs::create_directories(root() / "Meshes");
		for (const auto &e : fs::directory_iterator(staged / "Config"))  // the solar system
			if (e.is_regular_file())
				fs::create_symlink(e.path(), root() / "Config" / e.path().filename());
		fs::copy_file(staged / "Config/Vessels/Sendra2016.cfg", root() / "Config/Vessels/Sendra2016.cfg");
		fs::create_symlink(staged / "Modules/libSendra2016.so", root() / "Modules/libSendra2016.so");
		fs::create_symlink(staged / "Meshes/Sendra9.msh", root() / "Meshes/Sendra9.msh");
		Write("Config/Vessels/Marker.cfg", "; a vessel without a module\nSize = 2\n");

		s.Write("empty.txt", "");
		ASSERT_EQ(Run({"--script", "empty.txt", "--duration", "0.1"}).status, 0);
		ASSERT_TRUE(fs::is_regular_file(s / "sendra-out/final.scn"));
	}

	fs::path root() const { return s / "root"; }
	void Write(const std::string &rootFile, const std::string &text) const { WriteFile(root() / rootFile, text); }

	// sendra-sim with --root set to this test's root.
	Outcome Run(std::vector<std::string> args, Limits limits = {}) const {
		bool command = !args.empty() && (args[0] == "inspect" || args[0] == "render");
		args.insert(args.begin() + (command ? 1 : 0), {"--root", root().string()});
		return RunLimited(s, args, limits);
	}

	// Runs sendra-sim with args and expects it to refuse them as invalid input with message
	// (the start of the error after "sendra-sim: "), changing no file at all.
	Outcome ExpectRefused(const std::vector<std::string> &args, const std::string &message, const std::string &what,
	                      Limits limits = {}) const {
		const std::map<std::string, std::string> files = Snapshot(s.dir());
		Outcome r = Run(args, limits);
		EXPECT_EQ(r.status, 3) << what << '\n' << r.err;
		EXPECT_FALSE(r.killed) << what;
		EXPECT_EQ(ErrorLine(r.err).rfind("sendra-sim: " + message, 0), 0u) << what << "\ngot: " << r.err;
		EXPECT_EQ(r.out, "") << what;
		EXPECT_TRUE(Snapshot(s.dir()) == files) << what << ": files were written or changed";
		return r;
	}

	// A scenario of the vessel blocks given (from a "name:Class" line on) after a head of six
	// lines, so that the first block's first line is line 7 of s.scn.
	void WriteShip(const std::string &block) const {
		s.Write("s.scn", "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD 60000\nEND_ENVIRONMENT\n\nBEGIN_SHIPS\n" + block +
		                     "END_SHIPS\n");
	}

	Scratch s;
};

}  // namespace

TEST_F(BadInput, FilesThatCannotBeReadAreNamedAndNothingIsWritten) {
	fs::create_directory(s / "folder.scn");
	fs::create_directory(s / "folder.txt");
	ASSERT_EQ(::mkfifo((s / "pipe.scn").c_str(), 0600), 0);
	ASSERT_EQ(::mkfifo((s / "pipe.txt").c_str(), 0600), 0);

	ExpectRefused({"missing.scn"}, "missing.scn: cannot open the scenario file: No such file", "missing scenario");
	ExpectRefused({"--script", "missing.txt"}, "missing.txt: cannot open the drive script: No such file",
	              "missing script");
	ExpectRefused({"folder.scn"}, "folder.scn: is a folder, not a scenario file", "folder as scenario");
	ExpectRefused({"inspect", "folder.scn"}, "folder.scn: is a folder", "folder as scenario to describe");
	ExpectRefused({"--script", "folder.txt"}, "folder.txt: is a folder, not a drive script", "folder as script");
	// A pipe would block the reader until something writes to it.
	Limits quick;
	quick.seconds = 30;
	ExpectRefused({"pipe.scn"}, "pipe.scn: is not a regular file", "pipe as scenario", quick);
	ExpectRefused({"--script", "pipe.txt"}, "pipe.txt: is not a regular file", "pipe as script", quick);
	ExpectRefused({"/dev/zero"}, "/dev/zero: is not a regular file", "device as scenario", quick);

	// A root without the class's configuration, or with a folder in its place.
	fs::remove(root() / "Config/Vessels/Sendra2016.cfg");
	ExpectRefused({}, "(built-in scenario):15: vessel 'Sendra-1' of class 'Sendra2016': ",
	              "class without configuration");
	fs::create_directory(root() / "Config/Vessels/Sendra2016.cfg");
	ExpectRefused({}, "(built-in scenario):15: vessel 'Sendra-1' of class 'Sendra2016': ", "folder as configuration");

	// Permissions hold for others than root only.
	if (::geteuid() != 0) {
		s.Write("locked.scn", "BEGIN_SHIPS\nEND_SHIPS\n");
		::chmod((s / "locked.scn").c_str(), 0);
		ExpectRefused({"locked.scn"}, "locked.scn: cannot open the scenario file: Permission denied", "unreadable");
	}
}

TEST_F(BadInput, GarbageAndMegabyteLinesAreRefusedAtTheirLine) {
	const std::string garbage = Garbage();
	const std::string megabyte(1 << 20, 'x');
	s.Write("garbage.scn", "BEGIN_DESC\n" + garbage);
	s.Write("garbage.txt", "1 tap V\n" + garbage);
	s.Write("long.scn", "BEGIN_SHIPS\nA:Marker\n  POS " + megabyte + "\nEND\nEND_SHIPS\n");
	s.Write("long.txt", "# a comment\n1 tap " + megabyte + "\n");
	s.Write("oneline.scn", megabyte);

	ExpectRefused({"garbage.scn"}, "garbage.scn:2: binary data", "garbage scenario");
	ExpectRefused({"--script", "garbage.txt"}, "garbage.txt:2: the line", "garbage script");
	ExpectRefused({"long.scn"}, "long.scn:3: line longer than 65536 characters", "megabyte scenario line");
	ExpectRefused({"--script", "long.txt"}, "long.txt:2: the line is longer than 4096 bytes", "megabyte script line");
	ExpectRefused({"oneline.scn"}, "oneline.scn:1: line longer than 65536 characters", "one megabyte line");

	// The class configuration of a vessel, with the scenario line that names the class.
	WriteShip("A:Junk\n  STATUS Landed Moon\nEND\n");
	const std::string cfg = (root() / "Config/Vessels/Junk.cfg").string();
	Write("Config/Vessels/Junk.cfg", "Size = 2\n" + garbage);
	ExpectRefused({"s.scn"}, "s.scn:7: vessel 'A' of class 'Junk': " + cfg + ":2: binary data", "garbage cfg");
	Write("Config/Vessels/Junk.cfg", "; long\nMeshName = " + megabyte + "\n");
	ExpectRefused({"s.scn"}, "s.scn:7: vessel 'A' of class 'Junk': " + cfg + ":2: line longer than 4096",
	              "megabyte cfg line");
}

TEST_F(BadInput, AMeshThatCannotBeReadIsAWarningAndTheDriveGoesOn) {
	// As in the simulator, a vessel whose mesh cannot be read still runs, without visuals.
	const fs::path mesh = root() / "Meshes/Sendra9.msh";
	const std::vector<std::pair<std::string, std::string>> cases = {
		{"garbage", ":1: binary data in a mesh file"},
		{"megabyte", ":3: line longer than 255 characters"},
		{"folder", ": is a folder, not a mesh file"},
		{"pipe", ": is not a regular file"},
	};
	for (const auto &[kind, message] : cases) {
		fs::remove(mesh);
		if (kind == "garbage")
			WriteFile(mesh, Garbage());
		else if (kind == "megabyte")
			WriteFile(mesh, "MSHX1\nGROUPS 1\n" + std::string(1 << 20, '1') + "\n");
		else if (kind == "folder")
			fs::create_directory(mesh);
		else
			ASSERT_EQ(::mkfifo(mesh.c_str(), 0600), 0);
		Limits quick;
		quick.seconds = 60;
		Outcome r = Run({"--script", "empty.txt", "--duration", "0.1", "--out", kind}, quick);
		EXPECT_EQ(r.status, 0) << kind << '\n' << r.err;
		EXPECT_NE(r.err.find("sendra-sim: warning: " + mesh.string() + message), std::string::npos) << kind << '\n'
		                                                                                            << r.err;
		for (const char *output : {"final.scn", "hud.csv", "trajectory.csv"})
			EXPECT_TRUE(fs::is_regular_file(s / kind / output)) << kind << ' ' << output;
		fs::remove(mesh);
	}
}

TEST_F(BadInput, AHundredThousandVesselsLoadRunAndSaveWithinBoundedTimeAndMemory) {
	// Vessels of a class without a module: each rover costs its module tens of kilobytes, so
	// a hundred thousand of them is a test of the module's memory rather than of the host's.
	const int n = 100000;
	std::string text = "BEGIN_ENVIRONMENT\n  Date MJD 60000\nEND_ENVIRONMENT\nBEGIN_FOCUS\n  Ship V99999\nEND_FOCUS\n\nBEGIN_SHIPS\n";
	for (int i = 0; i < n; ++i)
		text += "V" + std::to_string(i) + ":Marker\n  STATUS Landed Moon\n  POS " + std::to_string(i % 360 - 180) + " " +
		        std::to_string(i / 360 % 180 - 90) + "\nEND\n";
	text += "END_SHIPS\n";
	s.Write("many.scn", text);
	Outcome r = Run({"many.scn", "--duration", "0.02", "--quiet"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	std::string saved = s.Read("sendra-out/final.scn");
	EXPECT_NE(saved.find("V99999:Marker\n"), std::string::npos);
	EXPECT_NE(saved.find("  Ship V99999\n"), std::string::npos);
	EXPECT_EQ(Lines(s.Read("sendra-out/trajectory.csv")).size(), static_cast<size_t>(n) + 1);
	// Generous bounds that only a cost growing with the square of the count would break: a
	// linear load, frame and save take a few seconds and some hundreds of megabytes.
	EXPECT_LT(r.seconds, 120.0);
	EXPECT_LT(r.maxRssKb, 4L << 20);
	RecordProperty("seconds", std::to_string(r.seconds));
	RecordProperty("max_rss_kb", std::to_string(r.maxRssKb));

	// A duplicate name among them is named with both lines (each vessel takes four).
	s.Write("many.scn", text.replace(text.rfind("V99999:Marker"), 6, "V12345"));
	ExpectRefused({"many.scn"}, "many.scn:400005: a second vessel named 'V12345' (the first is at line 49389)",
	              "duplicate among many");
}

TEST_F(BadInput, AScenarioTooLargeForTheMemoryIsRefusedAndNothingIsWritten) {
#if defined(__SANITIZE_ADDRESS__)
	GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
	GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
#endif
#endif
	// 30,000 rovers standing together need some 450 MB; the program gets 160 MB of address
	// space, and runs out while it makes them.
	s.Write("big.scn", RoverScenario(scenes::RoverGrid(30000, 30)));
	Limits tight;
	tight.addressBytes = rlim_t(160) << 20;
	for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
	         {"big.scn"}, {"render", "big.scn", "--out", "big.png"}, {"inspect", "big.scn"}})
		ExpectRefused(args, "out of memory: the scenario is too large", args[0], tight);
	// The built-in scenario fits in 60 MB; a picture of 4096 x 4096 pixels does not, and is named.
	Limits picture;
	picture.addressBytes = rlim_t(60) << 20;
	ExpectRefused({"render", "--size", "4096x4096", "--out", "big.png"}, "out of memory: the picture is too large",
	              "picture", picture);
}

TEST_F(BadInput, UnknownNamesAreRefusedAndUnknownKeysAreIgnoredAsBySimulator) {
	const std::vector<std::pair<std::string, std::string>> scenarios = {
		{"A:NoSuchClass\n  STATUS Landed Moon\nEND\n", "s.scn:7: vessel 'A' of class 'NoSuchClass': "},
		{"A:Marker\n  STATUS Landed Pluto\nEND\n", "s.scn:8: vessel 'A': unknown body 'Pluto'"},
		{"A:Marker\n  STATUS Orbiting Earth\nEND\n", "s.scn:7: vessel 'A' in flight is inside Earth: 0 m from its centre"},
		{"A:Marker\n  STATUS Landed Moon\n  BASE Brighton\nEND\n", "s.scn:9: vessel 'A': unknown surface base 'Brighton'"},
		{"A:Marker\n  STATUS Landed Moon\nEND\nB:Marker\n  STATUS Landed Moon\nEND\nA:Sendra2016\n  STATUS Landed "
		 "Moon\nEND\n",
		 "s.scn:13: a second vessel named 'A' (the first is at line 7)"},
		{"A:Marker\nEND\n", "s.scn:7: vessel 'A' has no state"},
	};
	for (const auto &[block, message] : scenarios) {
		WriteShip(block);
		ExpectRefused({"s.scn"}, message, block);
		ExpectRefused({"inspect", "s.scn"}, message, "inspect " + block);
	}
	const std::vector<std::pair<std::string, std::string>> files = {
		{"BEGIN_ENVIRONMENT\n  System Vega\nEND_ENVIRONMENT\n", "s.scn:2: unknown planetary system 'Vega'"},
		{"BEGIN_ENVIRONMENT\n  Date TT 5\nEND_ENVIRONMENT\n", "s.scn:2: Date: unknown time scale 'TT'"},
		{"BEGIN_MYPLUGIN\n  Setting 1\n", "s.scn:1: BEGIN_MYPLUGIN has no END_MYPLUGIN or END"},
	};
	for (const auto &[text, message] : files) {
		s.Write("s.scn", text);
		ExpectRefused({"s.scn"}, message, text);
	}
	const std::vector<std::pair<std::string, std::string>> scripts = {
		{"1 tap NUMPAD10\n", "drive.txt:1: unknown key name 'NUMPAD10'"},
		{"1 key OAPI_KEY_A down\n", "drive.txt:1: unknown key name 'OAPI_KEY_A'"},
		{"1 press A\n", "drive.txt:1: unknown event 'press'"},
		{"1 focus Nobody\n", "drive.txt:1: unknown vessel 'Nobody' in the focus event"},
	};
	for (const auto &[text, message] : scripts) {
		s.Write("drive.txt", text);
		ExpectRefused({"--script", "drive.txt"}, message, text);
	}
	// Nor can a script give the focus to a vessel whose class says it cannot take it.
	Write("Config/Vessels/Buoy.cfg", "EnableFocus = FALSE\n");
	WriteShip("A:Marker\n  STATUS Landed Moon\nEND\nB:Buoy\n  STATUS Landed Moon\nEND\n");
	s.Write("drive.txt", "1 focus B\n");
	ExpectRefused({"s.scn", "--script", "drive.txt"},
	              "drive.txt:1: vessel 'B' cannot take the focus (its class Buoy says EnableFocus = FALSE)", "focus B");

	// Blocks of plugins, keys of the environment and lines of vessels the stand-in has no use
	// for are passed over, as the simulator passes over what it does not know.
	s.Write("s.scn",
	        "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD 60000\n  Weather Fine\nEND_ENVIRONMENT\n"
	        "BEGIN_MYPLUGIN\n  Setting 1\nEND\n"
	        "BEGIN_SHIPS\nA:Sendra2016\n  STATUS Landed Moon\n  POS 1 2\n  FUEL 0.5\n  WARP 9\nEND\n"
	        "M:Marker\n  STATUS Landed Moon\n  XPDR 466\nEND\nEND_SHIPS\n");
	Outcome r = Run({"s.scn", "--duration", "0.1", "--out", "ok"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	EXPECT_NE(s.Read("ok/final.scn").find("A:Sendra2016\n  STATUS Landed Moon\n  POS 1.0000000000 2.0000000000\n"),
	          std::string::npos);
	// The marker, which has no animations, leaves the rover's animation columns empty; its
	// HUD, lights and beacons too; its motion, standing where it started, is all zeros.
	std::string csv = s.Read("ok/trajectory.csv");
	size_t columns = 0;
	for (size_t at = csv.find(",anim_"); at < csv.find('\n'); at = csv.find(",anim_", at + 1))
		++columns;
	EXPECT_GT(columns, 10u);
	size_t m = csv.find(",M,");
	ASSERT_NE(m, std::string::npos) << csv;
	std::string row = csv.substr(m, csv.find('\n', m) - m);
	ASSERT_GT(row.size(), 10u);
	std::string beforeMotion = row.substr(0, row.size() - 10);
	EXPECT_EQ(row.substr(row.size() - 10), ",0,0,0,0,0") << row;
	EXPECT_EQ(beforeMotion.substr(beforeMotion.find_last_not_of(',') + 1), std::string(columns + 3, ',')) << row;
}

TEST_F(BadInput, ModulesThatCannotBeUsedAreRefused) {
	const fs::path fakes(FAKE_MODULE_DIR);
	struct Case {
		std::string module, message;
	};
	const Case cases[] = {
		{"FakeNoInit", "module 'FakeNoInit' does not export ovcInit"},
		{"FakeNoVersion", "module 'FakeNoVersion' does not export GetModuleVersion"},
		{"FakeZeroVersion", "module 'FakeZeroVersion' reports version 0; this host accepts 1 to 160828"},
		{"FakeNewerVersion", "module 'FakeNewerVersion' reports version 170101; this host accepts 1 to 160828"},
		{"Junk", "cannot load module 'Junk': "},
		{"Folder", "module 'Folder' is not a file"},
	};
	fs::create_directory(root() / "Modules/libFolder.so");
	WriteFile(root() / "Modules/libJunk.so", "\x7f" "ELF but not really a shared library\n");
	for (const Case &c : cases) {
		const fs::path lib = root() / "Modules" / ("lib" + c.module + ".so");
		if (c.module.rfind("Fake", 0) == 0)
			fs::create_symlink(fakes / lib.filename(), lib);
		Write("Config/Vessels/" + c.module + ".cfg", "Module = " + c.module + "\n");
		WriteShip("A:" + c.module + "\n  STATUS Landed Moon\nEND\n");
		ExpectRefused({"s.scn"}, "s.scn:7: vessel 'A' of class '" + c.module + "': " + lib.string() + ": " + c.message,
		              c.module);
	}

	// A module whose ovcInit returns no vessel leaves a vessel without callbacks, with a warning.
	fs::create_symlink(fakes / "libFakeNullInit.so", root() / "Modules/libFakeNullInit.so");
	Write("Config/Vessels/Null.cfg", "Module = FakeNullInit\n");
	WriteShip("A:Null\n  STATUS Landed Moon\nEND\n");
	Outcome r = Run({"s.scn", "--duration", "0.1", "--out", "ok"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("sendra-sim: warning: A: ovcInit of module 'FakeNullInit' returned null"), std::string::npos)
		<< r.err;
	// A module that is not there: a plain vessel of its class, as Orbiter runs it.
	Write("Config/Vessels/Missing.cfg", "Module = Missing\n");
	WriteShip("A:Missing\n  STATUS Landed Moon\nEND\n");
	r = Run({"s.scn", "--duration", "0.1", "--out", "plain"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("Missing.cfg:1: Could not load vessel module: Missing (no " + (root() / "Modules/libMissing.so").string() +
	                     "); 'A' is a plain vessel of its configuration"),
	          std::string::npos)
		<< r.err;
}

TEST_F(BadInput, AFileThatHoldsNothingOfAScenarioRunsWithAWarningNamingIt) {
	s.Write("README.md", "# Sendra2016\n\nA rover for Orbiter 2016.\n");
	Outcome r = Run({"README.md", "--duration", "0.1", "--out", "ok"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("sendra-sim: warning: README.md: holds no vessels and no blocks; is it a scenario file?"),
	          std::string::npos)
	    << r.err;
}

TEST_F(BadInput, NumbersThatAreNotFiniteAreRefusedWhereverTheyAreRead) {
	const std::vector<std::pair<std::string, std::string>> lines = {
		{"POS nan 0", "s.scn:9: vessel 'A': POS: expected 2 finite numbers, got 'nan 0'"},
		{"POS 0 inf", "s.scn:9: vessel 'A': POS: expected 2 finite numbers"},
		{"POS 0 91", "s.scn:9: vessel 'A': POS: latitude 91 is outside -90..90 degrees"},
		{"HEADING 1e999", "s.scn:9: vessel 'A': HEADING: expected 1 finite number, got '1e999'"},
		{"ALT -inf", "s.scn:9: vessel 'A': ALT: expected 1 finite number"},
		{"AROT 0 NaN 0", "s.scn:9: vessel 'A': AROT: expected 3 finite numbers"},
	};
	for (const char *cls : {"Marker", "Sendra2016"})
		for (const auto &[line, message] : lines) {
			WriteShip(std::string("A:") + cls + "\n  STATUS Landed Moon\n  " + line + "\nEND\n");
			ExpectRefused({"s.scn"}, message, std::string(cls) + ": " + line);
		}
	for (const char *date : {"nan", "inf", "-1e999"}) {
		s.Write("s.scn", std::string("BEGIN_ENVIRONMENT\n  Date MJD ") + date + "\nEND_ENVIRONMENT\n");
		ExpectRefused({"s.scn"}, "s.scn:2: Date: 'Date MJD " + std::string(date) + "' is not a finite date", date);
	}
	// A class item is ignored as Orbiter ignores one that does not read, with a warning.
	Write("Config/Vessels/Marker.cfg", "Size = 2\nMass = nan\n");
	WriteShip("A:Marker\n  STATUS Landed Moon\nEND\n");
	Outcome r = Run({"s.scn", "--duration", "0.1", "--quiet"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "sendra-sim: warning: " + (root() / "Config/Vessels/Marker.cfg").string() +
	                     ":2: Mass: 'nan' is not a finite number; the item is ignored, as Orbiter ignores it\n");
	const std::vector<std::pair<std::string, std::string>> scripts = {
		{"nan tap V\n", "drive.txt:1: the time 'nan' is not a finite number of seconds >= 0"},
		{"inf tap V\n", "drive.txt:1: the time 'inf' is not"},
		{"1 rudder nan\n", "drive.txt:1: the rudder level 'nan' is not a number from -1 to 1"},
		{"1 rudder 1e999\n", "drive.txt:1: the rudder level '1e999' is not"},
		{"1e300 tap V\n", "drive.txt:1: the time is too late for the step lengths"},
		{"1 tap V\n0.5 tap J\n", "drive.txt:2: the time 0.5 is earlier than the previous event's 1"},
	};
	for (const auto &[text, message] : scripts) {
		s.Write("drive.txt", text);
		ExpectRefused({"--script", "drive.txt"}, message, text);
	}
}

TEST_F(BadInput, HugeFiniteNumbersRunAndSaveAScenarioThatLoadsAgain) {
	// The rover's own lines with numbers that are not finite, or beyond an int, are
	// unreadable and leave the fields alone; huge finite ones are taken as they are.
	WriteShip(
		"A:Sendra2016\n  STATUS Landed Moon\n  POS 1e300 -89.99999\n  HEADING 1e300\n  ALT 1e300\n"
		"  DOORL 1 1e300\n  DOORR 2147483648 0.5\n  SUNSCREEN 1 nan\n  LIGHT 99999999999\nEND\n"
		"M:Marker\n  STATUS Landed Moon\n  POS -1e300 1e-300\n  AROT 1e300 -1e300 0\nEND\n");
	s.Write("drive.txt", "0.1 rudder -1\n0.2 key ADD down\n0.3 tap NUMPAD8\n");
	Outcome r = Run({"s.scn", "--script", "drive.txt", "--duration", "0.5", "--out", "huge"});
	ASSERT_EQ(r.status, 0) << r.err;
	std::string saved = s.Read("huge/final.scn");
	EXPECT_NE(saved.find("  DOORR 0 0.0000\n"), std::string::npos) << saved;
	EXPECT_EQ(saved.find("nan"), std::string::npos) << saved;
	EXPECT_EQ(saved.find("inf"), std::string::npos) << saved;
	fs::copy_file(s / "huge/final.scn", s / "again.scn");
	r = Run({"again.scn", "--duration", "0.1", "--out", "again"});
	EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(BadInput, AWriteThatFailsLeavesThePreviousFilesWhole) {
	// A save event whose write fails half-way: the scenario saved before stays as it was.
	s.Write("sendra-out/saved.scn", "the previous save\n");
	s.Write("drive.txt", "0.02 save saved.scn\n");
	Limits small;
	small.fileBytes = 200;
	ExpectRefused({"--script", "drive.txt", "--duration", "1"},
	              "drive.txt:1: ./sendra-out/saved.scn: cannot save the scenario: write error: File too large",
	              "save event", small);

	// Outputs whose writes fail: the previous outputs stay, and no partial file is left.
	Limits medium;
	medium.fileBytes = 4096;
	Outcome r = ExpectRefused({"--script", "empty.txt", "--duration", "2", "--quiet"}, "./sendra-out/", "outputs", medium);
	EXPECT_NE(r.err.find(": cannot write the file: File too large"), std::string::npos) << r.err;
}

TEST_F(BadInput, SavesThatWouldLeaveTheOutputFolderOrReplaceAFileAreRefusedBeforeAnyWrite) {
	s.Write("sendra-out/kept.scn", "read-only\n");
	fs::permissions(s / "sendra-out/kept.scn", fs::perms::owner_read);
	fs::create_directory_symlink(s.dir(), s / "sendra-out/away");
	const std::vector<std::pair<std::string, std::string>> saves = {
		{"/home/x/.bashrc", "the save '/home/x/.bashrc' is an absolute path"},
		{"../../x.scn", "the save '../../x.scn' goes up a folder"},
		{"a/../../x.scn", "the save 'a/../../x.scn' goes up a folder"},
		{"x.scn/../.bashrc", "the save 'x.scn/../.bashrc' does not end in .scn"},
		{"kept.scn", "./sendra-out/kept.scn: is read-only and is not replaced"},
		{"away/x.scn", "./sendra-out/away: is a symbolic link"},
		{"final.scn", "the save 'final.scn' would be replaced by the run's own final.scn"},
		{"a.scn\n1.6 save a.scn/b.scn", "the save 'a.scn/b.scn' goes into 'a.scn'"},
		{"a\x01" "c.scn", "the save 'a\\x01c.scn' holds a control character"},
	};
	for (const auto &[name, message] : saves) {
		// Into a folder that does not exist yet where the refusal does not depend on it; saved
		// after the first second, whose line a refusal only at the save would let out.
		s.Write("drive.txt", "0.2 tap V\n1.5 save " + name + "\n");
		bool inOut = message.rfind("./sendra-out/", 0) == 0;
		ExpectRefused({"--script", "drive.txt", "--out", inOut ? "./sendra-out" : "fresh/out"},
		              std::string("drive.txt:") + (name.find('\n') == std::string::npos ? "2: " : "3: ") + message, name);
		EXPECT_FALSE(fs::exists(s / "fresh")) << name;
	}
}

TEST(BadScriptStream, AScriptThatNeverEndsIsRefusedAtItsSizeLimit) {
	EndlessScript endless;
	std::istream in(&endless);
	try {
		sim::ParseDriveScript(in, "endless");
		ADD_FAILURE() << "an endless script was read to its end";
	} catch (const host::HostError &e) {
		// 16 MB of eight-byte lines.
		EXPECT_EQ(std::string(e.what()), "endless:2097153: the script is longer than 16 MB");
	}
}
