#include "convert_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bmp_peek.h"
#include "bmpcontrast.h"
#include "refusal_hint.h"
#include "report.h"
#include "temp_file.h"
#include "utf16.h"
#include "utf8_path.h"

namespace bmpcontrast_cli {
namespace {

constexpr char kSuccessLine[] = "Success: Contrast adjustment applied.";

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\0', start);
        fields.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return fields;
        start = end + 1;
    }
}

// The scratch file sits next to the destination, so that the final rename
// stays within one file system; the dot keeps it out of plain listings.
std::string ScratchPrefix(const std::string& destination) {
    const std::filesystem::path dest = PathOf(destination);
    std::string name = ".";
    name += Utf8Of(dest.filename());
    name += ".bmpcontrast-";
    return Utf8Of(dest.parent_path() / PathOf(name));
}

struct Lines {
    Outcome& outcome;
    void Tool(const std::string& text) { outcome.err += "bmpcontrast: " + text + "\n"; }
    // The library's own lines, each given the file's name.
    void Library(const std::string& captured, const std::string& input, bool verbose) {
        size_t start = 0;
        while (start < captured.size()) {
            size_t end = captured.find('\n', start);
            if (end == std::string::npos) end = captured.size();
            const std::string line = captured.substr(start, end - start);
            start = end + 1;
            if (line == kSuccessLine) {
                if (verbose) outcome.out += Quoted(input) + ": " + line + "\n";
            } else if (!line.empty()) {
                outcome.err += "bmpcontrast: " + Quoted(input) + ": " + line + "\n";
            }
        }
    }
};

}  // namespace

std::string Encode(const Job& j) {
    std::string s;
    for (const std::string& f : {j.input, j.destination, std::to_string(j.mode),
                                 std::to_string(j.level), std::to_string(j.maxPixels),
                                 std::string{j.replace ? '1' : '0', j.preserve ? '1' : '0',
                                             j.strict ? '1' : '0', j.verbose ? '1' : '0'}}) {
        s += f;
        s += '\0';
    }
    s.pop_back();
    return s;
}

bool Decode(const std::string& text, Job& j) {
    const auto f = Split(text);
    if (f.size() != 6 || f[5].size() != 4) return false;
    j.input = f[0];
    j.destination = f[1];
    j.mode = static_cast<uint32_t>(std::stoul(f[2]));
    j.level = static_cast<int32_t>(std::stol(f[3]));
    j.maxPixels = std::stoull(f[4]);
    j.replace = f[5][0] == '1', j.preserve = f[5][1] == '1', j.strict = f[5][2] == '1';
    j.verbose = f[5][3] == '1';
    return true;
}

std::string Encode(const Outcome& o) {
    return std::string(o.ok ? "1" : "0") + '\0' + o.out + '\0' + o.err;
}

bool Decode(const std::string& text, Outcome& o) {
    const auto f = Split(text);
    if (f.size() != 3) return false;
    o.ok = f[0] == "1", o.out = f[1], o.err = f[2];
    return true;
}

Outcome ConvertFile(const Job& job, platform::OutputCapture& capture) {
    Outcome outcome;
    Lines say{outcome};
    if (!job.replace && platform::NameExists(job.destination)) {
        say.Tool(Quoted(job.destination) + " already exists; not overwritten (use --force)");
        return outcome;
    }
    const auto input16 = Utf8ToUtf16(job.input);
    if (!input16) {
        say.Tool(Quoted(job.input) + " not converted: the name is not valid UTF-8");
        return outcome;
    }
    const auto peek = PeekBmp(job.input);
    if (peek) {
        if (const std::string why = PreCheck(*peek, job.strict, job.maxPixels); !why.empty()) {
            say.Tool(Quoted(job.input) + " not converted: " + why);
            return outcome;
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(PathOf(job.destination).parent_path(), ec);
    TempFile scratch(ScratchPrefix(job.destination), job.mode);
    if (!scratch.valid()) {
        say.Tool("cannot write output " + Quoted(job.destination) + ": " + std::strerror(errno));
        return outcome;
    }
    const auto scratch16 = Utf8ToUtf16(scratch.path());
    if (!scratch16) {
        say.Tool(Quoted(job.destination) + " not written: the name is not valid UTF-8");
        return outcome;
    }
    capture.Take();  // nothing from before belongs to this file
    errno = 0;
    const int32_t result = BMPContrast(input16->c_str(), scratch16->c_str(), job.level);
    const int error = errno;
    say.Library(capture.Take(), job.input, job.verbose);
    if (result != BMPCONTRAST_SUCCESS) {
        if (peek && (result == BMPCONTRAST_COMPRESSION_UNSUPPORTED ||
                     result == BMPCONTRAST_UNSUPPORTED_BIT_DEPTH)) {
            if (const std::string hint = RefusalHint(*peek, job.input); !hint.empty()) {
                say.Tool(hint);
            }
        }
        if (result == BMPCONTRAST_INPUT_OPEN_FAILED) {
            say.Tool("cannot open input " + Quoted(job.input) +
                     (error != 0 ? std::string(": ") + std::strerror(error) : ""));
        } else if (result == BMPCONTRAST_OUTPUT_OPEN_FAILED) {
            say.Tool("cannot write output " + Quoted(job.destination) +
                     (error != 0 ? std::string(": ") + std::strerror(error) : ""));
        } else {
            say.Tool(Quoted(job.input) + " not converted (result " + std::to_string(result) + ")");
        }
        return outcome;
    }
    if (peek) {
        if (const std::string warning = PaletteWarning(*peek, job.input); !warning.empty()) {
            say.Tool(warning);
        }
    }
    if (job.preserve) {
        if (const auto info = platform::Stat(job.input)) {
            if (const int e = platform::ApplyMetadata(scratch.path(), job.mode, &*info); e != 0) {
                say.Tool("cannot keep the times of " + Quoted(job.input) + ": " + std::strerror(e));
            }
        }
    }
    if (const int moveError = scratch.MoveTo(job.destination, job.replace); moveError != 0) {
        if (moveError == EEXIST) {
            say.Tool(Quoted(job.destination) + " already exists; not overwritten (use --force)");
        } else {
            say.Tool("cannot write output " + Quoted(job.destination) + ": " +
                     std::strerror(moveError));
        }
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

int WorkerMain(platform::Worker& parent) {
    platform::OutputCapture capture;
    if (!capture.valid()) return 1;
    std::string message;
    // The memory policy main() set comes along into the worker, so the pixel
    // memory one file frees serves the next one this worker converts.
    while (parent.Receive(message)) {
        Job job;
        Outcome outcome;
        if (!Decode(message, job)) {
            outcome.err = "bmpcontrast: internal error: a job could not be read\n";
        } else {
            outcome = ConvertFile(job, capture);
        }
        if (!parent.Send(Encode(outcome))) return 1;
    }
    return 0;
}

}  // namespace bmpcontrast_cli
