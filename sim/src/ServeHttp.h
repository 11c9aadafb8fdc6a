// The HTTP side of `sendra-sim serve`: the page's files, the event stream, the input and the
// read-only documents, on Boost.Beast. Every connection is read and written asynchronously on a
// few threads, so that slow clients cost memory within fixed limits but no thread; handlers
// touch only the hub and what was fixed before the server started, never the simulation.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Body.h"
#include "ServeHub.h"

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

// What one connection may send and how long it may take.
struct HttpLimits {
	size_t headBytes = 16 * 1024;  // the request line and the headers
	size_t headerLines = 64;
	size_t targetBytes = 8 * 1024;  // the path and query
	size_t bodyBytes = 64 * 1024;
	std::chrono::milliseconds requestTime{10000};  // to send a whole request
	std::chrono::milliseconds writeTime{10000};    // for the client to take one response or write
	size_t connections = 256;                      // open at once; more are closed at once
};

// Limits on what a request may ask for.
const size_t kMaxInputBody = 4096;  // [bytes] the largest input request
const size_t kMaxInputEvents = 64;  // key events in one input request
const int kMaxTerrainPoints = 257;  // per side of a terrain grid
const double kMinTerrainSpacing = 0.25, kMaxTerrainSpacing = 50.0;  // [m]

class HttpServer {
public:
	HttpServer(ServeHub &hub, const ServeContent &content, HttpLimits limits = HttpLimits());
	~HttpServer();
	HttpServer(const HttpServer &) = delete;
	HttpServer &operator=(const HttpServer &) = delete;

	// Listens on bind (an address or a name of this machine) and port (0: any free one), and
	// answers only requests whose Host names this machine's loopback, the bound address or one
	// of allowHosts, with the port. Returns the port. Throws host::HostError when the port is
	// in use or the address cannot be listened on.
	int Listen(const std::string &bind, int port, const std::vector<std::string> &allowHosts);
	// Whether the address listened on is reached from other machines.
	bool ExposedBeyondThisMachine() const;
	// Serves on threads of its own until Stop.
	void Start();
	// Closes the hub's streams and every connection, and waits for the threads.
	void Stop();

	struct Impl;  // the server's state, which its connections share

private:
	std::unique_ptr<Impl> impl_;
};

// The commands of one input request body, checked in full before any is used; an error
// message (empty on success) says what is wrong. token receives the tab's token.
std::string ParseInput(const std::string &body, std::string &token, std::vector<InputCommand> &commands);

}  // namespace sim
