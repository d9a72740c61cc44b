#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace talviren {

// Whether a file name ends with the extension (".xlsx"), letters compared without case.
inline bool hasExtension(std::string_view path, std::string_view extension) {
    if (path.size() < extension.size()) {
        return false;
    }
    return std::equal(extension.begin(), extension.end(), path.end() - extension.size(),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

} // namespace talviren
