// Fuzzes the rover's scenario lines: any block of lines handed to its clbkLoadStateEx through
// the host, followed by a frame that acts on whatever was loaded, and a save.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sendra_host/HostVessel.h"
#include "sendra_host/ScenarioFiles.h"
#include "sendra_host/Simulation.h"

namespace {

struct World {
	World() {
		host::SimOptions o;
		o.root = SENDRA_ORBITER_ROOT;
		o.terrain = host::Terrain::Hills();
		sim = std::make_unique<host::Simulation>(o);
		host::LandedPosition pos;
		pos.body = sim->FindBody("Moon");
		rover = sim->CreateVessel("Fuzz", "Sendra2016", pos);
	}
	std::unique_ptr<host::Simulation> sim;
	Vessel *rover;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
	static World world;
	host::ScenarioLines lines;
	std::string text(reinterpret_cast<const char *>(data), size);
	std::istringstream in(text);
	std::string line;
	while (std::getline(in, line) && lines.size() < 64)
		lines.Add(line);
	host::ScenarioBlockReader reader("fuzz.scn", std::move(lines));
	VESSELSTATUS2 vs{};
	vs.version = 2;
	world.rover->callbacks()->clbkLoadStateEx(&reader, &vs);
	world.sim->TakeProblems();
	world.sim->Frame(0.02);
	std::ostringstream out;
	host::ScenarioSink sink(out);
	world.rover->callbacks()->clbkSaveState(&sink);
	return 0;
}
