// Timing sendra-sim: the built-in drive (which build.sh runs and must stay well under two
// seconds) and an hour of driving at 60 frames a second without recording, through the
// library and as the built program, and the hour's frame loop alone against the floor of the
// rover's arithmetic. The program's runs also report their peak resident memory, which must
// not grow with the length of the drive, and what 10,000 rovers take together and apart.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Floor.h"
#include "Scenes.h"
#include "Scratch.h"
#include "app/CommandLine.h"
#include "run/Run.h"
#include "session/Drive.h"
#include "session/Paths.h"

extern char **environ;

namespace {

// A scratch folder for one benchmark's files, removed afterwards.
class Scratch : public scenes::ScratchFolder {
public:
	Scratch() : ScratchFolder("sendra-sim-bench") {}
	std::string operator/(const std::string &name) const { return (dir() / name).string(); }
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
	static constexpr long kFrames = 216000;
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

// Runs the built program with args once; returns its peak resident memory [KiB], or -1 if it
// failed.
long RunProgramOnce(const std::vector<std::string> &args) {
	std::vector<std::string> all{SENDRA_SIM_PROGRAM};
	all.insert(all.end(), args.begin(), args.end());
	std::vector<char *> argv;
	for (std::string &a : all)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	posix_spawn_file_actions_t quiet;  // warnings stay off the benchmark's own output
	::posix_spawn_file_actions_init(&quiet);
	::posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
	pid_t pid;
	int status = 0;
	rusage usage{};
	bool ok = ::posix_spawn(&pid, SENDRA_SIM_PROGRAM, &quiet, nullptr, argv.data(), environ) == 0 &&
	          ::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
	::posix_spawn_file_actions_destroy(&quiet);
	return ok ? usage.ru_maxrss : -1;
}

// Runs the built program; its peak resident memory [KiB] is reported as a counter.
void RunProgram(benchmark::State &state, const std::vector<std::string> &args, const Scratch &scratch) {
	std::vector<std::string> all{"--quiet", "--out", scratch / "out"};
	all.insert(all.end(), args.begin(), args.end());
	long peak = 0;
	for (auto _ : state) {
		long rss = RunProgramOnce(all);
		if (rss < 0) {
			state.SkipWithError("sendra-sim failed");
			break;
		}
		peak = std::max(peak, rss);
	}
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

// The hour's frame loop alone, as sendra-sim run drives it (the script's events, the frames),
// without loading, pictures or output files, against 216,000 steps of the floor, taken in
// turns.
void BM_HourFrameLoop(benchmark::State &state) {
	Scratch scratch;
	std::vector<std::string> args = HourDrive(scratch).Args();
	args.push_back("--quiet");
	sim::DriveOptions hour = sim::ParseCommandLine(args, sim::DefaultRoot()).run.drive;
	std::ostringstream err;
	double loop = 0, floor = 0;
	for (auto _ : state) {
		try {
			state.PauseTiming();
			sim::Session session(hour.session, err);
			sim::Drive drive(session, sim::LoadDriveScript(hour), hour);
			state.ResumeTiming();
			double t0 = bench::CpuSeconds();
			drive.ToEnd();
			double seconds = bench::CpuSeconds() - t0;
			state.SetIterationTime(seconds);
			loop += seconds;
		} catch (const std::exception &e) {
			state.SkipWithError(e.what());
			break;
		}
		floor += bench::FloorSeconds(HourDrive::kFrames, hour.dts.front());
	}
	state.counters["floor_s"] = floor / static_cast<double>(state.iterations());
	state.counters["x_floor"] = loop / floor;
}
BENCHMARK(BM_HourFrameLoop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

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

// 10,000 rovers loaded from a scenario and run for one frame by the program: together (30 m
// apart, every one within the visual range of the focus, each with a visual) and apart (10 km
// apart, the focus's visual only). Peak resident memory of each, per rover, and the ratio.
void BM_TenThousandRoversProgram(benchmark::State &state) {
	Scratch scratch;
	const int n = 10000;
	auto write = [&](const std::string &name, double spacing) {
		scratch.Write(name, scenes::RoverScenario(scenes::RoverGrid(n, spacing), 60000, ""));
		return scratch / name;
	};
	std::string together = write("together.scn", 30.0), apart = write("apart.scn", 10000.0);
	long peakTogether = 0, peakApart = 0;
	for (auto _ : state) {
		for (auto [scn, peak] : {std::pair{together, &peakTogether}, std::pair{apart, &peakApart}}) {
			long rss = RunProgramOnce({scn, "--duration", "0.02", "--quiet", "--out", scratch / "out"});
			if (rss < 0) {
				state.SkipWithError("sendra-sim failed");
				return;
			}
			*peak = std::max(*peak, rss);
		}
	}
	state.counters["together_KiB"] = static_cast<double>(peakTogether);
	state.counters["apart_KiB"] = static_cast<double>(peakApart);
	state.counters["together_KiB_per_rover"] = static_cast<double>(peakTogether) / n;
	state.counters["apart_KiB_per_rover"] = static_cast<double>(peakApart) / n;
	state.counters["x_apart"] = static_cast<double>(peakTogether) / static_cast<double>(peakApart);
}
BENCHMARK(BM_TenThousandRoversProgram)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
