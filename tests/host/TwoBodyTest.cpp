// The two-body conic: what the orbit keeps (energy, angular momentum, the start after a period)
// at every step length, positions against the classical solutions of parabolas and hyperbolas,
// orbital elements, and the states and elements that describe no orbit.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "src/TwoBody.h"

using host::Conic;
using host::OrbitElements;
using host::OrbitState;

namespace {

constexpr double kMuEarth = 3.986004418e14;  // [m^3/s^2]
constexpr double kTolerance = 1e-9;          // relative

double Rel(const VECTOR3 &a, const VECTOR3 &b) { return length(a - b) / length(b); }

Conic Make(double mu, const OrbitState &s) {
	std::string why;
	std::optional<Conic> c = Conic::Make(mu, s, why);
	EXPECT_TRUE(c) << why;
	return *c;
}

// A state at periapsis r_p [m] with eccentricity e, in a plane tilted about x by 30 degrees and
// about the ecliptic's north by 40 (the host's frame: y is north).
OrbitState AtPeriapsis(double rp, double e, double mu) {
	double v = std::sqrt(mu * (1 + e) / rp);
	double ci = std::cos(30 * RAD), si = std::sin(30 * RAD), cw = std::cos(40 * RAD), sw = std::sin(40 * RAD);
	VECTOR3 p = _V(cw, 0, sw), q = _V(-sw * ci, si, cw * ci);
	return {p * rp, q * v};
}

}  // namespace

// Every conic, stepped at lengths from 0.02 s to a whole period, keeps its energy and angular
// momentum at every step; an ellipse is back at its start after one period, whichever steps
// took it there; a run of steps ends where one step of their sum does.
TEST(TwoBody, ConicsKeepEnergyAndAngularMomentumAtEveryStepLength) {
	struct Case {
		const char *name;
		double rp, e;
	};
	const Case cases[] = {
		{"low circular", 6.7e6, 0.0},     {"station", 6.73e6, 0.0009}, {"molniya", 6.9e6, 0.74},
		{"near-parabolic ellipse", 7e6, 0.999}, {"parabola", 7e6, 1.0}, {"flyby", 7e6, 1.5},
		{"fast hyperbola", 7e6, 6.0},
	};
	for (const Case &k : cases) {
		OrbitState s0 = AtPeriapsis(k.rp, k.e, kMuEarth);
		Conic c = Make(kMuEarth, s0);
		// Kepler's third law for the period, with the semi-major axis of the state's energy;
		// 40,000 s of an open conic.
		double a = -kMuEarth / (dotp(s0.vel, s0.vel) - 2 * kMuEarth / length(s0.pos));
		double span = k.e < 1 ? 2 * PI * std::sqrt(a * a * a / kMuEarth) : 40000.0;
		if (k.e < 1) {
			EXPECT_NEAR(c.period(), span, span * 1e-12);
		}
		// A parabola's energy is 0: its error is measured against the potential at periapsis.
		double e0 = c.energy(), scale = k.e == 1 ? kMuEarth / k.rp : std::fabs(e0);
		VECTOR3 h0 = c.angularMomentum();
		EXPECT_NEAR(c.eccentricity(), k.e, 1e-12) << k.name;
		EXPECT_EQ(std::isfinite(c.period()), k.e < 1) << k.name;
		for (double dt : {0.02, 1.0, 7.3, 600.0, span / 3, span}) {
			SCOPED_TRACE(std::string(k.name) + ", steps of " + std::to_string(dt) + " s");
			// Up to 20,000 steps of dt, then one step to the end of the span.
			double t = 0;
			OrbitState s = s0;
			for (int n = 0; t < span; ++n) {
				t = n < 20000 && t + dt < span ? t + dt : span;
				s = c.At(t);
				double energy = dotp(s.vel, s.vel) / 2 - kMuEarth / length(s.pos);
				ASSERT_LE(std::fabs(energy - e0) / scale, kTolerance) << "at " << t << " s";
				ASSERT_LE(Rel(crossp(s.pos, s.vel), h0), kTolerance) << "at " << t << " s";
			}
			// (Near a parabola the period a rounding of the energy gives is that much less sure:
			// at e = 0.999 it moves the periapsis' return by some 1e-7 of the radius.)
			if (k.e < 0.9) {
				EXPECT_LE(Rel(s.pos, s0.pos), kTolerance) << "back at the start after a period";
				EXPECT_LE(Rel(s.vel, s0.vel), kTolerance);
				// and in the same place after many.
				EXPECT_LE(Rel(c.At(40 * span + span / 3).pos, c.At(span / 3).pos), kTolerance);
				EXPECT_LE(Rel(c.At(-40 * span + span / 3).pos, c.At(span / 3).pos), kTolerance);
			}
			// The same conic anchored at a later state: the motion composes.
			Conic later = Make(kMuEarth, c.At(span / 7));
			EXPECT_LE(Rel(later.At(span / 2 - span / 7).pos, c.At(span / 2).pos), kTolerance);
			EXPECT_LE(Rel(later.At(-span / 7).pos, s0.pos), kTolerance) << "and runs backwards";
		}
	}
}

