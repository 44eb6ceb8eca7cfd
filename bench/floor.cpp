// bmpcontrast_floor INPUT OUTPUT LEVEL: the simplest correct program for the
// job, the floor bench/compare.sh times beside cp and the tool. One thread,
// one 256 KiB buffer: read, the engine's fastest kernel in place, write.
// The bytes before the pixel data and after it, and every row's pad bytes,
// go out as they are. Takes uncompressed 8-, 24- and 32-bit files with an
// info header of 40 bytes or more and the pixels after it; refuses the
// rest, and fails on a file that ends inside its pixel data.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "contrast_curve.h"
#include "kernels/contrast_kernels.h"

namespace {

constexpr size_t kBufferBytes = size_t{256} << 10;
uint8_t buffer[kBufferBytes];

// Fills `n` bytes, fewer only at the end of the file; -1 on a read error.
ssize_t ReadFull(int fd, uint8_t* at, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, at + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

bool WriteAll(int fd, const uint8_t* at, size_t n) {
    while (n != 0) {
        const ssize_t w = write(fd, at, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        at += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

uint32_t Le(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

int Fail(const char* why) {
    std::fprintf(stderr, "bmpcontrast_floor: %s\n", why);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: bmpcontrast_floor INPUT OUTPUT LEVEL\n", stderr);
        return 2;
    }
    const long level = std::strtol(argv[3], nullptr, 10);
    if (level <= 0 || level > INT32_MAX) return Fail("the level must be from 1 to 2147483647");
    const int in = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (in < 0) return Fail("cannot open the input");
    ssize_t n = ReadFull(in, buffer, kBufferBytes);
    if (n < 0) return Fail("cannot read the input");

    // The headers are in the first chunk.
    const uint8_t* h = buffer;
    if (n < 54 || Le(h, 2) != 0x4D42) return Fail("not a bitmap");
    const uint64_t offBits = Le(h + 10, 4), info = Le(h + 14, 4), bits = Le(h + 28, 2);
    const auto width = static_cast<int32_t>(Le(h + 18, 4));
    const auto height = static_cast<int32_t>(Le(h + 22, 4));
    if (info < 40 || Le(h + 30, 4) != 0 || (bits != 8 && bits != 24 && bits != 32) || width <= 0 ||
        height == 0 || height == INT32_MIN || offBits < 14 + info) {
        return Fail("not a bitmap this program takes");
    }
    const uint64_t rowBytes = static_cast<uint64_t>(width) * (bits / 8);
    const uint64_t stride = (rowBytes + 3) / 4 * 4;
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -int64_t{height} : height);
    const uint64_t pixelsEnd = offBits + stride * rows;  // below 2^64: stride < 2^33, rows <= 2^31

    const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return Fail("cannot create the output");
    bmpc::ContrastTable table;
    bmpc::BuildContrastTable(bmpc::ContrastFactor(static_cast<int32_t>(level)), table);
    const bmpc::ContrastKernel kernel = bmpc::SelectKernel().apply;
    uint64_t pos = 0;  // where buffer[0] is in the file
    while (n > 0) {
        const uint64_t stop = std::min(pos + static_cast<uint64_t>(n), pixelsEnd);
        // The chunk's pixel bytes, a run at a time: to a row's last pixel
        // byte, or to the chunk's end where rows have no pad bytes.
        for (uint64_t at = std::max(pos, offBits); at < stop;) {
            const uint64_t inRow = (at - offBits) % stride;
            if (inRow >= rowBytes) {
                at += stride - inRow;
                continue;
            }
            const uint64_t run =
                stride == rowBytes ? stop - at : std::min(rowBytes - inRow, stop - at);
            uint8_t* p = buffer + (at - pos);
            kernel(p, p, static_cast<size_t>(run), table);
            at += run;
        }
        if (!WriteAll(out, buffer, static_cast<size_t>(n))) return Fail("cannot write the output");
        pos += static_cast<uint64_t>(n);
        n = ReadFull(in, buffer, kBufferBytes);
    }
    if (n < 0) return Fail("cannot read the input");
    if (pos < pixelsEnd) return Fail("the input ends inside its pixel data");
    if (close(out) != 0) return Fail("cannot write the output");
    close(in);
    return 0;
}
