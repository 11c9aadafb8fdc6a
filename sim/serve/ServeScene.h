// What `sendra-sim serve` tells the page about the simulation besides the frames: the vessels'
// meshes, the terrain around the focus and a read-only state. Everything but the terrain is
// made on the simulation thread.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "OrbiterAPI.h"
#include "sendra_host/Body.h"
#include "sendra_host/Simulation.h"

namespace sim {

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

// The read-only state document: time, the focus vessel's animation states, HUD texts,
// lights, beacons, rudder and held keys, every vessel and whether it has a visual, the debug
// line, and how many tabs watch. vesselsJson: the list of vessels as StateVessels made it, when
// the caller keeps one (it changes only when a vessel comes into sight or leaves it).
std::string StateDocument(const host::Simulation &sim, size_t watching, const std::string *vesselsJson = nullptr);
std::string StateVessels(const host::Simulation &sim);

}  // namespace sim
