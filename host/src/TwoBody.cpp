// The two-body conic by universal variables (one formulation for ellipses, parabolas and
// hyperbolas), solved by Laguerre's iteration, and the state of a scenario's orbital elements.
#include "src/TwoBody.h"

#include <cmath>
#include <limits>

#include "sendra_host/Text.h"

namespace host {

namespace {

bool Finite(const VECTOR3 &v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Stumpff's functions c2(z) = (1 - cos sqrt z) / z and c3(z) = (sqrt z - sin sqrt z) / sqrt z^3,
// continued to z <= 0 through cosh and sinh. Near 0 both lose every digit to cancellation in
// that form, so there they are summed as their series (alternating terms z^k / (2k+2)! and
// z^k / (2k+3)!, which within |z| < 1 are below the rounding after a dozen terms).
struct Stumpff {
	double c2, c3;
};

Stumpff StumpffOf(double z) {
	if (std::fabs(z) < 1.0) {
		double c2 = 0, c3 = 0, term2 = 0.5, term3 = 1.0 / 6.0;
		for (int k = 0; k < 16; ++k) {
			c2 += term2;
			c3 += term3;
			term2 *= -z / ((2.0 * k + 3) * (2.0 * k + 4));
			term3 *= -z / ((2.0 * k + 4) * (2.0 * k + 5));
		}
		return {c2, c3};
	}
	if (z > 0) {
		double s = std::sqrt(z);
		return {(1 - std::cos(s)) / z, (s - std::sin(s)) / (s * z)};
	}
	double s = std::sqrt(-z);
	return {(std::cosh(s) - 1) / -z, (std::sinh(s) - s) / (s * -z)};
}

// The perifocal-to-ecliptic rotation of an orbit (right-handed, z toward the ecliptic's north)
// applied to the perifocal vector (x, y, 0), then given in the host's left-handed frame, whose
// y axis is the ecliptic's north.
VECTOR3 FromPerifocal(double x, double y, double lan, double i, double argp) {
	double cO = std::cos(lan), sO = std::sin(lan), ci = std::cos(i), si = std::sin(i);
	double cw = std::cos(argp), sw = std::sin(argp);
	double px = cO * cw - sO * sw * ci, py = sO * cw + cO * sw * ci, pz = sw * si;
	double qx = -cO * sw - sO * cw * ci, qy = -sO * sw + cO * cw * ci, qz = cw * si;
	return _V(px * x + qx * y, pz * x + qz * y, py * x + qy * y);
}

constexpr double kSecondsPerDay = 86400.0;

}  // namespace

std::optional<Conic> Conic::Make(double mu, const OrbitState &s, std::string &why) {
	if (!(mu > 0) || !std::isfinite(mu)) {
		why = "the body's gravitational parameter " + FormatShortest(mu) + " m^3/s^2 is not a positive number";
		return std::nullopt;
	}
	if (!Finite(s.pos) || !Finite(s.vel)) {
		why = "the position or velocity is not finite";
		return std::nullopt;
	}
	Conic c;
	c.mu_ = mu;
	c.sqrtMu_ = std::sqrt(mu);
	c.ref_ = s;
	c.r0_ = length(s.pos);
	if (!std::isfinite(c.r0_)) {
		why = "the position is too far from the body's centre for the host's numbers (its length overflows)";
		return std::nullopt;
	}
	if (!(c.r0_ > 0)) {
		why = "the position is zero: the vessel is at the body's centre";
		return std::nullopt;
	}
	double v2 = dotp(s.vel, s.vel);
	double h = length(crossp(s.pos, s.vel));
	if (!std::isfinite(v2) || !std::isfinite(h)) {
		why = "the velocity is too large for the host's numbers (its square or the angular momentum overflows)";
		return std::nullopt;
	}
	// A straight fall or climb through the centre: the conic degenerates into a line, on which
	// the vessel would reach the centre.
	if (!(h > 1e-12 * c.r0_ * std::sqrt(v2 + mu / c.r0_))) {
		why = "a degenerate orbit: the velocity points straight toward or away from the body's centre";
		return std::nullopt;
	}
	c.sigma0_ = dotp(s.pos, s.vel) / c.sqrtMu_;
	c.alpha_ = 2.0 / c.r0_ - v2 / mu;
	// A gravitational parameter so small beside the speed that the orbit's numbers overflow.
	if (!std::isfinite(c.sigma0_) || !std::isfinite(c.alpha_)) {
		why = "a speed of " + FormatShortest(std::sqrt(v2)) + " m/s is too large for the host's numbers about a " +
		      "gravitational parameter of " + FormatShortest(mu) + " m^3/s^2";
		return std::nullopt;
	}
	// Within the rounding of its terms the orbit is a parabola, and is taken as one: an ellipse
	// a rounding away would have a period of ages.
	if (std::fabs(c.alpha_) * c.r0_ < 1e-13)
		c.alpha_ = 0;
	c.energy_ = v2 / 2 - mu / c.r0_;
	c.period_ = c.alpha_ > 0 ? 2 * PI / (c.sqrtMu_ * c.alpha_ * std::sqrt(c.alpha_))
	                         : std::numeric_limits<double>::infinity();
	return c;
}

double Conic::eccentricity() const {
	VECTOR3 h = angularMomentum();
	VECTOR3 e = crossp(ref_.vel, h) / mu_ - ref_.pos / r0_;
	return length(e);
}

double Conic::Kepler(double chi, double dt, double *radius) const {
	double chi2 = chi * chi, z = alpha_ * chi2;
	Stumpff s = StumpffOf(z);
	if (radius)
		*radius = sigma0_ * chi * (1 - z * s.c3) + (1 - alpha_ * r0_) * chi2 * s.c2 + r0_;
	return sigma0_ * chi2 * s.c2 + (1 - alpha_ * r0_) * chi2 * chi * s.c3 + r0_ * chi - sqrtMu_ * dt;
}

double Conic::SolveAnomaly(double dt, double chi) const {
	// The universal form of Kepler's equation
	//   F(chi) = sigma0 chi^2 c2 + (1 - alpha r0) chi^3 c3 + r0 chi - sqrt(mu) dt = 0
	// rises with chi on every conic (its derivative is the radius), so its one root is kept
	// between two bounds while Newton's steps close in on it: a step that would leave them
	// halves them instead. An ellipse's root within half a period of the reference lies within
	// two turns of the eccentric anomaly, chi = dE sqrt(a); other conics widen their bounds from
	// the guess until they hold the root.
	const double eps = std::numeric_limits<double>::epsilon();
	// From a close guess, as a run's next frame gives, Newton's steps alone reach the root in
	// two or three; a guess they do not settle from within a few goes to the bounds below.
	double x = chi;
	for (int k = 0; k < 6; ++k) {
		double r;
		double f = Kepler(x, dt, &r);
		double step = f / r;
		if (!std::isfinite(step))
			break;
		x -= step;
		if (std::fabs(step) <= 2 * eps * std::fabs(x))
			return x;
	}
	// Far enough out the functions overflow: beyond the root on the side of chi's sign.
	auto above = [&](double x) {
		double f = Kepler(x, dt, nullptr);
		return std::isfinite(f) ? f >= 0 : x > 0;
	};
	double lo, hi;
	if (alpha_ > 0) {
		hi = 2 * PI / std::sqrt(alpha_) * (1 + 1e-9);
		lo = -hi;
	} else {
		double width = std::max(std::fabs(chi), std::sqrt(r0_)) + 1;
		lo = chi - width;
		hi = chi + width;
		for (int k = 0; k < 2100 && std::isfinite(hi) && !above(hi); ++k)
			hi += (hi - chi) * 2;
		for (int k = 0; k < 2100 && std::isfinite(lo) && above(lo); ++k)
			lo -= (chi - lo) * 2;
		if (!std::isfinite(lo) || !std::isfinite(hi))
			return NAN;
	}
	if (!(chi > lo && chi < hi))
		chi = (lo + hi) / 2;
	// A Newton step that would leave the bounds, or that did not halve the step before it (far
	// out on a hyperbola, where F grows as an exponential, Newton's steps are short), halves
	// the bounds instead.
	double lastStep = hi - lo;
	for (int k = 0; k < 200; ++k) {
		double r;
		double f = Kepler(chi, dt, &r);
		if (f == 0)
			break;
		bool beyond = std::isfinite(f) ? f > 0 : chi > 0;
		if (beyond)
			hi = chi;
		else
			lo = chi;
		double next = std::isfinite(f) && std::isfinite(r) ? chi - f / r : NAN;
		if (!(next > lo && next < hi) || std::fabs(next - chi) > 0.5 * lastStep)
			next = (lo + hi) / 2;
		double step = next - chi;
		lastStep = std::fabs(step);
		chi = next;
		if (std::fabs(step) <= 2 * eps * std::fabs(chi) || hi - lo <= 4 * eps * std::fabs(chi))
			break;
	}
	return chi;
}

double Conic::FirstGuess(double t) const {
	if (alpha_ > 0)  // the eccentric anomaly moving at the mean motion
		return sqrtMu_ * alpha_ * t;
	if (alpha_ < 0) {
		// Vallado's guess for a hyperbola, from the hyperbolic anomaly at large times.
		double a = 1 / alpha_, sign = t >= 0 ? 1 : -1;
		double den = sigma0_ * sqrtMu_ + sign * std::sqrt(-mu_ * a) * (1 - r0_ * alpha_);
		double x = -2 * mu_ * alpha_ * t / den;
		// Below 1 its logarithm turns the guess against the time, and it is no guess: so soon
		// the anomaly moves at its first rate (in a frame, or far out where that is slow).
		if (x > 1 && std::isfinite(x))
			return sign * std::sqrt(-a) * std::log(x);
		return sqrtMu_ * t / r0_;
	}
	// A parabola: Barker's equation solved for the time from the semi-latus rectum.
	double h = length(angularMomentum()), p = h * h / mu_;
	double s = 0.5 * std::atan2(1.0, 3 * std::sqrt(mu_ / (p * p * p)) * t);
	double w = std::atan(std::cbrt(std::tan(s)));
	return std::sqrt(p) * 2 / std::tan(2 * w);
}

OrbitState Conic::At(double dt) const {
	// An ellipse repeats itself every period: a time within half a period of the reference
	// keeps the anomaly, and the Stumpff functions' arguments, small whatever time is asked for.
	double t = dt;
	if (alpha_ > 0 && std::isfinite(dt))
		t = std::remainder(dt, period_);
	// From the last solution, moved on at the rate of the anomaly there (d chi/dt = sqrt(mu)/r);
	// else from the mean motion's guess.
	double guess = lastChi_ != 0 ? lastChi_ + sqrtMu_ * (t - lastDt_) / lastRadius_ : FirstGuess(t);
	double chi = SolveAnomaly(t, guess);

	double chi2 = chi * chi, z = alpha_ * chi2;
	Stumpff s = StumpffOf(z);
	lastDt_ = t;
	lastChi_ = std::isfinite(chi) ? chi : 0;
	// Kepler's radius at the solution, as Kepler() has it, for the next guess.
	lastRadius_ = sigma0_ * chi * (1 - z * s.c3) + (1 - alpha_ * r0_) * chi2 * s.c2 + r0_;
	double f = 1 - chi2 / r0_ * s.c2;
	double g = t - chi2 * chi * s.c3 / sqrtMu_;
	OrbitState out;
	out.pos = ref_.pos * f + ref_.vel * g;
	double r = length(out.pos);
	double fdot = sqrtMu_ / (r * r0_) * chi * (z * s.c3 - 1);
	double gdot = 1 - chi2 / r * s.c2;
	out.vel = ref_.pos * fdot + ref_.vel * gdot;
	return out;
}

std::optional<OrbitState> StateFromElements(double mu, const OrbitElements &el, double mjd, std::string &why) {
	for (double x : {el.a, el.e, el.i, el.lan, el.lpe, el.meanLongitude, el.epoch, mu, mjd})
		if (!std::isfinite(x)) {
			why = "the elements are not finite numbers";
			return std::nullopt;
		}
	if (!(mu > 0)) {
		why = "the body's gravitational parameter " + FormatShortest(mu) + " m^3/s^2 is not a positive number";
		return std::nullopt;
	}
	if (el.e < 0 || el.e == 1 || el.a == 0 || (el.a > 0) != (el.e < 1)) {
		why = "a semi-major axis of " + FormatShortest(el.a) + " m and an eccentricity of " + FormatShortest(el.e) +
		      " describe no orbit (an ellipse has a > 0 and e < 1, a hyperbola a < 0 and e > 1)";
		return std::nullopt;
	}
	double a = std::fabs(el.a), e = el.e;
	double argp = el.lpe - el.lan;
	double m = el.meanLongitude - el.lpe;  // mean anomaly at the epoch
	double x, y, vx, vy, r;
	double k = std::sqrt(mu * a);
	if (e < 1) {
		m = std::remainder(m, 2 * PI);
		// Kepler's equation E - e sin E = M by Newton's iteration from M (or pi on a very
		// eccentric ellipse, where that converges).
		double E = e < 0.8 ? m : PI;
		for (int it = 0; it < 100; ++it) {
			double step = (E - e * std::sin(E) - m) / (1 - e * std::cos(E));
			E -= step;
			if (std::fabs(step) < 1e-15)
				break;
		}
		double b = std::sqrt(1 - e * e);
		r = a * (1 - e * std::cos(E));
		x = a * (std::cos(E) - e);
		y = a * b * std::sin(E);
		vx = -k / r * std::sin(E);
		vy = k / r * b * std::cos(E);
	} else {
		// e sinh H - H = M, from the asinh of M / e, which is within a few steps of the root.
		double H = std::asinh(m / e);
		for (int it = 0; it < 200; ++it) {
			double step = (e * std::sinh(H) - H - m) / (e * std::cosh(H) - 1);
			H -= step;
			if (std::fabs(step) < 1e-15 * std::max(1.0, std::fabs(H)))
				break;
		}
		double b = std::sqrt(e * e - 1);
		r = a * (e * std::cosh(H) - 1);
		x = a * (e - std::cosh(H));
		y = a * b * std::sinh(H);
		vx = -k / r * std::sinh(H);
		vy = k / r * b * std::cosh(H);
	}
	OrbitState atEpoch{FromPerifocal(x, y, el.lan, el.i, argp), FromPerifocal(vx, vy, el.lan, el.i, argp)};
	if (!Finite(atEpoch.pos) || !Finite(atEpoch.vel)) {
		why = "the elements give a state too large for the host's numbers";
		return std::nullopt;
	}
	std::optional<Conic> conic = Conic::Make(mu, atEpoch, why);
	if (!conic)
		return std::nullopt;
	OrbitState now = conic->At((mjd - el.epoch) * kSecondsPerDay);
	if (!Finite(now.pos) || !Finite(now.vel)) {
		why = "the orbit cannot be followed from its epoch to the scenario's date";
		return std::nullopt;
	}
	return now;
}

std::string MasslessBody(const std::string &body, double mass) {
	return body + "'s Mass in its configuration is " + FormatShortest(mass) +
	       " kg, not a positive number, so nothing can orbit it";
}

}  // namespace host
