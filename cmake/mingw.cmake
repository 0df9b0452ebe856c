# Cross toolchain for the Windows builds (mingw-w64): the wrapper files set
# TINSEL_MINGW_ARCH to i686 (the 32-bit exe we ship) or x86_64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TINSEL_MINGW_ARCH})
set(CMAKE_C_COMPILER ${TINSEL_MINGW_ARCH}-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${TINSEL_MINGW_ARCH}-w64-mingw32-g++)
set(CMAKE_RC_COMPILER ${TINSEL_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TINSEL_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# A bare Windows has no libgcc/libstdc++ DLLs: link the runtime statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
