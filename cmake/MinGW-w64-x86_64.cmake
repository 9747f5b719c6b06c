# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain, POSIX thread model (std::thread
# and std::mutex over winpthreads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TUNEDEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TUNEDEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TUNEDEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TUNEDEX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TUNEDEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes and winpthreads are linked into every program and library, so that the
# plug-in DLL loads in a player that ships none of them, and the programs run as they are under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
