// A deliberately flawed vessel module for the host's loader tests; each build leaves out or
// breaks one piece of what the host requires, or (FAKE_KEYS) takes or hides keys and logs the
// focus changes it is told of and any post-step whose arguments are not the host's clock,
// chosen by a compile definition.
#include <cstdio>

#include "Orbitersdk.h"

#ifndef FAKE_VERSION
#define FAKE_VERSION 160828
#endif

class FakeVessel final : public VESSEL2 {
public:
	FakeVessel(OBJHANDLE h, int fm) : VESSEL2(h, fm) {}
	void clbkSetClassCaps(FILEHANDLE) override { SetSize(1.0); }
#ifdef FAKE_KEYS
	// Takes the whole keyboard while Space is held; hides keypad 3 from the host while Shift is.
	int clbkConsumeDirectKey(char *kstate) override {
		if (KEYDOWN(kstate, OAPI_KEY_SPACE))
			return 1;
		if (KEYDOWN(kstate, OAPI_KEY_LSHIFT))
			RESETKEY(kstate, OAPI_KEY_NUMPAD3);
		return 0;
	}
	// "<self> gets|loses focus: new <name>, old <name>" in the host's log.
	void clbkFocusChanged(bool getfocus, OBJHANDLE hNewVessel, OBJHANDLE hOldVessel) override {
		char line[160], now[40] = "-", old[40] = "-";
		if (hNewVessel)
			oapiGetObjectName(hNewVessel, now, sizeof now);
		if (hOldVessel)
			oapiGetObjectName(hOldVessel, old, sizeof old);
		snprintf(line, sizeof line, "%s %s focus: new %s, old %s", GetName(), getfocus ? "gets" : "loses", now, old);
		oapiWriteLog(line);
	}
	// "<self> visual destroyed, refcount <n>" in the host's log.
	void clbkVisualDestroyed(VISHANDLE, int refcount) override {
		char line[120];
		snprintf(line, sizeof line, "%s visual destroyed, refcount %d", GetName(), refcount);
		oapiWriteLog(line);
	}
	// A line in the host's log when the post-step's time, step or date disagree with the host's.
	void clbkPostStep(double simt, double simdt, double mjd) override {
		if (simt != oapiGetSimTime() || simdt != oapiGetSimStep() || mjd != oapiGetSimMJD())
			oapiWriteLog(const_cast<char *>("post-step arguments differ from the host's clock"));
	}
#endif
};

#ifndef FAKE_NO_VERSION
DLLCLBK int GetModuleVersion() { return FAKE_VERSION; }
#endif

#ifndef FAKE_NO_INIT
DLLCLBK VESSEL *ovcInit(OBJHANDLE hvessel, int flightmodel) {
#ifdef FAKE_NULL_INIT
	(void)hvessel;
	(void)flightmodel;
	return nullptr;
#else
	return new FakeVessel(hvessel, flightmodel);
#endif
}
#endif

DLLCLBK void ovcExit(VESSEL *vessel) { delete static_cast<FakeVessel *>(vessel); }
