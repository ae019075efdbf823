# The Windows demo plays real video through the DLLs: a 3-second 1280x720
# H.264 clip with B-frames, made here with the ffmpeg command as a bare
# Annex-B stream, or with -DCONTAINER=mp4 as an mp4 with a 440 Hz AAC tone
# (read by the demo's own MP4 reader and played with --volume 80), must
# play to the end (every picture shown, exit status 0), and the snapshot
# taken a second in must be one of the pictures FFmpeg itself decodes
# (PSNR of at least 40 dB, measured with FFmpeg's psnr filter).
# Arguments: -DDEMO=path -DWORKDIR=folder -DFFMPEG=path [-DCONTAINER=mp4]
#            [-DEMULATOR=runner]
include(${CMAKE_CURRENT_LIST_DIR}/DemoRunner.cmake)
file(MAKE_DIRECTORY ${WORKDIR})
file(REMOVE ${WORKDIR}/shot.bmp ${WORKDIR}/psnr.txt)

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${command}\n${out}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(picture_args -c:v libx264 -preset veryfast -bf 2 -pix_fmt yuv420p)
if(CONTAINER STREQUAL "mp4")
  set(clip clip.mp4)
  set(play_args --volume 80)
  if(NOT EXISTS ${WORKDIR}/${clip})
    run(${FFMPEG} -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 ${picture_args} -c:a aac ${clip})
  endif()
else()
  set(clip clip.h264)
  set(play_args)
  if(NOT EXISTS ${WORKDIR}/${clip})
    run(${FFMPEG} -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v 75
        ${picture_args} -f h264 ${clip})
  endif()
endif()
# FFmpeg's own decode of the pictures around the snapshot (the 26th).
run(${FFMPEG} -nostdin -v error -y -i ${clip} -vf "select=between(n\\,10\\,45)" -vsync 0
    -f rawvideo -pix_fmt rgb24 frames.rgb)

run(${DEMO_RUNNER} ${EMULATOR} ${DEMO} play ${clip} --snapshot shot.bmp ${play_args})
message("spdemo play ${clip} ${play_args}:\n${run_output}")
if(NOT run_output MATCHES "end of the data\\): frames shown 75,")
  message(FATAL_ERROR "the clip did not play to the end with all 75 pictures shown")
endif()
if(CONTAINER STREQUAL "mp4" AND NOT run_output MATCHES "with aac sound")
  message(FATAL_ERROR "the mp4's AAC sound was not found")
endif()
file(SIZE ${WORKDIR}/shot.bmp size)
if(NOT size EQUAL 2764854)
  message(FATAL_ERROR "the snapshot is ${size} bytes, not a 1280x720 24-bit BMP")
endif()

# Called directly: the filter graph's semicolon would split a function argument.
execute_process(COMMAND ${FFMPEG} -nostdin -v error -y -f rawvideo -pix_fmt rgb24 -s 1280x720
                        -i frames.rgb -loop 1 -i shot.bmp
                        -lavfi "[1:v]format=rgb24[shot];[0:v][shot]psnr=stats_file=psnr.txt:shortest=1"
                        -f null -
                WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "ffmpeg's psnr filter failed (${rc}): ${err}")
endif()
file(STRINGS ${WORKDIR}/psnr.txt lines)
set(best 0)
foreach(line IN LISTS lines)
  if(line MATCHES "psnr_avg:([0-9]+)")
    if(CMAKE_MATCH_1 GREATER best)
      set(best ${CMAKE_MATCH_1})
    endif()
  elseif(line MATCHES "psnr_avg:inf")
    set(best 99)
  endif()
endforeach()
message("snapshot against FFmpeg's decode: best ${best} dB")
if(best LESS 40)
  message(FATAL_ERROR "the snapshot is none of the pictures FFmpeg decodes (best ${best} dB)")
endif()
