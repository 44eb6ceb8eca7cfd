// Fuzz target over the whole call. The first input byte chooses the level
// (low four bits), whether the output is a full device that fails every
// write (bit 6) and whether an output file exists beforehand (top bit); the
// rest is the input file. Every call is checked against the oracle:
// result code, both printed streams and the output file byte for byte, and
// an output that existed before is untouched by every failure that comes
// before the output is opened. The engine's streamed conversion of the same
// bytes, through a buffer whose size the input also picks, must agree with
// the oracle too, and so must the file job's conversion of the file on
// several threads, by stretches that start anywhere. Colour mode, which has
// no oracle here, must agree with itself: streamed through that buffer and
// in one whole buffer, with the result, lines and size its description
// foresaw.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "engine_run.h"
#include "ranges_run.h"
#include "stdio_capture.h"

namespace {

using bmptest::Bytes;

constexpr int32_t kLevels[16] = {150,   100, 50,   1, 99, 200,       101, 12700,
                                 12701, 255, 1000, 0, -1, INT32_MAX, 7,   INT32_MIN};

// The work an input may cost. Every check costs time in proportion to the
// pixel bytes the headers claim (the call's two blocks, the stream, the
// oracle, the output file), and a file of a few bytes that claims megabytes
// is zeros past its end, nothing the first few chunks of zeros did not
// show. Inputs over either bound are skipped before anything runs; every
// input that runs gets every check.
struct WorkLimit {
    uint64_t pixelBytes;    // claimed in all
    uint64_t missingBytes;  // claimed beyond the input's own size
};
// The replay of seeds and regressions takes large claims.
constexpr WorkLimit kReplayLimit = {uint64_t{16} << 20, uint64_t{16} << 20};
// The search does not: its corpus drifts towards tiny files claiming the
// most the bound allows (a 6 MiB claim cost 150 ms; 607 s ran 12,301
// inputs). Four of the stream's smallest chunks past the end of the file, up
// to 64 KiB in all, keep it above 1,000 inputs a second. The call's
// prefaulting of blocks from 256 KiB on is left to the tests.
constexpr WorkLimit kSearchLimit = {uint64_t{64} << 10, uint64_t{16} << 10};
WorkLimit limit = kReplayLimit;

bool WithinLimit(const Bytes& input) {
    const uint64_t claimed = bmptest::DeclaredPixelBytes(input);
    return claimed <= limit.pixelBytes &&
           (claimed <= input.size() || claimed - input.size() <= limit.missingBytes);
}

const Bytes kSentinel = {'n', 'o', 't', ' ', 't', 'o', 'u', 'c', 'h', 'e', 'd'};

const std::u16string kFullDevice = u"/dev/full";

struct Files {
    std::string dir, in, out;
    std::u16string in16, out16;
};

void RemoveFiles();

const Files& TheFiles() {
    // Never destroyed: the exit handler that removes the files needs it.
    static const Files& files = *[] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/bmpc-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        auto* f = new Files;
        f->dir = pattern;
        f->in = f->dir + "/in.bmp";
        f->out = f->dir + "/out.bmp";
        // The paths are ASCII, so widening each byte is the UTF-16 form.
        f->in16.assign(f->in.begin(), f->in.end());
        f->out16.assign(f->out.begin(), f->out.end());
        std::atexit(RemoveFiles);
        return f;
    }();
    return files;
}

void RemoveFiles() {
    const Files& f = TheFiles();
    unlink(f.in.c_str());
    unlink(f.out.c_str());
    rmdir(f.dir.c_str());
}

