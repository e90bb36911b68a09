# Cross build for the field boards: 32-bit ARM, hard-float (Debian's arm-linux-gnueabihf
# toolchain), with the test programs run on the build machine through qemu-arm.
#
# time_t stays 32 bits wide on purpose (the packed date word and the calendar arithmetic are
# 32-bit); file offsets are 64 bits, because under emulation the kernel hands ext4's 64-bit
# directory cookies to what it sees as a 64-bit process, and a 32-bit-offset readdir() then
# gives up (EOVERFLOW) and returns nothing.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(KOVAN_ARMHF_TRIPLE arm-linux-gnueabihf)
set(KOVAN_ARMHF_SYSROOT /usr/${KOVAN_ARMHF_TRIPLE} CACHE PATH "Target libraries for qemu-arm")
set(KOVAN_ARMHF_CPU cortex-a7 CACHE STRING "CPU qemu-arm emulates")

set(CMAKE_C_COMPILER ${KOVAN_ARMHF_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KOVAN_ARMHF_TRIPLE}-g++)

set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

# Debian's cross packages put the target's headers and libraries where the cross compiler finds
# them by itself. Libraries, headers and packages are looked up for the target only, so the
# host's (GoogleTest, Google Benchmark, zlib, ...) are never mistaken for ARM ones; programs are
# the host's. A package installed elsewhere for armhf is named with <Package>_DIR.
set(CMAKE_FIND_ROOT_PATH ${KOVAN_ARMHF_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest (and anything else that runs a target program) goes through the emulator; -L points the
# emulated dynamic loader at the armhf libraries.
find_program(KOVAN_QEMU_ARM qemu-arm)
if(NOT KOVAN_QEMU_ARM)
  set(KOVAN_QEMU_ARM qemu-arm)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${KOVAN_QEMU_ARM} -cpu ${KOVAN_ARMHF_CPU} -L ${KOVAN_ARMHF_SYSROOT})
