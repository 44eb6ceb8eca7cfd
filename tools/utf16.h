// Command-line arguments arrive as UTF-8; the library takes UTF-16 paths.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bmpcontrast_cli {

// Null when `text` is not valid UTF-8 (such a name cannot be passed on).
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

}  // namespace bmpcontrast_cli
