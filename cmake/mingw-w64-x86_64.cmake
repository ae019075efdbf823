# 64-bit Windows (x64): PE32+ for x86-64, one calling convention, no name
# decorations.
set(SP_MINGW_PROCESSOR x86_64)
set(SP_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
