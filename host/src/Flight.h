// Vessels in flight: each flies its two-body conic about its reference body and turns at its
// own constant rate, or rides on another (docked, or carried on an attachment point) as one
// rigid body with it. Attitudes are the real host's: the rotation R = Rx(a) Ry(b) Rz(c) that
// takes the vessel's axes to the global ones, from VESSELSTATUS2.arot.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "OrbiterAPI.h"
#include "src/TwoBody.h"

class Vessel;

namespace host {

// The real host's elementary rotations about x, y and z by a [rad]: of the axes, in its
// left-handed frame (Rx(a) turns a vector by -a about x as a right-handed frame counts).
MATRIX3 Rx(double a);
MATRIX3 Ry(double a);
MATRIX3 Rz(double a);
MATRIX3 AttitudeFromEuler(const VECTOR3 &arot);
VECTOR3 EulerFromAttitude(const MATRIX3 &r);
// The rotation after turning t seconds at angular velocity omega [rad/s] about the axes it
// turns: exp([omega x] t), so that R(t) = R0 Spin(omega, t) for a vessel turning about its own.
MATRIX3 Spin(const VECTOR3 &omega, double t);

// A vessel flying on its own: its conic from the reference time t0 [s of simulation time], its
// attitude then, and its angular velocity in its own axes [rad/s].
struct FreeFlight {
	Conic conic;
	double t0;
	MATRIX3 attitude0;
	VECTOR3 spin;
};

// A vessel riding on base: its origin (offset [m]) and axes (rotation: its axes in the base's)
// fixed in the base's frame.
struct Ride {
	Vessel *base;
	VECTOR3 offset;
	MATRIX3 rotation;
};

// Where a port (or attachment point) of one vessel puts the vessel that meets it with a port of
// its own: both at one point, approach directions opposite, alignment vectors the same. The
// ports are given as position, direction and alignment in their own vessel's frame; nullopt
// when a port's direction or alignment is zero or the two are parallel.
struct Port {
	VECTOR3 pos, dir, rot;
};
std::optional<Ride> Meeting(Vessel *base, const Port &basePort, const Port &riderPort);

// The state of a vessel in flight at simulation time simt: position and velocity relative to
// its body, attitude and spin. For a rider, its base's state must be current.
struct FlightPose {
	OrbitState orbit;
	MATRIX3 attitude;
	VECTOR3 spin;  // [rad/s] in the vessel's own axes
};
FlightPose PoseAt(const FreeFlight &f, double simt);
FlightPose PoseOnBase(const Ride &ride, const FlightPose &base);

// A vessel in flight: on its own conic, or riding on another; and its pose at the
// simulation's time, which the frame moves on.
struct Flight {
	std::optional<FreeFlight> free;
	std::optional<Ride> ride;
	FlightPose pose;
};

// The free flight of a pose at simt about a body of gravitational parameter mu; nullopt, with
// the reason in why, when the pose's state describes no orbit (see Conic::Make) or is faster
// than light.
std::optional<FreeFlight> FlyFrom(const FlightPose &pose, double mu, double simt, std::string &why);
// The ride on base that keeps a vessel where pose puts it beside the base's pose: its offset
// and rotation in the base's frame now.
Ride RideAsPlaced(Vessel *base, const FlightPose &basePose, const FlightPose &pose);

}  // namespace host
