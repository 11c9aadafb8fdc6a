// A module with its own DllMain, run by the SDK headers' entry hook as Windows would run it,
// that exports InitModule: the host must call InitModule once, at load, with the module's
// instance handle. InitModule writes that handle to the host's log.
#include <cstdio>

#include "Orbitersdk.h"

// Not declared by the SDK headers, as in the real SDK.
OAPIFUNC void InitLib(HINSTANCE hModule);

extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD reason, LPVOID reserved) {
	(void)reserved;
	if (reason == DLL_PROCESS_ATTACH)
		InitLib(hModule);
	return TRUE;
}

DLLCLBK void InitModule(HINSTANCE hModule) {
	char line[64];
	std::snprintf(line, sizeof line, "InitModule %p", static_cast<void *>(hModule));
	oapiWriteLog(line);
}

class EntryVessel final : public VESSEL2 {
public:
	EntryVessel(OBJHANDLE h, int fm) : VESSEL2(h, fm) {}
};

DLLCLBK int GetModuleVersion() { return 160828; }
DLLCLBK VESSEL *ovcInit(OBJHANDLE hvessel, int flightmodel) { return new EntryVessel(hvessel, flightmodel); }
DLLCLBK void ovcExit(VESSEL *vessel) { delete static_cast<EntryVessel *>(vessel); }
