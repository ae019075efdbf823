# The host's view of the Windows SDK: installs the build tree into a fresh
# prefix (the layout of the zip), checks the layout, builds the C host with
# the MinGW compiler against the prefix's header and import library only, and
# runs it under Wine in a folder that holds the prefix's two DLLs beside it.
# Arguments: -DBUILD_DIR= -DSOURCE_DIR= -DWORKDIR= -DCC= -DEMULATOR= -DOBJDUMP=
cmake_minimum_required(VERSION 3.20)
set(prefix ${WORKDIR}/prefix)
set(run ${WORKDIR}/run)
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${run})

function(run_step what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${run}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  message(STATUS "${what}: ok")
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(path
    bin/SinglePlayer.dll bin/VdPlay.dll bin/spdemo.exe
    lib/libSinglePlayer.dll.a lib/libVdPlay.dll.a lib/libvdstream.a lib/VdPlay.def
    ${EXTRA_FILES}
    include/SinglePlayer.h include/VdPlay.h include/VdStreamFormat.h
    lib/cmake/SinglePlayer/SinglePlayerConfig.cmake lib/pkgconfig/singleplayer.pc
    README.md docs/reference.md)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()

run_step("build the C host" ${CC} -std=c11 -Wall -Wextra -Werror -static-libgcc
  -I${prefix}/include ${SOURCE_DIR}/tests/sdk/c_host.c -L${prefix}/lib -lSinglePlayer
  -o ${run}/c_host.exe)
# The host imports the player by name, and nothing of MinGW's runtime DLLs.
run_step("import table of the C host" ${OBJDUMP} -p ${run}/c_host.exe)
if(NOT step_output MATCHES "DLL Name: SinglePlayer.dll")
  message(FATAL_ERROR "c_host.exe does not import SinglePlayer.dll")
endif()

file(COPY ${prefix}/bin/SinglePlayer.dll ${prefix}/bin/VdPlay.dll DESTINATION ${run})
run_step("c_host under Wine" ${EMULATOR} ${run}/c_host.exe c_host.bmp)
message(STATUS "${step_output}")
