# The programs that build the Visual C++ ABI DLLs (cmake/MsvcAbiToolchain.cmake), each with the
# Debian package that brings it: read by the toolchain, which needs them, and by the Linux
# build, which registers the players' packages' tests only where they are installed.

# sendra_msvc_abi_tools(ARCH MISSING): finds the programs for ARCH (i686 or x86_64), each in a
# cache variable SENDRA_<program as a C identifier>, and sets MISSING to the Debian packages of
# those not found (empty when all are).
function(sendra_msvc_abi_tools arch missing)
  string(REPLACE "_" "-" mingw_package "g++-mingw-w64-${arch}")
  set(packages "")
  foreach(entry clang++:clang lld-link:lld llvm-ar:llvm llvm-dlltool:llvm llvm-nm:llvm llvm-objdump:llvm
                llvm-rc:llvm llvm-readobj:llvm ${arch}-w64-mingw32-g++:${mingw_package})
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 tool)
    list(GET entry 1 package)
    string(MAKE_C_IDENTIFIER "SENDRA_${tool}" var)
    find_program(${var} ${tool})
    if(NOT ${var})
      list(APPEND packages ${package})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES packages)
  set(${missing} "${packages}" PARENT_SCOPE)
endfunction()
