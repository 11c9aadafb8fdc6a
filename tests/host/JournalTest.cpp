// The journal keeps the newest entries in order and counts all, and names the host's defaults
// that a module's callbacks call through to.
#include <gtest/gtest.h>

#include "FakeRoot.h"
#include "sendra_host/Simulation.h"
#include "src/HostVessel.h"
#include "src/Journal.h"

namespace {

TEST(Journal, KeepsTheNewestEntriesInOrderWithinItsCapacity) {
	host::Journal j(3);
	j.Record(host::Op::SetSize);
	j.Record(host::Op::SetPMI);
	EXPECT_EQ(j.Names(), (std::vector<std::string>{"SetSize", "SetPMI"}));
	j.Record(host::Op::SetCW);
	j.Record(host::Op::LightEmitter_Activate);
	j.Record(host::Op::oapiGetSimStep);
	EXPECT_EQ(j.Names(), (std::vector<std::string>{"SetCW", "LightEmitter::Activate", "oapiGetSimStep"}));
	EXPECT_EQ(j.Total(), 5u);
	j.SetCapacity(2);
	EXPECT_EQ(j.Names(), (std::vector<std::string>{"LightEmitter::Activate", "oapiGetSimStep"}));
	j.Clear();
	EXPECT_TRUE(j.Names().empty());
	EXPECT_EQ(j.Total(), 0u);
	j.Record(host::Op::SetPMI);
	EXPECT_EQ(j.Names(), (std::vector<std::string>{"SetPMI"}));
	// Keeping none, it counts; given room again, it keeps from then on.
	j.SetCapacity(0);
	j.Record(host::Op::SetSize);
	EXPECT_TRUE(j.Names().empty());
	EXPECT_EQ(j.Total(), 2u);
	j.SetCapacity(2);
	j.Record(host::Op::SetCW);
	EXPECT_EQ(j.Names(), (std::vector<std::string>{"SetCW"}));
}

TEST(Journal, NamesTheDefaultsAModuleCallsThrough) {
	PlainWorld world;
	Vessel *v = world.vessel;
	// The radiation force on a vessel of the default size, 10 m, from its centre.
	VESSEL3 base(v, 1);
	v->journal.Clear();
	VECTOR3 force, pos = _V(1, 1, 1);
	base.clbkGetRadiationForce(_V(0, 2, 0), force, pos);
	EXPECT_EQ(v->journal.Names(), std::vector<std::string>{"VESSEL3::clbkGetRadiationForce"});
	EXPECT_EQ(force.y, 300.0);
	EXPECT_EQ(length(pos), 0.0);
}

}  // namespace
