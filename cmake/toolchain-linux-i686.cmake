# 32-bit x86 Linux with the machine's own GCC in -m32 mode (Debian:
# g++-multilib). SSE2 arithmetic instead of the x87 unit, so that every
# double and float operation rounds exactly as on x86-64 and the output is
# the same bit for bit. GoogleTest is compiled from its sources for this
# target:
#   cmake -S . -B build-m32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i686.cmake \
#         -DTANDREL_BUILD_GTEST_FROM_SOURCE=ON -DTANDREL_BUILD_TOOLS=OFF -DTANDREL_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# Libraries and packages for this target only, never the 64-bit ones.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
