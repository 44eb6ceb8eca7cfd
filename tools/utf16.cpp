#include "utf16.h"

#include <cstdint>

namespace bmpcontrast_cli {

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0;
        size_t extra = 0;
        uint32_t least = 0;  // smallest code point for this length: no overlong forms
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1Fu, extra = 1, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0Fu, extra = 2, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07u, extra = 3, least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (text.size() - i - 1 < extra) return std::nullopt;
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
        i += 1 + extra;
    }
    return out;
}

}  // namespace bmpcontrast_cli
