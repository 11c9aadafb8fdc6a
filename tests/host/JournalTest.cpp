// The journal keeps the newest entries in order and counts all.
#include <gtest/gtest.h>

#include "sendra_host/Journal.h"

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

}  // namespace
