// bmpcontrast: the library's conversion from the shell, for one file or many.
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "batch_run.h"
#include "exit_status.h"
#include "help.h"
#include "options.h"
#include "platform/platform.h"
#include "single_run.h"
#include "system.h"

using namespace bmpcontrast_cli;

int main(int argc, char** argv) {
    // Before anything is opened: a file that took descriptor 1 or 2 would
    // receive the lines printed meanwhile.
    const unsigned closedAtStart = bmpc::sys::ReserveStandardDescriptors();
    const std::vector<std::string> args = platform::Arguments(argc, argv);
    platform::PrepareProcess();
    std::vector<const char*> words;
    for (const std::string& arg : args) words.push_back(arg.c_str());
    const Options options = ParseOptions(static_cast<int>(words.size()), words.data());
    static std::atomic<bool> interrupted{false};
    switch (options.mode) {
        case Options::Mode::Help:
            PrintHelp(stdout);
            return kExitOk;
        case Options::Mode::Version:
            PrintVersion(stdout);
            return kExitOk;
        case Options::Mode::ListOptions:
            ListOptions(stdout);
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
