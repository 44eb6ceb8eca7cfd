// make_sample OUTPUT: writes a 24-bit 256x128 colour gradient to try the tool on.
#include <cstdio>
#include <exception>

#include "bmp_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make_sample OUTPUT.bmp\n", stderr);
        return 2;
    }
    bmptest::BmpLayout layout;
    layout.width = 256;
    layout.height = 128;
    layout.bitCount = 24;
    bmptest::Bytes file = bmptest::BuildBmp(layout);
    const size_t stride = bmptest::Stride(layout.width, layout.bitCount);
    for (size_t y = 0; y < 128; ++y) {
        for (size_t x = 0; x < 256; ++x) {
            unsigned char* px = file.data() + 54 + y * stride + 3 * x;
            px[0] = static_cast<unsigned char>(2 * y);        // blue rises upwards
            px[1] = static_cast<unsigned char>(x);            // green rises to the right
            px[2] = static_cast<unsigned char>(255 - x / 2);  // red falls to the right
        }
    }
    try {
        bmptest::WriteFile(argv[1], file);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
