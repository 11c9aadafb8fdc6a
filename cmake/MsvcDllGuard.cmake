# Checks a Visual C++ ABI module just linked (cmake/MsvcAbiDll.cmake), and removes it when it
# breaks a rule, so that no package can carry it:
#  - mingw-w64's headers define inline functions that the module never calls (hypotf and
#    others); the linker drops them, but their references to names that msvcrt.dll may not have
#    (hypot) stay in the objects and so in msvcrt.lib. What the DLL imports must exist.
#  - The 32-bit DLL computes in SSE2, as the builds that are run and compared do: the x87 only
#    where a double crosses a call in ST0, as the 32-bit calling convention returns one (fld to
#    return it, fstp to take what a called function returned, or to drop it). Any other x87
#    instruction is arithmetic in the x87's extended precision.
# Run with cmake -P and DLL, ARCH (i686 or x86_64), READOBJ, OBJDUMP (llvm-readobj,
# llvm-objdump) and MSVCRT (tools/windows/msvcrt-exports-ARCH.txt).
cmake_minimum_required(VERSION 3.25)
foreach(var DLL ARCH READOBJ OBJDUMP MSVCRT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "MsvcDllGuard.cmake needs -D${var}=...")
  endif()
endforeach()
set(work ${WORK})
file(MAKE_DIRECTORY ${work})
get_filename_component(name ${DLL} NAME)

execute_process(COMMAND ${READOBJ} --coff-imports ${DLL} OUTPUT_FILE ${work}/${name}.imports RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "llvm-readobj cannot read ${DLL}")
endif()
file(STRINGS ${work}/${name}.imports lines)
file(STRINGS ${MSVCRT} exports REGEX "^[^#]")
set(missing "")
foreach(line IN LISTS lines)
  if(line MATCHES "^ *Name: (.*)$")
    set(from ${CMAKE_MATCH_1})
  elseif(line MATCHES "^ *Symbol: ([^ ]+)" AND from STREQUAL "msvcrt.dll" AND NOT CMAKE_MATCH_1 IN_LIST exports)
    list(APPEND missing ${CMAKE_MATCH_1})
  endif()
endforeach()
if(missing)
  file(REMOVE ${DLL})
  list(JOIN missing " " missing)
  message(FATAL_ERROR "the module calls C library functions that msvcrt.dll does not export: ${missing}")
endif()

if(ARCH STREQUAL "i686")
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${DLL} OUTPUT_FILE ${work}/${name}.asm RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "llvm-objdump cannot disassemble ${DLL}")
  endif()
  file(STRINGS ${work}/${name}.asm lines REGEX "^ *[0-9a-f]+:[ \t]+f")
  set(x87 "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^ *[0-9a-f]+:[ \t]+([^ \t]+)[ \t]*([^ \t]*)" _ "${line}")
    set(op ${CMAKE_MATCH_1})
    set(operand "${CMAKE_MATCH_2}")
    if(op MATCHES "^(fld|fstp)[sl]?$" AND NOT operand MATCHES "^%st")
      continue()
    elseif(op STREQUAL "fstp" AND operand STREQUAL "%st(0)")
      continue()
    endif()
    list(APPEND x87 ${op})
  endforeach()
  if(x87)
    file(REMOVE ${DLL})
    list(REMOVE_DUPLICATES x87)
    list(JOIN x87 ", " x87)
    message(FATAL_ERROR "the DLL computes with the x87, not SSE2: ${x87}")
  endif()
endif()
