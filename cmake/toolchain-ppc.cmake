# Cross build for the board's CPU: 32-bit big-endian PowerPC, with Debian's
# g++-powerpc-linux-gnu. Use: cmake -S . -B build-ppc -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-ppc.cmake
# The target's test binaries run on the development host under qemu-user (CTest prefixes every
# test command with the emulator below).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(VX_PPC_TRIPLET powerpc-linux-gnu)
set(VX_PPC_SYSROOT /usr/${VX_PPC_TRIPLET})
set(CMAKE_C_COMPILER ${VX_PPC_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VX_PPC_TRIPLET}-g++)

# Libraries and headers of the target only from its own tree; programs (python3 for the
# build-time generator) from the host.
set(CMAKE_FIND_ROOT_PATH ${VX_PPC_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc -L ${VX_PPC_SYSROOT})
