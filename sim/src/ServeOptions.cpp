// Parsing `sendra-sim serve`'s command line with CLI11; values are checked against their
// ranges here.
#include "ServeOptions.h"

#include <CLI/CLI.hpp>
#include <cctype>

#include "Options.h"
#include "Text.h"

namespace sim {

namespace {

// [s] A frame shorter than a millisecond cannot be kept to the wall clock, and one longer than
// a second leaves nothing to drive.
const double kMinDt = 0.001, kMaxDt = 1.0;

}  // namespace

Command ParseServeCommandLine(const std::vector<std::string> &args, const std::string &defaultRoot,
                              ServeOptions &o) {
	std::string scenario, port, bind, terrain, root, dt;
	std::vector<std::string> allowHosts;
	CLI::App app("", "sendra-sim serve");
	app.set_help_flag("-h,--help");
	app.add_option("SCENARIO", scenario);
	app.add_option("--port", port);
	app.add_option("--bind", bind);
	app.add_option("--allow-host", allowHosts)->allow_extra_args(false);
	app.add_option("--terrain", terrain);
	app.add_option("--root", root);
	app.add_option("--dt", dt);
	std::vector<const char *> argv{"sendra-sim serve"};
	for (const std::string &a : args)
		argv.push_back(a.c_str());
	try {
		app.parse(static_cast<int>(argv.size()), argv.data());
	} catch (const CLI::CallForHelp &) {
		return Command::Help;
	} catch (const CLI::ParseError &e) {
		throw UsageError(e.what());
	}
	auto given = [&](const char *name) { return app.count(name) > 0; };
	auto bad = [](const std::string &option, const std::string &value, const std::string &expected) {
		return UsageError(option + ": '" + value + "' is not " + expected);
	};

	o = ServeOptions();
	if (given("SCENARIO"))
		o.scenario = scenario;
	o.root = defaultRoot;
	if (given("--root")) {
		if (root.empty())
			throw UsageError("--root: the folder must not be empty");
		o.root = root;
	}
	if (given("--port")) {
		std::optional<long long> p = host::ParseInteger(port);
		if (!p || *p < 0 || *p > 65535)
			throw bad("--port", port, "a port number from 0 (any free port) to 65535");
		o.port = static_cast<int>(*p);
	}
	if (given("--bind")) {
		if (bind.empty() || bind.size() > 255 || bind.find_first_of(" \t\r\n/") != std::string::npos)
			throw bad("--bind", bind, "a host name or an IP address");
		o.bind = bind;
	}
	for (const std::string &h : allowHosts) {
		// A DNS name or an IP address as the Host header carries it (IPv6 in brackets or not).
		std::string name = h.size() > 2 && h.front() == '[' && h.back() == ']' ? h.substr(1, h.size() - 2) : h;
		bool ok = !name.empty() && name.size() <= 253;
		for (char c : name)
			ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '_');
		if (!ok)
			throw bad("--allow-host", h, "a host name or an IP address");
		o.allowHosts.push_back(name);
	}
	if (given("--terrain")) {
		if (terrain != "flat" && terrain != "hills")
			throw bad("--terrain", terrain, "flat or hills");
		o.terrain = terrain;
	}
	if (given("--dt")) {
		std::optional<double> v = host::ParseDouble(dt);
		if (!v || *v < kMinDt || *v > kMaxDt)
			throw bad("--dt", dt, "a frame length from 0.001 to 1 second");
		o.dt = *v;
	}
	return Command::Serve;
}

std::string ServeHelpText() {
	return "serve runs the scenario in real time and shows it on a page at http://ADDR:N/: the focus\n"
	       "rover in 3D on its terrain, its HUD, and the keys as Orbiter binds them. Ctrl-C stops it\n"
	       "and saves the simulation to a new scenario file in the current folder, which it names.\n"
	       "  SCENARIO.scn           scenario to load (default: the built-in Sendra-1 on the Moon)\n"
	       "  --port N               port to listen on, 0 for any free one (default 8080)\n"
	       "  --bind ADDR            address to listen on (default 127.0.0.1, this machine only);\n"
	       "                         anyone who can reach another address can watch and drive\n"
	       "  --allow-host NAME      a name by which pages may reach the server besides localhost,\n"
	       "                         127.0.0.1, [::1] and the --bind address; may be repeated\n"
	       "  --terrain flat|hills   terrain under the vessels (default hills)\n"
	       "  --root DIR             Orbiter folder with Config/, Modules/, Meshes/\n"
	       "  --dt S                 seconds per frame, 0.001 to 1, one frame per S of wall time\n"
	       "                         (default 1/60)\n";
}

}  // namespace sim
