# Cross toolchain for the 32-bit Windows build (mingw-w64, i686).
set(TINSEL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
