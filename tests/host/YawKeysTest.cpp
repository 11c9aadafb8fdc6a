// The host's own yaw input: keypad 1 and 3 move the focus vessel's rudder only while its
// control-surface mode has the rudder, from the key state its module left, and not in a frame
// whose keys the module took; a program's rudder setting adds to them whatever the mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "FakeRoot.h"
#include "sendra_host/Simulation.h"
#include "src/HostVessel.h"

namespace {

struct Case {
	DWORD mode;
	std::vector<int> held;
	double program;  // the rudder target a program set
	double level;    // the rudder a frame later
};

TEST(YawKeys, MoveTheRudderOnlyWhereOrbitersWould) {
	FakeRoot root;
	root.AddClass("Keys");
	const int L = OAPI_KEY_NUMPAD1, R = OAPI_KEY_NUMPAD3, consume = OAPI_KEY_SPACE, hide3 = OAPI_KEY_LSHIFT;
	const Case cases[] = {
	    {0, {R}, 0, 0},           // control surfaces off (the default)
	    {5, {R}, 0, 0},           // elevator and ailerons, not the rudder
	    {7, {R}, 0, 1},
	    {2, {L}, 0, -1},
	    {7, {L, R}, 0, 0},        // both: straight
	    {7, {R, consume}, 0, 0},  // the module took the frame's keys
	    {7, {L, consume}, 0, 0},
	    {7, {R, hide3}, 0, 0},    // reset by the module: the host does not see it
	    {7, {L, R, hide3}, 0, -1},
	    {0, {}, -0.5, -0.5},      // a program's setting, whatever the mode
	    {7, {R}, 0.5, 1},         // the keys add to it, within -1..1
	    {7, {L}, 0.5, -0.5},
	    {7, {R}, -5, 0},          // a setting beyond full is full, to which the keys add
	    {7, {L}, 5, 0},
	};
	for (const Case &c : cases) {
		host::SimOptions o;
		o.root = root.path();
		o.rudderDelay = 0;
		host::Simulation sim(o);
		Vessel *v = sim.CreateVessel("V", "Keys", {sim.FindBody("Moon"), 0, 0, 0});
		Vessel *other = sim.CreateVessel("W", "Keys", {sim.FindBody("Moon"), 0, 0, 0});
		sim.SetControlSurfaceMode(v, c.mode);
		sim.SetControlSurfaceMode(other, 7);
		sim.SetRudderTarget(v, c.program);
		for (int key : c.held)
			sim.KeyDown(key);
		sim.Frame(0.1);  // the keyboard step sets the target...
		sim.Frame(0.1);  // ...which the next frame's rudder follows
		SCOPED_TRACE("mode " + std::to_string(c.mode) + ", " + std::to_string(c.held.size()) + " keys");
		EXPECT_EQ(v->rudderLevel, c.level);
		EXPECT_EQ(other->rudderLevel, 0.0) << "the keys go to the focus vessel only";
		// The keys move to the new focus; the old one's rudder goes back to what a program set.
		sim.SetFocus(other);
		sim.Frame(0.1);
		sim.Frame(0.1);
		EXPECT_EQ(v->rudderLevel, std::clamp(c.program, -1.0, 1.0));
	}
}

// With a lag the level walks to each new goal a step a frame and stays there, including a goal
// set again after it settled; a vessel deleted while its rudder walks leaves the others' walk.
TEST(YawKeys, TheRudderWalksToEachNewGoal) {
	FakeRoot root;
	root.AddClass("Keys");
	host::SimOptions o;
	o.root = root.path();
	o.rudderDelay = 1;  // a full unit a second: 0.25 a frame below
	host::Simulation sim(o);
	Vessel *v = sim.CreateVessel("V", "Keys", {sim.FindBody("Moon"), 0, 0, 0});
	Vessel *gone = sim.CreateVessel("W", "Keys", {sim.FindBody("Moon"), 0, 0, 0});
	sim.SetRudderTarget(gone, 1);
	sim.SetRudderTarget(v, 0.6);
	std::vector<double> levels;
	for (double goal : {0.6, 0.6, 0.6, 0.6, -0.2, -0.2, -0.2, -0.2, -0.2}) {
		if (goal != v->rudderTarget)
			sim.SetRudderTarget(v, goal);
		if (levels.size() == 1)
			sim.DeleteVessel(gone);
		sim.Frame(0.25);
		levels.push_back(v->rudderLevel);
	}
	const double expected[] = {0.25, 0.5, 0.6, 0.6, 0.35, 0.1, -0.15, -0.2, -0.2};
	for (size_t i = 0; i < levels.size(); ++i)
		EXPECT_DOUBLE_EQ(levels[i], expected[i]) << "frame " << i;

	// Key codes outside the keyboard's 256 reach no module.
	uint64_t unconsumed = sim.defaultBufferedKeys();
	for (int key : {-1, 256, OAPI_KEY_A})
		sim.KeyDown(key);
	sim.Frame(0.25);
	EXPECT_EQ(sim.defaultBufferedKeys(), unconsumed + 1);
	EXPECT_EQ(std::count(sim.log().begin(), sim.log().end(), "post-step arguments differ from the host's clock"), 0);
}

}  // namespace
