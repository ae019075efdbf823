# Checks the dynamic symbol table of the native shared library: the defined
# symbols are exactly the names in EXPORTS, each in the version node NODE,
# plus the node's own symbol.
# Usage: cmake -DNM=nm -DLIBRARY=... -DEXPORTS=a,b -DNODE=SINGLEPLAYER_1 -P CheckDynamicSymbols.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "\n$" "" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")

set(functions "")
set(problems "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>[@@<node>]"
  if(NOT line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^@ ]+)(@@?(.*))?$")
    string(APPEND problems "\n  unreadable line: ${line}")
    continue()
  endif()
  set(type ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  set(node "${CMAKE_MATCH_4}")
  if(type STREQUAL "A" AND name STREQUAL NODE)
    continue()  # the version node itself
  endif()
  list(APPEND functions ${name})
  if(NOT node STREQUAL NODE)
    string(APPEND problems "\n  ${name} is in version node '${node}', not ${NODE}")
  endif()
endforeach()
list(SORT functions)
string(REPLACE "," ";" expected "${EXPORTS}")
list(SORT expected)
if(NOT functions STREQUAL expected)
  string(APPEND problems "\n  defined symbols are [${functions}], expected [${expected}]")
endif()
if(problems)
  message(FATAL_ERROR "${LIBRARY}:${problems}")
endif()
message(STATUS "${LIBRARY}: ${functions} (${NODE})")
