// The drive state's effect after every step: steering input from the rudder, neutral
// coasting, every animation from the drive state, doors and sunscreen moving, lights, the
// turn angle and the swivel's return to straight.
#include "../animation/AnimationTables.h"
#include "../module/Sendra2016.h"

namespace {

const double MAX_SPEED = 2.78;         // [m/s], the sticks' full pitch
const double ROLL_DIVISOR = 40.0;      // wheel roll per step = groundSpeed / 40
const double NEUTRAL_DECAY = 0.01;     // [m/s per step]
const double SUNSCREEN_RATE = 0.1;     // [state per second]
const double AUTO_CENTRE_STEP = 0.005;  // [fraction of a turn per step]

// Advances a moving part by one step; returns whether it moved (its animation is to be set).
bool MovePart(int &status, double &state, double increment) {
	if (status < PART_CLOSING)
		return false;
	if (status == PART_CLOSING) {
		if (state > 0) {
			state -= increment;
			if (state < 0)
				state = 0;
		} else {
			status = PART_CLOSED;
		}
	} else {  // opening; any status above PART_OPENING acts as opening
		if (state < 1) {
			state += increment;
			if (state > 1)
				state = 1;
		} else {
			status = PART_OPEN;
		}
	}
	return true;
}

// The three sticks' tilts that move together, left, right, rear.
typedef UINT Sendra2016::*StickTilts[3];
const StickTilts BANK_MINUS = {&Sendra2016::animStickLeftBankMinus, &Sendra2016::animStickRightBankMinus,
                               &Sendra2016::animStickRearBankMinus};
const StickTilts BANK_PLUS = {&Sendra2016::animStickLeftBankPlus, &Sendra2016::animStickRightBankPlus,
                              &Sendra2016::animStickRearBankPlus};
const StickTilts PITCH_FORWARD = {&Sendra2016::animStickLeftPitchPlus, &Sendra2016::animStickRightPitchPlus,
                                  &Sendra2016::animStickRearPitchMinus};
const StickTilts PITCH_REVERSE = {&Sendra2016::animStickLeftPitchMinus, &Sendra2016::animStickRightPitchMinus,
                                  &Sendra2016::animStickRearPitchPlus};
// The bank tilts in the order in which they return to centre.
UINT Sendra2016::*const BANK_CENTRE_ORDER[6] = {
	&Sendra2016::animStickLeftBankMinus, &Sendra2016::animStickLeftBankPlus, &Sendra2016::animStickRightBankMinus,
	&Sendra2016::animStickRightBankPlus, &Sendra2016::animStickRearBankPlus, &Sendra2016::animStickRearBankMinus};

void Tilt(Sendra2016 &r, const StickTilts &tilts, double state) {
	for (int i = 0; i < 3; ++i)
		r.SetAnimation(r.*tilts[i], state);
}

void SetRoll(Sendra2016 &r) {
	r.SetAnimation(r.animWheelRollRight, r.wheelRollProc);
	r.SetAnimation(r.animWheelRollLeft, r.wheelRollProc);
}

// Per step, not per second; past a full turn the roll starts again at 0.
void RollForward(Sendra2016 &r) {
	r.wheelRollProc += r.groundSpeed / ROLL_DIVISOR;
	if (r.wheelRollProc > 1)
		r.wheelRollProc = 0;
	SetRoll(r);
}

// Per step; below 0 the roll starts again at 1.
void RollBack(Sendra2016 &r) {
	r.wheelRollProc -= r.groundSpeed / ROLL_DIVISOR;
	if (r.wheelRollProc < 0)
		r.wheelRollProc = 1;
	SetRoll(r);
}

double WrapOnce(double x) {
	if (x > 1)
		return x - 1;
	if (x < 0)
		return x + 1;
	return x;
}

// A wheel's swivel state [fraction of a turn]: the middle wheels show the swivel alone; the
// front ones turn back by the steering deflection and the rear ones on by it, wrapped once.
double SwivelState(double swivel, double deflection, rig::Axle axle) {
	switch (axle) {
	case rig::FRONT: return WrapOnce(swivel - deflection);
	case rig::REAR: return WrapOnce(swivel + deflection);
	default: return swivel;
	}
}

// The sticks follow the engaged gear; in neutral they keep their last state. The same input
// banks them the other way in reverse, as it turns the heading the other way.
void SetSticks(Sendra2016 &r) {
	// The only place where the sticks' bank returns to centre.
	if (r.steerInput == 0)
		for (int i = 0; i < 6; ++i)
			r.SetAnimation(r.*BANK_CENTRE_ORDER[i], 0);
	if (r.gearForward == 1) {
		if (r.steerInput > 0)
			Tilt(r, BANK_MINUS, 1);
		if (r.steerInput < 0)
			Tilt(r, BANK_PLUS, 1);
		Tilt(r, PITCH_FORWARD, r.speedProc);
	}
	if (r.gearReverse == 1) {
		if (r.steerInput < 0)
			Tilt(r, BANK_MINUS, 1);
		if (r.steerInput > 0)
			Tilt(r, BANK_PLUS, 1);
		Tilt(r, PITCH_REVERSE, r.speedProc);
	}
}

// The sunscreen and the doors over a step of simdt [s], set only while they move.
void MoveParts(Sendra2016 &r, double simdt) {
	if (MovePart(r.sunscreenStatus, r.sunscreenProc, SUNSCREEN_RATE * simdt))
		for (int i = 0; i < 15; ++i)
			r.SetAnimation(r.animSunscreen[i], r.sunscreenProc);
	if (MovePart(r.doorLeftStatus, r.doorLeftProc, r.doorRate * simdt))
		r.SetAnimation(r.animDoorLeft, r.doorLeftProc);
	if (MovePart(r.doorRightStatus, r.doorRightProc, r.doorRate * simdt))
		r.SetAnimation(r.animDoorRight, r.doorRightProc);
}

// Lights follow the switch every step; any other value leaves them as they are.
void SetLights(Sendra2016 &r) {
	if (r.lightsOn != 0 && r.lightsOn != 1)
		return;
	bool on = r.lightsOn == 1;
	for (int i = 0; i < 4; ++i)
		r.spotLights[i]->Activate(on);
	for (int k = 0; k < 8; ++k)
		r.beacons[k].active = on;
}

// Auto-centre: the shorter way back to straight, a fixed share of a turn per step.
void AutoCentre(Sendra2016 &r) {
	if (r.autoCentre != 1 || r.turnProc == 0)
		return;
	if (r.turnProc <= 0.5)
		r.turnProc -= AUTO_CENTRE_STEP;
	if (r.turnProc > 0.5)
		r.turnProc += AUTO_CENTRE_STEP;
	if (r.turnProc >= 1)
		r.turnProc = 0;
	if (r.turnProc < 0)
		r.turnProc = 0;
	if (r.turnProc == 0)
		r.autoCentre = 0;
}

}  // namespace

