# Checks a PE DLL with objdump -p: its file format is FORMAT (pei-i386 for
# PE32 x86, pei-x86-64 for PE32+ x64), it exports exactly the names in EXPORTS
# (undecorated), and imports from no DLL outside IMPORTS (names compared
# without regard to case, as Windows does).
# Usage: cmake -DOBJDUMP=... -DDLL=... -DFORMAT=pei-i386 -DEXPORTS=a;b -DIMPORTS=x.dll;y.dll
#        -P CheckPeTables.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
set(problems "")

if(NOT dump MATCHES "file format ${FORMAT}\n")
  string(REGEX MATCH "file format [^\n]+" seen "${dump}")
  string(APPEND problems "\n  ${seen}, expected ${FORMAT}")
endif()

# Exports: the name list that follows the "[Ordinal/Name Pointer] Table" line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
set(exported "")
if(at GREATER -1)
  string(SUBSTRING "${dump}" ${at} -1 tail)
  string(FIND "${tail}" "\n\n" end)
  string(SUBSTRING "${tail}" 0 ${end} table)
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^ \n]+" entries "${table}")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${entry}")
    list(APPEND exported ${name})
  endforeach()
endif()
list(SORT exported)
set(expected ${EXPORTS})
list(SORT expected)
if(NOT exported STREQUAL expected)
  string(APPEND problems "\n  exports are [${exported}], expected [${expected}]")
endif()

# Imports: every "DLL Name:" of the import tables.
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
set(allowed "")
foreach(name IN LISTS IMPORTS)
  string(TOLOWER "${name}" lower)
  list(APPEND allowed ${lower})
endforeach()
set(imported "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^DLL Name: *" "" name "${line}")
  string(STRIP "${name}" name)
  list(APPEND imported ${name})
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST allowed)
    string(APPEND problems "\n  imports from ${name}")
  endif()
endforeach()
if(NOT "vdplay.dll" IN_LIST allowed OR NOT imported MATCHES "[Vv][Dd][Pp][Ll][Aa][Yy]\\.dll")
  string(APPEND problems "\n  no import from VdPlay.dll")
endif()

if(problems)
  message(FATAL_ERROR "${DLL}:${problems}")
endif()
message(STATUS "exports: ${exported}; imports: ${imported}")
