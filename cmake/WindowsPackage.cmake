# Makes a players' package: Sendra2016-<version>-win32.zip (ARCH i686: Orbiter 2016 and today's
# 32-bit Orbiter) or -win64.zip (ARCH x86_64: today's 64-bit Orbiter). The module is built in
# the Visual C++ ABI in its own build folder BUILD (configured with cmake/msvc-abi-ARCH.cmake,
# then built), and the zip holds it at Modules/Sendra2016.dll beside everything under assets/,
# as a player unpacks it into the Orbiter folder; the driver's manual as an HTML page made from
# its Markdown (Doc/Sendra2016.html for Doc/Sendra2016.md, by cmark-gfm), and the text files
# with Windows line ends, as Orbiter's own have them, so that both open by a double click.
# Run with cmake -P and ARCH, SOURCE_DIR (the repository), BUILD, GENERATOR, CMARK (cmark-gfm)
# and ZIP (the zip to write, replaced only when complete); LAUNCHER, if given, is the
# compiler launcher (ccache). The staged tree is in BUILD/package/.
cmake_minimum_required(VERSION 3.25)
foreach(var ARCH SOURCE_DIR BUILD GENERATOR CMARK ZIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "WindowsPackage.cmake needs -D${var}=...")
  endif()
endforeach()
if(NOT EXISTS ${SOURCE_DIR}/cmake/msvc-abi-${ARCH}.cmake)
  message(FATAL_ERROR "no toolchain for the architecture '${ARCH}' (i686 or x86_64)")
endif()
if(NOT CMARK)
  message(FATAL_ERROR "cmark-gfm not found (Debian package cmark-gfm): it makes the manual's HTML page")
endif()

set(configure ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BUILD} -G ${GENERATOR}
    --toolchain ${SOURCE_DIR}/cmake/msvc-abi-${ARCH}.cmake -DCMAKE_BUILD_TYPE=Release -DSENDRA_WERROR=ON)
if(LAUNCHER)
  list(APPEND configure -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
execute_process(COMMAND ${configure} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot configure ${BUILD} for the ${ARCH} DLL")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot build the ${ARCH} Sendra2016.dll in ${BUILD}")
endif()

set(work ${BUILD}/package)
set(tree ${work}/tree)
file(REMOVE_RECURSE ${work})
file(COPY ${SOURCE_DIR}/assets/ DESTINATION ${tree})
file(COPY ${BUILD}/orbiter/Modules/Sendra2016.dll DESTINATION ${tree}/Modules)

# The manual: cmark-gfm's HTML (with GitHub's tables) inside a page that names its encoding and
# its title, the Markdown's first heading.
set(manual ${tree}/Doc/Sendra2016.md)
execute_process(COMMAND ${CMARK} --extension table --to html ${manual}
                OUTPUT_VARIABLE body RESULT_VARIABLE failed)
if(failed OR NOT body MATCHES "<h1>([^<]*)</h1>")
  message(FATAL_ERROR "cmark-gfm could not make the manual's page from ${manual}")
endif()
set(title ${CMAKE_MATCH_1})
configure_file(${SOURCE_DIR}/cmake/manual.html.in ${tree}/Doc/Sendra2016.html @ONLY)
file(REMOVE ${manual})

# Windows line ends for the readme, the manual and the scenarios (a file that has them already
# stays as it is; the add-on tree keeps its own).
file(GLOB_RECURSE texts LIST_DIRECTORIES false ${tree}/*.txt ${tree}/*.html ${tree}/*.scn)
foreach(text ${texts})
  file(READ ${text} content)
  string(REPLACE "\r\n" "\n" content "${content}")
  string(REPLACE "\n" "\r\n" content "${content}")
  file(WRITE ${text} "${content}")
endforeach()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${tree} ${tree}/*)
list(SORT files)
get_filename_component(name ${ZIP} NAME)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${work}/${name} --format=zip -- ${files}
                WORKING_DIRECTORY ${tree} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot write ${work}/${name}")
endif()
file(COPY_FILE ${work}/${name} ${ZIP}.part)
file(RENAME ${ZIP}.part ${ZIP})
message(STATUS "Wrote ${ZIP}")
