# CMake toolchain file for building velarix for aarch64 Linux on another
# machine, with Debian's cross compiler (g++-aarch64-linux-gnu), as
# scripts/aarch64.sh does. Libraries and headers come from the cross
# compiler's own tree; programs (the build tools, the Python that FindPython
# asks about the limited API) from the build machine.
#
# VELARIX_ARM64_ROOT, if set in the environment, names an arm64 Linux root:
# programs built here (the C++ tests, which ctest and gtest_discover_tests
# run) then run under qemu-aarch64-static with that root's dynamic loader and
# libraries. Read from the environment, so that CMake's own trial builds see
# it too.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(DEFINED ENV{VELARIX_ARM64_ROOT})
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L $ENV{VELARIX_ARM64_ROOT})
endif()
