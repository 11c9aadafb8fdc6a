// Module libraries through the system's loader (LoadLibrary and GetProcAddress on Windows,
// dlopen and dlsym elsewhere) and the file operations that differ between the two.
#include "src/Platform.h"

#include <fcntl.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>
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
	// LoadLibrary looks for a relative path along the library search path, the program's
	// folder first, so it could load another file of that name than the one at path: open the
	// file at path itself.
	char full[MAX_PATH];
	DWORD length = GetFullPathNameA(native.c_str(), sizeof full, full, nullptr);
	if (length == 0 || length >= sizeof full) {
		why = length == 0 ? ErrorText(GetLastError()) : "the path is longer than " + std::to_string(MAX_PATH) + " characters";
		return nullptr;
	}
	native = full;
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

const int kNewFileFlags = O_NOINHERIT | O_BINARY;

int SyncFile(int fd) { return _commit(fd) != 0 ? errno : 0; }

int ReplaceFile(const std::string &from, const std::string &to) {
	if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
		return 0;
	switch (GetLastError()) {
	case ERROR_FILE_NOT_FOUND:
	case ERROR_PATH_NOT_FOUND:
		return ENOENT;
	case ERROR_ACCESS_DENIED:
	case ERROR_SHARING_VIOLATION:
		return EACCES;
	case ERROR_NOT_SAME_DEVICE:
		return EXDEV;
	default:
		return EIO;
	}
}

void SetFileMode(int, unsigned) {}

#else

std::string LibraryFileName(const std::string &name) { return "lib" + name + ".so"; }

namespace {

// The loader maps a library's segments where its headers say and faults (SIGBUS) on a page
// past the file's end, instead of failing: a library cut short is found by its own headers
// first. Empty when the file is whole, or no library of this machine's class at all (which
// the loader refuses by itself).
std::string CutShort(const std::string &path) {
	int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return std::string();
	struct stat st;
	ElfW(Ehdr) header;
	bool elf = ::fstat(fd, &st) == 0 && ::pread(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
	           std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
	           header.e_ident[EI_CLASS] == (sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32);
	const auto size = static_cast<unsigned long long>(st.st_size);
	unsigned long long needed = elf ? sizeof header : 0;
	auto span = [&](unsigned long long offset, unsigned long long bytes) {
		needed = std::max(needed, offset > ~0ull - bytes ? ~0ull : offset + bytes);
	};
	if (elf && header.e_shoff != 0)
		span(header.e_shoff, static_cast<unsigned long long>(header.e_shnum) * header.e_shentsize);
	if (elf && header.e_phentsize == sizeof(ElfW(Phdr))) {
		span(header.e_phoff, static_cast<unsigned long long>(header.e_phnum) * sizeof(ElfW(Phdr)));
		for (unsigned i = 0; i < header.e_phnum && needed <= size; ++i) {
			ElfW(Phdr) segment;
			if (::pread(fd, &segment, sizeof segment, static_cast<off_t>(header.e_phoff + i * sizeof segment)) !=
			    static_cast<ssize_t>(sizeof segment))
				break;
			span(segment.p_offset, segment.p_filesz);
		}
	}
	::close(fd);
	if (needed <= size)
		return std::string();
	return "the file is cut short: it has " + std::to_string(size) + " bytes, and its own headers place " +
	       (needed == ~0ull ? std::string("parts beyond any file") : "parts up to byte " + std::to_string(needed));
}

}  // namespace

void *OpenLibrary(const std::string &path, std::string &why) {
	why = CutShort(path);
	if (!why.empty())
		return nullptr;
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

const int kNewFileFlags = O_CLOEXEC;

int SyncFile(int fd) { return fsync(fd) != 0 ? errno : 0; }

int ReplaceFile(const std::string &from, const std::string &to) {
	return std::rename(from.c_str(), to.c_str()) != 0 ? errno : 0;
}

void SetFileMode(int fd, unsigned mode) { (void)::fchmod(fd, static_cast<mode_t>(mode)); }

#endif

}  // namespace host::platform
