# Static executables for the board's CPU, ARM926EJ-S (ARMv5TE, soft float,
# ARM instruction set), against Debian's musl for armel (musl-dev:armel):
# no interpreter, no shared library, the C library inside. They run on the
# board whatever C library it has.
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-musleabi.cmake -DBUILD_TESTS=OFF
#
# Debian's glibc cross compilers, switched to musl by the specs file that
# musl-dev:armel ships for its wrapper arm-linux-musleabi-gcc: musl's
# headers, start files and libc.a in place of glibc's. g++ takes the same
# specs; only libstdc++'s headers must be added (below).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(MUSL_SPECS /usr/lib/arm-linux-musleabi/musl-gcc.specs)
if(NOT EXISTS ${MUSL_SPECS})
  message(FATAL_ERROR "${MUSL_SPECS} is missing: scripts/install-deps board")
endif()

# With the compiler itself, so that every compile, link and CMake check
# gets them, and a -DCMAKE_CXX_FLAGS=... cannot silently drop them.
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc -specs=${MUSL_SPECS})
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++ -specs=${MUSL_SPECS})

set(BOARD_CPU_FLAGS "-march=armv5te -mtune=arm926ej-s -mfloat-abi=soft -marm")
set(CMAKE_C_FLAGS_INIT "${BOARD_CPU_FLAGS}")
# libstdc++'s (glibc-flavoured) os_defines.h asks __GLIBC_PREREQ, which musl
# lacks. 1 is musl's true answer for GCC 12's uses of it; with 0 libstdc++
# would take a threaded static program for single-threaded (it would test a
# weak pthread_cancel), and shared_ptr counts would stop being atomic.
set(CMAKE_CXX_FLAGS_INIT "${BOARD_CPU_FLAGS} -D'__GLIBC_PREREQ(a,b)=1'")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Kernel headers (linux/watchdog.h, ...), which musl does not ship: links
# to the kernel-only folders of the cross compiler's include folder. That
# folder as a whole would let glibc's headers in where musl has none.
set(MUSL_KERNEL_HEADERS ${CMAKE_BINARY_DIR}/arm-musl-kernel-headers)
foreach(dir asm asm-generic linux mtd)
  if(NOT EXISTS ${MUSL_KERNEL_HEADERS}/${dir})
    file(MAKE_DIRECTORY ${MUSL_KERNEL_HEADERS})
    file(CREATE_LINK /usr/arm-linux-gnueabi/include/${dir} ${MUSL_KERNEL_HEADERS}/${dir} SYMBOLIC)
  endif()
endforeach()

# libstdc++'s headers first: its <cstdlib> and others #include_next the C
# library's.
execute_process(COMMAND arm-linux-gnueabi-g++ -dumpversion
  OUTPUT_VARIABLE GXX_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "^[0-9]+" GXX_MAJOR "${GXX_VERSION}")
set(LIBSTDCXX_HEADERS /usr/arm-linux-gnueabi/include/c++/${GXX_MAJOR})
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${LIBSTDCXX_HEADERS} ${LIBSTDCXX_HEADERS}/arm-linux-gnueabi ${LIBSTDCXX_HEADERS}/backward
  ${MUSL_KERNEL_HEADERS})
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${MUSL_KERNEL_HEADERS})

# The board has no library but musl, which the compiler finds itself:
# find_*() must return neither the PC's nor glibc's armel files.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_BINARY_DIR}/arm-musl-root)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
