# Writes a C++ source that holds files as byte arrays, for the web page the
# programs serve: nothing of it is read from disk or fetched when they run.
# -DOUTPUT=web_assets.cpp -DENTRIES=FILE=PATH|FILE=PATH... (PATH: where it is served)
string(REPLACE "|" ";" entries "${ENTRIES}")
set(arrays "")
set(table "")
set(index 0)
foreach(entry IN LISTS entries)
    string(FIND "${entry}" "=" equals REVERSE)
    string(SUBSTRING "${entry}" 0 ${equals} file)
    math(EXPR start "${equals} + 1")
    string(SUBSTRING "${entry}" ${start} -1 path)
    get_filename_component(extension "${file}" LAST_EXT)
    if(extension STREQUAL ".html")
        set(type "text/html; charset=utf-8")
    elseif(extension STREQUAL ".css")
        set(type "text/css; charset=utf-8")
    elseif(extension STREQUAL ".js")
        set(type "text/javascript; charset=utf-8")
    elseif(extension STREQUAL ".png")
        set(type "image/png")
    else()
        message(FATAL_ERROR "${file}: no content type for ${extension}")
    endif()
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
    string(APPEND arrays "const unsigned char kFile${index}[] = {\n${bytes}};\n")
    string(APPEND table "    {\"${path}\", \"${type}\", {reinterpret_cast<const char*>(kFile${index}), ${size}}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Made by cmake/EmbedFiles.cmake; do not edit.
#include \"host/web_assets.h\"

#include <array>

namespace quillon {

namespace {

${arrays}
const std::array<WebAsset, ${index}> kAssets{{
${table}}};

} // namespace

const WebAsset* FindWebAsset(std::string_view path)
{
    for (const WebAsset& asset : kAssets) {
        if (asset.path == path) {
            return &asset;
        }
    }
    return nullptr;
}

} // namespace quillon
")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
