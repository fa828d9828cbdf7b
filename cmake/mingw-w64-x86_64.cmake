# Cross-compiles brevlith.exe for 64-bit Windows with Debian's mingw-w64:
#   cmake -S . -B build/windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix-threads variant of the compiler is used because the code needs
# std::mutex; everything is linked statically so that brevlith.exe depends on
# system DLLs only. Tests run under Wine when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BREVLITH_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${BREVLITH_MINGW_PREFIX}-gcc-posix ${BREVLITH_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${BREVLITH_MINGW_PREFIX}-g++-posix
             ${BREVLITH_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${BREVLITH_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BREVLITH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# add_test() runs the .exe test binaries through Wine.
find_program(BREVLITH_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(BREVLITH_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BREVLITH_WINE})
endif()
