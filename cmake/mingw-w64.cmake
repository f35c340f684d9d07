# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model, which gives
# std::thread and std::mutex), the tests run under Wine.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OSTRIVANE_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${OSTRIVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTRIVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTRIVANE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OSTRIVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime of the compiler (libstdc++, libgcc, winpthread) is linked in, so the
# executables run without DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(OSTRIVANE_WINE NAMES wine wine64)
if(OSTRIVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTRIVANE_WINE})
endif()
