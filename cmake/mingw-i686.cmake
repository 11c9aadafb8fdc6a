# Cross-compiling for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686): the stand-in
# host and its drive around the players' 32-bit DLL (tools/windows/msvc-abi-drive.sh i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# SSE2 arithmetic in doubles, as the Linux build computes on x86-64 and the players' DLL on
# i686, instead of the x87's extended precision: the host's results are then the Linux host's.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
# The C++ runtime linked into each binary, so that a library needs no mingw DLL beside it.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
