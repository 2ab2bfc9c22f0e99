# Cross-builds relief_forge for 64-bit Windows with Debian's MinGW-w64 (the
# posix-threads compilers), statically, so that relief_forge.exe needs no DLL
# beside it; CTest runs what it builds under Wine.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Wine quiet and without questions: no debug channels, no display, no offer
# to install Mono or Gecko, and a prefix (its C: drive) inside the build
# folder. C:\images\ is <prefix>/drive_c/images/.
find_program(RF_WINE NAMES wine64 wine PATHS /usr/lib/wine)
set(RF_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEDEBUG=-all WINEPREFIX=${RF_WINEPREFIX} WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=
    ${RF_WINE})
