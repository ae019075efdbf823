# Damaged and empty inputs end the demo host with an error within a few
# seconds, and pack does not write over its input under any of its names.
# The cut and random files are made with the host's head(1).
# Arguments: -DDEMO=path -DWORKDIR=folder [-DEMULATOR=runner]
include(${CMAKE_CURRENT_LIST_DIR}/DemoRunner.cmake)
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR}/sub)
set(y4m "YUV4MPEG2 W16 H16 F50:1 Ip A1:1 C420mpeg2\n")
foreach(letter a b c d e f g h i j)
  string(REPEAT "${letter}" 384 picture)
  string(APPEND y4m "FRAME\n${picture}")
endforeach()
file(WRITE ${WORKDIR}/clip.y4m "${y4m}")
file(SHA256 ${WORKDIR}/clip.y4m y4m_hash)

# Runs the demo; fails unless it exits non-zero within a few seconds (more
# under Wine, whose start alone can take seconds) and prints what it was
# told to expect.
if(EMULATOR)
  set(longest 25)
else()
  set(longest 10)
endif()
function(expect_failure expected)
  string(TIMESTAMP start "%s")
  execute_process(COMMAND ${DEMO_RUNNER} ${EMULATOR} ${DEMO} ${ARGN}
    WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE result TIMEOUT 60
    OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(TIMESTAMP end "%s")
  math(EXPR seconds "${end} - ${start}")
  message("spdemo ${ARGN} (${seconds} s, exit ${result}):\n${output}")
  if(result EQUAL 0 OR NOT result MATCHES "^[0-9]+$")
    message(FATAL_ERROR "spdemo ${ARGN} should have failed; it gave ${result}")
  endif()
  if(seconds GREATER longest)
    message(FATAL_ERROR "spdemo ${ARGN} took ${seconds} s to give up")
  endif()
  if(NOT output MATCHES "${expected}")
    message(FATAL_ERROR "spdemo ${ARGN} did not say '${expected}'")
  endif()
endfunction()

function(head_bytes count from to)
  execute_process(COMMAND head -c ${count} ${from} OUTPUT_FILE ${WORKDIR}/${to}
    WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "head -c ${count} ${from} failed")
  endif()
endfunction()

execute_process(COMMAND ${DEMO_RUNNER} ${EMULATOR} ${DEMO} pack clip.y4m clip.vdps --raw
  WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
file(SIZE ${WORKDIR}/clip.vdps size)
if(NOT result EQUAL 0 OR NOT size EQUAL 4040)
  message(FATAL_ERROR "pack gave ${result} and ${size} bytes, not 40 + 10 x (16 + 384)")
endif()
math(EXPR cut "${size} - 100")
head_bytes(${cut} clip.vdps cut.vdps)
head_bytes(40 clip.vdps header-only.vdps)
head_bytes(200000 /dev/urandom random.bin)
head_bytes(40 clip.vdps junk.vdps)
execute_process(COMMAND sh -c "head -c 200000 /dev/urandom >> junk.vdps"
  WORKING_DIRECTORY ${WORKDIR})

expect_failure("holds no picture" play header-only.vdps)
expect_failure("ends inside a packet" play cut.vdps)
expect_failure("spdemo: random.bin" play random.bin)
expect_failure("damaged|stalled|no picture" play junk.vdps)

expect_failure("is the input file" pack clip.y4m clip.y4m)
expect_failure("is the input file" pack clip.y4m sub/../clip.y4m)
file(SHA256 ${WORKDIR}/clip.y4m after)
if(NOT after STREQUAL y4m_hash)
  message(FATAL_ERROR "pack changed its input")
endif()
