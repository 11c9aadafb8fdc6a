// The cost of a rover's step against the arithmetic it cannot avoid, of frames with many
// rovers, and the memory each rover adds to the host.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "HostVessel.h"
#include "Simulation.h"

namespace {

// --- The floor: one surface step and one post-step as plain arithmetic, no host calls ---------

struct FloorRover {
	double lng = 0.41, lat = 0.0117, hdg = 0.3;
	double speed = 2.0, turnProc = 0.0, steerDeflection = 0.01, turnRate = 0.0;
	double wheelRoll = 0.2, doorProc = 0.3, sunscreenProc = 0.4;
	double arot[3] = {0, 0, 0};
	double anim[30] = {};
	int turnAngle = 0;
};

struct M3 {
	double m[9];
};

M3 Rotation(double x, double y, double z) {
	double cx = std::cos(x), sx = std::sin(x), cy = std::cos(y), sy = std::sin(y), cz = std::cos(z), sz = std::sin(z);
	return {{cz * cy, -sz * cy, sy, cx * sz + sx * sy * cz, cx * cz - sx * sy * sz, -sx * cy, sx * sz - cx * sy * cz,
	         sx * cz + cx * sy * sz, cx * cy}};
}

M3 Product(const M3 &a, const M3 &b) {
	M3 r;
	for (int i = 0; i < 3; ++i)
		for (int j = 0; j < 3; ++j)
			r.m[3 * i + j] = a.m[3 * i] * b.m[j] + a.m[3 * i + 1] * b.m[3 + j] + a.m[3 * i + 2] * b.m[6 + j];
	return r;
}

double Hills(double lng, double lat, double radius) {
	return 20.0 * std::sin(lng * radius / 150.0) * std::cos(lat * radius / 230.0);
}

// What any implementation of the rover's pre-step and post-step must compute.
void FloorStep(FloorRover &r, double dt, double radius) {
	const double rad = PI / 180;
	double mpd = radius * 2.0 * PI / 360;
	double swivel = r.turnProc * 2 * PI;
	double ss = std::sin(swivel), cs = std::cos(swivel);
	double bs = r.turnProc == 0 ? std::sin(r.hdg) : ss, bc = r.turnProc == 0 ? std::cos(r.hdg) : cs;
	r.lat += dt * r.speed * bc / mpd * rad;
	r.lng += dt * r.speed * bs / mpd * rad;
	double ch = std::cos(r.hdg), sh = std::sin(r.hdg);
	// Three samples: the front one and its mirror across the centre line coincide, but both
	// are asked of the terrain, which the compiler must not merge.
	double frontLng = r.lng + 2 * sh / mpd * rad, frontLat = r.lat + 2 * ch / mpd * rad;
	double e1 = Hills(frontLng, frontLat, radius);
	benchmark::DoNotOptimize(frontLng);
	benchmark::DoNotOptimize(frontLat);
	double e2 = Hills(frontLng, frontLat, radius);
	double e3 = Hills(r.lng - 2 * sh / mpd * rad, r.lat - 2 * ch / mpd * rad, radius);
	double pitch = std::atan2((e1 + e2) * 0.5 - e3, 4.0);
	M3 p = Product(Product(Product(Rotation(0, 90 * rad - r.lng, 0), Rotation(-r.lat, 0, 0)), Rotation(0, 0, 180 * rad + r.hdg)),
	               Rotation(90 * rad - pitch, 0, 0));
	r.arot[0] = std::atan2(p.m[5], p.m[8]);
	r.arot[1] = -std::asin(p.m[2]);
	r.arot[2] = std::atan2(p.m[1], p.m[0]);
	// Post-step: roll, swivel states, sticks, dials, turn angle, moving parts.
	r.wheelRoll += r.speed / 40;
	if (r.wheelRoll > 1)
		r.wheelRoll = 0;
	double minus = r.turnProc - r.steerDeflection, plus = r.turnProc + r.steerDeflection;
	minus = minus < 0 ? minus + 1 : minus > 1 ? minus - 1 : minus;
	plus = plus < 0 ? plus + 1 : plus > 1 ? plus - 1 : plus;
	r.anim[0] = r.anim[1] = r.wheelRoll;
	r.anim[2] = r.anim[5] = minus;
	r.anim[3] = r.anim[6] = r.turnProc;
	r.anim[4] = r.anim[7] = plus;
	r.anim[8] = r.anim[9] = r.anim[10] = r.speed / 2.78;
	r.anim[11] = r.anim[12] = r.anim[13] = r.turnProc;
	r.turnAngle = static_cast<int>(r.turnProc * 360);
	r.doorProc = std::min(1.0, r.doorProc + 0.1 * dt);
	r.sunscreenProc = std::min(1.0, r.sunscreenProc + 0.1 * dt);
	for (int i = 14; i < 30; ++i)
		r.anim[i] = r.sunscreenProc;
}

void BM_Floor(benchmark::State &state) {
	FloorRover r;
	for (auto _ : state) {
		FloorStep(r, 0.02, 1.738e6);
		benchmark::DoNotOptimize(r);
		benchmark::ClobberMemory();
	}
}
BENCHMARK(BM_Floor);

// --- Through the stand-in ---------------------------------------------------------------------

host::SimOptions BenchOptions(double visualRange = 0) {
	host::SimOptions o;
	o.root = SENDRA_ORBITER_ROOT;
	o.terrain = host::Terrain::Hills();
	o.visualRange = visualRange;
	o.journalCapacity = 256;
	return o;
}

// n rovers 30 m apart on the Moon, driving forward at 2 m/s with doors and sunscreen opening.
std::vector<Vessel *> AddRovers(host::Simulation &sim, int n) {
	std::vector<Vessel *> out;
	host::LandedPosition pos;
	pos.body = sim.FindBody("Moon");
	for (int i = 0; i < n; ++i) {
		pos.lng = 0.41 + (i % 100) * 30.0 / 1.738e6;
		pos.lat = 0.0117 + (i / 100) * 30.0 / 1.738e6;
		out.push_back(sim.CreateVessel("R" + std::to_string(i), "Sendra2016", pos));
	}
	sim.KeyDown(OAPI_KEY_NUMPAD8);
	sim.Frame(0.02);
	sim.KeyUp(OAPI_KEY_NUMPAD8);
	sim.KeyDown(OAPI_KEY_ADD);
	for (int i = 0; i < 200; ++i)
		sim.Frame(0.02);
	sim.KeyUp(OAPI_KEY_ADD);
	sim.KeyDown(OAPI_KEY_1);
	sim.KeyDown(OAPI_KEY_J);
	sim.Frame(0.02);
	return out;
}

void BM_PreStep(benchmark::State &state) {
	host::Simulation sim(BenchOptions());
	Vessel *v = AddRovers(sim, 1)[0];
	VESSEL2 *cb = v->callbacks();
	for (auto _ : state)
		sim.InCallback(v, [&] { cb->clbkPreStep(sim.simt(), 0.02, sim.mjd()); });
}
BENCHMARK(BM_PreStep);

void BM_PostStep(benchmark::State &state) {
	host::Simulation sim(BenchOptions());
	Vessel *v = AddRovers(sim, 1)[0];
	VESSEL2 *cb = v->callbacks();
	for (auto _ : state)
		sim.InCallback(v, [&] { cb->clbkPostStep(sim.simt(), 0.02, sim.mjd()); });
}
BENCHMARK(BM_PostStep);

void BM_PreAndPostStep(benchmark::State &state) {
	host::Simulation sim(BenchOptions());
	Vessel *v = AddRovers(sim, 1)[0];
	VESSEL2 *cb = v->callbacks();
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
	for (auto _ : state)
		sim.Frame(0.02);
}
BENCHMARK(BM_FrameOneRover)->ArgName("visual")->Arg(0)->Arg(1);

void BM_FrameManyRovers(benchmark::State &state) {
	host::Simulation sim(BenchOptions());
	int n = static_cast<int>(state.range(0));
	AddRovers(sim, n);
	for (auto _ : state)
		sim.Frame(0.02);
	// Seconds per rover and frame.
	state.counters["per_rover"] = benchmark::Counter(
	    static_cast<double>(state.iterations()) * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FrameManyRovers)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Heap bytes each further rover adds (module object, host record, animations, lights,
// journal), the shared mesh template excluded: it is loaded by the first rover.
void BM_BytesPerRover(benchmark::State &state) {
	for (auto _ : state) {
		host::Simulation sim(BenchOptions());
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
