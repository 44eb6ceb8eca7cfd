// Every bitmap under the folders given, at a range of levels, through the
// exported call (file to file, its printed lines captured) and through the
// engine's streamed conversion twice: from memory through the smallest
// buffer, and from the file through an odd-sized one, so that chunks split
// rows and pixels anywhere; and through the file job on several threads,
// each converting a stretch that starts anywhere. All must give the same result, the same
// lines in the same order and, on success, the same bytes.
//
// Colour mode has no exported call: there the engine with a buffer as large
// as the whole output (one write, as the exported call's) is the reference
// for the same two streamed runs, and for what its description foresaw.
// Colour-mode layouts the folders lack (RLE4, bit fields with alpha) are
// added from the builder.
//
//   bmpcontrast_differential DIR... [--fuzz DIR...]
//
// Files under the folders after --fuzz are the fuzz target's inputs: their
// first byte picks the target's options and is not part of the bitmap.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bmpcontrast.h"
#include "engine_run.h"
#include "file_stream.h"
#include "memory_source.h"
#include "ranges_run.h"
#include "scratch_dir.h"
#include "stdio_capture.h"
#include "stdio_source.h"
#include "system.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kLevels[] = {-1, 0, 1, 50, 99, 100, 101, 150, 200, 12701, INT32_MAX};

// The smallest buffer the engine takes, and one that splits rows unevenly.
constexpr size_t kSmallChunk = bmpc::kMinChunkBytes;
constexpr size_t kOddChunk = bmpc::kMinChunkBytes + 4099;

struct Verdict {
    size_t comparisons = 0;
    size_t mismatches = 0;
    size_t colourConverted = 0;  // runs colour mode converted, of the comparisons
};

void Compare(const std::string& what, const bmptest::Outcome& call, const bmptest::Bytes& written,
             const bmptest::StreamOutcome& stream, Verdict& verdict) {
    ++verdict.comparisons;
    std::string why;
    if (stream.result != call.result) {
        why =
            "result " + std::to_string(stream.result) + ", exported " + std::to_string(call.result);
    } else if (stream.out != call.out || stream.err != call.err) {
        why = "lines differ: '" + stream.err + stream.out + "' vs '" + call.err + call.out + "'";
    } else if (call.result == Success && stream.file != written) {
        why = "output differs: " + std::to_string(stream.file.size()) + " bytes vs " +
              std::to_string(written.size());
    }
    if (why.empty()) return;
    ++verdict.mismatches;
    std::fprintf(stderr, "MISMATCH %s: %s\n", what.c_str(), why.c_str());
}

// The reference run in colour mode: everything in one buffer.
bmptest::StreamOutcome Whole(const bmptest::Bytes& bytes, int32_t level) {
    bmpc::MemorySource source(bytes.data(), bytes.size());
    bmpc::Description d;
    bmpc::Describe(source, level, d, bmpc::Mode::Colour);
    bmptest::StreamOutcome o;
    // The smallest buffer the engine takes for a short output is the output.
    std::vector<uint8_t> buffer(std::max<size_t>(1, static_cast<size_t>(d.outputSize)));
    bmptest::BytesSink sink;
    o.raw = bmpc::ConvertDescribed(d, source, sink, buffer.data(), buffer.size());
    o.result = o.raw.result;
    bmptest::SplitLines(o.raw.lines, o.out, o.err);
    o.file = std::move(sink.bytes);
    // What the description foresaw is what came.
    std::string out, err;
    bmptest::SplitLines(bmptest::ForeseenLines(d), out, err);
    if (out != o.out || err != o.err || (o.result == Success && o.file.size() != d.outputSize)) {
        o.result = -1;  // no run gives this: reported as a mismatch
    }
    return o;
}

void CompareStreams(const std::string& what, const bmptest::StreamOutcome& whole,
                    const bmptest::StreamOutcome& stream, Verdict& verdict) {
    const bmptest::Outcome call{whole.result, whole.out, whole.err};
    Compare(what, call, whole.file, stream, verdict);
}

struct Input {
    std::string name;
    bmptest::Bytes bytes;
};

