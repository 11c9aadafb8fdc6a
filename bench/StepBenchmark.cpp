// The cost of a rover's step against the arithmetic it cannot avoid, of frames with many
// rovers, and the memory each rover adds to the host.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Floor.h"
#include "Scenes.h"
#include "Scratch.h"
#include "animation/AnimationTables.h"
#include "module/Sendra2016.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

namespace {

using bench::FloorRover;
using bench::FloorStep;

void BM_Floor(benchmark::State &state) {
	FloorRover r;
	for (auto _ : state) {
		FloorStep(r, 0.02, bench::kMoonRadius);
		benchmark::DoNotOptimize(r);
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_Floor);

// The arithmetic of a frame's visual catch-up in the hour's drive: the six wheels' rolls, each
// a rotation about its axle through its roll point by the frame's angle (one cosine and sine
// for all: the wheels roll alike), composed onto its wheel's transform, with the formulas the
// host uses. Axes and points are data, as the host gets them. The host's catch-up is measured
// against this function in instructions (callgrind, see bench/README.md).
struct RollTransform {
	MATRIX3 m;
	VECTOR3 t;
};
struct Rolls {
	VECTOR3 axis[6], ref[6];
	RollTransform pose[6];
};

__attribute__((noinline)) void ComposeSixRolls(Rolls &r, double angle) {
	double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
	for (int i = 0; i < 6; ++i) {
		double x = r.axis[i].x, y = r.axis[i].y, z = r.axis[i].z;
		MATRIX3 m = _M(t * x * x + c, t * x * y - z * s, t * x * z + y * s, t * x * y + z * s, t * y * y + c,
		               t * y * z - x * s, t * x * z - y * s, t * y * z + x * s, t * z * z + c);
		VECTOR3 shift = r.ref[i] - mul(m, r.ref[i]);
		RollTransform &p = r.pose[i];
		p.t = mul(m, p.t) + shift;
		p.m = mul(m, p.m);
	}
}

void BM_CatchUpArithmetic(benchmark::State &state) {
	Rolls r;
	for (int i = 0; i < 6; ++i) {
		const rig::WheelRow &w = rig::WHEELS[i];
		r.axis[i] = _V(rig::WHEEL_ROLL_AXIS[0], rig::WHEEL_ROLL_AXIS[1], rig::WHEEL_ROLL_AXIS[2]);
		r.ref[i] = _V(w.rollPoint[0], w.rollPoint[1], w.rollPoint[2]);
		r.pose[i] = {identity(), _V(0, 0, 0)};
	}
	double angle = 0.05 * PI2;  // a frame's roll at 2 m/s
	for (auto _ : state) {
		benchmark::DoNotOptimize(r);
		ComposeSixRolls(r, angle);
		angle = std::nextafter(angle, 1.0);  // a new angle each frame, as the roll's states give
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_CatchUpArithmetic);

// --- Through the stand-in ---------------------------------------------------------------------

// The frames keep no journal of host calls, as `sendra-sim run` keeps none (the host only
// counts them); the single steps keep one, every host call in it.
host::SimOptions BenchOptions(double visualRange = 0, size_t journal = 0) {
	host::SimOptions o;
	o.root = SENDRA_ORBITER_ROOT;
	o.terrain = host::Terrain::Hills();
	o.visualRange = visualRange;
	o.journalCapacity = journal;
	return o;
}

const size_t kStepJournal = 256;

// The rover grid of n rovers spacing [m] apart from 0.41, 0.0117 rad, all driving north at
// 2 m/s with the left door and the sunscreen opening. Each gets the keys the user would give
// it with the focus: the host hands keys to the focus vessel only.
std::vector<Vessel *> AddRovers(host::Simulation &sim, int n, double spacing = 30.0) {
	std::vector<Vessel *> out;
	host::LandedPosition pos;
	pos.body = sim.FindBody("Moon");
	for (const scenes::Rover &r : scenes::RoverGrid(n, spacing, 0.41 * DEG, 0.0117 * DEG)) {
		pos.lng = r.lng * RAD;
		pos.lat = r.lat * RAD;
		out.push_back(sim.CreateVessel(r.name, "Sendra2016", pos));
	}
	for (Vessel *v : out) {
		VESSEL2 *cb = host::VesselView(v).callbacks();
		char keys[256] = {};
		keys[OAPI_KEY_NUMPAD8] = static_cast<char>(0x80);  // forward gear
		sim.InCallback(v, [&] { cb->clbkConsumeDirectKey(keys); });
		keys[OAPI_KEY_NUMPAD8] = 0;
		keys[OAPI_KEY_ADD] = static_cast<char>(0x80);  // 0.01 m/s faster a frame
		for (int i = 0; i < 200; ++i)
			sim.InCallback(v, [&] { cb->clbkConsumeDirectKey(keys); });
		keys[OAPI_KEY_ADD] = 0;
		for (DWORD key : {OAPI_KEY_1, OAPI_KEY_J})
			sim.InCallback(v, [&] { cb->clbkConsumeBufferedKey(key, true, keys); });
	}
	sim.Frame(0.02);
	return out;
}

// Frames of the n rovers in sim against the floor's steps for as many rovers, taken in turns
// of at least 10,000 rover-frames (so that reading the clock costs nothing to speak of): the
// iteration's time is a turn's; per_frame and per_rover [s] and x_floor are counters.
void TimeFrames(benchmark::State &state, host::Simulation &sim, int n) {
	const int frames = std::max(1, 10000 / n);
	double seconds = 0, floor = 0;
	for (auto _ : state) {
		double t0 = bench::CpuSeconds();
		for (int i = 0; i < frames; ++i)
			sim.Frame(0.02);
		double t1 = bench::CpuSeconds();
		state.SetIterationTime(t1 - t0);
		seconds += t1 - t0;
		floor += bench::FloorSeconds(static_cast<long>(frames) * n, 0.02);
	}
	double all = static_cast<double>(state.iterations()) * frames;
	state.counters["per_frame"] = seconds / all;
	state.counters["per_rover"] = seconds / (all * n);
	state.counters["x_floor"] = seconds / floor;
}

void BM_PreStep(benchmark::State &state) {
	host::Simulation sim(BenchOptions(0, kStepJournal));
	Vessel *v = AddRovers(sim, 1)[0];
	VESSEL2 *cb = host::VesselView(v).callbacks();
	for (auto _ : state)
		sim.InCallback(v, [&] { cb->clbkPreStep(sim.simt(), 0.02, sim.mjd()); });
}
BENCHMARK(BM_PreStep);

void BM_PostStep(benchmark::State &state) {
	host::Simulation sim(BenchOptions(0, kStepJournal));
	Vessel *v = AddRovers(sim, 1)[0];
	VESSEL2 *cb = host::VesselView(v).callbacks();
	for (auto _ : state)
		sim.InCallback(v, [&] { cb->clbkPostStep(sim.simt(), 0.02, sim.mjd()); });
}
BENCHMARK(BM_PostStep);

void BM_PreAndPostStep(benchmark::State &state) {
	host::Simulation sim(BenchOptions(0, kStepJournal));
	Vessel *v = AddRovers(sim, 1)[0];
	VESSEL2 *cb = host::VesselView(v).callbacks();
	for (auto _ : state) {
		sim.InCallback(v, [&] { cb->clbkPreStep(sim.simt(), 0.02, sim.mjd()); });
		sim.InCallback(v, [&] { cb->clbkPostStep(sim.simt(), 0.02, sim.mjd()); });
	}
}
BENCHMARK(BM_PreAndPostStep);

// A whole frame of one rover: pre-step, rudder, post-step, keyboard, visual, HUD paint.
void BM_FrameOneRover(benchmark::State &state) {
	host::Simulation sim(BenchOptions(state.range(0) ? 5000.0 : 0.0));
	AddRovers(sim, 1);
	TimeFrames(state, sim, 1);
}
BENCHMARK(BM_FrameOneRover)->ArgName("visual")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Visuals off: the rovers' steps and the host's frame around them.
void BM_FrameManyRovers(benchmark::State &state) {
	host::Simulation sim(BenchOptions());
	int n = static_cast<int>(state.range(0));
	AddRovers(sim, n);
	TimeFrames(state, sim, n);
}
BENCHMARK(BM_FrameManyRovers)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

// The floor's steps for n rovers, each pass also touching the rover's own object where the
// module keeps it, as the rover's callbacks do (before the step its state record and fields,
// after it those again and its beacons' flags), the whole object prefetched four rovers
// ahead; no host record is read (the objects are found through the host's view of each
// rover, and this file compiles nothing of the record). What a frame of n rovers costs at
// the least, whatever the host does.
void BM_FloorOverRoverObjects(benchmark::State &state) {
	host::Simulation sim(BenchOptions());
	const int n = static_cast<int>(state.range(0));
	std::vector<Sendra2016 *> objects;
	for (Vessel *v : AddRovers(sim, n))
		objects.push_back(static_cast<Sendra2016 *>(host::VesselView(v).Interface()));
	std::vector<bench::FloorRover> rovers(static_cast<size_t>(n));
	const size_t fields = static_cast<size_t>(reinterpret_cast<char *>(&objects[0]->beaconPos) -
	                                          reinterpret_cast<char *>(objects[0]));
	auto pass = [&](bool after) {
		for (size_t i = 0; i < objects.size(); ++i) {
			if (i + 4 < objects.size())
				for (size_t at = 0; at < sizeof(Sendra2016); at += 64)
					__builtin_prefetch(reinterpret_cast<char *>(objects[i + 4]) + at);
			Sendra2016 &o = *objects[i];
			volatile char *bytes = reinterpret_cast<char *>(&o);
			for (size_t at = 0; at < fields; at += 64)
				bytes[at] = bytes[at];
			if (after) {
				bench::FloorStep(rovers[i], 0.02, bench::kMoonRadius);
				for (BEACONLIGHTSPEC &b : o.beacons)
					static_cast<volatile bool &>(b.active) = b.active;
			}
		}
	};
	const int frames = std::max(1, 10000 / n);
	double seconds = 0, floor = 0;
	for (auto _ : state) {
		double t0 = bench::CpuSeconds();
		for (int f = 0; f < frames; ++f) {
			pass(false);
			pass(true);
		}
		double t1 = bench::CpuSeconds();
		state.SetIterationTime(t1 - t0);
		seconds += t1 - t0;
		floor += bench::FloorSeconds(static_cast<long>(frames) * n, 0.02);
	}
	benchmark::DoNotOptimize(rovers.data());
	state.counters["x_floor"] = seconds / floor;
}
BENCHMARK(BM_FloorOverRoverObjects)->Arg(100)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

// 10,000 rovers with the visual range of 5 km: together (30 m apart, all in range, every
// visual catching up every frame) or apart (10 km apart: the focus's visual only). Besides
// the time, the heap bytes per rover in use, and how many of them are the visuals': the
// memory with the visuals against that without them (x_no_visuals).
void BM_FrameTenThousandRovers(benchmark::State &state) {
	const int n = 10000;
	const bool together = state.range(0) != 0;
	struct mallinfo2 before = mallinfo2();
	host::Simulation sim(BenchOptions(5000.0));
	AddRovers(sim, n, together ? 30.0 : 10000.0);
	TimeFrames(state, sim, n);
	size_t visuals = 0;
	for (const auto &v : sim.vessels())
		visuals += host::VesselView(v).visual() ? 1 : 0;
	struct mallinfo2 with = mallinfo2();
	Vessel *focus = sim.focus();
	sim.SetFocus(nullptr);  // every visual goes
	struct mallinfo2 without = mallinfo2();
	sim.SetFocus(focus);
	double used = static_cast<double>(with.uordblks - before.uordblks);
	double bare = static_cast<double>(without.uordblks - before.uordblks);
	state.counters["visuals"] = static_cast<double>(visuals);
	state.counters["bytes_per_rover"] = used / n;
	state.counters["bytes_per_visual"] = visuals ? (used - bare) / static_cast<double>(visuals) : 0.0;
	state.counters["x_no_visuals"] = used / bare;
}
BENCHMARK(BM_FrameTenThousandRovers)
    ->ArgName("together")
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// 10,000 rovers alone, 20,000 rovers, and 10,000 rovers beside 10,000 vessels in orbit about
// the Moon (a class without a module, as the release's vessels run here: their two-body
// conics, their attitudes turning), all in one Orbiter folder, visuals off. What a vessel in
// orbit costs a frame is the third case's time less the first's; what a rover costs, the
// second's less the first's.
void BM_FrameOrbitersBesideRovers(benchmark::State &state) {
	const int rovers = state.range(0) == 1 ? 20000 : 10000, orbiters = state.range(0) == 2 ? 10000 : 0;
	scenes::ScratchRoot root("sendra-bench-orbits");
	root.AddStagedRover(SENDRA_ORBITER_ROOT);
	root.WriteClass("Probe", "Mass = 1000\nSize = 5\n");
	host::SimOptions o = BenchOptions();
	o.root = root.path();
	host::Simulation sim(o);
	AddRovers(sim, rovers);
	// Orbits 100 to 1,100 km up, eccentricities to 0.3, every inclination and node, each
	// vessel turning.
	std::string ships = "BEGIN_ENVIRONMENT\n  Date MJD 60000\nEND_ENVIRONMENT\nBEGIN_SHIPS\n";
	for (int i = 0; i < orbiters; ++i) {
		double periapsis = 1.838e6 + 1e6 * (i % 1000) / 1000.0, e = 0.3 * (i % 7) / 7.0;
		ships += "O" + std::to_string(i) + ":Probe\n  STATUS Orbiting Moon\n  ELEMENTS " +
		         host::Format("%.1f %.4f %.2f %.2f %.2f %.2f 60000", periapsis / (1 - e), e, (i * 7) % 180 * 1.0,
		                      (i * 13) % 360 * 1.0, (i * 29) % 360 * 1.0, (i * 31) % 360 * 1.0) +
		         "\n  VROT 0.1 0.2 0.3\nEND\n";
	}
	if (orbiters)
		host::LoadScenario(sim, host::ParseScenario(ships + "END_SHIPS\n", "orbiters.scn"));
	sim.Frame(0.02);
	TimeFrames(state, sim, rovers + orbiters);
	state.counters["vessels"] = rovers + orbiters;
}
BENCHMARK(BM_FrameOrbitersBesideRovers)
    ->ArgName("scene")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Heap bytes each further rover adds (module object, host record, animations, lights,
// journal), the shared mesh template excluded: it is loaded by the first rover.
void BM_BytesPerRover(benchmark::State &state) {
	for (auto _ : state) {
		host::Simulation sim(BenchOptions(0, kStepJournal));
		AddRovers(sim, 1);
		struct mallinfo2 before = mallinfo2();
		const int n = 1000;
		host::LandedPosition pos;
		pos.body = sim.FindBody("Moon");
		for (int i = 0; i < n; ++i)
			sim.CreateVessel("M" + std::to_string(i), "Sendra2016", pos);
		for (int i = 0; i < 10; ++i)
			sim.Frame(0.02);  // every rover's journal and records in use
		struct mallinfo2 after = mallinfo2();
		state.counters["bytes_per_rover"] = static_cast<double>(after.uordblks - before.uordblks) / n;
	}
}
BENCHMARK(BM_BytesPerRover)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
