// Every bitmap under the folders given, at a range of levels, through the
// exported call (file to file, its printed lines captured) and through the
// engine's streamed conversion twice: from memory through the smallest
// buffer, and from the file through an odd-sized one, so that chunks split
// rows and pixels anywhere. All three must give the same result, the same
// lines in the same order and, on success, the same bytes.
//
//   bmpcontrast_differential DIR...
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bmpcontrast.h"
#include "engine_run.h"
#include "file_stream.h"
#include "scratch_dir.h"
#include "stdio_capture.h"
#include "stdio_source.h"
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

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        for (const auto& entry : fs::recursive_directory_iterator(argv[i])) {
            // Notes kept beside the inputs are not inputs.
            if (entry.is_regular_file() && entry.path().extension() != ".md") {
                inputs.push_back(entry.path());
            }
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s DIR...  (no inputs found)\n", argv[0]);
        return 2;
    }
    const bmptest::ScratchDir dir;
    const std::string out = dir / "out.bmp";
    Verdict verdict;
    for (const fs::path& path : inputs) {
        const bmptest::Bytes bytes = bmptest::ReadFile(path.string());
        // Honest but huge claims cost the exported call two such blocks.
        if (bmptest::DeclaredPixelBytes(bytes) > (uint64_t{64} << 20)) continue;
        const std::string in = dir / "in.bmp";
        bmptest::WriteFile(in, bytes);
        for (const int32_t level : kLevels) {
            fs::remove(out);
            const bmptest::Outcome call = bmptest::Call(in, out, level);
            const bmptest::Bytes written =
                call.result == Success ? bmptest::ReadFile(out) : bmptest::Bytes{};
            const std::string what = path.filename().string() + " at " + std::to_string(level);
            Compare(what + " (memory)", call, written,
                    bmptest::RunEngine(bytes, level, kSmallChunk), verdict);
            bmpc::FileStream file(std::fopen(in.c_str(), "rb"));
            bmpc::StdioSource source(file.get());
            Compare(what + " (file)", call, written, bmptest::RunEngine(source, level, kOddChunk),
                    verdict);
        }
    }
    std::printf("%zu files x %zu levels: %zu mismatches\n", inputs.size(), std::size(kLevels),
                verdict.mismatches);
    std::printf("%zu passed, %zu failed\n", verdict.comparisons - verdict.mismatches,
                verdict.mismatches);
    return verdict.mismatches == 0 ? 0 : 1;
}
