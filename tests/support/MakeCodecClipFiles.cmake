# Makes the codec clips of the Windows tests on the build machine (see
# CodecClipFiles.cpp), one set of files per recipe stem in RECIPES:
#   <stem>.ts   the clip as ffmpeg encodes it (as the native tests make it)
#   <stem>.es   its video as a bare Annex-B stream, copied out unchanged
#   <stem>.csv  ffprobe's list of its video packets: pts,size,flags
#   <stem>.yuv  ffmpeg's own decode (I420), when the stem asks for it
# A stem is codec-width-height-fps-frames-bframes-gop-opengop-quality-kbps-reference.
# Files already made for a stem are kept.
#   cmake -DFFMPEG=... -DFFPROBE=... -DDIR=... "-DRECIPES=stem;stem" -P MakeCodecClipFiles.cmake
cmake_minimum_required(VERSION 3.20)
file(MAKE_DIRECTORY ${DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${command}\n${err}")
  endif()
endfunction()

foreach(stem IN LISTS RECIPES)
  set(base ${DIR}/${stem})
  if(EXISTS ${base}.csv)
    continue()
  endif()
  string(REPLACE "-" ";" f "${stem}")
  list(LENGTH f count)
  if(NOT count EQUAL 11)
    message(FATAL_ERROR "bad recipe stem ${stem}")
  endif()
  list(GET f 0 codec)
  list(GET f 1 width)
  list(GET f 2 height)
  list(GET f 3 fps)
  list(GET f 4 frames)
  list(GET f 5 bframes)
  list(GET f 6 gop)
  list(GET f 7 open_gop)
  list(GET f 8 quality)
  list(GET f 9 kbps)
  list(GET f 10 reference)
  # The same encoder settings as the native clips (CodecClips.cpp).
  if(kbps EQUAL 0)
    set(rate -crf ${quality})
  else()
    set(rate -b:v ${kbps}k -maxrate ${kbps}k -bufsize ${kbps}k)
  endif()
  if(codec STREQUAL "h265")
    if(open_gop)
      set(open open-gop=1)
    else()
      set(open open-gop=0)
    endif()
    set(encoder -c:v libx265 -preset ultrafast ${rate} -x265-params
        log-level=none:bframes=${bframes}:keyint=${gop}:min-keyint=${gop}:scenecut=0:${open})
    set(raw hevc)
  else()
    set(encoder -c:v libx264 -preset veryfast ${rate} -bf ${bframes} -g ${gop}
        -keyint_min ${gop} -sc_threshold 0)
    if(open_gop)
      list(APPEND encoder -x264-params open-gop=1)
    endif()
    set(raw h264)
  endif()
  message(STATUS "clip ${stem}")
  run(${FFMPEG} -nostdin -hide_banner -loglevel error -y -f lavfi
      -i testsrc2=size=${width}x${height}:rate=${fps} -frames:v ${frames} -pix_fmt yuv420p
      ${encoder} -f mpegts ${base}.ts)
  run(${FFMPEG} -nostdin -hide_banner -loglevel error -y -i ${base}.ts -map 0:v:0 -c copy
      -f ${raw} ${base}.es)
  if(reference)
    run(${FFMPEG} -nostdin -hide_banner -loglevel error -y -threads 1 -i ${base}.ts
        -f rawvideo -pix_fmt yuv420p ${base}.yuv)
  endif()
  execute_process(COMMAND ${FFPROBE} -v error -select_streams v:0
                          -show_entries packet=pts,size,flags -of csv=p=0 ${base}.ts
                  OUTPUT_FILE ${base}.csv.part RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ffprobe failed (${rc}) on ${base}.ts")
  endif()
  file(RENAME ${base}.csv.part ${base}.csv)
endforeach()
