// make_sample OUTPUT: writes a 24-bit 256x128 colour gradient to try the tool on.
// It writes the file itself, byte by byte, so that it needs nothing from the
// tests and gives the same bytes on every system.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kWidth = 256;
constexpr uint32_t kHeight = 128;
constexpr uint32_t kStride = kWidth * 3;  // a multiple of 4: no row padding
constexpr uint32_t kPixelsAt = 14 + 40;

void PutLE(std::vector<unsigned char>& bytes, size_t offset, size_t size, uint32_t value) {
    for (size_t i = 0; i < size; ++i)
        bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::vector<unsigned char> Sample() {
    std::vector<unsigned char> file(kPixelsAt + kStride * kHeight, 0);
    PutLE(file, 0, 2, 0x4D42);  // "BM"
    PutLE(file, 2, 4, static_cast<uint32_t>(file.size()));
    PutLE(file, 10, 4, kPixelsAt);
    PutLE(file, 14, 4, 40);  // BITMAPINFOHEADER
    PutLE(file, 18, 4, kWidth);
    PutLE(file, 22, 4, kHeight);  // positive: bottom-up rows
    PutLE(file, 26, 2, 1);        // planes
    PutLE(file, 28, 2, 24);       // bits per pixel; compression stays 0
    PutLE(file, 34, 4, kStride * kHeight);
    PutLE(file, 38, 4, 2835);  // 72 dpi
    PutLE(file, 42, 4, 2835);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            unsigned char* px = file.data() + kPixelsAt + y * kStride + 3 * x;
            px[0] = static_cast<unsigned char>(2 * y);        // blue rises upwards
            px[1] = static_cast<unsigned char>(x);            // green rises to the right
            px[2] = static_cast<unsigned char>(255 - x / 2);  // red falls to the right
        }
    }
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    // A name that starts with '-' is an option nobody meant as a file.
    const bool help =
        argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0);
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs("usage: make_sample OUTPUT.bmp\n", help ? stdout : stderr);
        return help ? 0 : 2;
    }
    const std::vector<unsigned char> file = Sample();
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "make_sample: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
