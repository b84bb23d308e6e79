# SPDX-License-Identifier: GPL-2.0-or-later
# Windows x86-64 cross build with Debian's MinGW-w64. The -posix compilers are required: the
# default (win32) thread model has no std::thread, std::mutex or std::condition_variable.
#   cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RAIDGUI_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RAIDGUI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAIDGUI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RAIDGUI_MINGW_TRIPLE}-windres)

# Headers and libraries come only from the MinGW sysroot; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${RAIDGUI_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: libgcc, libstdc++ and winpthread linked in, no MinGW DLLs needed
# next to the exe (neither under Wine nor on a user's machine).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# try_run and CTest start the Windows executables through Wine. Debian 12's wine64 package puts
# the 64-bit loader behind /usr/bin/wine (there is no /usr/bin/wine64).
find_program(RAIDGUI_WINE NAMES wine wine64 wine-stable)
if(RAIDGUI_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RAIDGUI_WINE})
endif()
