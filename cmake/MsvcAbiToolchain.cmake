# What the toolchain files msvc-abi-i686.cmake and msvc-abi-x86_64.cmake share: the module built
# on Linux as Orbiter loads it, a Windows DLL in the Visual C++ ABI (Microsoft's decorated names,
# class layout and calling conventions, as orbiter.exe's exports have them). Debian's clang
# compiles for the MSVC target against the SDK headers, mingw-w64's C headers and the
# header-only parts of libstdc++, without C++ exceptions or type information, which would need
# Visual C++'s runtime; lld-link links with no C runtime library (cmake/MsvcAbiRules.cmake, the
# import libraries of cmake/MsvcAbiDll.cmake). SENDRA_MSVC_ABI, set by the including file, is
# the architecture, i686 or x86_64; the project then builds only the module.
# Needs the Debian packages clang, lld, llvm and g++-mingw-w64-i686 or g++-mingw-w64-x86-64.
set(CMAKE_SYSTEM_NAME Windows)
if(SENDRA_MSVC_ABI STREQUAL "i686")
  set(CMAKE_SYSTEM_PROCESSOR x86)
  set(target i686-pc-windows-msvc)
  # SSE2 arithmetic, as Visual C++ compiles by default, instead of the x87's extended precision.
  set(arch_flags "-D_X86_ -msse2 -mfpmath=sse")
elseif(SENDRA_MSVC_ABI STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  set(target x86_64-pc-windows-msvc)
  set(arch_flags "-D_AMD64_")
else()
  message(FATAL_ERROR "SENDRA_MSVC_ABI is '${SENDRA_MSVC_ABI}', not i686 or x86_64")
endif()
set(mingw ${SENDRA_MSVC_ABI}-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MsvcAbiTools.cmake)
sendra_msvc_abi_tools(${SENDRA_MSVC_ABI} missing)
if(missing)
  list(JOIN missing " " missing)
  message(FATAL_ERROR "the ${SENDRA_MSVC_ABI} DLL needs the Debian packages ${missing}")
endif()

set(CMAKE_CXX_COMPILER ${SENDRA_clang__})
set(CMAKE_CXX_COMPILER_TARGET ${target})
set(CMAKE_LINKER ${SENDRA_lld_link})
set(CMAKE_AR ${SENDRA_llvm_ar})
set(CMAKE_RC_COMPILER ${SENDRA_llvm_rc})
# Nothing links a program without a runtime: CMake's compiler checks build a static library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# No runtime library and no debug information chosen by CMake's flags.
set(CMAKE_MSVC_RUNTIME_LIBRARY "")
set(CMAKE_MSVC_DEBUG_INFORMATION_FORMAT "")
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/MsvcAbiRules.cmake)

# The headers: mingw-w64's C headers, libstdc++'s of the same mingw-w64 GCC, clang's own.
string(MAKE_C_IDENTIFIER "SENDRA_${mingw}-g++" mingw_gxx)
execute_process(COMMAND ${${mingw_gxx}} -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(cxx_headers ${libgcc} DIRECTORY)
set(cxx_headers ${cxx_headers}/include/c++)
set(c_headers /usr/${mingw}/include)
execute_process(COMMAND ${SENDRA_clang__} -print-resource-dir
                OUTPUT_VARIABLE clang_resources OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS ${cxx_headers}/cstdlib OR NOT EXISTS ${c_headers}/stdlib.h)
  message(FATAL_ERROR "no mingw-w64 C and C++ headers at ${c_headers} and ${cxx_headers} "
                      "(Debian package mingw-w64-${SENDRA_MSVC_ABI}-dev)")
endif()
# mingw-w64's and libstdc++'s headers take clang for GCC 4.2 in Microsoft's mode, in strict
# C++17 as GCC's -std=c++17 announces it (__STRICT_ANSI__); tools/windows/msvc-abi.h is read
# first, so that they name the C library as msvcrt.dll exports it.
set(CMAKE_CXX_FLAGS_INIT "-D__STRICT_ANSI__ ${arch_flags} -fms-extensions -fms-compatibility \
-fgnuc-version=4.2.1 -fno-exceptions -fno-rtti -nostdinc -isystem ${cxx_headers} \
-isystem ${cxx_headers}/${mingw} -isystem ${cxx_headers}/backward -isystem ${clang_resources}/include \
-isystem ${c_headers} -include ${CMAKE_CURRENT_LIST_DIR}/../tools/windows/msvc-abi.h")
# The linker's machine, the entry point's decorated name (DllMain is a stdcall function of three
# arguments on i686), and the import librarian's machine (cmake/MsvcImportLibs.cmake).
if(SENDRA_MSVC_ABI STREQUAL "i686")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "/machine:x86")
  set(SENDRA_MSVC_ENTRY DllMain@12)
  set(SENDRA_MSVC_DLLTOOL_MACHINE i386)
else()
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "/machine:x64")
  set(SENDRA_MSVC_ENTRY DllMain)
  set(SENDRA_MSVC_DLLTOOL_MACHINE i386:x86-64)
endif()
