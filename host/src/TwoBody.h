// Motion of a vessel about one body under the body's gravity alone: the exact two-body conic
// (ellipse, parabola or hyperbola) through a state, by universal variables, and the state that
// a scenario's ELEMENTS line stands for.
#pragma once

#include <optional>
#include <string>

#include "OrbiterAPI.h"

namespace host {

// The real host's gravitational constant [m^3 kg^-1 s^-2]: a body's GM is this times its Mass.
constexpr double kGravitationalConstant = 6.67259e-11;

// A position [m] and velocity [m/s] relative to the body, in its non-rotating frame.
struct OrbitState {
	VECTOR3 pos, vel;
};

// The conic through a state at a reference time. At() is exact to the rounding of its numbers
// whatever the time asked for: it solves the conic from the reference state each time, so that
// a long run of short steps gathers no error.
class Conic {
public:
	// The conic of state about a body of gravitational parameter mu [m^3/s^2]; nullopt, with the
	// reason in why, when mu is not a positive finite number, the state is not finite, the
	// position is zero or the orbit is degenerate (no angular momentum: a straight fall).
	static std::optional<Conic> Make(double mu, const OrbitState &state, std::string &why);

	// The state dt seconds after the reference state (before it when dt < 0). A time so far
	// away that its numbers overflow (a hyperbola after some 1e300 s) gives a state that is
	// not finite.
	OrbitState At(double dt) const;

	double mu() const { return mu_; }
	const OrbitState &reference() const { return ref_; }
	// Specific orbital energy v^2/2 - mu/r [m^2/s^2] and angular momentum r x v [m^2/s].
	double energy() const { return energy_; }
	VECTOR3 angularMomentum() const { return crossp(ref_.pos, ref_.vel); }
	double eccentricity() const;
	// [s] of an ellipse; infinite for a parabola or a hyperbola.
	double period() const { return period_; }

private:
	Conic() = default;
	// The universal anomaly chi [m^0.5] dt seconds after the reference (dt within half a period
	// of an ellipse), from the guess.
	double SolveAnomaly(double dt, double guess) const;
	// Kepler's equation in chi for dt: its value [m^0.5 ... as sqrt(mu) s], and the radius at
	// chi [m], its derivative.
	double Kepler(double chi, double dt, double *radius) const;
	// A guess of the anomaly t seconds after the reference, from the conic alone.
	double FirstGuess(double t) const;

	double mu_ = 0, sqrtMu_ = 0;
	OrbitState ref_{};
	double r0_ = 0;      // |pos| [m]
	double sigma0_ = 0;  // pos . vel / sqrt(mu) [m^0.5]
	double alpha_ = 0;   // 1 / semi-major axis [1/m]: > 0 ellipse, 0 parabola, < 0 hyperbola
	double energy_ = 0;
	double period_ = 0;
	// The last solution, from which the next one starts (a run asks for times close together),
	// and the radius there, the anomaly's rate.
	mutable double lastDt_ = 0, lastChi_ = 0, lastRadius_ = 0;
};

// A scenario's "ELEMENTS a e i LAN LPE L epoch": semi-major axis [m] (negative for a hyperbola),
// eccentricity, inclination, longitude of the ascending node, longitude of periapsis and mean
// longitude at the epoch [rad], the epoch [MJD].
struct OrbitElements {
	double a = 0, e = 0, i = 0, lan = 0, lpe = 0, meanLongitude = 0, epoch = 0;
};

// The state at mjd of the orbit the elements describe about a body of gravitational parameter
// mu; nullopt, with the reason in why, for elements that describe no orbit (a semi-major axis
// whose sign disagrees with the eccentricity, a parabola, which a semi-major axis cannot give,
// a negative eccentricity, numbers that are not finite).
std::optional<OrbitState> StateFromElements(double mu, const OrbitElements &el, double mjd, std::string &why);

// Why nothing orbits a body whose configuration gives it a mass [kg] that is not positive.
std::string MasslessBody(const std::string &body, double mass);

}  // namespace host
