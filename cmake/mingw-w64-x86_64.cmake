# SPDX-License-Identifier: MIT
# Cross-building the terminal station for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64). The posix thread model: the win32 one has no std::recursive_mutex
# and no std::thread in this compiler's library.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PS_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static, the C and C++ runtimes and winpthread included, so the .exe imports
# only the system's own DLLs and runs from a copied folder.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
