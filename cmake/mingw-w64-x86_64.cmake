# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads). The program and
# the tools come out as single .exe files: libgcc, libstdc++ and winpthread are linked in.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DOVRA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DOVRA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DOVRA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${DOVRA_MINGW_TRIPLET}-windres)

# Libraries and headers of the target only (zlib from libz-mingw-w64-dev lives here).
set(CMAKE_FIND_ROOT_PATH /usr/${DOVRA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Wide-character Windows API by default; no min/max macros from windows.h.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

# Test programs run under Wine when ctest or gtest_discover_tests needs to start them.
find_program(DOVRA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(DOVRA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DOVRA_WINE})
endif()
set(ZLIB_USE_STATIC_LIBS ON)
