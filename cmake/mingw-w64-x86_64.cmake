# Cross build for 64-bit Windows with MinGW-w64 g++, posix thread model (std::thread and
# std::mutex through winpthreads). The runtime is linked statically, so the programs need no
# DLL beside them, on Windows or under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELORIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELORIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELORIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PELORIN_MINGW_TRIPLET}-windres)

# Libraries and packages come from the MinGW sysroot only, never from the host's /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${PELORIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs (and gtest discovery) run under Wine, in a prefix of this build tree's own.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
endif()
