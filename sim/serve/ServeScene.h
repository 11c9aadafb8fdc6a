// What `sendra-sim serve` tells the page about the simulation: the focus vessel's meshes once,
// then per frame its place and attitude on the terrain, its mesh groups' poses (only those
// that moved), lights, beacons, camera and HUD; the terrain around it; a read-only state.
// Everything but the terrain is made on the simulation thread.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "Body.h"
#include "OrbiterAPI.h"
#include "Simulation.h"

namespace sim {

// The rotation that takes a vessel's axes (x right, y up, z forward) to its planet's frame,
// from the Euler angles of a landed VESSELSTATUS2 (arot), the inverse of how the host and the
// module derive those angles from that rotation.
MATRIX3 PlanetFromVessel(const VECTOR3 &arot);
// The same rotation seen from the local horizon at lng, lat [rad]: the columns are the
// vessel's axes in (east, up, north) coordinates.
MATRIX3 HorizonFromVessel(const VECTOR3 &arot, double lng, double lat);

// The focus vessel's meshes as the mesh files give them (the pose of every frame is sent as
// per-group transforms from this one): materials, and per group the vertices, normals and
// triangles. JSON; "meshes": [] without a focus vessel.
std::string MeshDocument(const host::Simulation &sim);

// Heights [m] of the terrain on an n x n grid of spacing [m] centred on lng, lat [rad],
// rows running north, points in a row east; x = east and y = north offsets convert to
// longitude and latitude on the body's sphere. JSON.
std::string TerrainDocument(const host::Terrain &terrain, const host::Body &body, double lng, double lat, int n,
                            double spacing);

// The frame messages: a keyframe holds everything, a delta only the group poses and the
// lights, beacons and camera that changed since the last delta. The HUD, place and attitude
// come in every message.
class FrameEncoder {
public:
	// rate [frames per second of wall time] is shown on the page's status line.
	std::string Delta(const host::Simulation &sim, double rate);
	std::string Keyframe(const host::Simulation &sim, double rate) const;
	// The read-only state document: time, the focus vessel's animation states, HUD texts,
	// lights, beacons, rudder and held keys, and how many tabs watch.
	static std::string State(const host::Simulation &sim, size_t watching);

private:
	using Pose = std::array<float, 12>;  // row-major 3x3, then the translation
	const Vessel *vessel_ = nullptr;
	std::vector<std::vector<Pose>> poses_;  // as last sent, per mesh, per group
	std::string lights_, beacons_, camera_;  // as last sent
};

}  // namespace sim
