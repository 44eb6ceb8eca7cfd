#include "single_run.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include "bmp_peek.h"
#include "bmpcontrast.h"
#include "exit_status.h"
#include "help.h"
#include "platform/platform.h"
#include "refusal_hint.h"
#include "report.h"
#include "std_streams.h"
#include "temp_file.h"
#include "utf16.h"
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

std::string ErrorText(int error) { return std::strerror(error); }

// Creates a private scratch file in the temporary directory. Returns the
// reason when it cannot, or an empty string.
std::string OpenScratch(std::optional<TempFile>& file) {
    file.emplace(Utf8Of(PathOf(platform::TempDirectory()) / "bmpcontrast-"), 0600);
    if (file->valid()) return "";
    return "cannot create a temporary file in " + Quoted(platform::TempDirectory()) + ": " +
           ErrorText(errno);
}

}  // namespace

int RunSingle(const Options& options) {
    const std::string& inputArg = options.files[0];
    const std::string& outputArg = options.files[1];
    const bool fromStdin = inputArg == "-";
    const bool toStdout = outputArg == "-";
    const std::string inputName = fromStdin ? "standard input" : inputArg;
    const std::string outputName = toStdout ? "standard output" : outputArg;

    // Names that cannot be passed on are usage errors, found before anything
    // is read or written.
    if (!fromStdin && !Utf8ToUtf16(inputArg)) return UsageFailure("INPUT is not valid UTF-8");
    if (!toStdout && !Utf8ToUtf16(outputArg)) return UsageFailure("OUTPUT is not valid UTF-8");
    // Image bytes are never meant for a person's screen.
    if (toStdout && platform::IsTerminal(platform::StdStream::Out)) {
        return UsageFailure("standard output is a terminal; redirect it to write the image there");
    }
    const auto inputInfo = fromStdin ? std::nullopt : platform::Stat(inputArg);
    if (inputInfo && inputInfo->directory) {
        return Fail("cannot open input " + Quoted(inputArg) +
                    ": it is a folder (use -r and --out-dir to convert the files in it)");
    }
    const bool outputExisted = !toStdout && platform::NameExists(outputArg);

    // Before anything can print: from here on, file descriptor 1 carries
    // nothing but the image.
    std::optional<ImageStdout> image;
    if (toStdout) {
        image.emplace();
        if (!image->valid()) return Fail("cannot use standard output: " + ErrorText(errno));
    }

    std::optional<TempFile> spooledInput;
    std::string inputPath = inputArg;
    if (fromStdin) {
        if (const std::string problem = OpenScratch(spooledInput); !problem.empty()) {
            return Fail(problem);
        }
        platform::SetBinary(0);
        bool readFailed = false;
        if (const int error = CopyAll(0, spooledInput->fd(), readFailed); error != 0) {
            return Fail(std::string(readFailed ? "cannot read standard input: "
                                               : "cannot spool standard input: ") +
                        ErrorText(error));
        }
        inputPath = spooledInput->path();
    }
    std::optional<TempFile> spooledOutput;
    std::string outputPath = outputArg;
    if (toStdout) {
        if (const std::string problem = OpenScratch(spooledOutput); !problem.empty()) {
            return Fail(problem);
        }
        outputPath = spooledOutput->path();
    }

    const auto input16 = Utf8ToUtf16(inputPath);
    const auto output16 = Utf8ToUtf16(outputPath);
    // Only a scratch file in a $TMPDIR that is not UTF-8 can fail here.
    if (!input16 || !output16) return Fail("temporary directory name is not valid UTF-8");

    const auto peek = PeekBmp(inputPath);
    if (peek) {
        if (const std::string why = PreCheck(*peek, options.strict, options.maxPixels);
            !why.empty()) {
            return Fail(Quoted(inputName) + " not converted: " + why);
        }
    }

    errno = 0;
    int32_t result = 0;
    int error = 0;
    if (options.quiet) {
        // Quiet drops the success line only; anything else still shows.
        std::string lines;
        {
            platform::OutputCapture capture;
            result = BMPContrast(input16->c_str(), output16->c_str(), options.level);
            error = errno;
            lines = capture.Take();
        }
        const std::string success = "Success: Contrast adjustment applied.\n";
        if (const size_t at = lines.find(success); at != std::string::npos) {
            lines.erase(at, success.size());
        }
        std::fputs(lines.c_str(), stderr);
    } else {
        result = BMPContrast(input16->c_str(), output16->c_str(), options.level);
        error = errno;
    }
    if (result != BMPCONTRAST_SUCCESS) {
        ReportFailure(result, error, inputName, outputName, false);
        if (peek && (result == BMPCONTRAST_COMPRESSION_UNSUPPORTED ||
                     result == BMPCONTRAST_UNSUPPORTED_BIT_DEPTH)) {
            if (const std::string hint = RefusalHint(*peek, inputName); !hint.empty()) Say(hint);
        }
        return kExitFailed;
    }
    if (peek) {
        if (const std::string warning = PaletteWarning(*peek, inputName); !warning.empty()) {
            Say(warning);
        }
    }
    // A new output is never readable by more people than its input.
    if (!toStdout && inputInfo && (!outputExisted || options.preserve)) {
        if (const auto outInfo = platform::Stat(outputArg); outInfo && outInfo->regular) {
            const uint32_t narrowed = outInfo->permissions & inputInfo->permissions;
            if (narrowed != outInfo->permissions || options.preserve) {
                platform::ApplyMetadata(outputArg, narrowed,
                                        options.preserve ? &*inputInfo : nullptr);
            }
        }
    }
    if (image) {
        if (const int sendError = image->Send(spooledOutput->fd()); sendError != 0) {
            return Fail("cannot write standard output: " + ErrorText(sendError));
        }
    }
    return kExitOk;
}

}  // namespace bmpcontrast_cli
