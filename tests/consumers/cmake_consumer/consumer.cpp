// Converts a 1x1 24-bit bitmap and checks the result bytes, then a missing file.
#include <bmpcontrast.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

static_assert(BMPCONTRAST_VERSION_MAJOR == 1, "installed header has the wrong version");

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string dir = argv[1];
    // 14-byte file header, 40-byte info header, one BGR pixel plus one pad byte.
    const unsigned char bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0,   54,  0,   0, 0,  40,
                                   0,   0,   0,  1, 0, 0, 0, 1, 0, 0,   0,   1,   0, 24, 0,
                                   0,   0,   0,  0, 4, 0, 0, 0, 0, 0,   0,   0,   0, 0,  0,
                                   0,   0,   0,  0, 0, 0, 0, 0, 0, 100, 128, 200, 7};
    std::ofstream(dir + "/in.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bmp), 58);

    const std::u16string in = u"in.bmp", out = u"out.bmp";
    const std::u16string base(dir.begin(), dir.end());  // ASCII temp path
    const int32_t rc = BMPContrast((base + u"/" + in).c_str(), (base + u"/" + out).c_str(), 200);
    if (rc != BMPCONTRAST_SUCCESS) {
        std::fprintf(stderr, "consumer: result %d\n", static_cast<int>(rc));
        return 1;
    }
    std::ifstream result(dir + "/out.bmp", std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(result), {}};
    // (v - 128) * 2 + 128, clamped: 100 -> 72, 128 -> 128, 200 -> 255; pad kept.
    if (bytes.size() != 58 || bytes[54] != 72 || bytes[55] != 128 || bytes[56] != 255 ||
        bytes[57] != 7) {
        std::fprintf(stderr, "consumer: unexpected output\n");
        return 1;
    }
    if (BMPContrast((base + u"/missing.bmp").c_str(), (base + u"/x.bmp").c_str(), 150) !=
        BMPCONTRAST_INPUT_OPEN_FAILED) {
        std::fprintf(stderr, "consumer: missing input not reported\n");
        return 1;
    }
    std::printf("cmake consumer: BMPContrast %s works\n", BMPCONTRAST_VERSION_STRING);
    return 0;
}
