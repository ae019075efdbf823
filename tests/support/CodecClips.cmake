# sp_mpeg_streams: program and transport streams written the way cameras
# and recorders write them, for the tests, fuzz seeds and benchmarks.
if(NOT TARGET sp_mpeg_streams)
  add_library(sp_mpeg_streams STATIC ${CMAKE_CURRENT_LIST_DIR}/MpegStreams.cpp)
  target_include_directories(sp_mpeg_streams PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
  sp_target_defaults(sp_mpeg_streams)
endif()

# codec_clips: real H.264/H.265 clips made at run time (the ffmpeg command,
# libavformat), for the tests and benchmarks of the stand-in's codecs. Only
# where the stand-in has them (native, FFmpeg found).
if(TARGET vdplay_codecs AND NOT TARGET codec_clips)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CODEC_CLIPS_AV REQUIRED IMPORTED_TARGET GLOBAL libavformat libavcodec libavutil)
  add_library(codec_clips STATIC ${CMAKE_CURRENT_LIST_DIR}/CodecClips.cpp)
  target_include_directories(codec_clips PUBLIC ${CMAKE_CURRENT_LIST_DIR}
                                                ${CMAKE_CURRENT_LIST_DIR}/..)
  target_link_libraries(codec_clips PUBLIC vdstream sp_mpeg_streams PkgConfig::CODEC_CLIPS_AV)
  sp_target_defaults(codec_clips)
endif()
