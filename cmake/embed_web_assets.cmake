# Writes OUTPUT, a header holding the browser page's files (HTML, script,
# stylesheet, in that order) as byte arrays, so the program serves them
# without files of its own on disk. Run at build time: cmake -DOUTPUT=...
# -DINPUTS="a;b;c" -P embed_web_assets.cmake
set(text "// Generated from console/features/web/assets at build time: do not edit.\n")
string(APPEND text "#ifndef BRISVANE_CONSOLE_WEB_WEB_ASSETS_H\n#define BRISVANE_CONSOLE_WEB_WEB_ASSETS_H\n\n")
string(APPEND text "struct WebAsset {\n    const char* bytes;\n    unsigned length;\n};\n\n")
set(index 0)
set(table "")
foreach(input IN LISTS INPUTS)
    file(READ "${input}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR length "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    string(APPEND text "static const char WebAsset${index}[] = {${bytes}0};\n")
    string(APPEND table "    {WebAsset${index}, ${length}},\n")
    math(EXPR index "${index} + 1")
endforeach()
string(APPEND text "\nstatic const WebAsset WebAssets[] = {\n${table}};\n\n#endif\n")
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
