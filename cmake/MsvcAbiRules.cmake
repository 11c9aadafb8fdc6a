# The rules of the Visual C++ ABI builds (cmake/MsvcAbiToolchain.cmake), read after CMake's own
# for clang on Windows so that they replace them: the optimisation of the Linux build's
# RelWithDebInfo without its debug information, and a DLL linked by lld-link itself, with no
# default library (so no C runtime and none of its start-up code), none of the manifest, PDB
# and image version that CMake's rule for clang adds, and /Brepro: the same sources give the
# same DLL, byte for byte. The entry point and the inputs are the target's (cmake/MsvcAbiDll.cmake).
foreach(config RELEASE RELWITHDEBINFO MINSIZEREL)
  set(CMAKE_CXX_FLAGS_${config}_INIT "-O2 -DNDEBUG")
endforeach()
set(CMAKE_CXX_FLAGS_DEBUG_INIT "-O0")
# No Windows library but the import libraries the target names.
set(CMAKE_CXX_STANDARD_LIBRARIES_INIT "")
set(CMAKE_CXX_CREATE_SHARED_LIBRARY
    "<CMAKE_LINKER> /nologo /dll /nodefaultlib <LINK_FLAGS> /opt:ref /opt:icf /Brepro /out:<TARGET> /implib:<TARGET_IMPLIB> <OBJECTS> <LINK_LIBRARIES>")
set(CMAKE_CXX_CREATE_SHARED_MODULE ${CMAKE_CXX_CREATE_SHARED_LIBRARY})
