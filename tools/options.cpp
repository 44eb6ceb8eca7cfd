#include "options.h"

#include <charconv>
#include <string_view>

namespace bmpcontrast_cli {
namespace {

template <typename T>
bool ParseInteger(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

bool LooksLikeOption(std::string_view arg) {
    if (arg.size() < 2 || arg[0] != '-') return false;
    return !(arg[1] >= '0' && arg[1] <= '9');
}

Options UsageError(std::string reason) {
    Options o;
    o.mode = Options::Mode::Usage;
    o.error = std::move(reason);
    return o;
}

// Checks the batch options against each other once all are known.
Options FinishBatch(Options o, bool haveLevel) {
    if (!haveLevel) return UsageError("batch mode needs --level N");
    if (o.level <= 0) return UsageError("--level must be a positive integer");
    if (o.inPlace && !o.outDir.empty())
        return UsageError("--in-place and --out-dir exclude each other");
    if (!o.inPlace && o.outDir.empty())
        return UsageError("batch mode needs --out-dir DIR or --in-place");
    if (o.files.empty()) return UsageError("no input files given");
    for (const auto& f : o.files) {
        if (f == "-") return UsageError("'-' (standard input) cannot be used in batch mode");
    }
    o.mode = Options::Mode::Batch;
    return o;
}

}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
    Options o;
    bool batch = false;
    bool haveLevel = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || !LooksLikeOption(arg)) {
            o.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // Split "--name=value" and "-xVALUE" into name and attached value.
        std::string_view name = arg;
        std::string_view attached;
        bool hasAttached = false;
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq), attached = arg.substr(eq + 1), hasAttached = true;
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2), attached = arg.substr(2), hasAttached = true;
        }
        auto is = [&](std::string_view shortName, std::string_view longName) {
            return name == shortName || name == longName;
        };
        // Fetches the option's value, attached or in the next argument.
        auto value = [&](std::string_view& out) {
            if (hasAttached) {
                out = attached;
                return true;
            }
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        auto flag = [&](bool& target) {
            if (hasAttached) return false;
            target = true;
            batch = true;
            return true;
        };
        std::string_view v;
        const std::string shown(name);
        if (is("-h", "--help")) {
            if (hasAttached) return UsageError("unknown option '" + std::string(arg) + "'");
            o.mode = Options::Mode::Help;
            return o;
        } else if (is("-V", "--version")) {
            if (hasAttached) return UsageError("unknown option '" + std::string(arg) + "'");
            o.mode = Options::Mode::Version;
            return o;
        } else if (is("-l", "--level")) {
            if (!value(v)) return UsageError(shown + " needs a value");
            if (!ParseInteger(v, o.level)) {
                return UsageError("LEVEL must be an integer in the 32-bit range, not '" +
                                  std::string(v) + "'");
            }
            haveLevel = batch = true;
        } else if (is("-o", "--out-dir")) {
            if (!value(v) || v.empty()) return UsageError(shown + " needs a directory");
            o.outDir = v;
            batch = true;
        } else if (is("-j", "--jobs")) {
            if (!value(v)) return UsageError(shown + " needs a value");
            if (!ParseInteger(v, o.jobs) || o.jobs == 0) {
                return UsageError(shown + " must be a positive integer, not '" + std::string(v) +
                                  "'");
            }
            batch = true;
        } else if (is("-f", "--force")) {
            if (!flag(o.force)) return UsageError("unknown option '" + std::string(arg) + "'");
        } else if (is("-i", "--in-place")) {
            if (!flag(o.inPlace)) return UsageError("unknown option '" + std::string(arg) + "'");
        } else if (is("-q", "--quiet")) {
            if (!flag(o.quiet)) return UsageError("unknown option '" + std::string(arg) + "'");
        } else {
            return UsageError("unknown option '" + std::string(arg) + "'");
        }
    }
    if (batch) return FinishBatch(std::move(o), haveLevel);

    if (o.files.empty()) return o;  // bare call: usage without a reason
    if (o.files.size() != 3) return UsageError("expected INPUT OUTPUT LEVEL");
    if (!ParseInteger(std::string_view(o.files[2]), o.level)) {
        return UsageError("LEVEL must be an integer in the 32-bit range");
    }
    o.files.pop_back();
    o.mode = Options::Mode::Single;
    return o;
}

}  // namespace bmpcontrast_cli
