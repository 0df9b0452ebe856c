# Cross toolchain for the 64-bit Windows build (mingw-w64, x86_64).
set(TINSEL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
