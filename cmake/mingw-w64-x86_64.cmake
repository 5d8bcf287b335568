# Cross-builds 64-bit Windows programs on Debian with the MinGW-w64 compiler
# (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Everything is linked statically (libgcc, libstdc++, winpthread), so that the .exe files need
# no DLL beside them and run on a stock Windows 10 or 11.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
# The "posix" thread model gives the whole C++ thread library; fall back to the plain name.
find_program(mingw_cxx NAMES ${mingw_prefix}-g++-posix ${mingw_prefix}-g++)
find_program(mingw_cc NAMES ${mingw_prefix}-gcc-posix ${mingw_prefix}-gcc)
if(NOT mingw_cxx)
  message(FATAL_ERROR "${mingw_prefix}-g++ not found: install Debian's g++-mingw-w64-x86-64")
endif()
set(CMAKE_CXX_COMPILER ${mingw_cxx})
if(mingw_cc)
  set(CMAKE_C_COMPILER ${mingw_cc})
endif()
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
