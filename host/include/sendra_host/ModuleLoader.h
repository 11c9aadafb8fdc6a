// Loading vessel modules the way the real host does: Modules/<Name>.dll (lib<Name>.so on
// Linux) under the root folder, its GetModuleVersion, ModuleDate, ovcInit and ovcExit exports,
// checked before use.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Orbitersdk.h"

// The host's module support functions, exported as orbiter.exe exports them. The SDK headers
// do not declare them: a module that calls one declares it itself (as the SDK's entry code does).
OAPIFUNC void InitLib(HINSTANCE hModule);
OAPIFUNC void ExitLib(HINSTANCE hModule);
OAPIFUNC int Date2Int(char *date);  // "Mmm dd yyyy" -> yymmdd

namespace host {

// The host's own version, as Date2Int of its build date; newer modules are refused.
constexpr int kHostVersion = 160828;

class Module {
public:
	using InitFn = VESSEL *(*)(OBJHANDLE, int);
	using ExitFn = void (*)(VESSEL *);
	using VersionFn = int (*)();
	using DateFn = const char *(*)();

	// Opens and checks the library at path; throws HostError naming path if it is not a
	// shared library, lacks an export, or has a version that is not positive or is newer
	// than the host's.
	static std::unique_ptr<Module> Load(const std::string &name, const std::string &path);
	~Module();
	Module(const Module &) = delete;
	Module &operator=(const Module &) = delete;

	const std::string &name() const { return name_; }
	const std::string &path() const { return path_; }
	int version() const { return version_; }
	const std::string &date() const { return date_; }  // ModuleDate(), empty without one
	HINSTANCE instance() const { return instance_; }   // as the module's DllMain receives it

	InitFn ovcInit = nullptr;
	ExitFn ovcExit = nullptr;

private:
	Module() = default;
	std::string name_, path_, date_;
	int version_ = 0;
	void *lib_ = nullptr;
	HINSTANCE instance_ = nullptr;
};

class ModuleLibrary {
public:
	// The module named name under root/Modules, loaded on first use; its file is found as
	// Windows finds it, whatever the letter case of the name.
	Module &Get(const std::string &root, const std::string &name);
	// The same for a module that may be absent: null when root/Modules holds no file of its
	// name (the real host then makes a plain vessel of the class); Get's errors for a file that
	// is there but cannot be used.
	Module *GetPresent(const std::string &root, const std::string &name);
	Module *Find(const std::string &name) const;
	void UnloadAll() { modules_.clear(); }
	const std::map<std::string, std::unique_ptr<Module>> &loaded() const { return modules_; }
	// What finding the files noticed since the last call (two names differing only in case).
	std::vector<std::string> TakeNotes() {
		std::vector<std::string> out;
		out.swap(notes_);
		return out;
	}

private:
	std::map<std::string, std::unique_ptr<Module>> modules_;
	std::set<std::string> absent_;  // names found to have no file
	std::vector<std::string> notes_;
};

// How often Date2Int was called since the host library was loaded.
int Date2IntCalls();

// How often InitLib was called for the library at this load address since it was loaded.
int InitLibCalls(HINSTANCE instance);

// The file name of a module library on this platform: Sendra2016.dll, libSendra2016.so.
std::string ModuleFileName(const std::string &name);

}  // namespace host
