# Runs the demo host with no command (the test-pattern tour, shortened) and
# checks that it succeeded and wrote its snapshot as a 352x288 24-bit BMP.
# With -DWINDOW=ON it plays into a window: one the player received when
# DISPLAY names a display, else the demo says why there is none.
# Arguments: -DDEMO=path -DWORKDIR=folder [-DEMULATOR=runner] [-DWINDOW=ON]
set(snapshot ${WORKDIR}/spdemo-test-snapshot.bmp)
include(${CMAKE_CURRENT_LIST_DIR}/DemoRunner.cmake)
set(window_option "")
if(WINDOW)
  set(window_option --window)
endif()
file(MAKE_DIRECTORY ${WORKDIR})
file(REMOVE ${snapshot})
execute_process(
  COMMAND ${DEMO_RUNNER} ${EMULATOR} ${DEMO} --duration 2 --snapshot spdemo-test-snapshot.bmp ${window_option}
  WORKING_DIRECTORY ${WORKDIR}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
message("${output}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "spdemo exited with ${result}")
endif()
if(NOT EXISTS ${snapshot})
  message(FATAL_ERROR "spdemo wrote no snapshot")
endif()
file(SIZE ${snapshot} size)
file(READ ${snapshot} magic LIMIT 2 HEX)
# Width 352 (0x160) and height 288 (0x120) at byte 18, one plane of 24 bits.
file(READ ${snapshot} info OFFSET 18 LIMIT 12 HEX)
if(NOT size EQUAL 304182 OR NOT magic STREQUAL "424d" OR
   NOT info STREQUAL "600100002001000001001800")
  message(FATAL_ERROR "snapshot is no 352x288 24-bit BMP: ${size} bytes, ${magic}, ${info}")
endif()
if(NOT output MATCHES "frames shown [0-9]+ of")
  message(FATAL_ERROR "spdemo did not report the frames shown")
endif()
if(WINDOW)
  if("$ENV{DISPLAY}" STREQUAL "")
    set(expected "no window: ")
  else()
    set(expected "Play_OpenStream\\(window 0x")
  endif()
  if(NOT output MATCHES "${expected}")
    message(FATAL_ERROR "spdemo --window: expected \"${expected}\" in its output")
  endif()
endif()
