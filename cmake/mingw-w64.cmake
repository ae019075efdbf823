# Cross build for Windows with Debian's MinGW-w64 (posix thread model, which
# provides std::thread and std::mutex). Included by the per-architecture
# toolchain files, which set SP_MINGW_PROCESSOR and SP_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${SP_MINGW_PROCESSOR})

set(CMAKE_C_COMPILER ${SP_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SP_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SP_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${SP_MINGW_TRIPLET}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${SP_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthreads go into every binary: the DLLs and test
# programs import nothing from MinGW's runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine with a private prefix inside the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
