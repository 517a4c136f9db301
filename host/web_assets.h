#pragma once

#include <string_view>

namespace quillon {

// A file of the web page, built into the program.
struct WebAsset {
    std::string_view path;
    std::string_view type;
    std::string_view data;
};

// The file served at a path; null for none.
const WebAsset* FindWebAsset(std::string_view path);

} // namespace quillon
