# Cross-compiles for the board's CPU: ARM926EJ-S (ARMv5TE), soft float, ARM
# instruction set.
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabi.cmake -DBUILD_TESTS=OFF
# Debian's gcc-arm-linux-gnueabi and g++-arm-linux-gnueabi by default; set
# CROSS_COMPILE in the environment (as for the kernel) to use another
# toolchain for the same CPU, e.g. the board's own uClibc one.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

if(DEFINED ENV{CROSS_COMPILE})
  set(BOARD_CROSS_COMPILE "$ENV{CROSS_COMPILE}")
else()
  set(BOARD_CROSS_COMPILE arm-linux-gnueabi-)
endif()
set(CMAKE_C_COMPILER ${BOARD_CROSS_COMPILE}gcc)
set(CMAKE_CXX_COMPILER ${BOARD_CROSS_COMPILE}g++)

set(BOARD_CPU_FLAGS "-march=armv5te -mtune=arm926ej-s -mfloat-abi=soft -marm")
set(CMAKE_C_FLAGS_INIT "${BOARD_CPU_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${BOARD_CPU_FLAGS}")

# Libraries and headers come from the target's side only; programs that
# run during the build (none so far) from the PC.
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-sysroot
  OUTPUT_VARIABLE BOARD_SYSROOT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(BOARD_SYSROOT STREQUAL "/" OR BOARD_SYSROOT STREQUAL "")
  # Debian's cross compilers keep the target's files here instead.
  set(BOARD_SYSROOT /usr/${BOARD_CROSS_COMPILE})
  string(REGEX REPLACE "-$" "" BOARD_SYSROOT "${BOARD_SYSROOT}")
endif()
set(CMAKE_FIND_ROOT_PATH ${BOARD_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
