# sp_mpeg_streams: program and transport streams written the way cameras
# and recorders write them, for the tests, fuzz seeds and benchmarks.
if(NOT TARGET sp_mpeg_streams)
  add_library(sp_mpeg_streams STATIC ${CMAKE_CURRENT_LIST_DIR}/MpegStreams.cpp)
  target_include_directories(sp_mpeg_streams PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
  sp_target_defaults(sp_mpeg_streams)
endif()

# codec_clips: real H.264/H.265 clips made at test time with the ffmpeg
# command, for the tests and benchmarks of the stand-in's codecs.
#  - Natively, where the stand-in has its FFmpeg codecs: made and cut into
#    access units by the test program itself (libavformat).
#  - Windows builds (Media Foundation decoders), where ffmpeg and ffprobe are
#    on the build machine: made before the tests by the test fixture
#    codec_clip_files (MakeCodecClipFiles.cmake) and read by the test program
#    (CodecClipFiles.cpp). A test that uses them calls
#    sp_requires_codec_clips(TEST); every recipe such a test uses is in
#    SP_WINDOWS_CLIP_RECIPES.
if(TARGET codec_clips)
  return()
endif()
if(TARGET vdplay_codecs)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CODEC_CLIPS_AV REQUIRED IMPORTED_TARGET GLOBAL libavformat libavcodec libavutil)
  add_library(codec_clips STATIC ${CMAKE_CURRENT_LIST_DIR}/CodecClips.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/CodecClipsCommon.cpp)
  target_include_directories(codec_clips PUBLIC ${CMAKE_CURRENT_LIST_DIR}
                                                ${CMAKE_CURRENT_LIST_DIR}/..)
  target_link_libraries(codec_clips PUBLIC vdstream sp_mpeg_streams PkgConfig::CODEC_CLIPS_AV)
  sp_target_defaults(codec_clips)
  function(sp_requires_codec_clips)
  endfunction()
elseif(WIN32 AND TARGET vdstream)
  find_program(SP_CLIPS_FFMPEG ffmpeg)
  find_program(SP_CLIPS_FFPROBE ffprobe)
  if(NOT SP_CLIPS_FFMPEG OR NOT SP_CLIPS_FFPROBE)
    message(STATUS "ffmpeg/ffprobe not found: the Windows codec tests are not built")
    return()
  endif()
  # The recipes the Windows tests use, as ClipFileStem() names them:
  # codec-width-height-fps-frames-bframes-gop-opengop-quality-kbps-reference.
  set(SP_WINDOWS_CLIP_RECIPES
    h264-352-288-25-50-3-25-0-23-0-1    # ClipRecipe{}: B-pictures
    h264-352-288-25-30-3-25-0-23-0-1    # 30 pictures
    h264-352-288-25-40-3-20-0-23-0-1    # start mid-GOP
    h264-352-288-25-60-3-20-0-23-0-1    # damage
    h264-352-288-25-10-0-25-0-23-0-1    # size change, small
    h264-640-360-25-10-0-25-0-23-0-1    # size change, large (coded 640x368)
    h264-640-360-25-5-3-25-0-23-0-0     # cropping window
    h264-1280-720-25-10-0-25-0-23-0-1   # HD colour values
    h264-1280-720-25-3-3-25-0-23-0-0    # BT.601 parameter sets
    h264-1920-1080-25-40-3-25-0-23-0-0  # fast speed
    h264-1920-1080-25-125-2-25-0-23-0-0 # decode cost at 1080p
    h265-320-180-25-30-3-10-1-23-0-0    # the splitter on H.265
  )
  set(SP_CODEC_CLIP_FILES_DIR ${CMAKE_BINARY_DIR}/codec_clips)
  add_library(codec_clips STATIC ${CMAKE_CURRENT_LIST_DIR}/CodecClipFiles.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/CodecClipsCommon.cpp)
  target_include_directories(codec_clips PUBLIC ${CMAKE_CURRENT_LIST_DIR}
                                                ${CMAKE_CURRENT_LIST_DIR}/..)
  target_link_libraries(codec_clips PUBLIC vdstream sp_mpeg_streams)
  # Wine shows the build machine's root as drive Z:.
  target_compile_definitions(codec_clips PRIVATE SP_CODEC_CLIP_DIR="Z:${SP_CODEC_CLIP_FILES_DIR}")
  sp_target_defaults(codec_clips)
  add_test(NAME codec_clip_files
    COMMAND ${CMAKE_COMMAND} -DFFMPEG=${SP_CLIPS_FFMPEG} -DFFPROBE=${SP_CLIPS_FFPROBE}
            -DDIR=${SP_CODEC_CLIP_FILES_DIR} "-DRECIPES=${SP_WINDOWS_CLIP_RECIPES}"
            -P ${CMAKE_CURRENT_LIST_DIR}/MakeCodecClipFiles.cmake)
  set_tests_properties(codec_clip_files PROPERTIES FIXTURES_SETUP codec_clip_files TIMEOUT 600)
  function(sp_requires_codec_clips test)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED codec_clip_files)
  endfunction()
endif()
