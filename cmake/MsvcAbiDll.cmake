# The module as a DLL in the Visual C++ ABI (cmake/MsvcAbiToolchain.cmake), linked by lld-link
# with no C runtime (cmake/MsvcAbiRules.cmake) from the module's objects, its version resource
# and three import libraries made from the names those objects reference
# (cmake/MsvcImportLibs.cmake): orbiter.exe, msvcrt.dll and kernel32.dll, nothing else.

# The Windows functions the module calls, all in kernel32.dll.
set(SENDRA_KERNEL32_NAMES GetProcAddress)

# sendra_msvc_abi_dll(DLL OBJECTS): links the SHARED library DLL, made of the OBJECT library
# OBJECTS, as the players' DLL. Beside it in its binary folder, for the Windows checks
# (tools/windows/dll-check.sh): <DLL>.map, the link's map, and <DLL>.objects, the objects'
# paths one a line.
function(sendra_msvc_abi_dll dll objects)
  set(imports ${CMAKE_CURRENT_BINARY_DIR}/imports)
  set(libs ${imports}/orbiter.lib ${imports}/msvcrt.lib ${imports}/kernel32.lib)
  add_custom_command(
    OUTPUT ${libs}
    COMMAND ${CMAKE_COMMAND} -DNM=${SENDRA_llvm_nm} -DOBJDUMP=${SENDRA_llvm_objdump} -DDLLTOOL=${SENDRA_llvm_dlltool}
            -DMACHINE=${SENDRA_MSVC_DLLTOOL_MACHINE} -DARCH=${SENDRA_MSVC_ABI} "-DKERNEL32=${SENDRA_KERNEL32_NAMES}"
            "-DOBJECTS=$<TARGET_OBJECTS:${objects}>" -DWORK=${imports} -P ${CMAKE_SOURCE_DIR}/cmake/MsvcImportLibs.cmake
    DEPENDS $<TARGET_OBJECTS:${objects}> ${CMAKE_SOURCE_DIR}/cmake/MsvcImportLibs.cmake
    COMMENT "Import libraries of the names the module references"
    VERBATIM)
  add_custom_target(${dll}_imports DEPENDS ${libs})

  # The version resource, compiled from its folder with bare names: llvm-rc also takes options
  # after a slash, so an absolute path such as /check/... would be read as its /c option.
  string(REPLACE "." "," commas "${PROJECT_VERSION},0")
  if(SENDRA_MSVC_ABI STREQUAL "i686")
    set(description "Sendra2016 rover: vessel module for Orbiter 2016")
  else()
    set(description "Sendra2016 rover: vessel module for 64-bit Orbiter")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/version.rc @ONLY)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/version.res)
  add_custom_command(
    OUTPUT ${res}
    COMMAND ${SENDRA_llvm_rc} -no-preprocess -fo version.res version.rc
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/version.rc
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    COMMENT "Version resource of ${dll}.dll"
    VERBATIM)
  set_source_files_properties(${res} PROPERTIES EXTERNAL_OBJECT ON GENERATED ON)
  target_sources(${dll} PRIVATE ${res})

  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${dll}.objects
       CONTENT "$<JOIN:$<TARGET_OBJECTS:${objects}>,\n>\n")
  add_dependencies(${dll} ${dll}_imports)
  target_link_libraries(${dll} PRIVATE ${libs})
  target_link_options(${dll} PRIVATE /subsystem:windows /entry:${SENDRA_MSVC_ENTRY}
                      /map:${CMAKE_CURRENT_BINARY_DIR}/${dll}.map)
  add_custom_command(
    TARGET ${dll} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DDLL=$<TARGET_FILE:${dll}> -DARCH=${SENDRA_MSVC_ABI} -DREADOBJ=${SENDRA_llvm_readobj}
            -DOBJDUMP=${SENDRA_llvm_objdump} -DMSVCRT=${CMAKE_SOURCE_DIR}/tools/windows/msvcrt-exports-${SENDRA_MSVC_ABI}.txt -DWORK=${imports}
            -P ${CMAKE_SOURCE_DIR}/cmake/MsvcDllGuard.cmake
    VERBATIM)
endfunction()