// Colour-mode layouts, well formed and cut short.
std::vector<Input> ColourLayouts() {
    using bmptest::BmpLayout;
    constexpr uint32_t kR = 0x00FF0000, kG = 0x0000FF00, kB = 0x000000FF, kA = 0xFF000000;
    auto rle = [](BmpLayout layout) {
        layout.paletteEntries = 16;
        layout.pixels = bmptest::RleData(layout.width, layout.height, layout.bitCount, 16, 5);
        return layout;
    };
    const std::pair<const char*, BmpLayout> layouts[] = {
        {"1-bit", {.width = 150, .height = 70, .bitCount = 1}},
        {"4-bit", {.width = 150, .height = -70, .bitCount = 4, .infoSize = 108}},
        {"rle4", rle({.width = 300, .height = 40, .bitCount = 4, .compression = 2})},
        {"rle8", rle({.width = 300, .height = 40, .bitCount = 8, .compression = 1})},
        {"bgra-v5",
         {.width = 67,
          .height = 40,
          .bitCount = 32,
          .compression = 3,
          .infoSize = 124,
          .masks = {kR, kG, kB, kA}}},
        {"abgr-v3",
         {.width = 67,
          .height = -40,
          .bitCount = 32,
          .compression = 3,
          .infoSize = 56,
          .masks = {kA, kR, kG, kB}}},
        {"bgrx-40",
         {.width = 33, .height = 40, .bitCount = 32, .compression = 3, .masks = {kR, kG, kB}}},
        {"alpha-bitfields-40",
         {.width = 33, .height = 40, .bitCount = 32, .compression = 6, .masks = {kR, kG, kB, kA}}},
    };
    std::vector<Input> inputs;
    for (const auto& [name, layout] : layouts) {
        const bmptest::Bytes bytes = bmptest::BuildBmp(layout);
        inputs.push_back({name, bytes});
        inputs.push_back(
            {std::string(name) + "-cut", bmptest::Bytes(bytes.begin(), bytes.end() - 1001)});
    }
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Input> inputs;
    bool fuzzInputs = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--fuzz") {
            fuzzInputs = true;
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(argv[i])) {
            // Notes kept beside the inputs are not inputs.
            if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
            bmptest::Bytes bytes = bmptest::ReadFile(entry.path().string());
            if (fuzzInputs && !bytes.empty()) bytes.erase(bytes.begin());
            inputs.push_back({entry.path().filename().string(), std::move(bytes)});
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s DIR... [--fuzz DIR...]  (no inputs found)\n", argv[0]);
        return 2;
    }
    const bmptest::ScratchDir dir;
    const std::string out = dir / "out.bmp";
    Verdict verdict;
    const size_t fromFolders = inputs.size();
    for (Input& input : ColourLayouts()) inputs.push_back(std::move(input));
    for (const auto& [name, bytes] : inputs) {
        // Honest but huge claims cost the exported call two such blocks.
        if (bmptest::DeclaredPixelBytes(bytes) > (uint64_t{64} << 20)) continue;
        const std::string in = dir / "in.bmp";
        bmptest::WriteFile(in, bytes);
        for (const int32_t level : kLevels) {
            fs::remove(out);
            const bmptest::Outcome call = bmptest::Call(in, out, level);
            const bmptest::Bytes written =
                call.result == Success ? bmptest::ReadFile(out) : bmptest::Bytes{};
            const std::string what = name + " at " + std::to_string(level);
            Compare(what + " (memory)", call, written,
                    bmptest::RunEngine(bytes, level, kSmallChunk), verdict);
            bmpc::FileStream file(std::fopen(in.c_str(), "rb"));
            bmpc::StdioSource source(file.get());
            Compare(what + " (file)", call, written, bmptest::RunEngine(source, level, kOddChunk),
                    verdict);
            if (bmpc::sys::PositionalIo()) {
                const unsigned threads = 2 + static_cast<unsigned>(verdict.comparisons % 4);
                Compare(what + " (" + std::to_string(threads) + " stretches)", call, written,
                        bmptest::RunInRanges(in, dir / "ranges.bmp", level, threads, kOddChunk),
                        verdict);
            }

            const bmptest::StreamOutcome whole = Whole(bytes, level);
            verdict.colourConverted += whole.result == Success ? 2 : 0;
            CompareStreams(what + " (colour, memory)", whole,
                           bmptest::RunEngine(bytes, level, kSmallChunk, bmpc::Mode::Colour),
                           verdict);
            bmpc::FileStream again(std::fopen(in.c_str(), "rb"));
            bmpc::StdioSource colourSource(again.get());
            CompareStreams(what + " (colour, file)", whole,
                           bmptest::RunEngine(colourSource, level, kOddChunk, bmpc::Mode::Colour),
                           verdict);
        }
    }
    std::printf("%zu files (%zu built here) x %zu levels, both modes: %zu mismatches\n",
                inputs.size(), inputs.size() - fromFolders, std::size(kLevels), verdict.mismatches);
    std::printf("%zu passed, %zu failed; %zu colour-mode runs converted\n",
                verdict.comparisons - verdict.mismatches, verdict.mismatches,
                verdict.colourConverted);
    return verdict.mismatches == 0 ? 0 : 1;
}
