// The file job's own choices: when one file is shared by several threads,
// and that sharing it changes no byte, just below and just above the size
// it starts at.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmp_builder.h"
#include "file_job.h"
#include "memory_source.h"
#include "ranges.h"
#include "ranges_run.h"
#include "scratch_dir.h"
#include "scratch_file.h"
#include "system.h"

namespace {

using bmptest::Bytes;

bmpc::Description Described(const Bytes& bytes, int64_t fileSize = -1) {
    bmpc::MemorySource source(bytes.data(), bytes.size());
    bmpc::Description d;
    bmpc::Describe(source, 150, d);
    if (fileSize >= 0) d.fileSize = fileSize;
    return d;
}

// A 24-bit file with about `pixels` bytes of pixel data, rows of 4000 bytes.
bmptest::BmpLayout Around(uint64_t pixels, uint16_t bits = 24) {
    const int32_t width = bits == 24 ? 1333 : bits == 32 ? 1000 : 4000;
    return {.width = width,
            .height = static_cast<int32_t>(pixels / 4000),
            .bitCount = bits,
            .paletteEntries = bits == 8 ? 256 : -1};
}

TEST(Ranges, WhenAFileIsShared) {
    const uint64_t from = bmpc::files::kRangesFrom;
    struct Case {
        const char* name;
        bmptest::BmpLayout layout;
        unsigned threads, expected;
        bool cut = false;
    } cases[] = {
        {"below the threshold", Around(from - 4000), 4, 1},
        {"at the threshold", Around(from + 4000), 4, 2},
        {"one thread asked for", Around(from + 4000), 1, 1},
        {"more threads than stretches", Around(3 * bmpc::files::kMinRange + 4000), 8, 3},
        {"32-bit", Around(from + 4000, 32), 2, 2},
        {"8-bit: its warnings need one pass", Around(from + 4000, 8), 4, 1},
        {"not whole on disk", Around(from + 4000), 4, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = bmptest::BuildBmp(c.layout);
        const int64_t size = static_cast<int64_t>(file.size()) - (c.cut ? 5000 : 0);
        bmpc::Description d = Described(file, size);
        d.complete = !c.cut;
        EXPECT_EQ(bmpc::files::RangeThreads(d, c.threads),
                  bmpc::sys::PositionalIo() ? c.expected : 1u);
    }
}

// The tool's and Python's conversion of a file just above the threshold
// on several threads gives the bytes of one thread, lines included.
TEST(Ranges, SharingAFileChangesNoByte) {
    if (!bmpc::sys::PositionalIo()) GTEST_SKIP() << "one thread a file on this system";
    const bmptest::ScratchDir dir;
    for (const uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
        SCOPED_TRACE(bits);
        bmptest::BmpLayout layout = Around(bmpc::files::kRangesFrom + 8000, bits);
        layout.seed = bits;
        Bytes input = bmptest::BuildBmp(layout);
        input.insert(input.end(), {'t', 'r', 'a', 'i', 'l'});  // carried after the pixels
        const std::string in = dir / "in.bmp";
        bmptest::WriteFile(in, input);
        std::vector<Bytes> outputs;
        for (const unsigned threads : {1u, 2u, 3u}) {
            bmpc::files::Job job;
            job.input = in;
            job.output = dir / ("out" + std::to_string(threads) + ".bmp");
            job.level = 150;
            job.threads = threads;
            std::vector<uint8_t> buffer(256 << 10);
            const bmpc::files::Result r = bmpc::files::Run(job, buffer.data(), buffer.size());
            ASSERT_EQ(r.status, bmpc::files::Status::Converted);
            ASSERT_EQ(r.lines.size(), 1u);
            EXPECT_EQ(r.lines[0].kind, bmpc::Kind::Success);
            outputs.push_back(bmptest::ReadFile(job.output));
        }
        EXPECT_EQ(outputs[0], bmptest::Predict(input, 150).file);
        EXPECT_EQ(outputs[1], outputs[0]);
        EXPECT_EQ(outputs[2], outputs[0]);
    }
}

// More threads than stretches the alignment allows: the cuts that fall
// together make one stretch, so no thread writes the headers or the
// trailer a second time.
TEST(Ranges, MoreThreadsThanStretches) {
    if (!bmpc::sys::PositionalIo()) GTEST_SKIP() << "one thread a file on this system";
    const bmptest::ScratchDir dir;
    struct Case {
        int32_t width, height;
        unsigned threads;
        uint64_t align;
    };
    for (const Case c : {Case{1, 1, 5, 1}, Case{1, 2, 8, 1}, Case{1, 1, 2, 4096},
                         Case{1000, 3, 3, 4096}, Case{1000, 4, 4, 4096}, Case{0, 0, 3, 1}}) {
        SCOPED_TRACE(testing::Message()
                     << c.width << "x" << c.height << " on " << c.threads << " by " << c.align);
        Bytes input = bmptest::BuildBmp({.width = c.width, .height = c.height});
        input.insert(input.end(), {'t', 'r', 'a', 'i', 'l'});
        const std::string in = dir / "in.bmp";
        bmptest::WriteFile(in, input);
        const bmptest::StreamOutcome got =
            bmptest::RunInRanges(in, dir / "out.bmp", 150, c.threads, 4096, c.align);
        const bmptest::Expected want = bmptest::Predict(input, 150);
        EXPECT_EQ(got.result, want.result);
        EXPECT_EQ(got.out, want.out);
        EXPECT_EQ(got.err, want.err);
        EXPECT_EQ(got.file, want.file);
    }
}

// Between its close and its rename a scratch file is still in use: a run
// starting in the same folder then must not take it for a killed run's.
// Once its owner is gone, a kept one is stale.
TEST(Scratch, StaleOnlyOnceItsOwnerIsGone) {
    const bmptest::ScratchDir dir;
    const std::string out = dir / "out.bmp";
    std::string kept;
    {
        bmpc::files::ScratchFile moved, left;
        ASSERT_EQ(moved.Create(out, 0644, false), 0);
        ASSERT_EQ(left.Create(out, 0644, false), 0);
        ASSERT_EQ(moved.Close(), 0);
        ASSERT_EQ(left.Close(), 0);
        EXPECT_FALSE(bmpc::sys::RemoveIfStale(moved.path()));
        EXPECT_FALSE(bmpc::sys::RemoveIfStale(left.path()));
        EXPECT_EQ(moved.MoveTo(out, true), 0);
        left.Keep();
        kept = left.path();
    }
    EXPECT_TRUE(bmpc::sys::Stat(out).has_value());
    EXPECT_TRUE(bmpc::sys::RemoveIfStale(kept));
}

}  // namespace
