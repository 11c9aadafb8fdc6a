// Read before everything else when the module is compiled for the Visual C++ ABI
// (cmake/MsvcAbiToolchain.cmake) against mingw-w64's C headers and the header-only parts of libstdc++: it makes those
// headers name the C library as msvcrt.dll exports it, since the DLL links no C runtime
// library, neither mingw-w64's nor Microsoft's.

// mingw-w64's headers mark the C library's functions as imported only where __declspec is a
// macro (as under GCC), and their references then go through the import table.
#define __declspec __declspec

// mingw-w64's printf and strtod families are its own functions in its static runtime, not
// msvcrt.dll's; libstdc++'s configuration selects them (it sets __USE_MINGW_ANSI_STDIO to 1),
// so the C headers are read first, before any C++ header, with msvcrt.dll's functions selected.
// libstdc++'s <cstdlib> then removes mingw's strtod macro, leaving msvcrt.dll's strtod.
#define __USE_MINGW_ANSI_STDIO 0
#define _GLIBCXX_INCLUDE_NEXT_C_HEADERS
#include <stdio.h>
#include <stdlib.h>
#undef _GLIBCXX_INCLUDE_NEXT_C_HEADERS

// Code that uses floating point refers to _fltused, which the C runtime library defines and
// no DLL exports. One definition, whichever object the linker takes it from.
#ifdef __cplusplus
extern "C" {
#endif
__declspec(selectany) int _fltused = 0;
#ifdef __cplusplus
}
#endif