// Against the classical solutions from periapsis: Barker's equation of a parabola, and the
// hyperbolic Kepler equation e sinh H - H = n t; the radius at each time agrees.
TEST(TwoBody, ParabolasAndHyperbolasFollowTheirClassicalSolutions) {
	const double rp = 7e6;
	Conic parabola = Make(kMuEarth, AtPeriapsis(rp, 1.0, kMuEarth));
	double p = 2 * rp;
	for (double t : {-5000.0, 30.0, 1000.0, 86400.0, 3e7}) {
		// t = sqrt(p^3 / mu) / 2 (D + D^3 / 3), D = tan(nu / 2), solved as a cubic.
		double w = 3 * t * std::sqrt(kMuEarth / (p * p * p));
		double d = std::cbrt(w + std::sqrt(w * w + 1)) + std::cbrt(w - std::sqrt(w * w + 1));
		EXPECT_NEAR(length(parabola.At(t).pos) / (rp * (1 + d * d)), 1.0, kTolerance) << t;
	}
	const double e = 2.5, a = rp / (e - 1);
	Conic hyperbola = Make(kMuEarth, AtPeriapsis(rp, e, kMuEarth));
	double n = std::sqrt(kMuEarth / (a * a * a));
	for (double t : {-2000.0, 60.0, 3600.0, 1e6}) {
		double m = n * t, H = std::asinh(m / e);
		for (int i = 0; i < 100; ++i)
			H -= (e * std::sinh(H) - H - m) / (e * std::cosh(H) - 1);
		EXPECT_NEAR(length(hyperbola.At(t).pos) / (a * (e * std::cosh(H) - 1)), 1.0, kTolerance) << t;
	}
}

