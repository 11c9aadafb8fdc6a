# Makes a players' package with cmake/WindowsPackage.cmake and unpacks it, as a player would,
# into UNPACKED; then HOST_ROOT, a copy of the unpacked tree with the stand-in host's module
# (MODULE) added, from which the host loads the package's scenarios. Run by ctest (cmake -P)
# with what cmake/WindowsPackage.cmake takes and UNPACKED, HOST_ROOT and MODULE.
file(REMOVE_RECURSE ${UNPACKED} ${HOST_ROOT} ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -DARCH=${ARCH} -DSOURCE_DIR=${SOURCE_DIR} -DBUILD=${BUILD}
                        -DGENERATOR=${GENERATOR} -DCMARK=${CMARK} -DLAUNCHER=${LAUNCHER} -DZIP=${ZIP}
                        -P ${SOURCE_DIR}/cmake/WindowsPackage.cmake
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the ${ARCH} package could not be made")
endif()
file(ARCHIVE_EXTRACT INPUT ${ZIP} DESTINATION ${UNPACKED})
file(COPY ${UNPACKED}/ DESTINATION ${HOST_ROOT})
file(COPY ${MODULE} DESTINATION ${HOST_ROOT}/Modules)
