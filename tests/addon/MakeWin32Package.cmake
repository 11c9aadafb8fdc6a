# Makes the players' package with cmake/Win32Package.cmake and unpacks it, as a player would,
# into UNPACKED; then HOST_ROOT, a copy of the unpacked tree with the stand-in host's module
# (MODULE) added, from which the host loads the package's scenarios. Run by ctest (cmake -P)
# with SOURCE_DIR, WORK, ZIP, UNPACKED, HOST_ROOT and MODULE.
file(REMOVE_RECURSE ${UNPACKED} ${HOST_ROOT} ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -DWORK=${WORK} -DZIP=${ZIP}
                        -P ${SOURCE_DIR}/cmake/Win32Package.cmake
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the win32 package could not be made")
endif()
file(ARCHIVE_EXTRACT INPUT ${ZIP} DESTINATION ${UNPACKED})
file(COPY ${UNPACKED}/ DESTINATION ${HOST_ROOT})
file(COPY ${MODULE} DESTINATION ${HOST_ROOT}/Modules)