// ELEMENTS as the release's scenarios give them: the state has the elements' size, shape and
// plane (inclination from the ecliptic's north, the host's +y, and the node's longitude), the
// mean longitude moves on at the mean motion between the epoch and the date, and a hyperbola's
// negative semi-major axis gives a hyperbola.
TEST(TwoBody, ElementsGiveTheStateOfTheirOrbit) {
	std::string why;
	OrbitElements iss{6734919, 0.0009, 74.513 * RAD, 169.034 * RAD, 328.305 * RAD, 122.0 * RAD, 51544.5};
	std::optional<OrbitState> s = host::StateFromElements(kMuEarth, iss, iss.epoch, why);
	ASSERT_TRUE(s) << why;
	Conic c = Make(kMuEarth, *s);
	EXPECT_NEAR(-kMuEarth / (2 * c.energy()), iss.a, iss.a * kTolerance);
	EXPECT_NEAR(c.eccentricity(), iss.e, 1e-9);
	// The elements of the state in the right-handed ecliptic frame, which the host's frame
	// gives as (x, z, y).
	auto rh = [](const VECTOR3 &v) { return _V(v.x, v.z, v.y); };
	VECTOR3 r = rh(s->pos), v = rh(s->vel);
	auto cross = [](const VECTOR3 &x, const VECTOR3 &y) {
		return _V(x.y * y.z - x.z * y.y, x.z * y.x - x.x * y.z, x.x * y.y - x.y * y.x);
	};
	VECTOR3 h = cross(r, v), node = _V(-h.y, h.x, 0), ev = cross(v, h) / kMuEarth - r / length(r);
	EXPECT_NEAR(std::acos(h.z / length(h)), iss.i, 1e-9);
	EXPECT_NEAR(std::atan2(node.y, node.x), iss.lan, 1e-9);
	double argp = std::acos(dotp(node, ev) / (length(node) * length(ev)));
	EXPECT_NEAR(ev.z < 0 ? 2 * PI - argp : argp, iss.lpe - iss.lan, 1e-6);
	// The mean anomaly at the epoch is L - LPE.
	double E = std::atan2(dotp(r, v) / std::sqrt(kMuEarth * iss.a), 1 - length(r) / iss.a);
	EXPECT_NEAR(std::remainder(E - length(ev) * std::sin(E) - (iss.meanLongitude - iss.lpe), 2 * PI), 0, 1e-9);
	// A day later: the same conic, one day further along it.
	std::optional<OrbitState> later = host::StateFromElements(kMuEarth, iss, iss.epoch + 1, why);
	ASSERT_TRUE(later) << why;
	EXPECT_LE(Rel(later->pos, c.At(86400).pos), kTolerance);

	OrbitElements flyby{-2e7, 1.4, 10 * RAD, 0, 0, 5 * RAD, 51544.5};
	std::optional<OrbitState> f = host::StateFromElements(kMuEarth, flyby, flyby.epoch, why);
	ASSERT_TRUE(f) << why;
	Conic fc = Make(kMuEarth, *f);
	EXPECT_NEAR(kMuEarth / (2 * fc.energy()), 2e7, 2e7 * kTolerance);
	EXPECT_NEAR(fc.eccentricity(), 1.4, 1e-9);
}

// A state or elements that describe no orbit are refused with the reason; a time so far ahead
// on a hyperbola that its numbers overflow gives a state that is not finite, never a hang.
TEST(TwoBody, WhatDescribesNoOrbitIsRefusedWithItsReason) {
	const OrbitState good = AtPeriapsis(7e6, 0.1, kMuEarth);
	const double nan = std::nan(""), inf = INFINITY;
	struct Bad {
		double mu;
		OrbitState s;
		const char *reason;
	};
	const Bad bad[] = {
		{0, good, "not a positive number"},
		{-kMuEarth, good, "not a positive number"},
		{nan, good, "not a positive number"},
		{kMuEarth, {_V(nan, 0, 0), good.vel}, "not finite"},
		{kMuEarth, {good.pos, _V(0, inf, 0)}, "not finite"},
		{kMuEarth, {_V(0, 0, 0), good.vel}, "the position is zero"},
		{kMuEarth, {good.pos, good.pos * 1e-3}, "degenerate"},
		{kMuEarth, {good.pos, _V(0, 0, 0)}, "degenerate"},
	};
	for (const Bad &b : bad) {
		std::string why;
		EXPECT_FALSE(Conic::Make(b.mu, b.s, why));
		EXPECT_NE(why.find(b.reason), std::string::npos) << why;
	}
	const OrbitElements badElements[] = {
		{7e6, 1.2, 0, 0, 0, 0, 51544.5},  {-7e6, 0.5, 0, 0, 0, 0, 51544.5}, {7e6, 1.0, 0, 0, 0, 0, 51544.5},
		{7e6, -0.1, 0, 0, 0, 0, 51544.5}, {0, 0, 0, 0, 0, 0, 51544.5},      {7e6, 0.1, nan, 0, 0, 0, 51544.5},
	};
	for (const OrbitElements &el : badElements) {
		std::string why;
		EXPECT_FALSE(host::StateFromElements(kMuEarth, el, 51544.5, why)) << el.a << " " << el.e;
		EXPECT_FALSE(why.empty());
	}
	std::string why;
	EXPECT_FALSE(host::StateFromElements(0, {7e6, 0.1, 0, 0, 0, 0, 51544.5}, 51544.5, why));
	Conic hyperbola = Make(kMuEarth, AtPeriapsis(7e6, 3, kMuEarth));
	OrbitState far = hyperbola.At(1e300);
	EXPECT_FALSE(std::isfinite(far.pos.x) && std::isfinite(far.vel.x));
}
