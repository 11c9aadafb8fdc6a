// Loading and checking vessel module libraries; InitLib and ExitLib for the modules.
#include "sendra_host/ModuleLoader.h"

#include <sys/stat.h>

#include <cstring>

#include "sendra_host/HostError.h"
#include "src/FileNames.h"
#include "src/Platform.h"

namespace host {

namespace {
// Never destroyed: a module may be unloaded by a simulation that is itself destroyed at exit,
// after a static registry made later (at the first module's load) would already be gone.
std::map<HINSTANCE, int> &InitLibRegistry() {
	static auto *calls = new std::map<HINSTANCE, int>();
	return *calls;
}
}  // namespace

int InitLibCalls(HINSTANCE instance) {
	auto it = InitLibRegistry().find(instance);
	return it == InitLibRegistry().end() ? 0 : it->second;
}

std::string ModuleFileName(const std::string &name) { return platform::LibraryFileName(name); }

std::unique_ptr<Module> Module::Load(const std::string &name, const std::string &path) {
	struct stat st;
	if (::stat(path.c_str(), &st) != 0)
		throw HostError(path, 0, "module '" + name + "' not found");
	if (!S_ISREG(st.st_mode))
		throw HostError(path, 0, "module '" + name + "' is not a file");
	std::string why;
	void *lib = platform::OpenLibrary(path, why);
	if (!lib)
		throw HostError(path, 0, "cannot load module '" + name + "': " + why);
	std::unique_ptr<Module> m(new Module());
	m->name_ = name;
	m->path_ = path;
	m->lib_ = lib;
	auto version = reinterpret_cast<VersionFn>(platform::FindExport(lib, "GetModuleVersion"));
	auto date = reinterpret_cast<DateFn>(platform::FindExport(lib, "ModuleDate"));
	platform::ExportedFunction init = platform::FindExport(lib, "ovcInit");
	m->ovcInit = reinterpret_cast<InitFn>(init);
	m->ovcExit = reinterpret_cast<ExitFn>(platform::FindExport(lib, "ovcExit"));
	m->instance_ = platform::InstanceHolding(init);
	const char *missing = !version ? "GetModuleVersion" : !m->ovcInit ? "ovcInit" : !m->ovcExit ? "ovcExit" : nullptr;
	if (missing)
		throw HostError(path, 0, std::string("module '") + name + "' does not export " + missing);
	m->version_ = version();
	if (m->version_ <= 0 || m->version_ > kHostVersion)
		throw HostError(path, 0, "module '" + name + "' reports version " + std::to_string(m->version_) +
		                             "; this host accepts 1 to " + std::to_string(kHostVersion));
	if (date) {
		const char *d = date();
		if (d)
			m->date_.assign(d, strnlen(d, 64));
	}
	return m;
}

Module::~Module() {
	if (lib_) {
		platform::CloseLibrary(lib_);
		InitLibRegistry().erase(instance_);
	}
}

Module &ModuleLibrary::Get(const std::string &root, const std::string &name) {
	auto it = modules_.find(name);
	if (it != modules_.end())
		return *it->second;
	// As Windows finds it, whatever the letter case of the name.
	std::string path = FindNoCase(root, "Modules/" + ModuleFileName(name), notes_)
	                       .value_or(root + "/Modules/" + ModuleFileName(name));
	std::unique_ptr<Module> m = Module::Load(name, path);
	Module &ref = *m;
	modules_.emplace(name, std::move(m));
	return ref;
}

Module *ModuleLibrary::GetPresent(const std::string &root, const std::string &name) {
	if (modules_.count(name))
		return &Get(root, name);
	if (absent_.count(name))
		return nullptr;
	if (!FindNoCase(root, "Modules/" + ModuleFileName(name), notes_)) {
		absent_.insert(name);
		return nullptr;
	}
	return &Get(root, name);
}

Module *ModuleLibrary::Find(const std::string &name) const {
	auto it = modules_.find(name);
	return it == modules_.end() ? nullptr : it->second.get();
}

}  // namespace host

// ---------------------------------------------------------------------------
// Module support functions exported to modules
// ---------------------------------------------------------------------------

OAPIFUNC void InitLib(HINSTANCE hModule) {
	host::InitLibRegistry()[hModule]++;
	// A module may export InitModule (or the legacy opcDLLInit) to run at load.
	if (!hModule)
		return;
	using InitModuleFn = void (*)(HINSTANCE);
	auto init = reinterpret_cast<InitModuleFn>(
		reinterpret_cast<host::platform::ExportedFunction>(GetProcAddress(hModule, "InitModule")));
	if (!init)
		init = reinterpret_cast<InitModuleFn>(
			reinterpret_cast<host::platform::ExportedFunction>(GetProcAddress(hModule, "opcDLLInit")));
	if (init)
		init(hModule);
}

OAPIFUNC void ExitLib(HINSTANCE hModule) { (void)hModule; }

OAPIFUNC int oapiGetOrbiterVersion() { return host::kHostVersion; }
