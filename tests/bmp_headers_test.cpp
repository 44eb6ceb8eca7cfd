// Header records: which line each cut-off file gets, and a byte-exact round
// trip whatever the host's byte order.
#include "bmp_headers.h"

#include <gtest/gtest.h>

#include <string>

#include "bmp_builder.h"
#include "memory_source.h"

namespace {

struct ReadOutcome {
    int ok;
    std::string line;
    BMPFileHeader file{};
    BMPInfoHeader info{};
};

ReadOutcome ReadFrom(const bmptest::Bytes& bytes) {
    ReadOutcome r{};
    bmpc::MemorySource in(bytes.data(), bytes.size());
    const char* line = nullptr;
    r.ok = bmpc::ReadBMPHeaders(in, r.file, r.info, line);
    r.line = line != nullptr ? line : "";
    return r;
}

// The line for a file of `size` bytes that starts with "BM".
const char* LineForCut(size_t size) {
    if (size < 2) return "Error: Could not read file signature.\n";
    if (size < 14) return "Error: Could not read file header.\n";
    if (size < 18) return "Error: Could not read info header size.\n";
    if (size < 54) return "Error: Could not read info header.\n";
    return "";
}

TEST(BmpHeaders, EveryCutGetsItsFieldsLine) {
    const bmptest::Bytes whole = bmptest::BuildBmp({});
    for (size_t size = 0; size <= 54; ++size) {
        const ReadOutcome r = ReadFrom(
            bmptest::Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)));
        EXPECT_EQ(r.ok, size == 54 ? 1 : 0) << size << " bytes";
        EXPECT_EQ(r.line, LineForCut(size)) << size << " bytes";
    }
}

TEST(BmpHeaders, SignatureMustBeBM) {
    for (const bmptest::Bytes& start : {bmptest::Bytes{'M', 'B'}, bmptest::Bytes{'B', 'm'},
                                        bmptest::Bytes{0, 0}, bmptest::Bytes{'B', 'N'}}) {
        bmptest::Bytes file = bmptest::BuildBmp({});
        file[0] = start[0];
        file[1] = start[1];
        for (size_t size : {size_t{2}, size_t{10}, file.size()}) {
            const ReadOutcome r = ReadFrom(
                bmptest::Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)));
            EXPECT_EQ(r.ok, 0);
            EXPECT_EQ(r.line, "Error: Invalid BMP file signature.\n");
        }
    }
}

TEST(BmpHeaders, FieldsAreLittleEndianAndRoundTrip) {
    // Every header byte distinct, so a swapped, shifted or dropped byte shows.
    bmptest::Bytes header(54);
    for (size_t i = 0; i < header.size(); ++i) header[i] = static_cast<uint8_t>(0x80 + i);
    header[0] = 'B';
    header[1] = 'M';
    const ReadOutcome r = ReadFrom(header);
    ASSERT_EQ(r.ok, 1) << r.line;
    EXPECT_EQ(r.file.bfSize, 0x85848382u);
    EXPECT_EQ(r.file.bfOffBits, static_cast<int32_t>(0x8D8C8B8Au));
    EXPECT_LT(r.file.bfOffBits, 0);
    EXPECT_EQ(r.info.biWidth, static_cast<int32_t>(0x95949392u));
    EXPECT_EQ(r.info.biBitCount, 0x9D9Cu);
    EXPECT_EQ(r.info.biClrImportant, 0xB5B4B3B2u);

    uint8_t written[bmpc::kMaxHeadersSize];
    ASSERT_EQ(bmpc::EncodeBMPHeaders(r.file, r.info, written), header.size());
    EXPECT_EQ(bmptest::Bytes(written, written + header.size()), header);
}

}  // namespace
