// Driving the rover through the host frame by frame: keys, rudder, and what every step makes
// of the drive state (wheel roll, swivel, sticks, dials, doors, sunscreen, auto-centre).
#include <gtest/gtest.h>

#include <array>

#include "RoverRig.h"
#include "RoverWorld.h"
#include "sendra_host/VesselView.h"

using testing_support::RoverWorld;

namespace {

host::SimOptions NoRudderLag() {
	host::SimOptions o = testing_support::WorldOptions();
	o.rudderDelay = 0;
	return o;
}

// A keyboard state with the given keys held, as the host hands it to the rover.
struct Keys {
	Keys(std::initializer_list<int> held) {
		for (int k : held)
			state[k] = static_cast<char>(0x80);
	}
	bool Held(int key) const { return state[key] & 0x80; }
	char state[256] = {};
};

struct Drive : ::testing::Test {
	Drive() : world(NoRudderLag()), v(world.AddRover("R")), r(RoverWorld::Rover(v)) {}
	double State(UINT handle) const { return world.AnimationState(v, handle); }
	// One frame's keyboard state given to the rover, as the host does between steps.
	int Direct(Keys &keys) {
		return world.sim.InCallback(v, [&] { return host::VesselView(v).callbacks()->clbkConsumeDirectKey(keys.state); });
	}
	int Press(DWORD key, Keys keys, bool down = true) {
		return world.sim.InCallback(v, [&] { return host::VesselView(v).callbacks()->clbkConsumeBufferedKey(key, down, keys.state); });
	}
	RoverWorld world;
	Vessel *v;
	Sendra2016 &r;
};

TEST_F(Drive, GearKeysSelectGearsAndRememberTheGearLeftForNeutral) {
	struct Selection {
		int key;
		int forward, reverse, neutral, from;
	};
	const Selection drive[] = {
		{OAPI_KEY_NUMPAD8, 1, 0, 0, 0}, {OAPI_KEY_NUMPAD5, 0, 0, 1, 1},
		{OAPI_KEY_NUMPAD5, 0, 0, 1, 1},  // neutral again keeps what was left
		{OAPI_KEY_NUMPAD2, 0, 1, 0, 0}, {OAPI_KEY_NUMPAD5, 0, 0, 1, 2}, {OAPI_KEY_NUMPAD8, 1, 0, 0, 0},
		{OAPI_KEY_NUMPAD2, 0, 1, 0, 0}, {OAPI_KEY_NUMPAD8, 1, 0, 0, 0},
	};
	for (const Selection &s : drive) {
		world.Tap(s.key);
		EXPECT_EQ((std::array<int, 4>{r.gearForward, r.gearReverse, r.gearNeutral, r.neutralFrom}),
		          (std::array<int, 4>{s.forward, s.reverse, s.neutral, s.from}))
		    << "after key " << s.key;
	}
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
	world.Release(OAPI_KEY_SUBTRACT);
	world.Hold(OAPI_KEY_ADD);  // in reverse as in forward
	world.Step(0.02, 10);
	EXPECT_NEAR(r.groundSpeed, 0.1, 1e-12);
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
	double start = host::VesselView(v).place().hdg;
	const int n = 40;
	world.Step(0.02, n);
	EXPECT_NEAR(host::VesselView(v).place().hdg - start, 1e-5 * n * (n + 1) / 2, 1e-12);
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
	EXPECT_NEAR(host::VesselView(w).rudder().level, -0.5, 1e-12);
	EXPECT_EQ(RoverWorld::Rover(w).steerInput, 0);
	lagging.Step(0.1, 4);
	EXPECT_NEAR(host::VesselView(w).rudder().level, -0.9, 1e-12);
	EXPECT_EQ(RoverWorld::Rover(w).steerInput, 0);
	lagging.Step(0.1, 2);  // within one step of the target: the level takes it exactly
	EXPECT_EQ(host::VesselView(w).rudder().level, -1.0);
	EXPECT_EQ(RoverWorld::Rover(w).steerInput, -1);
}

TEST_F(Drive, WheelsRollByASpeedFractionPerStepAndWrapToTheOtherEnd) {
	r.gearForward = 1;
	r.gearNeutral = 0;
	r.groundSpeed = 2.78;
	world.Step(0.02, 14);
	EXPECT_NEAR(r.wheelRollProc, 14 * 0.0695, 1e-12);
	EXPECT_EQ(State(r.animWheelRollLeft), r.wheelRollProc);  // both sides roll alike
	EXPECT_EQ(State(r.animWheelRollRight), r.wheelRollProc);
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
	EXPECT_EQ(State(r.animWheelRollLeft), r.wheelRollProc);
	EXPECT_EQ(State(r.animWheelRollRight), r.wheelRollProc);
	// At 2.5 m/s a step rolls exactly 1/16: a full turn is kept, only beyond it starts again.
	r.wheelRollProc = 1;
	r.groundSpeed = 2.5;
	world.Step(0.02, 16);
	EXPECT_EQ(r.wheelRollProc, 0.0);  // in reverse
	r.gearReverse = 0;
	r.gearForward = 1;
	world.Step(0.02, 16);
	EXPECT_EQ(r.wheelRollProc, 1.0);
	world.Step();
	EXPECT_EQ(r.wheelRollProc, 0.0);
	r.gearForward = 0;
	r.gearReverse = 1;
	r.groundSpeed = 2.78;
	world.Step(0.02, 2);
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
	for (Case c : {Case{0.25, 50}, Case{0.75, 50}, Case{0.5, 100}, Case{0.5625, 88}}) {
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
	EXPECT_TRUE(host::VesselView(v).light(3).on);
	world.Tap(OAPI_KEY_7);
	EXPECT_EQ(r.lightsOn, 0);
	r.lightsOn = 2;
	world.Tap(OAPI_KEY_7);
	EXPECT_EQ(r.lightsOn, 0);
}

TEST_F(Drive, SpeedKeysComeBeforeGearKeysAndGearKeysBeforeTheSwivelKeys) {
	world.Step();  // the swivel keys turn by 0.05 x 0.02 s per frame
	r.turnProc = 0.5;
	// In neutral the speed keys change nothing but still take the frame from the keys after them.
	Keys plusWithGear{OAPI_KEY_ADD, OAPI_KEY_NUMPAD8, OAPI_KEY_5};
	EXPECT_EQ(Direct(plusWithGear), 1);
	EXPECT_EQ(r.gearNeutral, 1);
	EXPECT_EQ(r.groundSpeed, 0.0);
	EXPECT_EQ(r.turnProc, 0.5);
	EXPECT_TRUE(plusWithGear.Held(OAPI_KEY_5));
	Keys forward{OAPI_KEY_NUMPAD8};
	EXPECT_EQ(Direct(forward), 1);
	r.groundSpeed = 1.0;
	Keys plusMinus{OAPI_KEY_ADD, OAPI_KEY_SUBTRACT};
	Direct(plusMinus);
	EXPECT_DOUBLE_EQ(r.groundSpeed, 1.01);
	Keys minusWithGears{OAPI_KEY_SUBTRACT, OAPI_KEY_NUMPAD8, OAPI_KEY_NUMPAD2};
	Direct(minusWithGears);
	EXPECT_DOUBLE_EQ(r.groundSpeed, 1.0);
	EXPECT_EQ(r.gearForward, 1);

	// Gear keys in the order 8, 5, 2; a gear key held stops the swivel keys.
	Keys neutralAndReverse{OAPI_KEY_NUMPAD5, OAPI_KEY_NUMPAD2, OAPI_KEY_6};
	EXPECT_EQ(Direct(neutralAndReverse), 1);
	EXPECT_EQ(r.gearNeutral, 1);
	EXPECT_EQ(r.neutralFrom, 1);
	EXPECT_EQ(r.turnProc, 0.5);
	EXPECT_TRUE(neutralAndReverse.Held(OAPI_KEY_6));
	Keys forwardAndReverse{OAPI_KEY_NUMPAD8, OAPI_KEY_NUMPAD2};
	Direct(forwardAndReverse);
	EXPECT_EQ(r.gearForward, 1);
	EXPECT_EQ(r.gearReverse, 0);

	// The swivel keys clear their own entries and leave the frame to the host.
	Keys bothSwivels{OAPI_KEY_5, OAPI_KEY_6, OAPI_KEY_J};
	EXPECT_EQ(Direct(bothSwivels), 0);
	EXPECT_FALSE(bothSwivels.Held(OAPI_KEY_5));
	EXPECT_FALSE(bothSwivels.Held(OAPI_KEY_6));
	EXPECT_TRUE(bothSwivels.Held(OAPI_KEY_J));
	EXPECT_NEAR(r.turnProc, 0.5, 1e-15);
	Keys left{OAPI_KEY_5}, right{OAPI_KEY_6};
	EXPECT_EQ(Direct(left), 0);
	EXPECT_FALSE(left.Held(OAPI_KEY_5));
	EXPECT_NEAR(r.turnProc, 0.499, 1e-15);
	EXPECT_EQ(Direct(right), 0);
	EXPECT_FALSE(right.Held(OAPI_KEY_6));
	EXPECT_NEAR(r.turnProc, 0.5, 1e-15);
	Keys none{};
	EXPECT_EQ(Direct(none), 0);
	// Turned down onto exactly straight, the swivel stays straight.
	r.turnProc = 0.05 * 0.02;
	Keys leftAgain{OAPI_KEY_5};
	Direct(leftAgain);
	EXPECT_EQ(r.turnProc, 0.0);
}

TEST_F(Drive, AHeldGearKeyTakesEveryKeyDownAndOtherKeysActOnTheirOwnPress) {
	// With gear keys held, in the order 8, 5, 2, whatever key went down.
	EXPECT_EQ(Press(OAPI_KEY_1, {OAPI_KEY_NUMPAD2}), 1);
	EXPECT_EQ(r.gearReverse, 1);
	EXPECT_EQ(r.doorLeftStatus, PART_CLOSED);
	EXPECT_EQ(Press(OAPI_KEY_V, {OAPI_KEY_NUMPAD5, OAPI_KEY_NUMPAD2}), 1);
	EXPECT_EQ(r.gearNeutral, 1);
	EXPECT_EQ(r.neutralFrom, 2);
	EXPECT_EQ(Press(OAPI_KEY_7, {OAPI_KEY_NUMPAD8, OAPI_KEY_NUMPAD5}), 1);
	EXPECT_EQ(r.gearForward, 1);
	EXPECT_EQ(r.sunscreenStatus, PART_CLOSED);
	EXPECT_EQ(r.cameraStation, 0);
	EXPECT_EQ(r.lightsOn, 0);

	// Held swivel keys do not stand in the way: each key acts on its own press.
	Keys swivelling{OAPI_KEY_5, OAPI_KEY_6};
	for (DWORD key : {OAPI_KEY_1, OAPI_KEY_2, OAPI_KEY_4, OAPI_KEY_V, OAPI_KEY_J, OAPI_KEY_7})
		EXPECT_EQ(Press(key, swivelling), 1) << key;
	EXPECT_EQ(r.doorLeftStatus, PART_OPENING);
	EXPECT_EQ(r.doorRightStatus, PART_OPENING);
	EXPECT_EQ(r.autoCentre, 1);
	EXPECT_EQ(r.cameraStation, 1);
	EXPECT_EQ(r.sunscreenStatus, PART_OPENING);
	EXPECT_EQ(r.lightsOn, 1);
	EXPECT_EQ(r.gearForward, 1);

	// Releases, the swivel keys' own presses and keys without a use are the host's.
	for (DWORD key : {OAPI_KEY_5, OAPI_KEY_6, OAPI_KEY_3, OAPI_KEY_ADD, OAPI_KEY_NUMPAD8})
		EXPECT_EQ(Press(key, {}), 0) << key;
	EXPECT_EQ(Press(OAPI_KEY_1, {}, false), 0);
	EXPECT_EQ(Press(OAPI_KEY_1, {OAPI_KEY_NUMPAD2}, false), 0);
	EXPECT_EQ(r.doorLeftStatus, PART_OPENING);
	EXPECT_EQ(r.gearForward, 1);
}

TEST_F(Drive, ToggleKeysReverseAMovingPartFromWhereItIs) {
	struct MovingPart {
		DWORD key;
		int Sendra2016::*status;
		double Sendra2016::*state;
	};
	const MovingPart parts[] = {{OAPI_KEY_1, &Sendra2016::doorLeftStatus, &Sendra2016::doorLeftProc},
	                            {OAPI_KEY_2, &Sendra2016::doorRightStatus, &Sendra2016::doorRightProc},
	                            {OAPI_KEY_J, &Sendra2016::sunscreenStatus, &Sendra2016::sunscreenProc}};
	// From closed, open, closing and opening.
	const int toggled[4] = {PART_OPENING, PART_CLOSING, PART_OPENING, PART_CLOSING};
	for (const MovingPart &p : parts)
		for (int from = 0; from < 4; ++from) {
			r.*p.status = from;
			r.*p.state = 0.4;
			EXPECT_EQ(Press(p.key, {}), 1);
			EXPECT_EQ(r.*p.status, toggled[from]) << p.key << " from " << from;
			EXPECT_EQ(r.*p.state, 0.4);
		}
	// Toggled while closing, a door opens from where it was in the next step.
	r.doorLeftStatus = PART_CLOSING;
	Press(OAPI_KEY_1, {});
	world.Step(0.1);
	EXPECT_NEAR(r.doorLeftProc, 0.41, 1e-12);
	EXPECT_EQ(State(r.animDoorLeft), r.doorLeftProc);
}

TEST_F(Drive, StickTiltsFollowTheInputAndTheGearThatIsEngaged) {
	// Per tilt, in the order of expected_rig::STICKS: '.' not set, '0' or '1' set to that,
	// 's' set to the speed fraction, here 1.39 / 2.78 = 0.5.
	struct Case {
		int gear;  // 0 neutral, 1 forward, 2 reverse
		int input;
		const char *tilts;
	};
	const Case cases[] = {
		{1, +1, ".1s..1s.1.s."}, {1, -1, "1.s.1.s..1s."}, {1, 0, "00s.00s.00s."},
		{2, -1, ".1.s.1.s1..s"}, {2, +1, "1..s1..s.1.s"}, {2, 0, "00.s00.s00.s"},
		{0, -1, "............"}, {0, +1, "............"}, {0, 0, "00..00..00.."},
	};
	for (const Case &c : cases) {
		r.gearNeutral = c.gear == 0;
		r.gearForward = c.gear == 1;
		r.gearReverse = c.gear == 2;
		r.groundSpeed = 1.39;
		world.sim.SetRudderTarget(v, c.input);
		for (const expected_rig::Part &s : expected_rig::STICKS)
			r.SetAnimation(r.*s.anim, 0.25);
		world.Step();
		std::string shown;
		for (const expected_rig::Part &s : expected_rig::STICKS) {
			double state = State(r.*s.anim);
			shown += state == 0.25 ? '.' : state == 0.5 ? 's' : state == 0 ? '0' : state == 1 ? '1' : '?';
		}
		EXPECT_EQ(shown, c.tilts) << "gear " << c.gear << ", input " << c.input;
	}
}

TEST_F(Drive, SwivelStatesWrapOnlyBeyondAFullTurnEitherWay) {
	struct Case {
		double turn, deflection;
		double front, middle, rear;
	};
	const Case cases[] = {
		{0, 0, 0, 0, 0},  // straight: nothing wraps
		{1, 0, 1, 1, 1},  // a full turn stays one
		{1, 0.125, 0.875, 1, 0.125},
		{0, 0.125, 0.875, 0, 0.125},
		{0.5, -0.125, 0.625, 0.5, 0.375},
	};
	for (const Case &c : cases) {
		r.turnProc = c.turn;
		r.steerDeflection = c.deflection;
		world.Step();
		for (UINT a : {r.animSteerRightFront, r.animSteerLeftFront})
			EXPECT_EQ(State(a), c.front) << c.turn << " " << c.deflection;
		for (UINT a : {r.animSteerRightMiddle, r.animSteerLeftMiddle, r.animTurnDialLeft, r.animTurnDialRight,
		               r.animTurnDialRear})
			EXPECT_EQ(State(a), c.middle) << c.turn << " " << c.deflection;
		for (UINT a : {r.animSteerRightRear, r.animSteerLeftRear})
			EXPECT_EQ(State(a), c.rear) << c.turn << " " << c.deflection;
		EXPECT_EQ(r.turnAngle, static_cast<int>(c.turn * 360));
	}
}

TEST_F(Drive, WhileAutoCentringTheDialsAndTurnAngleShowTheSwivelAsTheStepFoundIt) {
	r.turnProc = 0.25;
	r.autoCentre = 1;
	world.Step();
	EXPECT_DOUBLE_EQ(r.turnProc, 0.245);
	EXPECT_EQ(r.turnAngle, 90);
	EXPECT_EQ(State(r.animTurnDialLeft), 0.25);
	EXPECT_EQ(State(r.animSteerLeftMiddle), 0.25);
	world.Step();
	EXPECT_EQ(r.turnAngle, 88);
	EXPECT_DOUBLE_EQ(State(r.animTurnDialRear), 0.245);
	// Past half a turn it goes on up to the full turn, which is straight.
	r.turnProc = 0.75;
	world.Step();
	EXPECT_EQ(r.turnAngle, 270);
	EXPECT_EQ(State(r.animTurnDialRight), 0.75);
	EXPECT_DOUBLE_EQ(r.turnProc, 0.755);
	r.turnProc = 0.995;
	world.Step();
	EXPECT_EQ(r.turnProc, 0.0);
	EXPECT_EQ(r.autoCentre, 0);
}

}  // namespace
