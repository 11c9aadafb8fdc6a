// The module's entry points and the rover's construction and destruction.
#include "Sendra2016.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

// Host functions for a module's entry that the SDK's headers leave undeclared (its own entry
// code declares them): exported by orbiter.exe with C++ linkage.
OAPIFUNC void InitLib(HINSTANCE hModule);
OAPIFUNC int Date2Int(char *date);

namespace {

// The module's optional exit function, looked up at attach and called at detach.
typedef void (*ExitHook)(HINSTANCE);
ExitHook exitHook = 0;

// GetModuleVersion's result, computed on its first call (0 = not yet).
int cachedVersion = 0;

// The SDK version this module is built for; Date2Int takes a writable text.
char SDK_DATE[] = "Aug 28 2016";

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD reason, LPVOID reserved) {
	(void)reserved;
	switch (reason) {
	case DLL_PROCESS_ATTACH:
		InitLib(hModule);
		exitHook = (ExitHook)GetProcAddress(hModule, "ExitModule");
		if (!exitHook)
			exitHook = (ExitHook)GetProcAddress(hModule, "opcDLLExit");
		break;
	case DLL_PROCESS_DETACH:
		if (exitHook)
			exitHook(hModule);
		break;
	default:
		break;
	}
	return TRUE;
}

DLLCLBK int GetModuleVersion() {
	if (cachedVersion == 0)
		cachedVersion = Date2Int(SDK_DATE);
	return cachedVersion;
}

// The date of the rover's release, written as the compiler's __DATE__ writes one (two blanks
// before a one-digit day). Fixed rather than __DATE__ itself, so that every build of one
// release says the same date and a build can be reproduced.
DLLCLBK const char *ModuleDate() { return "Jul  2 2018"; }

namespace {

// Whether the constructor made all that the rover owns: its six roll transforms.
bool Whole(const Sendra2016 &r) {
	return r.rollTransformRightFront && r.rollTransformRightMiddle && r.rollTransformRightRear &&
	       r.rollTransformLeftFront && r.rollTransformLeftMiddle && r.rollTransformLeftRear;
}

// Ends a rover that ovcInit made.
void Destroy(Sendra2016 *rover) {
	rover->~Sendra2016();
	std::free(rover);
}

}  // namespace

// The module is built without C++ exceptions (its Windows DLL carries no C++ runtime), so
// memory comes from malloc, whose failure is a null pointer: a rover that cannot be made
// whole is reported to the host as null.
DLLCLBK VESSEL *ovcInit(OBJHANDLE hvessel, int flightmodel) {
	void *memory = std::malloc(sizeof(Sendra2016));
	if (!memory)
		return 0;
	Sendra2016 *rover = new (memory) Sendra2016(hvessel, flightmodel);
	if (!Whole(*rover)) {
		Destroy(rover);
		return 0;
	}
	return rover;
}

DLLCLBK void ovcExit(VESSEL *vessel) {
	if (!vessel)
		return;
	Destroy(static_cast<Sendra2016 *>(vessel));
}

Sendra2016::Sendra2016(OBJHANDLE hVessel, int flightmodel)
	: VESSEL3(hVessel, flightmodel),
	  rollTransformRightFront(0), rollTransformRightMiddle(0), rollTransformRightRear(0),
	  rollTransformLeftFront(0), rollTransformLeftMiddle(0), rollTransformLeftRear(0) {
	DefineAnimations();

	doorLeftStatus = PART_CLOSED;
	sunscreenStatus = PART_CLOSED;
	doorRightStatus = PART_CLOSED;
	autoCentre = 0;
	cameraStation = 0;
	lightsOn = 0;
	gearForward = 0;
	gearReverse = 0;
	gearNeutral = 1;
	neutralFrom = 0;
	groundSpeed = 0.0;
	steerDeflection = 0.0;
	sunscreenProc = 0.0;
	turnRate = 0.0;
	terrainRoll = 0.0;
	terrainPitch = 0.0;
	doorLeftProc = 0.0;
	doorRightProc = 0.0;
	turnProc = 0.0;
	doorRate = 0.1;
	rideHeight = 2.166;
	// Read before their first write unless they start defined: a centred, unrolled rover.
	steerInput = 0;
	turnAngle = 0;
	wheelRollProc = 0.0;
	speedProc = 0.0;
	// Circumradius of the touchdown triangle [m]: about the reach of the wheels from the
	// vessel origin (1.54 m sideways, 1.49 m ahead, 2.63 m back), so the triangle's rear
	// corners lie outside the track between the middle and rear axles.
	footprintRadius = 3.0;
}

// The rover owns its six wheel-roll transforms, made in memory from malloc by
// DefineAnimations; the host no longer uses them once the vessel is gone. Each is ended as the
// exact type it was made as.
Sendra2016::~Sendra2016() {
	MGROUP_ROTATE *owned[6] = {rollTransformRightFront, rollTransformRightMiddle, rollTransformRightRear,
	                           rollTransformLeftFront, rollTransformLeftMiddle, rollTransformLeftRear};
	for (int i = 0; i < 6; ++i) {
		if (owned[i])
			owned[i]->MGROUP_ROTATE::~MGROUP_ROTATE();
		std::free(owned[i]);
	}
}

// On Windows the module calls the C library of msvcrt.dll, which every Windows has, by the
// names it exports: msvcrt has no C99 vsnprintf, and its _vsnprintf leaves a text that does
// not fit unended (returning -1).
int FormatText(char *buffer, size_t size, const char *format, ...) {
	if (size == 0)
		return 0;
	va_list args;
	va_start(args, format);
#ifdef _WIN32
	_vsnprintf(buffer, size - 1, format, args);
#else
	if (std::vsnprintf(buffer, size, format, args) < 0)
		buffer[0] = '\0';
#endif
	va_end(args);
	buffer[size - 1] = '\0';
	return (int)std::strlen(buffer);
}
