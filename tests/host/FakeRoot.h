// A scratch Orbiter root for the host's tests with the fake modules built beside them.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sendra_host/HostVessel.h"
#include "sendra_host/Simulation.h"
#include "SolarSystemFiles.h"

namespace fs = std::filesystem;

// An Orbiter-style root with one vessel class per fake module.
class FakeRoot {
public:
	FakeRoot() {
		dir_ = fs::temp_directory_path() / ("sendra-fake-root-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
		fs::create_directories(dir_ / "Modules");
		fs::create_directories(dir_ / "Config" / "Vessels");
		LinkSolarSystem(dir_);
	}
	~FakeRoot() { fs::remove_all(dir_); }

	// A class "name" whose module is the fake module built as libFake<name>.so.
	void AddClass(const std::string &name) {
		fs::copy_file(fs::path(FAKE_MODULE_DIR) / ("libFake" + name + ".so"), dir_ / "Modules" / ("lib" + name + ".so"));
		Write("Config/Vessels/" + name + ".cfg", "ClassName = " + name + "\nModule = " + name + "\n");
	}
	void Write(const std::string &rel, const std::string &text) { std::ofstream(dir_ / rel) << text; }
	std::string path() const { return dir_.string(); }

private:
	fs::path dir_;
	static inline int counter_ = 0;
};

// A simulation of a root with one class, "Plain", that loads no module, and one vessel of it,
// "P", landed on the Moon: the host's own defaults with nothing in front of them.
struct PlainWorld {
	PlainWorld() : sim(Options(root)), vessel(sim.CreateVessel("P", "Plain", {sim.FindBody("Moon"), 0, 0, 0})) {}

	static host::SimOptions Options(FakeRoot &root) {
		root.Write("Config/Vessels/Plain.cfg", "ClassName = Plain\n");
		host::SimOptions o;
		o.root = root.path();
		return o;
	}

	FakeRoot root;
	host::Simulation sim;
	Vessel *vessel;
};
