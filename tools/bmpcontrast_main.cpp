// bmpcontrast INPUT OUTPUT LEVEL: one call of the library from the shell.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "bmpcontrast.h"
#include "utf16.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage(const char* reason) {
    if (reason != nullptr) std::fprintf(stderr, "bmpcontrast: %s\n", reason);
    std::fputs("usage: bmpcontrast INPUT OUTPUT LEVEL\n", stderr);
    return kExitUsage;
}

bool ParseLevel(std::string_view text, int32_t& level) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, level);
    return ec == std::errc() && ptr == end;
}

// The library prints nothing for a file it cannot open; say which and why.
void ExplainOpenFailure(const char* what, const char* path, int error) {
    if (error != 0) {
        std::fprintf(stderr, "bmpcontrast: cannot %s '%s': %s\n", what, path, std::strerror(error));
    } else {
        std::fprintf(stderr, "bmpcontrast: cannot %s '%s'\n", what, path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return Usage(argc == 1 ? nullptr : "expected INPUT OUTPUT LEVEL");
    int32_t level = 0;
    if (!ParseLevel(argv[3], level)) return Usage("LEVEL must be an integer in the 32-bit range");
    const auto input = bmpcontrast_cli::Utf8ToUtf16(argv[1]);
    const auto output = bmpcontrast_cli::Utf8ToUtf16(argv[2]);
    if (!input) return Usage("INPUT is not valid UTF-8");
    if (!output) return Usage("OUTPUT is not valid UTF-8");

    errno = 0;
    const int32_t result = BMPContrast(input->c_str(), output->c_str(), level);
    const int error = errno;
    if (result == InputOpenFailed) ExplainOpenFailure("open input", argv[1], error);
    if (result == OutputOpenFailed) ExplainOpenFailure("write output", argv[2], error);
    return result == Success ? kExitOk : kExitFailed;
}
