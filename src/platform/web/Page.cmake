# The page's static files: index.html, tinselbay.js, tinselbay.wasm and
# tinselbay.data (the data files, served to the program's file reader as
# data/... in the page's in-memory file system), and its sound: tinsel-sound.js,
# tinsel-worklet.js, tinsel-host.js and tinsel-player.wasm. The module player page player.html
# plays through the npm package, which scripts/build-web.sh assembles from the
# same worklet and module in npm/tinsel-player beside it.
set(TINSEL_WEB_DIR ${CMAKE_BINARY_DIR}/site CACHE PATH "Folder of the page's static files")
set(web ${PROJECT_SOURCE_DIR}/src/platform/web)
set_target_properties(Tinselbay PROPERTIES OUTPUT_NAME tinselbay RUNTIME_OUTPUT_DIRECTORY ${TINSEL_WEB_DIR})
target_link_options(Tinselbay PRIVATE
  --preload-file ${TINSEL_DATA_DIR}@/data
  -sENVIRONMENT=web
  -sALLOW_MEMORY_GROWTH=1
  -sINITIAL_MEMORY=16MB)
set(page_files index.html player.html tinsel-sound.js tinsel-worklet.js tinsel-host.js)
list(TRANSFORM page_files PREPEND ${web}/ OUTPUT_VARIABLE page_paths)
set_property(TARGET Tinselbay APPEND PROPERTY LINK_DEPENDS ${page_paths})
file(GLOB data_files CONFIGURE_DEPENDS ${TINSEL_DATA_DIR}/*)
set_property(TARGET Tinselbay APPEND PROPERTY LINK_DEPENDS ${data_files})
add_custom_command(TARGET Tinselbay POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${page_paths} ${TINSEL_WEB_DIR}
  COMMENT "The page beside the script")
# The page sounds only with its player module beside it.
add_dependencies(Tinselbay tinsel-worklet)

# The player where the page's sound is made: a module with no JavaScript glue,
# instantiated inside the audio worklet from bytes the page hands it.
add_executable(tinsel-worklet ${PROJECT_SOURCE_DIR}/src/app/worklet_renderer.cpp)
target_link_libraries(tinsel-worklet PRIVATE tinsel_render)
set_target_properties(tinsel-worklet PROPERTIES OUTPUT_NAME tinsel-player SUFFIX .wasm
  RUNTIME_OUTPUT_DIRECTORY ${TINSEL_WEB_DIR})
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/app/worklet_renderer.cpp PROPERTIES COMPILE_OPTIONS -fno-exceptions)
# Linked without the project's -fexceptions: its runtime would import glue.
set_property(TARGET tinsel-worklet PROPERTY LINK_OPTIONS -fno-exceptions -mbulk-memory -sSTANDALONE_WASM --no-entry -sALLOW_MEMORY_GROWTH=1
  -sINITIAL_MEMORY=4MB -sTOTAL_STACK=1MB -O2 ${TINSEL_WASM_LONG_CALL})
