# find_package(Tinsel): the Tinselbay player library as the target Tinsel::tinsel.
include("${CMAKE_CURRENT_LIST_DIR}/TinselTargets.cmake")
