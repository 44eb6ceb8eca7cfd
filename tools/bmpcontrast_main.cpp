// bmpcontrast: the library's conversion from the shell, for one file or many.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch_run.h"
#include "exit_status.h"
#include "help.h"
#include "options.h"
#include "platform/platform.h"
#include "report.h"
#include "single_run.h"
#include "system.h"

using namespace bmpcontrast_cli;

namespace {

// A run whose lines for standard output could not all be written (a full
// disk, a closed pipe) has not done what it said.
int Finish(int status) {
    const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    const int error = OutputError() != 0 ? OutputError() : flushed ? 0 : errno != 0 ? errno : EIO;
    if (error == 0) return status;
    Say(std::string("cannot write standard output: ") + std::strerror(error));
    return status == kExitOk ? kExitFailed : status;
}

int Run(const Options& options, unsigned closedAtStart) {
    static std::atomic<bool> interrupted{false};
    switch (options.mode) {
        case Options::Mode::Help:
            PrintHelp(stdout);
            return kExitOk;
        case Options::Mode::Version:
            PrintVersion(stdout);
            return kExitOk;
        case Options::Mode::Single:
            platform::WatchInterrupts(&interrupted);
            return RunSingle(options, interrupted, closedAtStart);
        case Options::Mode::Batch:
            platform::WatchInterrupts(&interrupted);
            return RunBatch(options, interrupted);
        case Options::Mode::Usage:
            break;
    }
    if (!options.error.empty()) std::fprintf(stderr, "bmpcontrast: %s\n", options.error.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything is opened: a file that took descriptor 1 or 2 would
    // receive the lines printed meanwhile.
    const unsigned closedAtStart = bmpc::sys::ReserveStandardDescriptors();
    const std::vector<std::string> args = platform::Arguments(argc, argv);
    platform::PrepareProcess();
    std::vector<const char*> words;
    for (const std::string& arg : args) words.push_back(arg.c_str());
    const Options options = ParseOptions(static_cast<int>(words.size()), words.data());
    return Finish(Run(options, closedAtStart));
}
