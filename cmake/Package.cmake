# The add-on packages: the tree a player unpacks into the Orbiter folder, everything under
# assets/ and the module as a build made it, under a name that says which module it holds.
#  - Sendra2016-<version>-linux-<arch>.zip: `cmake --build build --target package` (cpack) on
#    Linux, with Modules/libSendra2016.so for the stand-in host.
#  - Sendra2016-<version>-win32-msvc.zip: the same from the Visual Studio build against the real
#    SDK (ORBITER_SDK_DIR), with Modules/Sendra2016.dll.
#  - Sendra2016-<version>-win32.zip and -win64.zip, the players' packages: `cmake --build build
#    --target package_win32` (Orbiter 2016 and today's 32-bit Orbiter) and `package_win64`
#    (today's 64-bit Orbiter) on Linux, each with the Sendra2016.dll of its architecture built
#    in the Visual C++ ABI (cmake/WindowsPackage.cmake).
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
  # The players' packages, each DLL built in a folder of its own below this build's.
  find_program(SENDRA_CMARK cmark-gfm)
  foreach(arch i686 x86_64)
    if(arch STREQUAL "i686")
      set(suffix win32)
    else()
      set(suffix win64)
    endif()
    add_custom_target(package_${suffix}
      COMMAND ${CMAKE_COMMAND} -DARCH=${arch} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DBUILD=${CMAKE_BINARY_DIR}/windows-${arch}
              -DGENERATOR=${CMAKE_GENERATOR} -DCMARK=${SENDRA_CMARK} -DLAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
              -DZIP=${CMAKE_BINARY_DIR}/Sendra2016-${PROJECT_VERSION}-${suffix}.zip
              -P ${CMAKE_SOURCE_DIR}/cmake/WindowsPackage.cmake
      USES_TERMINAL
      COMMENT "Building the ${arch} Sendra2016.dll and Sendra2016-${PROJECT_VERSION}-${suffix}.zip")
  endforeach()
endif()
