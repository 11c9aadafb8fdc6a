# The add-on packages: the tree a player unpacks into the Orbiter folder, everything under
# assets/ and the module as a build made it, under a name that says which module it holds.
#  - Sendra2016-<version>-linux-<arch>.zip: `cmake --build build --target package` (cpack) on
#    Linux, with Modules/libSendra2016.so for the stand-in host.
#  - Sendra2016-<version>-win32-msvc.zip: the same from the Visual Studio build against the real
#    SDK (ORBITER_SDK_DIR), with Modules/Sendra2016.dll.
#  - Sendra2016-<version>-win32.zip, the players' package: `cmake --build build --target
#    package_win32` on Linux, with the Sendra2016.dll of tools/windows-dll.sh
#    (cmake/Win32Package.cmake).
if(MINGW)
  # A g++ build cannot link against orbiter.exe, whose C++ exports carry MSVC's names, so its
  # DLL runs only in the stand-in host: it is no add-on for players.
  return()
endif()

install(FILES $<TARGET_FILE:Sendra2016> DESTINATION Modules)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/assets/ DESTINATION .)

if(ORBITER_SDK_DIR)
  set(SENDRA_PACKAGE_SUFFIX win32-msvc)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" SENDRA_PACKAGE_SUFFIX)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Sendra2016)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Sendra2016-${PROJECT_VERSION}-${SENDRA_PACKAGE_SUFFIX})
# Modules/, Config/, ... at the top of the zip, not inside a folder of the package's name.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)

if(NOT ORBITER_SDK_DIR AND NOT WIN32)
  add_custom_target(package_win32
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DWORK=${CMAKE_BINARY_DIR}/win32
            -DZIP=${CMAKE_BINARY_DIR}/Sendra2016-${PROJECT_VERSION}-win32.zip
            -P ${CMAKE_SOURCE_DIR}/cmake/Win32Package.cmake
    USES_TERMINAL
    COMMENT "Building Sendra2016.dll for Orbiter 2016 and Sendra2016-${PROJECT_VERSION}-win32.zip")
endif()
