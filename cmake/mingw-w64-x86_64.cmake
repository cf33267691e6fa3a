# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix: the
# POSIX thread model, so std::thread and std::mutex work).
#   cmake -S . -B build-windows/program --toolchain cmake/mingw-w64-x86_64.cmake
# CORVANTIS_WINDOWS_DEPS names a folder of libraries built with this same toolchain
# (tools/build-windows puts libjpeg-turbo there); programs run on this machine through wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw}-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw} ${CORVANTIS_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Variables a try_compile project must see as well.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CORVANTIS_WINDOWS_DEPS)

# The C and C++ runtimes (libgcc, libstdc++, winpthreads) are linked in, so the program needs
# nothing beside the system's own libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Windows programs run here under wine (64-bit).
find_program(CORVANTIS_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(CORVANTIS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANTIS_WINE})
endif()
find_program(CORVANTIS_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine
             NO_CMAKE_FIND_ROOT_PATH)
