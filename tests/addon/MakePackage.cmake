# Makes the add-on package with cpack and unpacks it, as a player would, into UNPACKED.
# Run by ctest (cmake -P) with CPACK, CONFIG (the build's CPackConfig.cmake), WORK, UNPACKED
# and NAME (the zip's expected file name).
file(REMOVE_RECURSE ${WORK} ${UNPACKED})
execute_process(COMMAND ${CPACK} --config ${CONFIG} -B ${WORK} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cpack failed")
endif()
file(GLOB zips LIST_DIRECTORIES false RELATIVE ${WORK} ${WORK}/*.zip)
if(NOT zips STREQUAL NAME)
  message(FATAL_ERROR "cpack made '${zips}', not ${NAME}")
endif()
file(ARCHIVE_EXTRACT INPUT ${WORK}/${NAME} DESTINATION ${UNPACKED})
