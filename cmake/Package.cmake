# The add-on package, Sendra2016-<version>.zip: the tree a player unpacks into the Orbiter
# folder. Made by `cmake --build build --target package` (cpack). It holds the module as this
# build made it (Modules/Sendra2016.dll from Visual Studio against the real SDK,
# Modules/libSendra2016.so for the stand-in host on Linux) and everything under assets/.
if(MINGW)
  # A g++ build cannot link against orbiter.exe, whose C++ exports carry MSVC's names, so its
  # DLL runs only in the stand-in host: it is no add-on for players.
  return()
endif()

install(FILES $<TARGET_FILE:Sendra2016> DESTINATION Modules)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/assets/ DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Sendra2016)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Sendra2016-${PROJECT_VERSION})
# Modules/, Config/, ... at the top of the zip, not inside a folder of the package's name.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
