// Load: many threads converting different files at once must produce
// exactly what one thread does (and run clean under ThreadSanitizer), and
// thousands of calls ending every way must not accumulate descriptors,
// heap or mappings.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "platform.h"
#include "scratch_dir.h"
#include "stdio_capture.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

using bmptest::Bytes;
using bmptest::HeapInUse;
using bmptest::MappedBytes;
using bmptest::OpenDescriptors;
using bmptest::SilencedStdio;
using bmptest::With;

// Sized bitmaps with a pattern of their own.
Bytes Build(int32_t width, int32_t height, uint16_t bitCount, uint32_t seed) {
    return bmptest::Build(width, height, bitCount, -1, seed);
}

struct Job {
    Bytes input;
    int32_t level;
};

// Different depths, sizes (some past 2 MiB, which takes the mapped-buffer
// path), row orders, levels, a short file and a few refusals.
std::vector<Job> Jobs() {
    std::vector<Job> jobs;
    uint32_t seed = 1;
    for (const uint16_t depth : {uint16_t{8}, uint16_t{24}, uint16_t{32}}) {
        jobs.push_back({Build(7, 5, depth, seed++), 150});
        jobs.push_back({Build(301, -200, depth, seed++), 60});
        jobs.push_back({Build(1024, 700, depth, seed++), 12701});
    }
    const Bytes shortFile = Build(500, 400, 24, seed++);
    jobs.push_back({Bytes(shortFile.begin(), shortFile.begin() + 5000), 250});
    jobs.push_back({With(Build(5, 5, 24, seed++), 10, 4, 0x80000000), 99});
    jobs.push_back({With(Build(5, 5, 24, seed++), 28, 2, 16), 150});
    jobs.push_back({With(Build(5, 5, 24, seed++), 22, 4, 0x80000000), 150});
    jobs.push_back({Bytes{'B', 'M', 0, 0}, 150});
    return jobs;
}

TEST(Concurrency, ThreadsConvertingDifferentFilesMatchOneThread) {
    const std::vector<Job> jobs = Jobs();
    bmptest::ScratchDir dir;
    std::vector<std::string> inputs;
    std::vector<int32_t> results;
    std::vector<Bytes> outputs;
    for (size_t j = 0; j < jobs.size(); ++j) {
        inputs.push_back(dir / ("in-" + std::to_string(j) + ".bmp"));
        bmptest::WriteFile(inputs.back(), jobs[j].input);
        const std::string out = dir / ("single-" + std::to_string(j) + ".bmp");
        int32_t result = 0;
        const auto text = bmptest::CaptureStdio([&] {
            result = BMPContrast(bmptest::U16(inputs[j]).c_str(), bmptest::U16(out).c_str(),
                                 jobs[j].level);
        });
        const bmptest::Expected want = bmptest::Predict(jobs[j].input, jobs[j].level);
        ASSERT_EQ(result, want.result) << "job " << j;
        ASSERT_EQ(text.err, want.err) << "job " << j;
        results.push_back(result);
        outputs.push_back(result == Success ? bmptest::ReadFile(out) : Bytes{});
        if (result == Success) {
            ASSERT_EQ(outputs.back(), want.file) << "job " << j;
        }
    }

    constexpr int kThreads = 8;
    constexpr size_t kRounds = 3;
    std::vector<std::string> problems(kThreads);
    {
        SilencedStdio quiet;
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) std::this_thread::yield();
                // Each thread walks the jobs from its own starting point, so
                // different files are in flight at once.
                for (size_t k = 0; k < kRounds * jobs.size(); ++k) {
                    const size_t j = (k + static_cast<size_t>(t) * 5) % jobs.size();
                    char name[32];
                    std::snprintf(name, sizeof name, "t%d-%zu.bmp", t, j);
                    const std::string out = dir / name;
                    const int32_t result = BMPContrast(bmptest::U16(inputs[j]).c_str(),
                                                       bmptest::U16(out).c_str(), jobs[j].level);
                    std::string& mine = problems[static_cast<size_t>(t)];
                    if (result != results[j]) {
                        mine.append("job ").append(std::to_string(j)).append(": result ");
                        mine.append(std::to_string(result)).append("\n");
                    } else if (result == Success && bmptest::ReadFile(out) != outputs[j]) {
                        mine.append("job ").append(std::to_string(j)).append(": bytes differ\n");
                    }
                }
            });
        }
        go = true;
        for (std::thread& thread : threads) thread.join();
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(problems[static_cast<size_t>(t)], "") << "thread " << t;
}

