# The host's view of an installed SinglePlayer: installs the build tree into
# a fresh prefix, checks the layout and the library's symbols, then builds
# and runs hosts that see nothing but the prefix:
#  - with find_package: the example host and a stream writer on the stand-in
#    component, which plays the stream it wrote and saves a snapshot;
#  - with pkg-config: a C host through the raw function table.
# Arguments: -DBUILD_DIR= -DSOURCE_DIR= -DWORKDIR= -DNM= -DCC= -DCXX= -DGENERATOR=
cmake_minimum_required(VERSION 3.20)
# The hosts run isolated from the machine's configuration and log folders.
include(${SOURCE_DIR}/tests/integration/DemoRunner.cmake)
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

# Layout: every path relative to the prefix.
set(expected_files
  include/SinglePlayer.h include/VdPlay.h include/VdStreamFormat.h
  lib/libSinglePlayer.so lib/libSinglePlayer.so.1 lib/libvdplay.so.1 lib/libvdstream.a
  lib/cmake/SinglePlayer/SinglePlayerConfig.cmake
  lib/cmake/SinglePlayer/SinglePlayerConfigVersion.cmake
  lib/cmake/SinglePlayer/SinglePlayerTargets.cmake
  lib/cmake/SinglePlayer/SinglePlayerStandInTargets.cmake
  lib/pkgconfig/singleplayer.pc
  bin/spdemo
  share/doc/singleplayer/README.md share/doc/singleplayer/docs/reference.md)
if(EXISTS ${BUILD_DIR}/bin/libvdplay_codecs.so)
  list(APPEND expected_files lib/libvdplay_codecs.so)
endif()
foreach(path IN LISTS expected_files)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(READ_SYMLINK ${prefix}/lib/libSinglePlayer.so.1 soname_target)
if(NOT soname_target MATCHES "^libSinglePlayer\\.so\\.1\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "libSinglePlayer.so.1 points at ${soname_target}")
endif()

run_step("dynamic symbols of the installed library" ${CMAKE_COMMAND} -DNM=${NM}
  -DLIBRARY=${prefix}/lib/libSinglePlayer.so.1
  -DEXPORTS=CreateSinglePlayerDll,ReleaseSinglePlayerDll -DNODE=SINGLEPLAYER_1
  -P ${SOURCE_DIR}/tests/sdk/CheckDynamicSymbols.cmake)

# find_package, from a project that knows only the prefix.
run_step("configure the find_package host" ${CMAKE_COMMAND}
  -S ${SOURCE_DIR}/tests/sdk/find_package_host -B ${WORKDIR}/find_package_host
  -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DHOST_SOURCE_DIR=${SOURCE_DIR})
run_step("build the find_package host" ${CMAKE_COMMAND} --build ${WORKDIR}/find_package_host)
run_step("make_stream" ${DEMO_RUNNER} ${WORKDIR}/find_package_host/make_stream ${run}/clip.vdps)
run_step("host_minimal" ${DEMO_RUNNER} ${WORKDIR}/find_package_host/host_minimal ${run}/clip.vdps
  ${run}/host_minimal.bmp)
message(STATUS "${step_output}")
if(NOT EXISTS ${run}/host_minimal.bmp)
  message(FATAL_ERROR "host_minimal saved no snapshot")
endif()

# pkg-config, with the compiler called directly.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run_step("pkg-config" pkg-config --cflags --libs singleplayer)
string(STRIP "${step_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run_step("pkg-config libdir" pkg-config --variable=libdir singleplayer)
string(STRIP "${step_output}" libdir)
run_step("build the C host" ${CC} -std=c11 -Wall -Wextra -Werror
  ${SOURCE_DIR}/tests/sdk/c_host.c ${flags} -Wl,-rpath,${libdir} -o ${run}/c_host)
run_step("c_host" ${DEMO_RUNNER} ${run}/c_host ${run}/c_host.bmp)
message(STATUS "${step_output}")
