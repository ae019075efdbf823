# Module-definition (.def) files for the target architecture.
#
# The .def files in the source tree are written for 32-bit Windows, where a
# stdcall function's name carries "@N" (N = bytes of arguments). 64-bit
# Windows has one calling convention and no such decorations, so there the
# same file is used with the decorations removed. One source serves both.
#
#   sp_def_file(<source.def> <out-var>)
# sets <out-var> to the path of the .def to use for this build.
function(sp_def_file source out_var)
  get_filename_component(name ${source} NAME)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(${out_var} ${source} PARENT_SCOPE)
    return()
  endif()
  file(STRINGS ${source} lines)
  set(content "; Generated from ${name} for 64-bit Windows: no stdcall decorations.\n")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^[ \t]*;")
      string(REGEX REPLACE "@[0-9]+" "" line "${line}")
      # "Name = Name" (an alias of the decorated name) is just "Name" now.
      if(line MATCHES "^([ \t]*)([A-Za-z0-9_]+)[ \t]*=[ \t]*([A-Za-z0-9_]+)[ \t]*$"
         AND CMAKE_MATCH_2 STREQUAL CMAKE_MATCH_3)
        set(line "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
      endif()
    endif()
    string(APPEND content "${line}\n")
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/def/${name})
  file(CONFIGURE OUTPUT ${out} CONTENT "${content}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()

# The decorations of VdPlay.def are written by hand; this makes the compiler
# check them against VdPlay.h, which declares the functions.
#
#   sp_check_vdplay_def(<target> <VdPlay.def> <VdPlay.h>)
# adds to <target> a generated source with, for every name of the .def, a
# compile-time check that the header declares the function (VDPLAY_CALL) and
# that its "@N" is 4 bytes per argument (every argument is 32 bits on 32-bit
# Windows). A name the header lacks or a wrong argument count fails the build
# on every platform, not only where the decorations are used.
function(sp_check_vdplay_def target source header)
  get_filename_component(name ${source} NAME_WE)
  get_filename_component(header_name ${header} NAME)
  file(STRINGS ${source} lines)
  set(checks "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*([A-Za-z_][A-Za-z0-9_]*)@([0-9]+)[ \t]*$")
      string(APPEND checks
        "static_assert(argumentBytes(&${CMAKE_MATCH_1}) == ${CMAKE_MATCH_2},\n"
        "              \"${name}.def: ${CMAKE_MATCH_1}@${CMAKE_MATCH_2} does not match ${header_name}\");\n")
    elseif(NOT line MATCHES "^[ \t]*(;.*)?$" AND NOT line MATCHES "^(LIBRARY|EXPORTS)")
      message(FATAL_ERROR "${source}: cannot check \"${line}\" (expected Name@N)")
    endif()
  endforeach()
  if(checks STREQUAL "")
    message(FATAL_ERROR "${source}: no decorated names to check")
  endif()
  # Built with string(APPEND), not as a list: the code's semicolons stay.
  set(content "// Generated from ${name}.def: its decorations checked against ${header_name}.\n")
  string(APPEND content "#include <cstddef>\n\n#include \"${header}\"\n\nnamespace {\n\n")
  string(APPEND content "template <typename R, typename... Args>\n")
  string(APPEND content "constexpr std::size_t argumentBytes(R(VDPLAY_CALL*)(Args...)) {\n")
  string(APPEND content "  return 4 * sizeof...(Args);\n}\n\n${checks}\n}  // namespace\n")
  set(out ${CMAKE_CURRENT_BINARY_DIR}/def/${name}DefCheck.cpp)
  file(CONFIGURE OUTPUT ${out} CONTENT "${content}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  target_sources(${target} PRIVATE ${out})
endfunction()
