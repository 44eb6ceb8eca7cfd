#include "narrow_path.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace bmpc {
namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

char ByteOf(uint32_t value) { return static_cast<char>(static_cast<unsigned char>(value)); }

}  // namespace

void FreeDeleter::operator()(void* p) const noexcept { std::free(p); }

NarrowPathPtr NarrowPath(const char16_t* path) noexcept {
    if (path == nullptr) return nullptr;
    size_t units = 0;
    while (path[units] != 0) ++units;
    // One UTF-16 unit never needs more than 3 UTF-8 bytes (a surrogate pair,
    // two units, needs 4), plus the terminator.
    if (units > (SIZE_MAX - 1) / 3) return nullptr;
    NarrowPathPtr narrow(static_cast<char*>(std::malloc(3 * units + 1)));
    if (!narrow) return nullptr;
    char* out = narrow.get();
    for (size_t i = 0; i < units; ++i) {
        uint32_t cp = path[i];
        if (IsHighSurrogate(path[i])) {
            if (i + 1 >= units || !IsLowSurrogate(path[i + 1])) return nullptr;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(path[i + 1]) - 0xDC00);
            ++i;
        } else if (IsLowSurrogate(path[i])) {
            return nullptr;
        }
        if (cp < 0x80) {
            *out++ = ByteOf(cp);
        } else if (cp < 0x800) {
            *out++ = ByteOf(0xC0 | (cp >> 6));
            *out++ = ByteOf(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out++ = ByteOf(0xE0 | (cp >> 12));
            *out++ = ByteOf(0x80 | ((cp >> 6) & 0x3F));
            *out++ = ByteOf(0x80 | (cp & 0x3F));
        } else {
            *out++ = ByteOf(0xF0 | (cp >> 18));
            *out++ = ByteOf(0x80 | ((cp >> 12) & 0x3F));
            *out++ = ByteOf(0x80 | ((cp >> 6) & 0x3F));
            *out++ = ByteOf(0x80 | (cp & 0x3F));
        }
    }
    *out = '\0';
    return narrow;
}

}  // namespace bmpc
