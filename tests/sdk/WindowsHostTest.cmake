# The host's view of the Windows SDK, in two steps:
#  STEP=prepare  installs the build tree into a fresh prefix (the layout of
#                the zip), checks the layout and the version resources of the
#                installed DLLs, and builds the C host with the MinGW
#                compiler against the prefix's header and import library only;
#  STEP=run      runs that host under Wine in a folder that holds the
#                prefix's two DLLs beside it.
# Arguments: -DSTEP= -DBUILD_DIR= -DSOURCE_DIR= -DWORKDIR= -DCC= -DOBJDUMP=
#            -DSTRINGS= -DVERSION= -DEMULATOR=
cmake_minimum_required(VERSION 3.20)
set(prefix ${WORKDIR}/prefix)
set(run ${WORKDIR}/run)

function(run_step what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${run}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  message(STATUS "${what}: ok")
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

if(STEP STREQUAL "run")
  run_step("c_host under Wine" ${EMULATOR} ${run}/c_host.exe c_host.bmp)
  message(STATUS "${step_output}")
  return()
endif()

file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${run})
run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(path
    bin/SinglePlayer.dll bin/VdPlay.dll bin/spdemo.exe
    lib/libSinglePlayer.dll.a lib/libVdPlay.dll.a lib/libvdstream.a
    lib/SinglePlayer.def lib/VdPlay.def
    include/SinglePlayer.h include/VdPlay.h include/VdStreamFormat.h
    lib/cmake/SinglePlayer/SinglePlayerConfig.cmake lib/pkgconfig/singleplayer.pc
    README.md docs/reference.md)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
foreach(dll SinglePlayer VdPlay)
  run_step("version resource of ${dll}.dll" ${CMAKE_COMMAND} -DSTRINGS=${STRINGS}
    -DDLL=${prefix}/bin/${dll}.dll -DVERSION=${VERSION} -DFILE_NAME=${dll}.dll
    -DPRODUCT=SinglePlayer -P ${SOURCE_DIR}/tests/host/CheckVersionResource.cmake)
endforeach()

run_step("build the C host" ${CC} -std=c11 -Wall -Wextra -Werror -static-libgcc
  -I${prefix}/include ${SOURCE_DIR}/tests/sdk/c_host.c -L${prefix}/lib -lSinglePlayer
  -o ${run}/c_host.exe)
# The host imports the player by name, and nothing of MinGW's runtime DLLs.
run_step("import table of the C host" ${OBJDUMP} -p ${run}/c_host.exe)
if(NOT step_output MATCHES "DLL Name: SinglePlayer.dll")
  message(FATAL_ERROR "c_host.exe does not import SinglePlayer.dll")
endif()
if(step_output MATCHES "DLL Name: lib[^\n]*\\.dll")
  message(FATAL_ERROR "c_host.exe imports a MinGW runtime DLL")
endif()
file(COPY ${prefix}/bin/SinglePlayer.dll ${prefix}/bin/VdPlay.dll DESTINATION ${run})
