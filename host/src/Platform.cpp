// Module libraries through the system's loader: LoadLibrary and GetProcAddress on Windows,
// dlopen and dlsym elsewhere.
#include "Platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host::platform {

#ifdef _WIN32

namespace {
// The system's text for an error code, without its trailing line break.
std::string ErrorText(DWORD code) {
	char buffer[512] = {};
	DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
	                         sizeof buffer, nullptr);
	std::string text(buffer, n);
	while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
		text.pop_back();
	return text.empty() ? "error " + std::to_string(code) : text;
}
}  // namespace

std::string LibraryFileName(const std::string &name) { return name + ".dll"; }

void *OpenLibrary(const std::string &path, std::string &why) {
	std::string native = path;
	for (char &c : native)
		if (c == '/')
			c = '\\';
	// Fail with an error code instead of a dialog box when a library cannot be loaded.
	UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
	HMODULE lib = LoadLibraryA(native.c_str());
	DWORD code = GetLastError();
	SetErrorMode(oldMode);
	if (!lib)
		why = ErrorText(code);
	return lib;
}

void CloseLibrary(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }

ExportedFunction FindExport(void *library, const char *name) {
	return reinterpret_cast<ExportedFunction>(GetProcAddress(static_cast<HMODULE>(library), name));
}

HINSTANCE InstanceHolding(ExportedFunction fn) {
	HMODULE instance = nullptr;
	if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
	                        reinterpret_cast<LPCSTR>(fn), &instance))
		return nullptr;
	return instance;
}

#else

std::string LibraryFileName(const std::string &name) { return "lib" + name + ".so"; }

void *OpenLibrary(const std::string &path, std::string &why) {
	dlerror();
	void *lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
	if (!lib) {
		const char *text = dlerror();
		why = text ? text : "not a shared library";
	}
	return lib;
}

void CloseLibrary(void *library) { dlclose(library); }

ExportedFunction FindExport(void *library, const char *name) {
	return reinterpret_cast<ExportedFunction>(dlsym(library, name));
}

HINSTANCE InstanceHolding(ExportedFunction fn) {
	Dl_info info;
	if (!fn || !dladdr(reinterpret_cast<void *>(fn), &info))
		return nullptr;
	return info.dli_fbase;
}

#endif

}  // namespace host::platform
