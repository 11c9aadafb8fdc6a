// The floor of a rover's step: the arithmetic one surface-motion step and one post-step cannot
// avoid, as plain code without host calls. The benchmarks measure the host against it.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>

#include "OrbiterAPI.h"

namespace bench {

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

inline M3 Rotation(double x, double y, double z) {
	double cx = std::cos(x), sx = std::sin(x), cy = std::cos(y), sy = std::sin(y), cz = std::cos(z), sz = std::sin(z);
	return {{cz * cy, -sz * cy, sy, cx * sz + sx * sy * cz, cx * cz - sx * sy * sz, -sx * cy, sx * sz - cx * sy * cz,
	         sx * cz + cx * sy * sz, cx * cy}};
}

inline M3 Product(const M3 &a, const M3 &b) {
	M3 r;
	for (int i = 0; i < 3; ++i)
		for (int j = 0; j < 3; ++j)
			r.m[3 * i + j] = a.m[3 * i] * b.m[j] + a.m[3 * i + 1] * b.m[3 + j] + a.m[3 * i + 2] * b.m[6 + j];
	return r;
}

inline double Hills(double lng, double lat, double radius) {
	return 20.0 * std::sin(lng * radius / 150.0) * std::cos(lat * radius / 230.0);
}

// What any implementation of the rover's pre-step and post-step must compute.
inline void FloorStep(FloorRover &r, double dt, double radius) {
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

const double kMoonRadius = 1.738e6;  // [m]

// CPU seconds this process has used.
inline double CpuSeconds() {
	timespec ts;
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU seconds n floor steps of dt [s] take.
inline double FloorSeconds(long n, double dt) {
	FloorRover r;
	double t0 = CpuSeconds();
	for (long i = 0; i < n; ++i) {
		FloorStep(r, dt, kMoonRadius);
		benchmark::DoNotOptimize(r);
		benchmark::ClobberMemory();
	}
	return CpuSeconds() - t0;
}

}  // namespace bench
