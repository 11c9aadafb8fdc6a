# Makes Sendra2016-<version>-win32.zip, the players' package: Sendra2016.dll for Orbiter 2016
# built by tools/windows-dll.sh (clang and lld, the Visual C++ ABI) at Modules/Sendra2016.dll,
# and everything under assets/ (its text files with Windows line ends), as a player unpacks it
# into the Orbiter 2016 folder.
# Run with cmake -P and SOURCE_DIR (the repository), WORK (a folder for the DLL and the staged
# tree, emptied first) and ZIP (the zip to write); the zip is replaced only when complete.
foreach(var SOURCE_DIR WORK ZIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "Win32Package.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${SOURCE_DIR}/tools/windows-dll.sh ${WORK}/dll RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "tools/windows-dll.sh could not build Sendra2016.dll")
endif()

set(tree ${WORK}/tree)
file(COPY ${SOURCE_DIR}/assets/ DESTINATION ${tree})
file(COPY ${WORK}/dll/Sendra2016.dll DESTINATION ${tree}/Modules)
# The readme, the manual and the scenarios with Windows line ends, as Orbiter's own text files
# have them (a file that has them already stays as it is; the add-on tree keeps its own).
file(GLOB_RECURSE texts LIST_DIRECTORIES false ${tree}/*.txt ${tree}/*.md ${tree}/*.scn)
foreach(text ${texts})
  file(READ ${text} content)
  string(REPLACE "\r\n" "\n" content "${content}")
  string(REPLACE "\n" "\r\n" content "${content}")
  file(WRITE ${text} "${content}")
endforeach()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${tree} ${tree}/*)
list(SORT files)
get_filename_component(name ${ZIP} NAME)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${WORK}/${name} --format=zip -- ${files}
                WORKING_DIRECTORY ${tree} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot write ${WORK}/${name}")
endif()
file(RENAME ${WORK}/${name} ${ZIP})
message(STATUS "Wrote ${ZIP}")
