# 32-bit Windows (x86): PE32 for i386, stdcall names decorated with "@N".
set(SP_MINGW_PROCESSOR i686)
set(SP_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
