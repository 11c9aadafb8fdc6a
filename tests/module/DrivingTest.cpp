// Driving the rover through the host frame by frame: keys, rudder, and what every step makes
// of the drive state (wheel roll, swivel, sticks, dials, doors, sunscreen, auto-centre).
#include <gtest/gtest.h>

#include "Lights.h"
#include "RoverWorld.h"

using testing_support::RoverWorld;

namespace {

host::SimOptions NoRudderLag() {
	host::SimOptions o = testing_support::WorldOptions();
	o.rudderDelay = 0;
	return o;
}

struct Drive : ::testing::Test {
	Drive() : world(NoRudderLag()), v(world.AddRover("R")), r(RoverWorld::Rover(v)) {}
	double State(UINT handle) const { return world.AnimationState(v, handle); }
	RoverWorld world;
	Vessel *v;
	Sendra2016 &r;
};

TEST_F(Drive, GearKeysSelectGearsAndRememberTheGearLeftForNeutral) {
	world.Tap(OAPI_KEY_NUMPAD8);
	EXPECT_EQ(r.gearForward, 1);
	EXPECT_EQ(r.gearNeutral, 0);
	world.Tap(OAPI_KEY_NUMPAD5);
	EXPECT_EQ(r.gearNeutral, 1);
	EXPECT_EQ(r.neutralFrom, 1);
	world.Tap(OAPI_KEY_NUMPAD5);  // neutral again keeps what was left
	EXPECT_EQ(r.neutralFrom, 1);
	world.Tap(OAPI_KEY_NUMPAD2);
	EXPECT_EQ(r.gearReverse, 1);
	EXPECT_EQ(r.neutralFrom, 0);
	world.Tap(OAPI_KEY_NUMPAD5);
	EXPECT_EQ(r.neutralFrom, 2);
	world.Tap(OAPI_KEY_NUMPAD8);
	EXPECT_EQ(r.neutralFrom, 0);
	EXPECT_EQ(r.gearForward + r.gearReverse + r.gearNeutral, 1);
}

TEST_F(Drive, SpeedKeysAct0Point01PerFrameWithinTheLimitsAndOnlyInGear) {
	world.Hold(OAPI_KEY_ADD);
	world.Step(0.02, 5);
	EXPECT_EQ(r.groundSpeed, 0.0);  // neutral: no change, still consumed
	EXPECT_EQ(world.sim.defaultDirectKeyFrames(), 0u);
	world.Release(OAPI_KEY_ADD);
	world.Tap(OAPI_KEY_NUMPAD8);
	world.Hold(OAPI_KEY_ADD);
	world.Step(0.02, 278);
	EXPECT_LT(r.groundSpeed, 2.78);
	EXPECT_GT(r.groundSpeed, 2.779);
	world.Step();  // the 279th frame is clamped to exactly 2.78
	EXPECT_EQ(r.groundSpeed, 2.78);
	world.Step(0.02, 10);
	EXPECT_EQ(r.groundSpeed, 2.78);
	world.Release(OAPI_KEY_ADD);
	world.Tap(OAPI_KEY_NUMPAD2);  // a gear change keeps the speed
	EXPECT_EQ(r.groundSpeed, 2.78);
	world.Hold(OAPI_KEY_SUBTRACT);
	world.Step(0.02, 300);
	EXPECT_EQ(r.groundSpeed, 0.0);
}

TEST_F(Drive, GearKeyHeldTurnsEveryKeyDownIntoThatGear) {
	world.Hold(OAPI_KEY_NUMPAD8);
	world.Step();
	uint64_t unconsumed = world.sim.defaultBufferedKeys();
	world.Hold(OAPI_KEY_1);  // the left door's key while keypad 8 is held
	world.Step();
	EXPECT_EQ(r.gearForward, 1);
	EXPECT_EQ(r.doorLeftStatus, PART_CLOSED);
	EXPECT_EQ(world.sim.defaultBufferedKeys(), unconsumed);
	// Releasing any key is left to the host.
	world.Release(OAPI_KEY_1);
	world.Step();
	EXPECT_EQ(world.sim.defaultBufferedKeys(), unconsumed + 1);
}

TEST_F(Drive, FullRudderTurnsTheHeadingByTheTriangularSumAndDeflectsFrontAndRearOppositely) {
	world.Tap(OAPI_KEY_NUMPAD8);
	world.sim.SetRudderTarget(v, 1.0);
	world.Step();  // the level reaches the target in this frame's host update, after the pre-step
	EXPECT_EQ(r.steerInput, 1);
	double start = v->state.surf_hdg;
	const int n = 40;
	world.Step(0.02, n);
	EXPECT_NEAR(v->state.surf_hdg - start, 1e-5 * n * (n + 1) / 2, 1e-12);
	EXPECT_DOUBLE_EQ(r.steerDeflection, -0.125);
	// Straight swivel: front wheels at -deflection, rear at +deflection, each wrapped once.
	EXPECT_DOUBLE_EQ(State(r.animSteerRightFront), 0.125);
	EXPECT_DOUBLE_EQ(State(r.animSteerLeftFront), 0.125);
	EXPECT_DOUBLE_EQ(State(r.animSteerRightRear), 0.875);
	EXPECT_DOUBLE_EQ(State(r.animSteerLeftRear), 0.875);
	EXPECT_EQ(State(r.animSteerRightMiddle), 0.0);
	// Turning right in forward gear tilts the bank-minus sticks.
	EXPECT_EQ(State(r.animStickLeftBankMinus), 1.0);
	EXPECT_EQ(State(r.animStickRearBankMinus), 1.0);
	EXPECT_EQ(State(r.animStickLeftBankPlus), 0.0);
	// A partial deflection counts as none: the tilts return and the heading stays.
	world.sim.SetRudderTarget(v, 0.99);
	world.Step(0.02, 2);
	EXPECT_EQ(r.steerInput, 0);
	EXPECT_EQ(State(r.animStickLeftBankMinus), 0.0);
	EXPECT_EQ(r.turnRate, 0.0);
}

TEST_F(Drive, RudderLevelFollowsItsTargetWithTheHostsLag) {
	host::SimOptions o = testing_support::WorldOptions();
	o.rudderDelay = 1.0;
	RoverWorld lagging(o);
	Vessel *w = lagging.AddRover("W");
	lagging.sim.SetRudderTarget(w, -1.0);
	lagging.Step(0.1, 5);
	EXPECT_NEAR(w->rudderLevel, -0.5, 1e-12);
	EXPECT_EQ(RoverWorld::Rover(w).steerInput, 0);
	lagging.Step(0.1, 4);
	EXPECT_NEAR(w->rudderLevel, -0.9, 1e-12);
	EXPECT_EQ(RoverWorld::Rover(w).steerInput, 0);
	lagging.Step(0.1, 2);  // within one step of the target: the level takes it exactly
	EXPECT_EQ(w->rudderLevel, -1.0);
	EXPECT_EQ(RoverWorld::Rover(w).steerInput, -1);
}

TEST_F(Drive, WheelsRollByASpeedFractionPerStepAndWrapToTheOtherEnd) {
	r.gearForward = 1;
	r.gearNeutral = 0;
	r.groundSpeed = 2.78;
	world.Step(0.02, 14);
	EXPECT_NEAR(r.wheelRollProc, 14 * 0.0695, 1e-12);
	world.Step();
	EXPECT_EQ(r.wheelRollProc, 0.0);  // set to 0, not to the excess over 1
	EXPECT_EQ(State(r.animWheelRollLeft), 0.0);
	EXPECT_EQ(State(r.animWheelRollRight), 0.0);
	r.gearForward = 0;
	r.gearReverse = 1;
	world.Step();
	EXPECT_EQ(r.wheelRollProc, 1.0);  // below 0 is set to 1
	world.Step();
	EXPECT_NEAR(r.wheelRollProc, 1 - 0.0695, 1e-12);
	// The sticks' pitch follows the speed: forward tilts, reverse tilts.
	EXPECT_EQ(State(r.animStickLeftPitchMinus), 1.0);
	EXPECT_EQ(State(r.animStickRearPitchPlus), 1.0);
}

TEST_F(Drive, NeutralCoastsToAStopInAHundredStepsAndTheSticksKeepTheirTilt) {
	world.Tap(OAPI_KEY_NUMPAD8);
	r.groundSpeed = 1.0;
	world.Step();
	double pitch = State(r.animStickLeftPitchPlus);
	EXPECT_DOUBLE_EQ(pitch, 1.0 / 2.78);
	world.sim.KeyDown(OAPI_KEY_NUMPAD5);
	world.Step();  // selected in this frame's keyboard step, after the post-step
	world.sim.KeyUp(OAPI_KEY_NUMPAD5);
	double roll = r.wheelRollProc;
	world.Step();
	EXPECT_NEAR(r.wheelRollProc, roll - 1.0 / 40, 1e-12);  // rolls back as in reverse
	world.Step(0.02, 98);
	EXPECT_GT(r.groundSpeed, 0.0);
	world.Step();
	EXPECT_EQ(r.groundSpeed, 0.0);
	roll = r.wheelRollProc;
	world.Step(0.02, 5);
	EXPECT_EQ(r.wheelRollProc, roll);
	EXPECT_EQ(State(r.animStickLeftPitchPlus), pitch);
}

TEST_F(Drive, SwivelStatesAndTurnAngle) {
	r.turnProc = 0.1;
	r.steerDeflection = 0.125;  // neutral: the pre-step leaves it
	world.Step();
	EXPECT_DOUBLE_EQ(State(r.animSteerRightFront), 0.975);
	EXPECT_DOUBLE_EQ(State(r.animSteerRightMiddle), 0.1);
	EXPECT_DOUBLE_EQ(State(r.animSteerRightRear), 0.225);
	EXPECT_DOUBLE_EQ(State(r.animTurnDialRear), 0.1);
	EXPECT_EQ(r.turnAngle, 36);
	r.turnProc = 0.9999;
	world.Step();
	EXPECT_EQ(r.turnAngle, 359);
	r.turnProc = 0.5;
	world.Step();
	EXPECT_EQ(r.turnAngle, 180);
}

TEST_F(Drive, SwivelKeysTurnAt0Point05PerSecondAndWrap) {
	world.Hold(OAPI_KEY_5);
	world.Step(0.02);
	EXPECT_GT(r.turnProc, 0.99);  // wrapped from 0 to just below 1
	world.Step(0.02, 49);
	EXPECT_NEAR(r.turnProc, 0.95, 1e-12);
	world.Release(OAPI_KEY_5);
	r.turnProc = 0.98;
	world.Hold(OAPI_KEY_6);
	world.Step(1.0);
	EXPECT_NEAR(r.turnProc, 0.03, 1e-12);
	// Both held from straight: the swivel ends at exactly 1, which the HUD shows as 360.
	r.turnProc = 0;
	world.Hold(OAPI_KEY_5);
	world.Step(0.02, 3);
	EXPECT_EQ(r.turnProc, 1.0);
	EXPECT_EQ(r.turnAngle, 360);
	// A gear key held at the same time stops the swivel keys.
	world.Hold(OAPI_KEY_NUMPAD8);
	r.turnProc = 0.5;
	world.Step(0.02, 3);
	EXPECT_EQ(r.turnProc, 0.5);
}

TEST_F(Drive, AutoCentreTakesTheShorterWayAt0Point005PerStep) {
	struct Case {
		double from;
		int steps;
	};
	for (Case c : {Case{0.25, 50}, Case{0.75, 50}, Case{0.5, 100}}) {
		r.turnProc = c.from;
		world.Tap(OAPI_KEY_4);  // two frames: the first still before the request
		world.Step(0.02, c.steps - 2);
		EXPECT_NE(r.turnProc, 0.0) << c.from;
		EXPECT_EQ(r.autoCentre, 1) << c.from;
		world.Step();
		EXPECT_EQ(r.turnProc, 0.0) << c.from;
		EXPECT_EQ(r.autoCentre, 0) << c.from;
	}
}

TEST_F(Drive, AutoCentreRequestedWhenStraightPullsALaterSwivelBack) {
	world.Tap(OAPI_KEY_4);
	world.Step(0.02, 10);
	EXPECT_EQ(r.autoCentre, 1);
	r.turnProc = 0.003;  // less than one step of auto-centre
	world.Step();
	EXPECT_EQ(r.turnProc, 0.0);
	EXPECT_EQ(r.autoCentre, 0);
}

TEST_F(Drive, DoorsTakeTenSecondsAndReportOpenOneStepAfterReachingTheEnd) {
	world.Tap(OAPI_KEY_1, 0.1);  // the opening starts in the frame after the press
	EXPECT_EQ(r.doorLeftStatus, PART_OPENING);
	EXPECT_NEAR(r.doorLeftProc, 0.01, 1e-12);
	world.Step(0.1, 99);
	EXPECT_EQ(r.doorLeftProc, 1.0);
	EXPECT_EQ(r.doorLeftStatus, PART_OPENING);
	world.Step(0.1);
	EXPECT_EQ(r.doorLeftStatus, PART_OPEN);
	EXPECT_EQ(State(r.animDoorLeft), 1.0);
	EXPECT_EQ(r.doorRightProc, 0.0);
	// Toggling while moving reverses from where the part is.
	world.Tap(OAPI_KEY_2, 0.1);
	world.Step(0.1, 3);
	EXPECT_NEAR(r.doorRightProc, 0.04, 1e-12);
	world.Tap(OAPI_KEY_2, 0.1);
	EXPECT_EQ(r.doorRightStatus, PART_CLOSING);
	EXPECT_NEAR(r.doorRightProc, 0.04, 1e-12);  // the press frame still opened, the next one closed
	world.Step(0.1);
	EXPECT_NEAR(r.doorRightProc, 0.03, 1e-12);
	for (int i = 0; i < 10 && r.doorRightProc > 0; ++i)
		world.Step(0.1);
	EXPECT_EQ(r.doorRightProc, 0.0);
	EXPECT_EQ(r.doorRightStatus, PART_CLOSING);  // closed one step later
	world.Step(0.1);
	EXPECT_EQ(r.doorRightStatus, PART_CLOSED);
}

TEST_F(Drive, SunscreenMovesItsFifteenSlatsTogether) {
	world.Tap(OAPI_KEY_J, 0.5);
	world.Step(0.5, 4);
	EXPECT_NEAR(r.sunscreenProc, 0.25, 1e-12);
	for (int i = 0; i < 15; ++i)
		EXPECT_EQ(State(r.animSunscreen[i]), r.sunscreenProc);
	EXPECT_EQ(r.sunscreenStatus, PART_OPENING);
}

TEST_F(Drive, OddStatusValuesActAsTheNearestMotionOrNone) {
	r.doorLeftStatus = 5;  // opens and ends as open
	r.doorRightStatus = -1;  // does nothing
	for (int i = 0; i < 20 && r.doorLeftProc < 1; ++i)
		world.Step(1.0);
	EXPECT_EQ(r.doorLeftProc, 1.0);
	EXPECT_EQ(r.doorLeftStatus, 5);
	world.Step(1.0);
	EXPECT_EQ(r.doorLeftStatus, PART_OPEN);
	EXPECT_EQ(r.doorRightProc, 0.0);
	EXPECT_EQ(r.doorRightStatus, -1);
}

TEST_F(Drive, LightsKeyTogglesAndResetsAnOddSwitch) {
	world.Tap(OAPI_KEY_7);
	EXPECT_EQ(r.lightsOn, 1);
	world.Step();
	EXPECT_TRUE(host::DescribeLight(*v->lights[3]).active);
	world.Tap(OAPI_KEY_7);
	EXPECT_EQ(r.lightsOn, 0);
	r.lightsOn = 2;
	world.Tap(OAPI_KEY_7);
	EXPECT_EQ(r.lightsOn, 0);
}

}  // namespace
