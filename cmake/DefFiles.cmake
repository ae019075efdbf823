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
