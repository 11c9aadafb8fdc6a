// What `sendra-sim serve` tells the page about the simulation: the vessels' meshes once, then
// per frame every vessel within visual range of the focus, posed as the host poses it, and the
// focus vessel's HUD and camera; the terrain around it; a read-only state. Everything but the
// terrain is made on the simulation thread.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "OrbiterAPI.h"
#include "sendra_host/Body.h"
#include "sendra_host/Simulation.h"

namespace sim {

// The rotation that takes a vessel's axes (x right, y up, z forward) to its planet's frame,
// from the Euler angles of a landed VESSELSTATUS2 (arot), the inverse of how the host and the
// module derive those angles from that rotation.
MATRIX3 PlanetFromVessel(const VECTOR3 &arot);
// The same rotation seen from the local horizon at lng, lat [rad]: the columns are the
// vessel's axes in (east, up, north) coordinates.
MATRIX3 HorizonFromVessel(const VECTOR3 &arot, double lng, double lat);

// The meshes of every vessel as the mesh files give them (the pose of every frame is sent as
// per-group transforms from these), each once by name however many vessels show it:
// materials, and per group the vertices, normals and triangles. JSON.
std::string MeshDocument(const host::Simulation &sim);
// The names of the meshes MeshDocument holds: it is made again when a vessel adds another.
std::set<std::string> MeshNames(const host::Simulation &sim);

// Heights [m] of the terrain on an n x n grid of spacing [m] centred on lng, lat [rad],
// rows running north, points in a row east; x = east and y = north offsets convert to
// longitude and latitude on the body's sphere. JSON.
std::string TerrainDocument(const host::Terrain &terrain, const host::Body &body, double lng, double lat, int n,
                            double spacing);

// The frame messages. A keyframe holds everything a page draws: the focus vessel (its name,
// body, control-surface mode and rudder), its HUD, camera and debug line, and every vessel the
// host keeps a visual of (those within visual range of the focus) with its place and attitude,
// meshes, group poses, lights and beacons. A delta holds what changed since the last delta:
// of each vessel only what moved or switched, a vessel only when something of it did, and the
// names of those whose visuals went. At rest a delta is the frame's number, time and rate.
class FrameEncoder {
public:
	// rate [frames per second of wall time] is shown on the page's status line.
	std::string Delta(const host::Simulation &sim, double rate);
	std::string Keyframe(const host::Simulation &sim, double rate) const;
	// The read-only state document: time, the focus vessel's animation states, HUD texts,
	// lights, beacons, rudder and held keys, every vessel and whether it has a visual, the
	// debug line, and how many tabs watch.
	static std::string State(const host::Simulation &sim, size_t watching);

private:
	using Pose = std::array<float, 12>;  // row-major 3x3, then the translation
	// What the pages were last told of one vessel, as JSON texts; poses per mesh, per group.
	struct Sent {
		std::string place, meshes, lights, beacons;
		std::vector<std::vector<Pose>> poses;
	};
	bool started_ = false;
	std::optional<std::string> focusName_;      // the focus the texts below belong to
	std::string focus_, hud_, camera_, debug_;  // as last sent
	std::map<std::string, Sent> vessels_;       // by name: the vessels the pages draw
};

}  // namespace sim
