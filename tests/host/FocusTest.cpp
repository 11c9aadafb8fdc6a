// The host's focus change tells the vessel that loses the focus first and the one that gains
// it second, both with the new and the old focus, as Orbiter does; deleting the focus vessel
// hands the focus on the same way, and its visual goes with it (no other holder: refcount 0).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeRoot.h"
#include "sendra_host/Simulation.h"
#include "src/HostVessel.h"

namespace {

TEST(Focus, ChangesTellBothVesselsInOrbitersOrder) {
	FakeRoot root;
	root.AddClass("Keys");
	host::SimOptions o;
	o.root = root.path();
	host::Simulation sim(o);
	Vessel *v = sim.CreateVessel("V", "Keys", {sim.FindBody("Moon"), 0, 0, 0});
	Vessel *w = sim.CreateVessel("W", "Keys", {sim.FindBody("Moon"), 0, 0, 0});
	sim.SetFocus(w);
	sim.SetFocus(w);  // already has it: no call
	sim.DeleteVessel(w);
	EXPECT_EQ(sim.focus(), v);
	EXPECT_EQ(sim.log(), (std::vector<std::string>{
	                         "V gets focus: new V, old -",
	                         "V loses focus: new W, old V",
	                         "W gets focus: new W, old V",
	                         "W loses focus: new V, old W",
	                         "V gets focus: new V, old W",
	                         "W visual destroyed, refcount 0",
	                     }));
}

}  // namespace
