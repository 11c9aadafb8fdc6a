// Fuzzes the scenario reader on whole files, and what a file that reads is used for: its
// vessels made in a simulation, a few frames run, and the simulation written out again,
// which must read back with the same vessels and load again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "sendra_host/HostError.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"

namespace {

host::SimOptions Options() {
	host::SimOptions o;
	o.root = SENDRA_FUZZ_ROOT;
	o.terrain = host::Terrain::Hills();
	return o;
}

// One simulation for every input (the module is loaded once), and one that loads what it
// wrote; their vessels go after each.
host::Simulation &World() {
	static host::Simulation sim(Options());
	return sim;
}
host::Simulation &Again() {
	static host::Simulation sim(Options());
	return sim;
}

// What WriteScenario wrote must read back with the vessels it wrote, by name and class.
void CheckReadsBack(host::Simulation &sim, const std::string &text) {
	host::ScenarioFile back;
	try {
		back = host::ParseScenario(text, "written.scn");
	} catch (const host::HostError &) {
		__builtin_trap();
	}
	if (back.vessels.size() != sim.vessels().size())
		__builtin_trap();
	for (size_t i = 0; i < back.vessels.size(); ++i)
		if (back.vessels[i].name != host::VesselView(sim.vessels()[i]).name() || back.vessels[i].className != host::VesselView(sim.vessels()[i]).className())
			__builtin_trap();
	host::Simulation &again = Again();
	try {
		host::LoadScenario(again, back);
	} catch (const host::HostError &e) {
		// A save that does not load again; but for a vessel that the frames flew into its body,
		// whose surface the host's conics do not meet (see README.md).
		if (!std::strstr(e.what(), " in flight is inside "))
			__builtin_trap();
	}
	again.DeleteAllVessels();
	again.TakeProblems();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
	host::Simulation &sim = World();
	std::string text(reinterpret_cast<const char *>(data), size);
	try {
		host::ScenarioFile scenario = host::ParseScenario(text, "fuzz.scn");
		host::LoadScenario(sim, scenario);
		for (int i = 0; i < 3; ++i)
			sim.Frame(0.02);
		std::ostringstream out;
		bool written = true;
		try {
			host::WriteScenario(sim, out);
		} catch (const host::HostError &) {
			written = false;  // a state that cannot be saved, refused with a message
		}
		if (written)
			CheckReadsBack(sim, out.str());
	} catch (const host::HostError &) {
	}
	sim.DeleteAllVessels();
	sim.TakeProblems();
	return 0;
}
