# Cross-compiles 32-bit Windows (PE32) code with Debian's clang, over the
# headers and libraries of Debian's mingw-w64 (its -posix GCC runtime, for
# the std::mutex that GoogleTest needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ksf_target i686-w64-mingw32)
set(ksf_gcc_dir /usr/lib/gcc/${ksf_target}/12-posix)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${ksf_target})
set(CMAKE_CXX_COMPILER_TARGET ${ksf_target})
set(CMAKE_RC_COMPILER ${ksf_target}-windres)

# clang finds the C headers in /usr/i686-w64-mingw32 itself, but not GCC's
# C++ library headers or its runtime libraries.
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${ksf_gcc_dir}/include/c++ -isystem ${ksf_gcc_dir}/include/c++/${ksf_target}")

set(CMAKE_FIND_ROOT_PATH /usr/${ksf_target})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime, as with g++. The -posix libgcc_eh calls winpthreads, which
# -pthread puts in the same link group.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -pthread -L${ksf_gcc_dir}")

set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wine-prefix")
