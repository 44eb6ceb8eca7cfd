#include "batch_run.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "batch_plan.h"
#include "bmpcontrast.h"
#include "exit_status.h"
#include "interrupt.h"
#include "progress.h"
#include "report.h"
#include "temp_file.h"
#include "utf16.h"

namespace bmpcontrast_cli {
namespace {

unsigned AvailableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

// The scratch file sits next to the destination, so that the final rename
// stays within one file system; the dot keeps it out of plain listings.
std::string ScratchPrefix(const std::string& destination) {
    const std::filesystem::path dest(destination);
    std::string name = ".";
    name += dest.filename().string();
    name += ".bmpcontrast-";
    return (dest.parent_path() / name).string();
}

bool Convert(const BatchItem& item, const Options& options) {
    if (!item.problem.empty()) {
        Say(item.problem);
        return false;
    }
    const bool replace = options.force || options.inPlace;
    struct stat st {};
    if (!replace && lstat(item.destination.c_str(), &st) == 0) {
        Say(Quoted(item.destination) + " already exists; not overwritten (use --force)");
        return false;
    }
    const auto input16 = Utf8ToUtf16(item.input);
    if (!input16) {
        Say(Quoted(item.input) + " not converted: the name is not valid UTF-8");
        return false;
    }
    TempFile scratch(ScratchPrefix(item.destination), item.mode);
    if (!scratch.valid()) {
        Say("cannot write output " + Quoted(item.destination) + ": " + std::strerror(errno));
        return false;
    }
    const auto scratch16 = Utf8ToUtf16(scratch.path());
    if (!scratch16) {
        Say(Quoted(item.destination) + " not written: the name is not valid UTF-8");
        return false;
    }
    errno = 0;
    const int32_t result = BMPContrast(input16->c_str(), scratch16->c_str(), options.level);
    const int error = errno;
    if (result != Success) {
        ReportFailure(result, error, item.input, item.destination, true);
        return false;
    }
    if (const int moveError = scratch.MoveTo(item.destination, replace); moveError != 0) {
        if (moveError == EEXIST) {
            Say(Quoted(item.destination) + " already exists; not overwritten (use --force)");
        } else {
            Say("cannot write output " + Quoted(item.destination) + ": " +
                std::strerror(moveError));
        }
        return false;
    }
    return true;
}

// With --quiet the library's success lines are not wanted; its error lines
// on standard error still are.
void SilenceStdout() {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    dup2(null, STDOUT_FILENO);
    close(null);
}

}  // namespace

int RunBatch(const Options& options) {
    if (!options.outDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.outDir, ec);
        if (ec) {
            Say("cannot create output directory " + Quoted(options.outDir) + ": " + ec.message());
            return kExitFailed;
        }
    }
    const std::vector<BatchItem> items = PlanBatch(options);
    if (options.quiet) SilenceStdout();

    const unsigned wanted = options.jobs != 0 ? options.jobs : AvailableProcessors();
    const auto workers = static_cast<unsigned>(std::min<size_t>(wanted, items.size()));
    std::atomic<size_t> next{0};
    std::atomic<size_t> failed{0};
    std::atomic<size_t> finished{0};
    InterruptWatch interrupt;
    Progress progress(items.size());
    if (WantProgress(items.size(), options.quiet)) progress.Start();
    auto work = [&] {
        while (interrupt.received() == 0) {
            const size_t i = next.fetch_add(1);
            if (i >= items.size()) break;
            const bool ok = Convert(items[i], options);
            if (!ok) failed.fetch_add(1);
            finished.fetch_add(1);
            progress.Step(ok);
        }
    };
    std::vector<std::thread> pool;
    for (unsigned k = 1; k < workers; ++k) {
        // Fewer threads than asked for is no reason to give up.
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();  // the main thread is one of the workers
    for (auto& t : pool) t.join();
    progress.Stop();

    const size_t bad = failed.load();
    const size_t done = finished.load();
    std::fflush(stdout);
    if (done < items.size()) {
        Say("interrupted; " + std::to_string(items.size() - done) + " of " +
            std::to_string(items.size()) + " files not started");
    }
    if (!options.quiet) std::fprintf(stderr, "%zu converted, %zu failed\n", done - bad, bad);
    interrupt.Finish();  // ends the process here if a signal came
    return bad == 0 ? kExitOk : kExitFailed;
}

}  // namespace bmpcontrast_cli
