# Writes OUTPUT, a C++ source that holds each host shell program in FOLDER
# (its .sh files) as a NUL-ended char array named after the file:
# native_player.sh becomes modrik::host::native_player_sh.
file(GLOB scripts "${FOLDER}/*.sh")
list(SORT scripts)
set(text "// Made at build time from the host shell programs; do not edit.\n")
string(APPEND text "namespace modrik::host {\n")
foreach(script IN LISTS scripts)
  get_filename_component(name "${script}" NAME)
  string(MAKE_C_IDENTIFIER "${name}" symbol)
  file(READ "${script}" bytes HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
  string(REGEX REPLACE "(('[^']*',){12})" "\\1\n  " bytes "${bytes}")
  string(APPEND text "extern const char ${symbol}[];\nconst char ${symbol}[] = {\n  ${bytes}'\\0'};\n")
endforeach()
string(APPEND text "}  // namespace modrik::host\n")
file(WRITE "${OUTPUT}" "${text}")
