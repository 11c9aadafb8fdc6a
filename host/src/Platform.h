// The only place where the stand-in host differs between Linux and Windows: how a module
// library is named, opened, searched for exports and identified by its instance handle, and
// the few file operations whose POSIX forms Windows lacks or gives other meanings.
// On Windows an instance handle is the library's HMODULE; on Linux it is the library's load
// address, which is what the SDK headers hand the module's DllMain.
#pragma once

#include <string>

#include "OrbiterAPI.h"

namespace host::platform {

// An exported function as the system returns it; the caller converts it to its real type.
using ExportedFunction = void (*)();

// "<name>.dll" on Windows, "lib<name>.so" elsewhere.
std::string LibraryFileName(const std::string &name);

// Opens the library at path (forward slashes are fine on both systems). Returns null on
// failure, with the system's reason in why.
void *OpenLibrary(const std::string &path, std::string &why);
void CloseLibrary(void *library);
// The export called name of an open library; null if it has none.
ExportedFunction FindExport(void *library, const char *name);

// The instance handle of the loaded library whose code holds fn; null if none does. With it,
// GetProcAddress finds the library's exports on both systems.
HINSTANCE InstanceHolding(ExportedFunction fn);

// Flags for every file the host creates with open(): not inherited by other programs, and
// written byte for byte (Windows would otherwise turn '\n' into "\r\n").
extern const int kNewFileFlags;
// Makes what was written to the open file fd durable. 0 or an errno code.
int SyncFile(int fd);
// Renames from to to, replacing an existing file at to in one step as POSIX rename does
// (the rename of Windows' C library refuses an existing target). 0 or an errno code.
int ReplaceFile(const std::string &from, const std::string &to);
// Gives the open file fd exactly the permission bits mode, which open() gives less the umask.
// Windows' files have no such bits beyond read-only, which open() already took from mode.
void SetFileMode(int fd, unsigned mode);

}  // namespace host::platform
