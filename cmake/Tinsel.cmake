# Shared build settings and helpers for every target of the project.

add_compile_options(-Wall -Wextra)
if(TINSEL_WERROR)
  add_compile_options(-Werror)
endif()
if(TINSEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TINSEL_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Every header is included from the source root: "platform/counter.h", "data/pixmap.h".
set(TINSEL_SOURCE_ROOT ${PROJECT_SOURCE_DIR}/src)

if(WIN32)
  add_library(tinsel_gl_system INTERFACE)
  target_link_libraries(tinsel_gl_system INTERFACE opengl32 glu32)
elseif(EMSCRIPTEN)
  # emscripten leaves out catching unless asked: the one error path needs it.
  add_compile_options(-fexceptions)
  add_link_options(-fexceptions)
  # Bulk memory, which every current browser and node run: a memset or memcpy
  # is one instruction, which V8 runs as the machine's own, not a loop in
  # WebAssembly (the FT2 mixer clears its sums every stretch).
  add_compile_options(-mbulk-memory)
  add_link_options(-mbulk-memory)
  # For a module whose render is one call that loops until the song ends
  # (tinsel-render, the page's renderSong): V8 moves a function to its
  # optimising compiler only between calls, and binaryen's inlining of
  # functions called from one place would pull the mixing of every block into
  # that call, to run unoptimised all along.
  set(TINSEL_WASM_LONG_CALL "-sBINARYEN_EXTRA_PASSES=--one-caller-inline-max-function-size=0")
  # WebGL underneath, with the fixed-function calls emulated in JavaScript.
  add_library(tinsel_gl_system INTERFACE)
  target_link_options(tinsel_gl_system INTERFACE -sLEGACY_GL_EMULATION=1)
else()
  find_package(PkgConfig REQUIRED)
  # The demo's GL comes from the system's libGL; tests and tools render through
  # OSMesa. Never both in one binary: with GLVND first every gl* call is a no-op.
  set(OpenGL_GL_PREFERENCE GLVND)
  find_package(OpenGL REQUIRED)
  add_library(tinsel_gl_system INTERFACE)
  target_link_libraries(tinsel_gl_system INTERFACE OpenGL::GL OpenGL::GLU)
  pkg_check_modules(OSMESA IMPORTED_TARGET osmesa)
  pkg_check_modules(GLU IMPORTED_TARGET glu)
  find_package(SDL2 REQUIRED CONFIG)
  if(TINSEL_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
  endif()
  if(TINSEL_BENCH)
    find_package(benchmark REQUIRED)
  endif()
endif()

# tinsel_library(name SOURCES... [LIBS...]): a static library of system code.
function(tinsel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${TINSEL_SOURCE_ROOT})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# tinsel_test(name SOURCES... [LIBS...] [LABELS...]): a GoogleTest executable.
# Tests that draw link tinsel_offscreen_gl, never the system GL.
function(tinsel_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${TINSEL_SOURCE_ROOT} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  # g++ 12 at -O3 reports copies into strings and vectors built up in tests
  # as out of bounds (its own library code, inlined); the tests run under
  # ASan, which checks the real accesses.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${name} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread -Wno-restrict)
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}"
      ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
endfunction()

# tinsel_bench(name SOURCES... [LIBS...]): a Google Benchmark executable.
function(tinsel_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${TINSEL_SOURCE_ROOT} ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# tinsel_fuzz(name SOURCES... [LIBS...]): a libFuzzer target (clang, TINSEL_FUZZ=ON).
function(tinsel_fuzz name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${TINSEL_SOURCE_ROOT} ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()
