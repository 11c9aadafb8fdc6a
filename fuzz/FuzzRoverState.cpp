// Fuzzes the rover's scenario lines: any block of lines handed to its clbkLoadStateEx through
// the host, followed by a frame that acts on whatever was loaded, and a save.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sendra_host/ScenarioIO.h"
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
	std::vector<std::string> lines;
	std::string text(reinterpret_cast<const char *>(data), size);
	std::istringstream in(text);
	std::string line;
	while (std::getline(in, line) && lines.size() < 64)
		lines.push_back(line);
	host::LoadVesselLines(*world.sim, world.rover, lines, "fuzz.scn");
	world.sim->TakeProblems();
	world.sim->Frame(0.02);
	std::ostringstream out;
	host::SaveVesselLines(*world.sim, world.rover, out);
	return 0;
}
