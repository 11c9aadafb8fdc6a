# Cross-compiling the module in the Visual C++ ABI for today's 64-bit Orbiter:
# Modules/Sendra2016.dll of Sendra2016-<version>-win64.zip. See MsvcAbiToolchain.cmake.
set(SENDRA_MSVC_ABI x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/MsvcAbiToolchain.cmake)
