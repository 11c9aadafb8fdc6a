// The HTTP side of `sendra-sim serve`: the page's files, the event stream, the input and the
// read-only documents, on cpp-httplib. Handlers run on the server's threads and touch only the
// hub and what was fixed before the server started, never the simulation.
#pragma once

#include <httplib.h>

#include <string>

#include "Body.h"
#include "serve/ServeHub.h"

namespace sim {

// What the server hands out besides the live frames; fixed before it starts.
struct ServeContent {
	std::string session;  // /api/session: vessel, body, HUD size, key table, frame length
	std::string mesh;     // /api/mesh
	host::Terrain terrain = host::Terrain::Flat();
	host::Body body{"", 1.0};  // the focus vessel's body, for /api/terrain
	bool hasBody = false;
	std::string webRoot;    // the page's own files
	std::string threeRoot;  // the three package from npm; empty when it was not installed
};

// Limits on what a request may ask for.
const size_t kMaxRequestBody = 4096;  // [bytes] the largest input request
const size_t kMaxInputEvents = 64;    // key events in one input request
const int kMaxTerrainPoints = 257;    // per side of a terrain grid
const double kMinTerrainSpacing = 0.25, kMaxTerrainSpacing = 50.0;  // [m]

// Sets up routes, limits and error responses on svr.
void ConfigureServer(httplib::Server &svr, ServeHub &hub, const ServeContent &content);

// The commands of one input request body, checked in full before any is used; an error
// message (empty on success) says what is wrong. token receives the tab's token.
std::string ParseInput(const std::string &body, std::string &token, std::vector<InputCommand> &commands);

}  // namespace sim
