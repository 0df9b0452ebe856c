# Script mode: cmake -DINPUT=song.xm -DOUTPUT=embedded_song.cpp -P EmbedSong.cmake
# Writes the song file as the byte array EmbeddedSong with its size EmbeddedSongSize.
if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "EmbedSong.cmake needs -DINPUT=... and -DOUTPUT=...")
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(size EQUAL 0)
  message(FATAL_ERROR "EmbedSong.cmake: ${INPUT} is empty")
endif()
# Sixteen bytes to a line (the regular expressions have no counted repeats).
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from ${name}; do not edit.\n"
  "#include \"player/format/song.h\"\n\n"
  "extern const unsigned char EmbeddedSong[${size}] = {\n    ${bytes}\n};\n"
  "extern const unsigned EmbeddedSongSize = ${size};\n")
# Leave an unchanged source alone so nothing recompiles needlessly.
execute_process(COMMAND "${CMAKE_COMMAND}" -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")
