# Configures a host project that adds SinglePlayer with add_subdirectory,
# builds its host (and with it the player and the decoder) and runs it on a
# small stream file that the demo host of the main build packs.
# Arguments: -DSOURCE_DIR= -DWORKDIR= -DCC= -DCXX= -DGENERATOR= -DDEMO=
cmake_minimum_required(VERSION 3.20)
# The hosts run isolated from the machine's configuration and log folders.
include(${SOURCE_DIR}/tests/integration/DemoRunner.cmake)
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR}/run)

function(run_step what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORKDIR}/run
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  message(STATUS "${what}: ok")
endfunction()

run_step("configure" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/sdk/subproject_host
  -B ${WORKDIR}/build -G ${GENERATOR} -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX}
  -DCMAKE_BUILD_TYPE=Release -DSINGLEPLAYER_SOURCE_DIR=${SOURCE_DIR})
run_step("build" ${CMAKE_COMMAND} --build ${WORKDIR}/build --target host_minimal -j2)

# Ten 16x16 pictures at 25 frames per second.
set(y4m "YUV4MPEG2 W16 H16 F25:1 Ip A1:1 C420mpeg2\n")
foreach(letter a b c d e f g h i j)
  string(REPEAT "${letter}" 384 picture)
  string(APPEND y4m "FRAME\n${picture}")
endforeach()
file(WRITE ${WORKDIR}/run/clip.y4m "${y4m}")
run_step("pack the stream" ${DEMO_RUNNER} ${DEMO} pack clip.y4m clip.vdps)
run_step("host_minimal" ${DEMO_RUNNER} ${WORKDIR}/build/host_minimal clip.vdps clip.bmp)
if(NOT EXISTS ${WORKDIR}/run/clip.bmp)
  message(FATAL_ERROR "host_minimal saved no snapshot")
endif()
