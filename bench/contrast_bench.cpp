// Throughput of each contrast kernel the CPU supports (plain and keeping
// every fourth byte), of whole calls, and
// of the engine's streamed conversion at a few buffer sizes.
//
//   build/bench/bmpcontrast_bench [--benchmark_filter=Kernel]
//
// Whole calls write their files under $TMPDIR (default /tmp) and need about
// 600 MB there for the 100-megapixel case; they run from the page cache.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "contrast_curve.h"
#include "engine.h"
#include "engine_run.h"
#include "fd_stream.h"
#include "kernels/contrast_kernels.h"
#include "pixel_buffer.h"

namespace {

namespace fs = std::filesystem;

// One in and one out block of `size` bytes, allocated as the library does
// and touched once, so that page faults are not part of the figure.
class Blocks {
  public:
    explicit Blocks(size_t size)
        : size_(size), in_(bmpc::AllocatePixelBuffer(size)), out_(bmpc::AllocatePixelBuffer(size)) {
        if (in_ == nullptr || out_ == nullptr) return;
        for (size_t i = 0; i < size; ++i) in_[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
        std::memset(out_, 0, size);
    }
    ~Blocks() {
        bmpc::FreePixelBuffer(in_);
        bmpc::FreePixelBuffer(out_);
    }
    Blocks(const Blocks&) = delete;
    Blocks& operator=(const Blocks&) = delete;

    bool ok() const { return in_ != nullptr && out_ != nullptr; }
    const uint8_t* in() const { return in_; }
    uint8_t* out() const { return out_; }

  private:
    size_t size_;
    uint8_t* in_;
    uint8_t* out_;
};

void KernelBench(benchmark::State& state, bmpc::KernelInfo kernel) {
    if (!kernel.supported()) {
        state.SkipWithError("kernel not supported by this CPU");
        return;
    }
    const auto size = static_cast<size_t>(state.range(0));
    Blocks blocks(size);
    if (!blocks.ok()) {
        state.SkipWithError("out of memory");
        return;
    }
    bmpc::ContrastTable table{};
    bmpc::BuildContrastTable(bmpc::ContrastFactor(150), table);
    for (auto _ : state) {
        kernel.apply(blocks.in(), blocks.out(), size, table);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The same with the fourth byte of every four kept, as colour mode runs
// 32-bit pixels with alpha.
void KeepingKernelBench(benchmark::State& state, bmpc::KernelInfo kernel) {
    if (!kernel.supported()) {
        state.SkipWithError("kernel not supported by this CPU");
        return;
    }
    const auto size = static_cast<size_t>(state.range(0));
    Blocks blocks(size);
    if (!blocks.ok()) {
        state.SkipWithError("out of memory");
        return;
    }
    bmpc::ContrastTable table{};
    bmpc::BuildContrastTable(bmpc::ContrastFactor(150), table);
    for (auto _ : state) {
        kernel.applyKeeping(blocks.in(), blocks.out(), size, table, 0b1000);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The ceiling for a kernel: moving the same bytes without looking at them.
void CopyBench(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    Blocks blocks(size);
    if (!blocks.ok()) {
        state.SkipWithError("out of memory");
        return;
    }
    for (auto _ : state) {
        std::memcpy(blocks.out(), blocks.in(), size);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Standard output goes to /dev/null while the library prints its success
// lines, and comes back for the report.
class QuietStdout {
  public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    ~QuietStdout() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

  private:
    int saved_;
};

fs::path BenchDir() {
    const char* tmp = std::getenv("TMPDIR");
    fs::path dir = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") /
                   ("bmpcontrast_bench." + std::to_string(getpid()));
    fs::create_directories(dir);
    return dir;
}

// A 24-bit image of about `megapixels` million pixels with padded rows
// (width not a multiple of 4), the common case for photographs.
void CallBench(benchmark::State& state) {
    const auto megapixels = static_cast<int32_t>(state.range(0));
    bmptest::BmpLayout layout;
    layout.width = megapixels == 1 ? 1155 : megapixels == 24 ? 6001 : 10001;
    layout.height = megapixels * 1000000 / layout.width;
    const fs::path dir = BenchDir();
    const fs::path in = dir / "in.bmp";
    const fs::path out = dir / "out.bmp";
    {
        const bmptest::Bytes file = bmptest::BuildBmp(layout);
        bmptest::WriteFile(in.string(), file);
        state.SetBytesProcessed(0);
        state.counters["MB"] = static_cast<double>(file.size()) / 1e6;
    }
    const std::u16string inName = in.u16string(), outName = out.u16string();
    int32_t result = Success;
    {
        QuietStdout quiet;
        for (auto _ : state) {
            // A fresh output each time, as a new file would be.
            fs::remove(out);
            result = BMPContrast(inName.c_str(), outName.c_str(), 150);
        }
    }
    fs::remove_all(dir);
    if (result != Success) state.SkipWithError("BMPContrast failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(layout.width) * 3 * layout.height);
}

// The engine's streamed conversion of a 100-megapixel 24-bit file into a
// fresh file, through one buffer of state.range(0) bytes: what the tool
// does for one file, without the tool around it.
void StreamBench(benchmark::State& state) {
    bmptest::BmpLayout layout;
    layout.width = 10001;
    layout.height = 10000;
    const fs::path dir = BenchDir();
    const fs::path in = dir / "in.bmp";
    const fs::path out = dir / "out.bmp";
    bmptest::WriteFile(in.string(), bmptest::BuildBmp(layout));
    std::string buffer(static_cast<size_t>(state.range(0)), '\0');
    int32_t result = Success;
    for (auto _ : state) {
        fs::remove(out);
        const int from = open(in.c_str(), O_RDONLY | O_CLOEXEC);
        const int to = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bmpc::FdSource source(from);
        bmpc::FdSink sink(to);
        result = bmptest::ConvertStream(source, sink, 150,
                                        reinterpret_cast<uint8_t*>(buffer.data()), buffer.size())
                     .result;
        close(from);
        close(to);
    }
    fs::remove_all(dir);
    if (result != Success) state.SkipWithError("conversion failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(layout.width) * 3 * layout.height);
}

void RegisterAll() {
    size_t count = 0;
    const bmpc::KernelInfo* kernels = bmpc::AllKernels(count);
    for (size_t i = 0; i < count; ++i) {
        benchmark::RegisterBenchmark((std::string("Kernel/") + kernels[i].name).c_str(),
                                     KernelBench, kernels[i])
            ->Arg(64 << 10)
            ->Arg(3000000)
            ->Arg(300000000)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("KeepingKernel/") + kernels[i].name).c_str(),
                                     KeepingKernelBench, kernels[i])
            ->Arg(64 << 10)
            ->Arg(3000000)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("Copy/memcpy", CopyBench)
        ->Arg(64 << 10)
        ->Arg(3000000)
        ->Arg(300000000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Call/24bit_megapixels", CallBench)
        ->Arg(1)
        ->Arg(24)
        ->Arg(100)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("Stream/100MP_24bit_chunk", StreamBench)
        ->Arg(256 << 10)
        ->Arg(1 << 20)
        ->Arg(4 << 20)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
