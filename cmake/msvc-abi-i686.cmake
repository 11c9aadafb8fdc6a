# Cross-compiling the module in the Visual C++ ABI for 32-bit Orbiter (Orbiter 2016 and
# today's 32-bit releases): Modules/Sendra2016.dll of Sendra2016-<version>-win32.zip.
# See MsvcAbiToolchain.cmake.
set(SENDRA_MSVC_ABI i686)
include(${CMAKE_CURRENT_LIST_DIR}/MsvcAbiToolchain.cmake)
