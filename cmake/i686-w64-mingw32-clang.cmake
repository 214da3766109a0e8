# Cross-compiles 32-bit Windows (PE32) code with Debian's clang, over the
# headers and libraries of Debian's mingw-w64 and its win32 thread model GCC
# runtime, as with g++.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ksf_target i686-w64-mingw32)
set(ksf_gcc_dir /usr/lib/gcc/${ksf_target}/12-win32)

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

# Static runtime, as with g++.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -L${ksf_gcc_dir}")

set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wine-prefix")
