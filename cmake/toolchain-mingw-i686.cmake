# 32-bit Windows with the MinGW-w64 cross compilers (Debian:
# g++-mingw-w64-i686-posix). Builds tandrel.dll and the smoke test:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
#         -DTANDREL_BUILD_TESTS=OFF -DTANDREL_BUILD_TOOLS=OFF -DTANDREL_BUILD_BENCH=OFF -DTANDREL_BUILD_SMOKE=ON
# SSE2 arithmetic instead of the x87 unit, so that every operation rounds as
# on x86-64 and the output is the same bit for bit. Hosts built with other
# compilers may call in with the stack aligned to 4 bytes only, so functions
# that need more realign it themselves.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
