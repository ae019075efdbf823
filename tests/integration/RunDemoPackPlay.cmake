# Writes a small .y4m file, packs it with the demo host and plays both the
# stream file and the .y4m file; each run must exit 0, and the snapshot of
# the stream file must be a 16x16 BMP.
# Arguments: -DDEMO=path -DWORKDIR=folder [-DEMULATOR=runner]
include(${CMAKE_CURRENT_LIST_DIR}/DemoRunner.cmake)
file(MAKE_DIRECTORY ${WORKDIR})
file(REMOVE ${WORKDIR}/clip.vdps ${WORKDIR}/clip.bmp)
set(y4m "YUV4MPEG2 W16 H16 F50:1 Ip A1:1 C420mpeg2\n")
foreach(letter a b c d e f g h i j)
  string(REPEAT "${letter}" 384 picture)
  string(APPEND y4m "FRAME\n${picture}")
endforeach()
file(WRITE ${WORKDIR}/clip.y4m "${y4m}")

function(run_demo)
  execute_process(COMMAND ${DEMO_RUNNER} ${EMULATOR} ${DEMO} ${ARGN}
    WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE result
    OUTPUT_VARIABLE output ERROR_VARIABLE output)
  message("spdemo ${ARGN}:\n${output}")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "spdemo ${ARGN} exited with ${result}")
  endif()
endfunction()

run_demo(pack clip.y4m clip.vdps)
run_demo(play clip.vdps --snapshot clip.bmp --port 5)
run_demo(play clip.y4m --state 3 --duration 1)

file(SIZE ${WORKDIR}/clip.bmp size)
if(NOT size EQUAL 822)
  message(FATAL_ERROR "the snapshot is ${size} bytes, not a 16x16 24-bit BMP")
endif()
