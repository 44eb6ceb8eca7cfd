// The floor program against the call's oracle, so that the benchmarks
// compare the tool with a program that does the same job: every output byte
// for complete files of each depth, pad width and header size, with rows
// and pads cut by the end of its buffer; and a failure, never a success,
// for what it does not take.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "bmp_builder.h"
#include "scratch_dir.h"

namespace {

using bmptest::BmpLayout;
using bmptest::Bytes;

std::string floorPath;

int RunFloor(const std::string& in, const std::string& out, const std::string& level) {
    const std::string command =
        "'" + floorPath + "' '" + in + "' '" + out + "' " + level + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

BmpLayout Layout(int32_t width, int32_t height, uint16_t bitCount, uint32_t infoSize = 40) {
    BmpLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bitCount = bitCount;
    layout.infoSize = infoSize;
    return layout;
}

// "same", or where the two first differ.
std::string Compare(const Bytes& got, const Bytes& want) {
    if (got == want) return "same";
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    return "differ at " + std::to_string(at) + " (sizes " + std::to_string(got.size()) + " and " +
           std::to_string(want.size()) + ")";
}

TEST(Floor, GivesTheCallsBytes) {
    struct Case {
        const char* name;
        BmpLayout layout;
        size_t trailer;
    };
    const Case cases[] = {
        {"24-bit, no pad bytes", Layout(4, 3, 24), 0},
        {"24-bit, 3 pad bytes a row, top-down", Layout(3, -5, 24), 0},
        {"8-bit with a colour table, 3 pad bytes a row", Layout(5, 4, 8), 0},
        {"32-bit, V5 header", Layout(3, 2, 32, 124), 0},
        {"bytes after the pixel data", Layout(3, 2, 24), 37},
        // 300 KB and 560 KB: the buffer's end falls inside rows and pads.
        {"24-bit, 1 pad byte a row, several chunks", Layout(1001, 100, 24), 0},
        {"8-bit, 3 pad bytes a row, several chunks, top-down, trailer", Layout(5, -70000, 8), 5},
    };
    const bmptest::ScratchDir dir;
    const std::string in = dir / "in.bmp", out = dir / "out.bmp";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes input = bmptest::BuildBmp(c.layout);
        for (size_t i = 0; i < c.trailer; ++i) input.push_back(static_cast<uint8_t>(0x5A + i));
        bmptest::WriteFile(in, input);
        for (const int32_t level : {150, 50, 100, 12701}) {
            SCOPED_TRACE(level);
            ASSERT_EQ(RunFloor(in, out, std::to_string(level)), 0);
            EXPECT_EQ(Compare(bmptest::ReadFile(out), bmptest::Predict(input, level).file), "same");
        }
    }
}

TEST(Floor, FailsOnWhatItDoesNotTake) {
    const Bytes base = bmptest::BuildBmp(Layout(3, 2, 24));
    const auto with = [&](size_t offset, size_t size, uint32_t value) {
        Bytes bytes = base;
        bmptest::PutLE(bytes, offset, size, value);
        return bytes;
    };
    struct Case {
        const char* name;
        Bytes input;
        const char* level;
    };
    const Case cases[] = {
        {"not a bitmap", with(0, 2, 0x4D43), "150"},
        {"compressed", with(30, 4, 1), "150"},
        {"16-bit", with(28, 2, 16), "150"},
        {"core header", bmptest::BuildBmp(Layout(3, 2, 24, 12)), "150"},
        {"pixel data inside the headers", with(10, 4, 40), "150"},
        {"width 0", with(18, 4, 0), "150"},
        {"ends inside the pixel data", Bytes(base.begin(), base.end() - 1), "150"},
        {"headers cut short", Bytes(base.begin(), base.begin() + 40), "150"},
        {"level 0", base, "0"},
        {"level past 32 bits", base, "2147483648"},
    };
    const bmptest::ScratchDir dir;
    const std::string in = dir / "in.bmp", out = dir / "out.bmp";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bmptest::WriteFile(in, c.input);
        EXPECT_EQ(RunFloor(in, out, c.level), 1);
    }
    EXPECT_EQ(RunFloor(dir / "missing.bmp", out, "150"), 1);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH-OF-bmpcontrast_floor\n", argv[0]);
        return 2;
    }
    floorPath = argv[1];
    return RUN_ALL_TESTS();
}
