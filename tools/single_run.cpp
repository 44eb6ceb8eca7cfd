#include "single_run.h"

#include <memory>

#include "convert.h"
#include "exit_status.h"
#include "help.h"
#include "platform/platform.h"
#include "report.h"
#include "system.h"

namespace bmpcontrast_cli {
namespace {

int UsageFailure(const std::string& text) {
    Say(text);
    PrintUsage(stderr);
    return kExitUsage;
}

bmpc::files::Existing ExistingPolicy(const Options& o) {
    using bmpc::files::Existing;
    return o.update ? Existing::Update : o.skipExisting ? Existing::Skip : Existing::Replace;
}

}  // namespace

int RunSingle(const Options& options, const std::atomic<bool>& cancel, unsigned closedAtStart) {
    const std::string& inputArg = options.files[0];
    const std::string& outputArg = options.files[1];
    const bool fromStdin = inputArg == "-";
    const bool toStdout = outputArg == "-";

    // Names that cannot be passed on are usage errors, found before anything
    // is read or written.
    if (inputArg.empty()) return UsageFailure("INPUT is an empty name");
    if (outputArg.empty())
        return UsageFailure("OUTPUT is an empty name (use - for standard output)");
    if (!fromStdin && !platform::UsableName(inputArg)) {
        return UsageFailure("INPUT is not valid UTF-8");
    }
    if (!toStdout && !platform::UsableName(outputArg)) {
        return UsageFailure("OUTPUT is not valid UTF-8");
    }
    // Image bytes are never meant for a person's screen.
    if (toStdout && platform::IsTerminal(platform::StdStream::Out)) {
        return UsageFailure("standard output is a terminal; redirect it to write the image there");
    }
    // A closed stream was opened on the null device at start, so that no
    // file takes its number: reading or writing it would lose the image.
    if (fromStdin && (closedAtStart & 1u) != 0) {
        Say("cannot read standard input: it is closed");
        return kExitFailed;
    }
    if (toStdout && (closedAtStart & 2u) != 0) {
        Say("cannot write standard output: it is closed");
        return kExitFailed;
    }

    Request r;
    bmpc::files::Job& job = r.job;
    job.level = options.level;
    job.mode = options.colour ? bmpc::Mode::Colour : bmpc::Mode::Contract;
    job.existing = ExistingPolicy(options);
    job.force = options.force;
    job.preserveTimes = options.preserve;
    job.strict = options.strict;
    job.maxPixels = options.maxPixels;
    job.threads = platform::AvailableProcessors();
    job.cancel = &cancel;
    r.quiet = options.quiet;
    r.verbose = options.verbose;
    r.shown = fromStdin ? "standard input" : inputArg;
    if (fromStdin) {
        bmpc::sys::SetBinary(0);
        job.inputFd = 0;
    } else {
        job.input = inputArg;
    }
    if (toStdout) {
        bmpc::sys::SetBinary(1);
        job.outputFd = 1;
    } else {
        job.output = r.shownOutput = outputArg;
    }
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunkBytes]);
    const platform::InterruptibleThread interruptible;  // a pipe that never ends
    const Outcome outcome = Convert(r, buffer.get(), kChunkBytes);
    if (cancel) platform::FinishInterrupted();
    EmitAll(outcome);
    using bmpc::files::Status;
    return outcome.status == Status::Converted || outcome.status == Status::Skipped ? kExitOk
                                                                                    : kExitFailed;
}

}  // namespace bmpcontrast_cli
