// Vessels in flight: attitudes, a vessel's conic and spin, and vessels that ride on others.
#include "src/Flight.h"

#include <algorithm>
#include <cmath>

#include "sendra_host/Text.h"

namespace host {

namespace {

MATRIX3 Transposed(const MATRIX3 &m) { return _M(m.m11, m.m21, m.m31, m.m12, m.m22, m.m32, m.m13, m.m23, m.m33); }

// The orthonormal frame of a port: its direction, its alignment made square to it, and their
// cross product, as columns; false for a port without one.
bool PortFrame(const VECTOR3 &dir, const VECTOR3 &rot, MATRIX3 &frame) {
	double ld = length(dir);
	if (!(ld > 0) || !std::isfinite(ld))
		return false;
	VECTOR3 d = dir / ld;
	VECTOR3 r = rot - d * dotp(rot, d);
	double lr = length(r);
	if (!(lr > 1e-9 * length(rot)) || !std::isfinite(lr))
		return false;
	r /= lr;
	VECTOR3 c = crossp(d, r);
	frame = _M(d.x, r.x, c.x, d.y, r.y, c.y, d.z, r.z, c.z);
	return true;
}

}  // namespace

MATRIX3 Rx(double a) { return _M(1, 0, 0, 0, std::cos(a), std::sin(a), 0, -std::sin(a), std::cos(a)); }
MATRIX3 Ry(double a) { return _M(std::cos(a), 0, -std::sin(a), 0, 1, 0, std::sin(a), 0, std::cos(a)); }
MATRIX3 Rz(double a) { return _M(std::cos(a), std::sin(a), 0, -std::sin(a), std::cos(a), 0, 0, 0, 1); }

MATRIX3 AttitudeFromEuler(const VECTOR3 &a) { return mul(mul(Rx(a.x), Ry(a.y)), Rz(a.z)); }

VECTOR3 EulerFromAttitude(const MATRIX3 &r) {
	return _V(std::atan2(r.m23, r.m33), -std::asin(std::clamp(r.m13, -1.0, 1.0)), std::atan2(r.m12, r.m11));
}

MATRIX3 Spin(const VECTOR3 &omega, double t) {
	double w = length(omega);
	double angle = w * t;
	if (!(w > 0) || angle == 0)
		return _M(1, 0, 0, 0, 1, 0, 0, 0, 1);
	VECTOR3 n = omega / w;
	double s = std::sin(angle), c = 1 - std::cos(angle);
	// I + sin K + (1 - cos) K^2 with K = [n x].
	return _M(1 + c * (n.x * n.x - 1), -s * n.z + c * n.x * n.y, s * n.y + c * n.x * n.z,  //
	          s * n.z + c * n.x * n.y, 1 + c * (n.y * n.y - 1), -s * n.x + c * n.y * n.z,  //
	          -s * n.y + c * n.x * n.z, s * n.x + c * n.y * n.z, 1 + c * (n.z * n.z - 1));
}

std::optional<Ride> Meeting(Vessel *base, const Port &basePort, const Port &riderPort) {
	MATRIX3 fb, fr;
	if (!PortFrame(basePort.dir, basePort.rot, fb) || !PortFrame(-riderPort.dir, riderPort.rot, fr))
		return std::nullopt;
	// rotation fr = fb: the rider's port frame, turned into the base's, is the base's.
	MATRIX3 rotation = mul(fb, Transposed(fr));
	return Ride{base, basePort.pos - mul(rotation, riderPort.pos), rotation};
}

FlightPose PoseAt(const FreeFlight &f, double simt) {
	double dt = simt - f.t0;
	FlightPose p;
	p.orbit = f.conic.At(dt);
	p.attitude = f.spin.x == 0 && f.spin.y == 0 && f.spin.z == 0 ? f.attitude0 : mul(f.attitude0, Spin(f.spin, dt));
	p.spin = f.spin;
	return p;
}

FlightPose PoseOnBase(const Ride &ride, const FlightPose &base) {
	FlightPose p;
	VECTOR3 arm = mul(base.attitude, ride.offset);
	p.orbit.pos = base.orbit.pos + arm;
	// The base turns the arm with it: its angular velocity, in global axes, across the arm.
	p.orbit.vel = base.orbit.vel + crossp(mul(base.attitude, base.spin), arm);
	p.attitude = mul(base.attitude, ride.rotation);
	p.spin = mul(Transposed(ride.rotation), base.spin);
	return p;
}

std::optional<FreeFlight> FlyFrom(const FlightPose &pose, double mu, double simt, std::string &why) {
	// The orbits are Newton's, and a speed beyond light's is no vessel's: far out, its orbit is
	// so nearly radial that its save, to the writer's decimals, would not read as one again.
	constexpr double kLightSpeed = 299792458.0;  // [m/s]
	if (dotp(pose.orbit.vel, pose.orbit.vel) >= kLightSpeed * kLightSpeed) {
		why = "a speed of " + FormatShortest(length(pose.orbit.vel)) + " m/s is faster than light";
		return std::nullopt;
	}
	std::optional<Conic> conic = Conic::Make(mu, pose.orbit, why);
	if (!conic)
		return std::nullopt;
	return FreeFlight{*conic, simt, pose.attitude, pose.spin};
}

Ride RideAsPlaced(Vessel *base, const FlightPose &basePose, const FlightPose &pose) {
	MATRIX3 back = Transposed(basePose.attitude);
	return Ride{base, mul(back, pose.orbit.pos - basePose.orbit.pos), mul(back, pose.attitude)};
}

}  // namespace host
