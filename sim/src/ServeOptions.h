// The options of `sendra-sim serve`, which runs a scenario in real time for the browser page.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sim {

struct ServeOptions {
	std::optional<std::string> scenario;  // empty: the built-in scenario
	int port = 8080;                      // 0..65535; 0 lets the system pick a free one
	std::string bind = "127.0.0.1";       // address to listen on: loopback unless asked
	std::vector<std::string> allowHosts;  // names besides this machine's own that pages may use
	std::string terrain = "hills";        // "flat" or "hills"
	std::string root;                     // Orbiter folder with Config/, Modules/, Meshes/
	double dt = 1.0 / 60;                 // [s] per frame, and per frame of wall time
};

enum class Command;

// Parses the arguments after "serve". Returns Command::Serve, or Command::Help for --help.
// Throws UsageError.
Command ParseServeCommandLine(const std::vector<std::string> &args, const std::string &defaultRoot,
                              ServeOptions &options);

// The section of serve in the help.
std::string ServeHelpText();

}  // namespace sim
