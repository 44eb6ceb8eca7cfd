// Resources that fail under the call: pixel buffers that cannot be
// allocated, outputs that cannot be opened or written, and the rule that a
// failure before the output is opened leaves an existing output alone.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "platform.h"
#include "scratch_dir.h"
#include "stdio_capture.h"
#include "test_files.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BMPC_SANITIZER_RESERVES_SHADOW 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define BMPC_SANITIZER_RESERVES_SHADOW 1
#endif
#endif

namespace fs = std::filesystem;

namespace {

using bmptest::Bytes;

using bmptest::Build;
using bmptest::Call;
using bmptest::kSentinel;
using bmptest::MappedBytes;
using bmptest::OpenDescriptors;
using bmptest::Outcome;
using bmptest::With;

// ---------------------------------------------------------------- allocation

#ifndef _WIN32
struct ChildReport {
    int exitStatus = -1;
    std::string text;
};

// Runs `body` in a child process and returns what it wrote to its report
// stream, so that whatever the child changes about itself stays there.
template <typename Body>
ChildReport InChild(Body body) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string report = body();
        const char* p = report.data();
        size_t left = report.size();
        while (left > 0) {
            const ssize_t n = write(fds[1], p, left);
            if (n <= 0) _exit(4);
            p += n;
            left -= static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    ChildReport r;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        r.text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// Runs `body` in a child process whose address space may grow by `headroom`
// bytes at most. The limit stays in the child, away from the test runner.
template <typename Body>
ChildReport InLimitedChild(uint64_t headroom, Body body) {
    return InChild([&]() -> std::string {
        const uint64_t limit = MappedBytes() + headroom;
        const rlimit rl{limit, limit};
        if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(3);
        return body();
    });
}
#endif  // fork and address-space limits

struct AllocationCase {
    const char* name;
    Bytes input;  // a small file declaring a large image
    uint64_t pixelBytes;
    uint64_t headroom;  // the child's address-space allowance
    const char* line;
};

constexpr uint64_t kMiB = uint64_t{1} << 20;

std::vector<AllocationCase> AllocationCases() {
    // 8192 x 8192 x 4 = 256 MiB, and a tiny file claiming just under 2 GiB:
    // no room for even the first buffer.
    // 4096 x 8192 x 4 = 128 MiB: room for one buffer and 48 MiB, not two.
    // The 8-bit case carries its 1 KiB colour table in the output block.
    return {
        {"InputBuffer32Bit", With(With(Build(3, 2, 32), 18, 4, 8192), 22, 4, 8192), 256 * kMiB,
         64 * kMiB, "Error: Could not allocate memory for pixel data.\n"},
        {"InputBufferNear2GiB", With(With(Build(3, 2, 32), 18, 4, 16384), 22, 4, 32767),
         uint64_t{16384} * 4 * 32767, 64 * kMiB,
         "Error: Could not allocate memory for pixel data.\n"},
        {"OutputBuffer32Bit", With(With(Build(3, 2, 32), 18, 4, 4096), 22, 4, 8192), 128 * kMiB,
         (128 + 48) * kMiB, "Error: Could not allocate memory for output data.\n"},
        {"OutputBuffer8BitWithPalette",
         With(With(Build(4, 2, 8), 18, 4, 16384), 22, 4, static_cast<uint32_t>(-8192)), 128 * kMiB,
         (128 + 48) * kMiB, "Error: Could not allocate memory for output data.\n"},
    };
}

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const AllocationCase& c, std::ostream* os) { *os << c.name; }

class AllocationFailure : public testing::TestWithParam<AllocationCase> {};

// Each call in the child must fail the same way, with the address space and
// descriptors back where they were: a buffer leaked by one call would also
// make the next one fail on the input buffer instead.
TEST_P(AllocationFailure, ReturnsOneWithItsLineAndLeaksNothing) {
#ifdef BMPC_SANITIZER_RESERVES_SHADOW
    GTEST_SKIP() << "sanitizer runtimes reserve terabytes of shadow memory; "
                    "an address-space limit cannot isolate the call's buffers";
#elif defined(_WIN32)
    GTEST_SKIP() << "Windows has no fork and no address-space limit to isolate the call's "
                    "buffers in a child";
#elif defined(BMPCONTRAST_TESTS_EMULATED)
    GTEST_SKIP() << "under qemu-user the guest's address-space limit is not enforced, "
                    "and /proc/self/statm measures the emulator";
#else
    const AllocationCase& c = GetParam();
    ASSERT_EQ(bmptest::DeclaredPixelBytes(c.input), c.pixelBytes);
    bmptest::ScratchDir dir;
    const std::string in = dir / "in.bmp";
    const std::string out = dir / "out.bmp";
    bmptest::WriteFile(in, c.input);
    bmptest::WriteFile(out, kSentinel);

    const ChildReport report = InLimitedChild(c.headroom, [&] {
        std::ostringstream s;
        // The first call also warms up stdio and the capture streams.
        const Outcome first = Call(in, out);
        if (first.result != OutOfMemory || first.err != c.line) {
            s << "first call: result " << first.result << ", stderr \"" << first.err << "\"\n";
        }
        const uint64_t mappedBefore = MappedBytes();
        const int fdsBefore = OpenDescriptors();
        for (int i = 0; i < 20; ++i) {
            const Outcome o = Call(in, out);
            if (o.result != OutOfMemory || o.err != c.line || !o.out.empty()) {
                s << "call " << i << ": result " << o.result << ", stderr \"" << o.err
                  << "\", stdout \"" << o.out << "\"\n";
            }
        }
        const int64_t grown = static_cast<int64_t>(MappedBytes() - mappedBefore);
        if (grown > static_cast<int64_t>(kMiB)) s << "address space grew by " << grown << "\n";
        if (OpenDescriptors() != fdsBefore) s << "descriptors leaked\n";
        return s.str();
    });
    EXPECT_EQ(report.exitStatus, 0);
    EXPECT_EQ(report.text, "");
    EXPECT_EQ(bmptest::ReadFile(out), kSentinel) << "output touched by an allocation failure";
#endif
}

INSTANTIATE_TEST_SUITE_P(Buffers, AllocationFailure, testing::ValuesIn(AllocationCases()),
                         [](const auto& param) { return std::string(param.param.name); });

// ------------------------------------------------------------ unwritable output

TEST(UnwritableOutput, FullDeviceReturns41WithTheWriteLineAndNoSuccessLine) {
    BMPTEST_SKIP_ON_WINDOWS("Windows has no device that fails every write");
    if (std::FILE* probe = std::fopen(bmptest::kFullDevice, "wb")) {
        std::fclose(probe);
    } else {
        GTEST_SKIP() << "no writable " << bmptest::kFullDevice;
    }
    bmptest::ScratchDir dir;
    const std::string in = dir / "in.bmp";
    // Smaller than a stdio buffer (fails at the flush on close) and larger
    // (fails in the write itself).
    for (const int32_t width : {3, 2000}) {
        const Bytes input = Build(width, 2, 24);
        bmptest::WriteFile(in, input);
        const Outcome o = Call(in, bmptest::kFullDevice);
        EXPECT_EQ(o.result, OutputOpenFailed) << "width " << width;
        EXPECT_EQ(o.err, "Error: Could not write output file.\n") << "width " << width;
        EXPECT_EQ(o.out, "") << "width " << width;
        EXPECT_EQ(bmptest::ReadFile(in), input);
    }
}

// Outputs that cannot be opened: 41, nothing printed, the input unchanged.
TEST(UnwritableOutput, PathsThatCannotBeOpenedReturn41Silently) {
    bmptest::ScratchDir dir;
    const std::string in = dir / "in.bmp";
    const Bytes input = Build(3, 2, 24);
    bmptest::WriteFile(in, input);
    bmptest::WriteFile(dir / "plain-file", kSentinel);
    fs::create_directory(dir / "a-directory");
    const std::pair<const char*, std::string> cases[] = {
        {"under a regular file (ENOTDIR)", dir / "plain-file/out.bmp"},
        {"a directory (EISDIR)", dir / "a-directory"},
        {"in a missing directory (ENOENT)", dir / "missing/out.bmp"},
        {"an empty path", ""},
    };
    for (const auto& [what, path] : cases) {
        const Outcome o = Call(in, path);
        EXPECT_EQ(o.result, OutputOpenFailed) << what;
        EXPECT_EQ(o.err, "") << what;
        EXPECT_EQ(o.out, "") << what;
    }
    const Outcome nullOutput = Call(bmptest::U16(in).c_str(), nullptr, 150);
    EXPECT_EQ(nullOutput.result, OutputOpenFailed);
    EXPECT_EQ(nullOutput.err + nullOutput.out, "");
    EXPECT_EQ(bmptest::ReadFile(in), input);
    EXPECT_EQ(bmptest::ReadFile(dir / "plain-file"), kSentinel);
    EXPECT_TRUE(fs::is_empty(dir / "a-directory"));
}

TEST(UnwritableOutput, ReadOnlyDirectoryReturns41Silently) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows directories have no write permission to take away: their "
                    "read-only attribute does not stop files being created in them";
#else
    bmptest::ScratchDir dir;
    const std::string in = dir / "in.bmp";
    bmptest::WriteFile(in, Build(3, 2, 24));
    fs::create_directory(dir / "read-only");
    fs::permissions(dir / "read-only", fs::perms::owner_read | fs::perms::owner_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
    // Root writes through permissions, so as root the call runs in a child
    // that has given root up; the scratch directory must then be reachable.
    fs::permissions(dir.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    fs::permissions(in, fs::perms::others_read, fs::perm_options::add);
    const ChildReport child = InChild([&]() -> std::string {
        constexpr uid_t kNobody = 65534;
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(3);
        const Outcome o = Call(in, dir / "read-only/out.bmp");
        return std::to_string(o.result) + "|" + o.err + o.out;
    });
    fs::permissions(dir / "read-only", fs::perms::owner_all);
    EXPECT_EQ(child.exitStatus, 0);
    EXPECT_EQ(child.text, "41|");
    EXPECT_FALSE(fs::exists(dir / "read-only/out.bmp"));
#endif
}

// --------------------------------------------- failures before the output opens

}  // namespace
