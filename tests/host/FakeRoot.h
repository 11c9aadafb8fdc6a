// A scratch Orbiter root for the host's tests with the fake modules built beside them.
#pragma once

#include <filesystem>
#include <string>

#include "Scratch.h"
#include "sendra_host/Simulation.h"
#include "src/HostVessel.h"

namespace fs = std::filesystem;

// An Orbiter-style root with one vessel class per fake module.
class FakeRoot : public scenes::ScratchRoot {
public:
	FakeRoot() : ScratchRoot("sendra-fake-root") {}

	// A class "name" whose module is the fake module built as libFake<name>.so.
	void AddClass(const std::string &name) {
		fs::copy_file(fs::path(FAKE_MODULE_DIR) / ("libFake" + name + ".so"), dir() / "Modules" / ("lib" + name + ".so"));
		WriteClass(name, "ClassName = " + name + "\nModule = " + name + "\n");
	}
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
