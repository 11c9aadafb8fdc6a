// Timing sendra-sim: the built-in drive (which build.sh runs and must stay well under two
// seconds) and an hour of driving at 60 frames a second without recording, through the
// library and as the built program. The hour's resident-memory growth is reported too: it
// must stay flat however long the drive.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Options.h"
#include "Runner.h"

extern char **environ;

namespace {

// A scratch folder for one benchmark's outputs, removed afterwards.
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

long MaxRssKiB() {
	rusage u{};
	::getrusage(RUSAGE_SELF, &u);
	return u.ru_maxrss;
}

sim::RunOptions Quiet(const Scratch &scratch) {
	sim::RunOptions o;
	o.root = sim::DefaultRoot();
	o.out = scratch / "out";
	o.quiet = true;
	return o;
}

void RunOrSkip(benchmark::State &state, const sim::RunOptions &o) {
	std::ostringstream out, err;
	try {
		sim::RunDrive(o, sim::RunConsole{out, err, false});
	} catch (const std::exception &e) {
		state.SkipWithError(e.what());
	}
}

void BM_BuiltInDrive(benchmark::State &state) {
	Scratch scratch;
	sim::RunOptions o = Quiet(scratch);
	for (auto _ : state)
		RunOrSkip(state, o);
	state.counters["frames"] = 6000;
}
BENCHMARK(BM_BuiltInDrive)->Unit(benchmark::kMillisecond);

// An hour at 60 frames a second (216000 frames): forward at full speed with a turn every
// few minutes, recording only the last frame.
void BM_HourDriveAt60Hz(benchmark::State &state) {
	Scratch scratch;
	std::ofstream script(scratch / "hour.txt");
	script << "0 tap NUMPAD8\n0 key ADD down\n0 tap 7\n10 key ADD up\n";
	for (int minute = 2; minute < 60; minute += 3)
		script << minute * 60 << " rudder 1\n" << minute * 60 + 10 << " rudder 0\n";
	script.close();
	sim::RunOptions o = Quiet(scratch);
	o.script = scratch / "hour.txt";
	o.duration = 3600;
	o.dts = {1.0 / 60};
	o.recordEvery = 1000000000;
	long before = MaxRssKiB();
	for (auto _ : state)
		RunOrSkip(state, o);
	state.counters["frames"] = 216000;
	state.counters["max_rss_growth_KiB"] = static_cast<double>(MaxRssKiB() - before);
}
BENCHMARK(BM_HourDriveAt60Hz)->Unit(benchmark::kMillisecond)->Iterations(1);

// The built-in drive as build.sh runs it: the program, from start to exit.
void BM_BuiltInDriveProgram(benchmark::State &state) {
	Scratch scratch;
	std::string out = scratch / "out";
	std::vector<const char *> argv{SENDRA_SIM_PROGRAM, "--quiet", "--out", out.c_str(), nullptr};
	posix_spawn_file_actions_t quiet;  // warnings off the benchmark's own output
	::posix_spawn_file_actions_init(&quiet);
	::posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
	for (auto _ : state) {
		pid_t pid;
		int status = 0;
		if (::posix_spawn(&pid, SENDRA_SIM_PROGRAM, &quiet, nullptr, const_cast<char **>(argv.data()), environ) != 0 ||
		    ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
			state.SkipWithError("sendra-sim failed");
			break;
		}
	}
	::posix_spawn_file_actions_destroy(&quiet);
}
BENCHMARK(BM_BuiltInDriveProgram)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
