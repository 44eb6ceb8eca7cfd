#include "single_run.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "convert.h"
#include "exit_status.h"
#include "help.h"
#include "platform/platform.h"
#include "report.h"
#include "temp_file.h"
#include "utf8_path.h"

namespace bmpcontrast_cli {
namespace {

int Fail(const std::string& text) {
    Say(text);
    return kExitFailed;
}

int UsageFailure(const std::string& text) {
    Say(text);
    PrintUsage(stderr);
    return kExitUsage;
}

// Standard input is a pipe: its bytes go to a private scratch file first,
// so that the conversion sees a sized file it can seek in, as for any file.
std::string Spool(std::optional<TempFile>& file, const std::atomic<bool>& cancel) {
    file.emplace(Utf8Of(PathOf(platform::TempDirectory()) / "bmpcontrast-"), 0600);
    if (!file->valid()) {
        return "cannot create a temporary file in " + Quoted(platform::TempDirectory()) + ": " +
               std::strerror(errno);
    }
    std::unique_ptr<char[]> buffer(new char[1 << 16]);
    for (;;) {
        const long got = platform::ReadSome(0, buffer.get(), 1 << 16);
        if (got == 0 || cancel) break;
        if (got < 0) return std::string("cannot read standard input: ") + std::strerror(errno);
        for (long done = 0; done < got;) {
            const long n = platform::WriteSome(file->fd(), buffer.get() + done,
                                               static_cast<size_t>(got - done));
            if (n <= 0) {
                return std::string("cannot spool standard input: ") +
                       std::strerror(n < 0 ? errno : ENOSPC);
            }
            done += n;
        }
    }
    platform::SeekTo(file->fd(), 0);
    return "";
}

}  // namespace

int RunSingle(const Options& options, const std::atomic<bool>& cancel) {
    const std::string& inputArg = options.files[0];
    const std::string& outputArg = options.files[1];
    const bool fromStdin = inputArg == "-";
    const bool toStdout = outputArg == "-";

    // Names that cannot be passed on are usage errors, found before anything
    // is read or written.
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
    const auto inputInfo = fromStdin ? std::nullopt : platform::Stat(inputArg);
    if (inputInfo && inputInfo->directory) {
        return Fail("cannot open input " + Quoted(inputArg) +
                    ": it is a folder (use -r and --out-dir to convert the files in it)");
    }

    const uint32_t inputPermissions = inputInfo ? inputInfo->permissions : 07777;
    Request r;
    r.level = options.level;
    r.quiet = options.quiet;
    r.strict = options.strict;
    r.maxPixels = options.maxPixels;
    r.preserve = options.preserve;
    r.replace = true;
    r.input = inputArg;
    r.shown = fromStdin ? "standard input" : inputArg;
    std::optional<TempFile> spooled;
    if (fromStdin) {
        platform::SetBinary(0);
        // A regular file on standard input is read as it is.
        if (platform::RegularSize(0) > 0 && platform::Position(0) == 0) {
            r.inputFd = 0;
        } else {
            if (const std::string problem = Spool(spooled, cancel); !problem.empty())
                return Fail(problem);
            r.inputFd = spooled->fd();
        }
    }
    if (toStdout) {
        platform::SetBinary(1);
    } else {
        // The result replaces the file OUTPUT names, through a symbolic link.
        r.destination = platform::Resolved(outputArg);
        r.shownOutput = outputArg;
        const auto existing = platform::Stat(r.destination);
        // A new output is never readable by more people than its input; an
        // existing one keeps its permissions.
        // Replaced by a rename, an output the user may not write would be
        // replaced all the same: refused, as writing it would be.
        if (existing && existing->regular && !platform::Writable(r.destination)) {
            return Fail("cannot write output " + Quoted(outputArg) + ": " + std::strerror(EACCES));
        }
        if (existing && existing->regular) {
            r.mode = existing->permissions & (options.preserve ? inputPermissions : 07777);
        } else {
            r.mode = 0666 & ~platform::CreationMask() & inputPermissions;
        }
    }
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunkBytes]);
    const Outcome outcome = Convert(r, buffer.get(), kChunkBytes, &cancel);
    if (cancel) {
        spooled.reset();
        platform::FinishInterrupted();
    }
    Emit(1, outcome.out);
    Emit(2, outcome.err);
    return outcome.status == Outcome::Status::Converted ? kExitOk : kExitFailed;
}

}  // namespace bmpcontrast_cli
