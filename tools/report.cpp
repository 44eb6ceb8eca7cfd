#include "report.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "system.h"

namespace bmpcontrast_cli {
namespace {

// The length of the UTF-8 sequence starting at `s[at]`, or 0 where it is not
// one (overlong forms and surrogates included).
size_t SequenceLength(const std::string& s, size_t at) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[at + k]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    uint32_t cp = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, cp = lead & 0x1Fu;
    if (lead >= 0xE0 && lead <= 0xEF) length = 3, cp = lead & 0x0Fu;
    if (lead >= 0xF0 && lead <= 0xF4) length = 4, cp = lead & 0x07u;
    if (length == 0 || at + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(k) & 0x3Fu);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
    return length;
}

}  // namespace

bool ValidUtf8(const std::string& text) {
    for (size_t at = 0, length = 0; at < text.size(); at += length) {
        if ((length = SequenceLength(text, at)) == 0) return false;
    }
    return true;
}

std::atomic<int> gOutputError{0};

void Emit(int fd, const std::string& text) {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const long n = bmpc::sys::WriteSome(fd, data, left);
        if (n <= 0) {
            int expected = 0;
            if (fd == 1) gOutputError.compare_exchange_strong(expected, n < 0 ? errno : ENOSPC);
            return;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
}

int OutputError() { return gOutputError.load(); }

void Say(const std::string& text) { Emit(2, "bmpcontrast: " + text + "\n"); }

std::string Quoted(const std::string& name) {
    std::string shown = "'";
    for (size_t at = 0; at < name.size();) {
        const size_t length = SequenceLength(name, at);
        const auto c = static_cast<unsigned char>(name[at]);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
            ++at;
        } else {
            shown.append(name, at, length);
            at += length;
        }
    }
    return shown + "'";
}

}  // namespace bmpcontrast_cli
