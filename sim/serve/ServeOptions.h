// The options of `sendra-sim serve`, which runs a scenario in real time for the browser page.
#pragma once

#include <string>
#include <vector>

#include "session/Session.h"

namespace sim {

struct ServeOptions {
	SessionOptions session;          // the scenario, root and terrain; the HUD and rudder as in Orbiter
	int port = 8080;                 // 0..65535; 0 lets the system pick a free one
	std::string bind = "127.0.0.1";  // address to listen on: loopback unless asked
	std::vector<std::string> allowHosts;  // names besides this machine's own that pages may use
	double dt = 1.0 / 60;            // [s] per frame, and per frame of wall time
};

}  // namespace sim
