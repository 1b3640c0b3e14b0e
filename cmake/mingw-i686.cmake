# Cross-compiles the 32-bit Windows program with mingw-w64. The "posix"
# compiler variant is used because the stand-in library runs std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TUNNEL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TUNNEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TUNNEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TUNNEL_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${TUNNEL_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${TUNNEL_MINGW_PREFIX}-objdump)
set(CMAKE_STRIP ${TUNNEL_MINGW_PREFIX}-strip)

set(CMAKE_FIND_ROOT_PATH /usr/${TUNNEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests built for the host run the Windows programs through this.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
