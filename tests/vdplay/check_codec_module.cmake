# Checks that the library itself needs no FFmpeg library (a program that never
# plays a compressed stream must not load one) and that the codec module
# exports its two factories (pictures, audio) and nothing else.
#   cmake -DLIBRARY=... -DMODULE=... -DOBJDUMP=... -DNM=... -P check_codec_module.cmake
cmake_minimum_required(VERSION 3.20)

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${dump}")
if(NOT needed)
  message(FATAL_ERROR "no NEEDED entries read from ${LIBRARY}")
endif()
foreach(entry IN LISTS needed)
  if(entry MATCHES "libav|libsw")
    message(FATAL_ERROR "${LIBRARY} needs an FFmpeg library: ${entry}")
  endif()
endforeach()

execute_process(COMMAND ${NM} -D --defined-only ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ T [^\n]+" functions "${dump}")
list(TRANSFORM functions REPLACE "^[0-9a-f]+ T " "")
list(SORT functions)
if(NOT functions STREQUAL "vdplay_codecs_create_audio_decoder;vdplay_codecs_create_decoder")
  message(FATAL_ERROR "${MODULE} exports [${functions}], not just its two factories")
endif()
message(STATUS "${LIBRARY}: ${needed}; module exports ${functions}")