// What the post-step sets, in this order: the steering input, the wheels' roll and the
// coasting in neutral, the swivels, the sticks, the dials and the turn angle, the moving
// parts, the lights, and last the auto-centring, which the animations show a step later.
void Sendra2016::clbkPostStep(double simt, double simdt, double mjd) {
	(void)simt;
	(void)mjd;

	// The rudder level truncated: only full deflection steers.
	steerInput = (int)GetControlSurfaceLevel(AIRCTRL_RUDDER);

	// Wheel roll; neutral rolls back as in reverse, whatever gear it was selected from,
	// while the speed decays.
	if (gearForward == 1)
		RollForward(*this);
	if (gearReverse == 1)
		RollBack(*this);
	if (gearNeutral == 1) {
		RollBack(*this);
		groundSpeed -= NEUTRAL_DECAY;
		if (groundSpeed < 0)
			groundSpeed = 0;
	}

	// Swivel, wheel by wheel in the rig's order.
	for (const rig::WheelRow &wheel : rig::WHEELS)
		SetAnimation(this->*wheel.swivelAnim, SwivelState(turnProc, steerDeflection, wheel.axle));

	// The sticks' pitch is the speed as a share of the top speed.
	speedProc = groundSpeed / MAX_SPEED;
	SetSticks(*this);

	// The dials show the swivel, and the HUD its angle in whole degrees.
	for (const rig::PartRow &dial : rig::DIALS)
		SetAnimation(this->*dial.anim, turnProc);
	turnAngle = (int)(turnProc * 360);

	MoveParts(*this, simdt);
	SetLights(*this);
	AutoCentre(*this);
}
