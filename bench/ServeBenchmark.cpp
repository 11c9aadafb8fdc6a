// What `sendra-sim serve` does per frame beyond the host's own frame (finding what changed,
// encoding it once for every tab, queueing it for each and the tabs taking it), against the
// frame of `sendra-sim run` on the same scenario, measured one after the other within one run:
// rovers 30 m apart, all in sight of the focus, at rest or all driving, watched by 1 or 4 tabs.
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Floor.h"
#include "Scenes.h"
#include "Scratch.h"
#include "sendra_host/VesselView.h"
#include "serve/ServeSession.h"
#include "session/Paths.h"
#include "session/Session.h"

namespace {

// The rover grid of n rovers 30 m apart as a scenario file in a scratch folder.
struct RoverScenario {
	explicit RoverScenario(int n) { folder.Write("rovers.scn", scenes::RoverScenario(scenes::RoverGrid(n, 30), 60000, "")); }
	scenes::ScratchFolder folder{"sendra-serve-bench"};
	std::string path = (folder / "rovers.scn").string();
};

// Every rover in forward gear at 2 m/s with its sunscreen opening, as its keys would make it:
// the host hands keys to the focus alone.
void DriveAll(host::Simulation &sim) {
	for (const auto &v : sim.vessels()) {
		VESSEL2 *cb = host::VesselView(v).callbacks();
		char keys[256] = {};
		keys[OAPI_KEY_NUMPAD8] = static_cast<char>(0x80);
		sim.InCallback(v.get(), [&] { cb->clbkConsumeDirectKey(keys); });
		keys[OAPI_KEY_NUMPAD8] = 0;
		keys[OAPI_KEY_ADD] = static_cast<char>(0x80);
		for (int i = 0; i < 200; ++i)
			sim.InCallback(v.get(), [&] { cb->clbkConsumeDirectKey(keys); });
		keys[OAPI_KEY_ADD] = 0;
		sim.InCallback(v.get(), [&] { cb->clbkConsumeBufferedKey(OAPI_KEY_J, true, keys); });
	}
}

// run's frames of the scenario [s per frame]. The host keeps one simulation current at a
// time, so run's session and serve's are made and measured one after the other.
double RunFrames(const sim::SessionOptions &o, double dt, bool driving, int frames) {
	std::ostringstream err;
	sim::Session run(o, err);
	if (driving)
		DriveAll(run.simulation());
	for (int i = 0; i < 10; ++i)
		run.Step(dt, sim::FrameInput{});
	double t0 = bench::CpuSeconds();
	for (int i = 0; i < frames; ++i)
		run.Step(dt, sim::FrameInput{});
	return (bench::CpuSeconds() - t0) / frames;
}

// Args: rovers, tabs, driving (0 or 1).
void BM_ServeFrame(benchmark::State &state) {
	const int n = static_cast<int>(state.range(0)), tabs = static_cast<int>(state.range(1));
	const bool driving = state.range(2) != 0;
	const int frames = std::max(4, 40000 / n);
	RoverScenario scenario(n);
	sim::ServeOptions o;
	o.session.scenario = scenario.path;
	o.session.root = sim::DefaultRoot();
	for (auto _ : state) {
		double run = 0;
		try {
			run = RunFrames(o.session, o.dt, driving, frames);
		} catch (const std::exception &e) {
			state.SkipWithError(e.what());
			return;
		}
		std::ostringstream err;
		sim::ServeSession serve(o, sim::WebFiles{}, err);
		if (driving)
			DriveAll(serve.simulation());
		std::vector<std::shared_ptr<sim::ServeHub::Subscriber>> watching;
		for (int i = 0; i < tabs; ++i)
			watching.push_back(serve.hub().Subscribe());
		std::string taken;
		size_t bytes = 0;
		// The serve part of a frame: publishing, and every tab taking what it was sent.
		auto publish = [&] {
			serve.Publish(60);
			for (const auto &s : watching)
				if (serve.hub().Take(s, taken) == sim::ServeHub::Taken::Messages)
					bytes += taken.size();
		};
		for (int i = 0; i < 10; ++i) {  // the tabs get their fresh states
			serve.Frame();
			publish();
		}
		bytes = 0;
		double host = 0, extra = 0;
		for (int i = 0; i < frames; ++i) {
			double t0 = bench::CpuSeconds();
			serve.Frame();
			double t1 = bench::CpuSeconds();
			publish();
			host += t1 - t0;
			extra += bench::CpuSeconds() - t1;
		}
		state.SetIterationTime(extra);
		state.counters["run_ms"] = run * 1e3;
		state.counters["serve_frame_ms"] = host / frames * 1e3;
		state.counters["serve_extra_ms"] = extra / frames * 1e3;
		state.counters["x_run"] = extra / frames / run;
		state.counters["KB_per_tab_frame"] = static_cast<double>(bytes) / frames / tabs / 1024;
	}
}
BENCHMARK(BM_ServeFrame)
	->ArgNames({"rovers", "tabs", "driving"})
	->ArgsProduct({{2000, 10000}, {1, 4}, {0, 1}})
	->UseManualTime()
	->Unit(benchmark::kMillisecond)
	->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
