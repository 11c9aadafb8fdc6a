// The driver's keys: one table of bindings, walked by the host's two keyboard callbacks.
#include "../module/Sendra2016.h"

namespace {

const double SPEED_STEP = 0.01;    // [m/s per keyboard frame]
const double MAX_SPEED = 2.78;     // [m/s]
const double SWIVEL_RATE = 0.05;   // [fraction of a turn per second] => 20 s for a full turn

void SelectForward(Sendra2016 &r) {
	r.gearForward = 1;
	r.gearReverse = 0;
	r.gearNeutral = 0;
	r.neutralFrom = 0;
}

void SelectNeutral(Sendra2016 &r) {
	if (r.gearForward == 1)
		r.neutralFrom = 1;
	if (r.gearReverse == 1)
		r.neutralFrom = 2;
	r.gearForward = 0;
	r.gearReverse = 0;
	r.gearNeutral = 1;
}

void SelectReverse(Sendra2016 &r) {
	r.gearForward = 0;
	r.gearReverse = 1;
	r.gearNeutral = 0;
	r.neutralFrom = 0;
}

void SpeedUp(Sendra2016 &r) {
	if (r.gearForward == 1 || r.gearReverse == 1) {
		r.groundSpeed += SPEED_STEP;
		if (r.groundSpeed > MAX_SPEED)
			r.groundSpeed = MAX_SPEED;
	}
}

void SlowDown(Sendra2016 &r) {
	if (r.gearForward == 1 || r.gearReverse == 1) {
		r.groundSpeed -= SPEED_STEP;
		if (r.groundSpeed < 0)
			r.groundSpeed = 0;
	}
}

void SwivelLeft(Sendra2016 &r) {
	r.turnProc -= SWIVEL_RATE * oapiGetSimStep();
	if (r.turnProc < 0)
		r.turnProc += 1;
}

void SwivelRight(Sendra2016 &r) {
	r.turnProc += SWIVEL_RATE * oapiGetSimStep();
	if (r.turnProc > 1)
		r.turnProc -= 1;
}

// A closed or closing part starts to open; an open or opening one starts to close.
void Toggle(int &status) { status = (status == PART_CLOSED || status == PART_CLOSING) ? PART_OPENING : PART_CLOSING; }

void ToggleDoorLeft(Sendra2016 &r) { Toggle(r.doorLeftStatus); }
void ToggleDoorRight(Sendra2016 &r) { Toggle(r.doorRightStatus); }
void ToggleSunscreen(Sendra2016 &r) { Toggle(r.sunscreenStatus); }
void RequestAutoCentre(Sendra2016 &r) { r.autoCentre = 1; }
void ToggleLights(Sendra2016 &r) { r.lightsOn = r.lightsOn == 0 ? 1 : 0; }

// Applies the station the key points at, then points it at the next one.
void NextCameraStation(Sendra2016 &r) {
	r.SetCameraStation(r.cameraStation);
	r.cameraStation += 1;
	if (r.cameraStation > 4)
		r.cameraStation = 0;
}

// How a binding is matched and what it does to the rest of the call.
enum Binding {
	DIRECT_ENDS,        // per frame while held; consumes the frame
	DIRECT_REPEATS,     // per frame while held; the key is cleared and later bindings still run
	GEAR,               // per frame while held, and on any key event while held: consumes
	BUFFERED_PRESS,     // on the key's own key-down event: consumes
};

struct KeyBinding {
	DWORD key;
	Binding binding;
	void (*action)(Sendra2016 &);
};

// In the order the callbacks test them.
const KeyBinding KEY_BINDINGS[] = {
	{OAPI_KEY_ADD, DIRECT_ENDS, SpeedUp},
	{OAPI_KEY_SUBTRACT, DIRECT_ENDS, SlowDown},
	{OAPI_KEY_NUMPAD8, GEAR, SelectForward},
	{OAPI_KEY_NUMPAD5, GEAR, SelectNeutral},
	{OAPI_KEY_NUMPAD2, GEAR, SelectReverse},
	{OAPI_KEY_1, BUFFERED_PRESS, ToggleDoorLeft},
	{OAPI_KEY_2, BUFFERED_PRESS, ToggleDoorRight},
	{OAPI_KEY_4, BUFFERED_PRESS, RequestAutoCentre},
	{OAPI_KEY_V, BUFFERED_PRESS, NextCameraStation},
	{OAPI_KEY_J, BUFFERED_PRESS, ToggleSunscreen},
	{OAPI_KEY_7, BUFFERED_PRESS, ToggleLights},
	{OAPI_KEY_5, DIRECT_REPEATS, SwivelLeft},
	{OAPI_KEY_6, DIRECT_REPEATS, SwivelRight},
};

}  // namespace

int Sendra2016::clbkConsumeBufferedKey(DWORD key, bool down, char *kstate) {
	if (!down)
		return 0;
	for (const KeyBinding &b : KEY_BINDINGS) {
		// While a gear key is held, every key-down selects that gear.
		bool applies = (b.binding == GEAR && KEYDOWN(kstate, b.key)) || (b.binding == BUFFERED_PRESS && key == b.key);
		if (applies) {
			b.action(*this);
			return 1;
		}
	}
	return 0;
}

int Sendra2016::clbkConsumeDirectKey(char *kstate) {
	for (const KeyBinding &b : KEY_BINDINGS) {
		if (b.binding == BUFFERED_PRESS || !KEYDOWN(kstate, b.key))
			continue;
		b.action(*this);
		if (b.binding == DIRECT_REPEATS)
			RESETKEY(kstate, b.key);
		else
			return 1;
	}
	return 0;
}
