// std::filesystem paths from and to the tool's UTF-8 names. A path built
// from a plain std::string would read it in the system's narrow encoding,
// which on Windows is the ANSI code page, not UTF-8; on POSIX the bytes pass
// through either way.
#pragma once

#include <filesystem>
#include <string>

namespace bmpc {

inline std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

}  // namespace bmpc
