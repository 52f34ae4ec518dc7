# Cross build for 64-bit Windows with Debian's MinGW-w64 GCC (the posix-thread
# variant, GCC 12: the kernels need its -ffixed-<reg>).
#   cmake -DCMAKE_TOOLCHAIN_FILE=windows/toolchain-mingw64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QARN_MINGW x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${QARN_MINGW}-gcc-posix ${QARN_MINGW}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QARN_MINGW}-g++-posix ${QARN_MINGW}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QARN_MINGW}-windres)
find_program(QARN_OBJDUMP NAMES ${QARN_MINGW}-objdump REQUIRED)
set(CMAKE_ASM_COMPILER ${CMAKE_C_COMPILER})

set(CMAKE_FIND_ROOT_PATH /usr/${QARN_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
