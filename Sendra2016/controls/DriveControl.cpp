// The drive state's effect after every step: steering input from the rudder, neutral
// coasting, every animation from the drive state, doors and sunscreen moving, lights, the
// turn angle and the swivel's return to straight.
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

double WrapOnce(double x) {
	if (x > 1)
		return x - 1;
	if (x < 0)
		return x + 1;
	return x;
}

}  // namespace

void Sendra2016::clbkPostStep(double simt, double simdt, double mjd) {
	(void)simt;
	(void)mjd;

	// 1. Only full rudder deflection steers.
	steerInput = (int)GetControlSurfaceLevel(AIRCTRL_RUDDER);

	// 2. Wheel roll, per step; neutral rolls back as in reverse while the speed decays.
	if (gearForward == 1) {
		wheelRollProc += groundSpeed / ROLL_DIVISOR;
		if (wheelRollProc > 1)
			wheelRollProc = 0;
		SetAnimation(animWheelRollRight, wheelRollProc);
		SetAnimation(animWheelRollLeft, wheelRollProc);
	}
	if (gearReverse == 1) {
		wheelRollProc -= groundSpeed / ROLL_DIVISOR;
		if (wheelRollProc < 0)
			wheelRollProc = 1;
		SetAnimation(animWheelRollRight, wheelRollProc);
		SetAnimation(animWheelRollLeft, wheelRollProc);
	}
	if (gearNeutral == 1) {
		wheelRollProc -= groundSpeed / ROLL_DIVISOR;
		if (wheelRollProc < 0)
			wheelRollProc = 1;
		SetAnimation(animWheelRollRight, wheelRollProc);
		SetAnimation(animWheelRollLeft, wheelRollProc);
		groundSpeed -= NEUTRAL_DECAY;
		if (groundSpeed < 0)
			groundSpeed = 0;
	}

	// 3. Swivel: middle wheels show it alone, front and rear deflect in opposite senses.
	double minus = WrapOnce(turnProc - steerDeflection);
	double plus = WrapOnce(turnProc + steerDeflection);
	SetAnimation(animSteerRightFront, minus);
	SetAnimation(animSteerRightMiddle, turnProc);
	SetAnimation(animSteerRightRear, plus);
	SetAnimation(animSteerLeftFront, minus);
	SetAnimation(animSteerLeftMiddle, turnProc);
	SetAnimation(animSteerLeftRear, plus);

	// 4.
	speedProc = groundSpeed / MAX_SPEED;

	// 5. The only place where the sticks' bank returns to centre.
	if (steerInput == 0) {
		SetAnimation(animStickLeftBankMinus, 0);
		SetAnimation(animStickLeftBankPlus, 0);
		SetAnimation(animStickRightBankMinus, 0);
		SetAnimation(animStickRightBankPlus, 0);
		SetAnimation(animStickRearBankPlus, 0);
		SetAnimation(animStickRearBankMinus, 0);
	}

	// 6. The sticks follow the engaged gear; in neutral they keep their last state.
	if (gearForward == 1) {
		if (steerInput > 0) {
			SetAnimation(animStickLeftBankMinus, 1);
			SetAnimation(animStickRightBankMinus, 1);
			SetAnimation(animStickRearBankMinus, 1);
		}
		if (steerInput < 0) {
			SetAnimation(animStickLeftBankPlus, 1);
			SetAnimation(animStickRightBankPlus, 1);
			SetAnimation(animStickRearBankPlus, 1);
		}
		SetAnimation(animStickLeftPitchPlus, speedProc);
		SetAnimation(animStickRightPitchPlus, speedProc);
		SetAnimation(animStickRearPitchMinus, speedProc);
	}
	if (gearReverse == 1) {
		if (steerInput < 0) {
			SetAnimation(animStickLeftBankMinus, 1);
			SetAnimation(animStickRightBankMinus, 1);
			SetAnimation(animStickRearBankMinus, 1);
		}
		if (steerInput > 0) {
			SetAnimation(animStickLeftBankPlus, 1);
			SetAnimation(animStickRightBankPlus, 1);
			SetAnimation(animStickRearBankPlus, 1);
		}
		SetAnimation(animStickLeftPitchMinus, speedProc);
		SetAnimation(animStickRightPitchMinus, speedProc);
		SetAnimation(animStickRearPitchPlus, speedProc);
	}

	// 7.
	SetAnimation(animTurnDialLeft, turnProc);
	SetAnimation(animTurnDialRight, turnProc);
	SetAnimation(animTurnDialRear, turnProc);

	// 8.
	turnAngle = (int)(turnProc * 360);

	// 9. to 11. Moving parts.
	if (MovePart(sunscreenStatus, sunscreenProc, SUNSCREEN_RATE * simdt))
		for (int i = 0; i < 15; ++i)
			SetAnimation(animSunscreen[i], sunscreenProc);
	if (MovePart(doorLeftStatus, doorLeftProc, doorRate * simdt))
		SetAnimation(animDoorLeft, doorLeftProc);
	if (MovePart(doorRightStatus, doorRightProc, doorRate * simdt))
		SetAnimation(animDoorRight, doorRightProc);

	// 12. Lights follow the switch every step; any other value leaves them as they are.
	if (lightsOn == 0 || lightsOn == 1) {
		bool on = lightsOn == 1;
		for (int i = 0; i < 4; ++i)
			spotLights[i]->Activate(on);
		for (int k = 0; k < 8; ++k)
			beacons[k].active = on;
	}

	// 13. Auto-centre: the shorter way back to straight, shown from the next step on.
	if (autoCentre == 1 && turnProc != 0) {
		if (turnProc <= 0.5)
			turnProc -= AUTO_CENTRE_STEP;
		if (turnProc > 0.5)
			turnProc += AUTO_CENTRE_STEP;
		if (turnProc >= 1)
			turnProc = 0;
		if (turnProc < 0)
			turnProc = 0;
		if (turnProc == 0)
			autoCentre = 0;
	}
}
