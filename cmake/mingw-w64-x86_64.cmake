# Cross-builds the Windows program on Linux with Debian's MinGW-w64 compilers
# (package g++-mingw-w64-x86-64). The -posix variants use the POSIX thread
# model that the C++ runtime of the other hosts also has. Linking is static, so
# rxb540.exe runs on Windows (and under Wine) without any MinGW DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RXB540_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RXB540_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RXB540_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RXB540_MINGW_PREFIX}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Headers and libraries come from the MinGW sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${RXB540_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
