// bmpcontrast: the library's call from the shell, for one file or many.
#include <cstdio>
#include <string>
#include <vector>

#include "batch_run.h"
#include "convert_file.h"
#include "exit_status.h"
#include "help.h"
#include "memory_policy.h"
#include "options.h"
#include "platform/platform.h"
#include "single_run.h"

using namespace bmpcontrast_cli;

int main(int argc, char** argv) {
    KeepFreedPixelMemory();
    const std::vector<std::string> args = platform::Arguments(argc, argv);
    // A worker of a batch, started anew where processes cannot be forked.
    if (const auto status = platform::Worker::ServeIfWorker(args, WorkerMain)) return *status;
    platform::PrepareStreams();
    // Read before any thread could create a file.
    platform::CreationMask();
    std::vector<const char*> words;
    for (const std::string& arg : args) words.push_back(arg.c_str());
    const Options options = ParseOptions(static_cast<int>(words.size()), words.data());
    switch (options.mode) {
        case Options::Mode::Help:
            PrintHelp(stdout);
            return kExitOk;
        case Options::Mode::Version:
            PrintVersion(stdout);
            return kExitOk;
        case Options::Mode::Single:
            return RunSingle(options);
        case Options::Mode::Batch:
            return RunBatch(options);
        case Options::Mode::Usage:
            break;
    }
    if (!options.error.empty()) std::fprintf(stderr, "bmpcontrast: %s\n", options.error.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}