[[noreturn]] void Broken(const char* what, const std::string& got, const std::string& want) {
    std::fprintf(stderr, "invariant broken: %s\n  got:  %s\n  want: %s\n", what, got.c_str(),
                 want.c_str());
    std::abort();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

void CheckColourMode(const Bytes& input, int32_t level, size_t chunk) {
    bmpc::MemorySource source(input.data(), input.size());
    bmpc::Description d;
    bmpc::Describe(source, level, d, bmpc::Mode::Colour);
    if (d.result == 999 && d.outputSize > limit.pixelBytes) return;
    std::string out, err;
    bmptest::SplitLines(bmptest::ForeseenLines(d), out, err);
    const bmptest::StreamOutcome streamed =
        bmptest::RunEngine(input, level, chunk, bmpc::Mode::Colour);
    if (streamed.result != d.result) {
        Broken("colour result", std::to_string(streamed.result), std::to_string(d.result));
    }
    if (streamed.err != err) Broken("colour stderr", streamed.err, err);
    if (streamed.out != out) Broken("colour stdout", streamed.out, out);
    if (d.result != 999) return;
    if (streamed.file.size() != d.outputSize) {
        Broken("colour output size", std::to_string(streamed.file.size()),
               std::to_string(d.outputSize));
    }
    std::vector<uint8_t> whole(std::max<size_t>(1, static_cast<size_t>(d.outputSize)));
    bmptest::BytesSink sink;
    bmpc::ConvertDescribed(d, source, sink, whole.data(), whole.size());
    if (sink.bytes != streamed.file) {
        Broken("colour output", "streamed", "as in one buffer");
    }
}

}  // namespace

// Called by libFuzzer only, never by the replay.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    limit = kSearchLimit;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int32_t level = kLevels[data[0] & 15u];
    const bool outputExists = (data[0] & 0x80u) != 0;
    const bool fullDevice = (data[0] & 0x40u) != 0 && access("/dev/full", W_OK) == 0;
    const Bytes input(data + 1, data + size);
    if (!WithinLimit(input)) return -1;

    const Files& f = TheFiles();
    // Both files are made anew, never truncated: ext4 writes a file that
    // was truncated to nothing back to the disk when it is closed, a third
    // of a small input's time.
    unlink(f.in.c_str());
    unlink(f.out.c_str());
    bmptest::WriteFile(f.in, input);
    if (outputExists) bmptest::WriteFile(f.out, kSentinel);

    const std::u16string& out16 = fullDevice ? kFullDevice : f.out16;
    int32_t result = 0;
    const bmptest::StdioText text =
        bmptest::CaptureStdio([&] { result = BMPContrast(f.in16.c_str(), out16.c_str(), level); });
    bmptest::Expected want = bmptest::Predict(input, level);

    // Chunks from the smallest up to a few pages, so that they split rows
    // and pixels at varying places.
    const size_t chunk = bmpc::kMinChunkBytes + (size * 131) % 12289;
    const bmptest::StreamOutcome streamed = bmptest::RunEngine(input, level, chunk);
    if (streamed.result != want.result) {
        Broken("streamed result", std::to_string(streamed.result), std::to_string(want.result));
    }
    if (streamed.err != want.err) Broken("streamed stderr", streamed.err, want.err);
    if (streamed.out != want.out) Broken("streamed stdout", streamed.out, want.out);
    if (want.result == 999 && streamed.file != want.file) {
        Broken("streamed output", std::to_string(streamed.file.size()) + " bytes",
               std::to_string(want.file.size()) + " bytes");
    }
    CheckColourMode(input, level, chunk);
    // The same file on several threads, by stretches that start anywhere.
    if (bmpc::sys::PositionalIo()) {
        const bmptest::StreamOutcome ranged = bmptest::RunInRanges(
            f.in, f.dir + "/ranges.bmp", level, 2 + (data[0] >> 4 & 3u), chunk);
        if (ranged.result != want.result || ranged.err != want.err || ranged.out != want.out ||
            (want.result == 999 && ranged.file != want.file)) {
            Broken("stretches", std::to_string(ranged.result) + " " + ranged.err,
                   std::to_string(want.result) + " " + want.err);
        }
    }
    if (fullDevice && want.result == 999) {
        // A write that fails is reported as such, never as a success.
        want.result = 41;
        want.err += "Error: Could not write output file.\n";
        want.out.clear();
    }

    if (result != want.result) {
        Broken("result", std::to_string(result), std::to_string(want.result));
    }
    if (text.err != want.err) Broken("stderr", text.err, want.err);
    if (text.out != want.out) Broken("stdout", text.out, want.out);
    if (fullDevice) return 0;  // the output went to the device: nothing to inspect
    if (result == 999) {
        const Bytes written = bmptest::ReadFile(f.out);
        if (written != want.file) {
            Broken("output file", std::to_string(written.size()) + " bytes",
                   std::to_string(want.file.size()) + " bytes");
        }
    } else if (outputExists) {
        if (bmptest::ReadFile(f.out) != kSentinel) Broken("output touched", "changed", "as before");
    } else if (Exists(f.out)) {
        Broken("output created", "exists", "absent");
    }
    return 0;
}
