// Stand-in for the Orbiter 2016 SDK umbrella header Orbitersdk.h. On Linux it also supplies
// what Windows gives a module for free: the DllMain reason codes, GetProcAddress on the
// module's own instance handle (its load address, as on Windows), and a load/unload hook that
// calls the module's DllMain with that handle when the shared library is loaded and unloaded.
#ifndef __ORBITERSDK_H
#define __ORBITERSDK_H

#include "OrbiterAPI.h"
#include "VesselAPI.h"
#include "DrawAPI.h"

#ifndef _WIN32
#include <dlfcn.h>

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

typedef HINSTANCE HMODULE;
typedef void (*FARPROC)(void);

// Looks up an exported name of the loaded library whose load address is hModule.
inline FARPROC GetProcAddress(HMODULE hModule, const char *name) {
	Dl_info info;
	if (!hModule || !dladdr(hModule, &info) || !info.dli_fname || info.dli_fbase != hModule)
		return 0;
	void *lib = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
	if (!lib)
		return 0;
	void *sym = dlsym(lib, name);
	dlclose(lib);
	return reinterpret_cast<FARPROC>(sym);
}

#if !defined(OAPI_IMPLEMENTATION) && !defined(ORBITER_STANDIN_NO_ENTRY_HOOK)
// The module supplies DllMain, as on Windows.
extern "C" BOOL WINAPI DllMain(HINSTANCE hModule, DWORD reason, LPVOID reserved);

namespace orbiter_standin {

// Calls DllMain on load and unload of the library it is compiled into. One instance per
// library (an inline variable), kept out of the dynamic symbol table so that neither two
// modules share it nor the library is pinned in memory.
struct ModuleEntryHook {
	HINSTANCE self;
	ModuleEntryHook() : self(OwnHandle(this)) { DllMain(self, DLL_PROCESS_ATTACH, 0); }
	~ModuleEntryHook() { DllMain(self, DLL_PROCESS_DETACH, 0); }
	ModuleEntryHook(const ModuleEntryHook &) = delete;
	ModuleEntryHook &operator=(const ModuleEntryHook &) = delete;
	// The load address of the library that holds the object at inside.
	static HINSTANCE OwnHandle(const void *inside) {
		Dl_info info;
		if (!dladdr(inside, &info))
			return 0;
		return info.dli_fbase;
	}
};

__attribute__((visibility("hidden"))) inline ModuleEntryHook moduleEntryHook;

}  // namespace orbiter_standin
#endif
#endif  // !_WIN32

#endif  // __ORBITERSDK_H
