# The page's static files: index.html, tinselbay.js, tinselbay.wasm and
# tinselbay.data (the data files, served to the program's file reader as
# data/... in the page's in-memory file system).
set(TINSEL_WEB_DIR ${CMAKE_BINARY_DIR}/site CACHE PATH "Folder of the page's static files")
set(web ${PROJECT_SOURCE_DIR}/src/platform/web)
set_target_properties(Tinselbay PROPERTIES OUTPUT_NAME tinselbay RUNTIME_OUTPUT_DIRECTORY ${TINSEL_WEB_DIR})
target_link_options(Tinselbay PRIVATE
  --preload-file ${TINSEL_DATA_DIR}@/data
  -sENVIRONMENT=web
  -sALLOW_MEMORY_GROWTH=1
  -sINITIAL_MEMORY=16MB)
set_property(TARGET Tinselbay APPEND PROPERTY LINK_DEPENDS ${web}/index.html)
file(GLOB data_files CONFIGURE_DEPENDS ${TINSEL_DATA_DIR}/*)
set_property(TARGET Tinselbay APPEND PROPERTY LINK_DEPENDS ${data_files})
add_custom_command(TARGET Tinselbay POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${web}/index.html ${TINSEL_WEB_DIR}/index.html
  COMMENT "The page beside the script")