TEST(Endurance, TenThousandCallsEndingEveryWayLeaveNothingBehind) {
#ifdef BMPCONTRAST_TESTS_EMULATED
    GTEST_SKIP() << "under qemu-user /proc/self/statm measures the emulator, not the calls";
#endif
    bmptest::ScratchDir dir;
    const Bytes valid = Build(33, 9, 24, 7);
    const std::string good = dir / "good.bmp";
    const std::string shortFile = dir / "short.bmp";
    const std::string badSignature = dir / "bad-signature.bmp";
    const std::string zeroWidth = dir / "zero-width.bmp";
    const std::string sixteenBit = dir / "16-bit.bmp";
    const std::string compressed = dir / "compressed.bmp";
    const std::string large = dir / "large.bmp";
    bmptest::WriteFile(good, valid);
    bmptest::WriteFile(shortFile, Bytes(valid.begin(), valid.begin() + 100));
    bmptest::WriteFile(badSignature, With(valid, 0, 2, 0x4D4D));
    bmptest::WriteFile(zeroWidth, With(valid, 18, 4, 0));
    bmptest::WriteFile(sixteenBit, With(valid, 28, 2, 16));
    bmptest::WriteFile(compressed, With(valid, 30, 4, 3));
    // Declares just over 2 MiB but holds 54 bytes: mapped buffers, read short; written
    // to the null device, as the point is the buffers and not the disk.
    bmptest::WriteFile(
        large, With(With(Bytes(valid.begin(), valid.begin() + 54), 18, 4, 1024), 22, 4, 683));
    const std::string out = dir / "out.bmp";
    const std::string unopenable = dir / "missing/out.bmp";
    struct Case {
        std::string in, out;
        int32_t level, result;
    };
    std::vector<Case> calls = {
        {good, out, 150, Success},
        {shortFile, out, 80, Success},
        {large, bmptest::kNullDevice, 300, Success},
        {good, out, 0, LevelNotPositive},
        {dir / "missing.bmp", out, 150, InputOpenFailed},
        {badSignature, out, 150, HeaderReadFailed},
        {zeroWidth, out, 150, InvalidDimensions},
        {sixteenBit, out, 150, UnsupportedBitDepth},
        {compressed, out, 150, CompressionUnsupported},
        {good, unopenable, 150, OutputOpenFailed},
    };
    if (bmptest::kFullDevice != nullptr)
        calls.push_back({good, bmptest::kFullDevice, 150, OutputOpenFailed});
    constexpr int kCalls = 10000;
    const int kCycle = static_cast<int>(calls.size());

    const auto runCycle = [&](int first, int count, std::string& problems) {
        for (int i = first; i < first + count; ++i) {
            const Case& c = calls[static_cast<size_t>(i % kCycle)];
            const int32_t result =
                BMPContrast(bmptest::U16(c.in).c_str(), bmptest::U16(c.out).c_str(), c.level);
            if (result != c.result && problems.size() < 2000) {
                problems.append("call ").append(std::to_string(i)).append(": ");
                problems.append(std::to_string(result)).append("\n");
            }
        }
    };
    std::string problems;
    int fds[2] = {};
    size_t heap[2] = {};
    [[maybe_unused]] uint64_t mapped[2] = {};
    {
        SilencedStdio quiet;
        // Stdio buffers and the like are allocated once, by the calls and by
        // the measuring itself.
        runCycle(0, kCycle, problems);
        OpenDescriptors();
        MappedBytes();
        for (int k = 0; k < 2; ++k) {
            fds[k] = OpenDescriptors();
            heap[k] = HeapInUse();
            mapped[k] = MappedBytes();
            if (k == 0) runCycle(0, kCalls, problems);
        }
    }
    EXPECT_EQ(problems, "");
    EXPECT_EQ(fds[1], fds[0]);
    EXPECT_EQ(heap[1], heap[0]);
#ifndef BMPC_SANITIZED
    // Sanitizer allocators map and keep memory of their own. Pixel blocks
    // come from malloc, whose heap may give back a few pages it held at the
    // first count; any leak grows it.
    EXPECT_LE(mapped[1], mapped[0]);
#endif
}

}  // namespace
