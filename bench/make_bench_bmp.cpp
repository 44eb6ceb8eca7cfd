// bmpcontrast_bench_bmp OUTPUT WIDTH HEIGHT [SEED]: writes a 24-bit test
// bitmap from the shared builder, for bench/compare.sh.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "bmp_builder.h"

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fputs("usage: bmpcontrast_bench_bmp OUTPUT WIDTH HEIGHT [SEED]\n", stderr);
        return 2;
    }
    bmptest::BmpLayout layout;
    layout.width = std::atoi(argv[2]);
    layout.height = std::atoi(argv[3]);
    layout.bitCount = 24;
    if (argc == 5) layout.seed = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
    try {
        bmptest::WriteFile(argv[1], bmptest::BuildBmp(layout));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bmpcontrast_bench_bmp: %s\n", e.what());
        return 1;
    }
    return 0;
}
