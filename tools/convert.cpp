#include "convert.h"

#include <cerrno>
#include <cstring>

#include "bmpcontrast.h"
#include "messages.h"
#include "refusal_hint.h"
#include "report.h"
#include "system.h"

namespace bmpcontrast_cli {
namespace {

using bmpc::files::Reason;
using bmpc::files::Result;
using bmpc::files::Status;

std::string Text(const char* line) {
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

class Lines {
  public:
    Lines(const Request& r, Outcome& o) : r_(r), o_(o) {}
    void Tool(const std::string& text) { o_.lines.emplace_back(2, "bmpcontrast: " + text + "\n"); }
    void Library(const bmpc::Line& line) {
        const bool success = line.kind == bmpc::Kind::Success;
        if (r_.batch) {
            if (!success) {
                Tool(Quoted(r_.shown) + ": " + Text(line.text));
            } else if (r_.verbose) {
                o_.lines.emplace_back(1, Quoted(r_.shown) + ": " + line.text);
            }
        } else if (!(success && r_.quiet)) {
            // Quiet sends what is left to standard error, as do image bytes
            // on standard output.
            const bool out = line.channel == bmpc::Channel::Out && !r_.quiet;
            o_.lines.emplace_back(out && !r_.shownOutput.empty() ? 1 : 2, line.text);
        }
    }
    void Verbose(const std::string& text) {
        if (r_.verbose) o_.lines.emplace_back(1, text + "\n");
    }

  private:
    const Request& r_;
    Outcome& o_;
};

std::string Output(const Request& r) {
    return r.shownOutput.empty() ? std::string("standard output")
                                 : "output " + Quoted(r.shownOutput);
}

std::string Pixels(const bmpc::Description& d, uint64_t maxPixels) {
    const int64_t h = d.info.biHeight;
    return "the header claims " + std::to_string(d.info.biWidth) + " x " +
           std::to_string(h < 0 ? -h : h) + " pixels, more than --max-pixels " +
           std::to_string(maxPixels);
}

std::string Truncation(const bmpc::Description& d) {
    const uint64_t need = static_cast<uint64_t>(d.pixelStart) + uint64_t(d.geometry.size);
    return "truncated: the header claims " + std::to_string(need) + " bytes, the file has " +
           std::to_string(d.fileSize) + " (--strict)";
}

// The line for a file that failed, or was skipped, outside the engine.
void Explain(const Request& r, const Result& res, Lines& say) {
    const std::string in = Quoted(r.shown);
    const std::string why = res.error != 0 ? std::strerror(res.error) : "";
    switch (res.reason) {
        case Reason::None:
        case Reason::Refused:
            return;
        case Reason::InputOpen:
            return say.Tool("cannot open input " + in + ": " + why);
        case Reason::InputIsFolder:
            return say.Tool("cannot open input " + in +
                            ": it is a folder (use -r and --out-dir to convert the files in it)");
        case Reason::TooManyPixels:
            return say.Tool(in + " not converted: " + Pixels(res.description, r.job.maxPixels));
        case Reason::Truncated:
            return say.Tool(in + " not converted: " + Truncation(res.description));
        case Reason::ReadFailed:
            return say.Tool(in + " not converted: it could not be read whole (" +
                            (res.error != 0 ? why : "it is shorter than when it was opened") +
                            "); the original is kept");
        case Reason::OutputExists:
            return say.Tool(Quoted(r.shownOutput) +
                            " already exists; not overwritten (use --force)");
        case Reason::OutputReadOnly:
            return say.Tool(Quoted(r.shownOutput) + " is read-only; not overwritten (use --force)");
        case Reason::OutputKept:
            return say.Verbose(in + ": skipped, " + Quoted(r.shownOutput) + " exists");
        case Reason::OutputNewer:
            return say.Verbose(in + ": skipped, " + Quoted(r.shownOutput) + " is not older");
        case Reason::OutputIsFolder:
            return say.Tool("cannot write " + Output(r) + ": it is a folder");
        case Reason::Owner:
            return say.Tool("cannot give the result the owner of " + Quoted(r.shownOutput) + ": " +
                            why + "; not converted");
        case Reason::OutputCreate:
        case Reason::Write:
        case Reason::Rename:
            say.Tool("cannot write " + Output(r) + ": " + why);
            if (!res.keptScratch.empty())
                say.Tool("the converted file is in " + Quoted(res.keptScratch));
            return;
    }
}

void Refused(const Request& r, const Result& res, Lines& say) {
    for (const bmpc::Line& line : res.lines) say.Library(line);
    if (const std::string hint = RefusalHint(res.description, r.shown); !hint.empty())
        say.Tool(hint);
    // The single form prints the library's line as the library does, which
    // names no file: this line does, in both forms.
    say.Tool(Quoted(r.shown) + " not converted (result " + std::to_string(res.code) + ")");
}

// Contract mode's warnings about indices; colour mode moves none.
void Warnings(const Request& r, const Result& res, Lines& say) {
    const bmpc::StreamResult& s = res.stream;
    if (r.job.mode == bmpc::Mode::Colour) return;
    if (s.palette.entries > 0 && !s.palette.grey && s.indicesMoved) {
        say.Tool(Quoted(r.shown) +
                 ": warning: the colour table is not grey; colours will shift, because the index "
                 "bytes are adjusted, not the colours");
    }
    if (s.indexPastPalette) {
        say.Tool(Quoted(r.shown) + ": warning: the curve sends indices past the colour table's " +
                 std::to_string(s.palette.entries) + " entries; readers may refuse the output");
    }
}

}  // namespace

Outcome Convert(const Request& r, uint8_t* buffer, size_t bufferSize) {
    Outcome outcome;
    Lines say(r, outcome);
    const Result res = bmpc::files::Run(r.job, buffer, bufferSize);
    outcome.status = res.status;
    for (const std::string& stale : res.staleRemoved)
        say.Verbose("removed " + Quoted(stale) + ", left by a run that did not finish");
    if (res.status == Status::Converted) {
        for (const bmpc::Line& line : res.lines) say.Library(line);
        Warnings(r, res, say);
    } else if (res.reason == Reason::Refused) {
        Refused(r, res, say);
    } else if (res.status != Status::Cancelled) {
        Explain(r, res, say);
    }
    return outcome;
}

Outcome Foresee(const Request& r, bool& outputExists) {
    Outcome outcome;
    Lines say(r, outcome);
    outputExists = !r.job.output.empty() && bmpc::sys::NameExists(r.job.output);
    const Result res = bmpc::files::Foresee(r.job);
    outcome.status = res.status;
    if (res.status == Status::Skipped) return outcome;
    if (res.reason == Reason::Refused) {
        const bmpc::Line* line = res.lines.begin();
        const std::string why =
            line != res.lines.end() ? Text(line->text) : "result " + std::to_string(res.code);
        say.Tool(Quoted(r.shown) + " would be refused: " + why);
        if (const std::string hint = RefusalHint(res.description, r.shown); !hint.empty())
            say.Tool(hint);
    } else if (res.reason == Reason::OutputExists) {
        say.Tool(Quoted(r.shownOutput) + " already exists; would not be overwritten");
    } else if (res.reason == Reason::OutputReadOnly) {
        say.Tool(Quoted(r.shownOutput) + " is read-only; would not be overwritten");
    } else if (res.reason == Reason::TooManyPixels) {
        say.Tool(Quoted(r.shown) +
                 " would be refused: " + Pixels(res.description, r.job.maxPixels));
    } else if (res.reason == Reason::Truncated) {
        say.Tool(Quoted(r.shown) + " would be refused: " + Truncation(res.description));
    } else {
        Explain(r, res, say);
    }
    return outcome;
}

void EmitAll(const Outcome& outcome) {
    for (const auto& [fd, text] : outcome.lines) Emit(fd, text);
}

}  // namespace bmpcontrast_cli
