// The HTTP server of `sendra-sim serve`, on Boost.Beast: connections, their limits, and who may
// be answered; ServeRoutes says what each request gets. Every connection is read and written
// asynchronously on a few threads, so that slow clients cost memory within fixed limits but no
// thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "serve/ServeHub.h"
#include "serve/ServeRoutes.h"

namespace sim {

// What one connection may send and how long it may take.
struct HttpLimits {
	size_t headBytes = 16 * 1024;  // the request line and the headers
	size_t headerLines = 64;
	size_t targetBytes = 8 * 1024;  // the path and query
	size_t bodyBytes = 64 * 1024;
	std::chrono::milliseconds idleTime{2000};      // to begin a request once connected or answered
	std::chrono::milliseconds requestTime{10000};  // to send a whole request once begun
	std::chrono::milliseconds writeTime{10000};    // for the client to take one response or write
	// Open at once, event streams apart (the hub limits those): beyond it the connection idle
	// the longest makes room, and when none is idle the new one is closed at once.
	size_t connections = 256;
};

// Whether other machines may reach a server listening on bind (an address or a name of this
// machine): false only when every address it stands for is a loopback one.
bool ReachedBeyondThisMachine(const std::string &bind);

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

}  // namespace sim
