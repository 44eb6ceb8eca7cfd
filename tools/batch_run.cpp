#include "batch_run.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "batch_plan.h"
#include "convert.h"
#include "exit_status.h"
#include "platform/platform.h"
#include "report.h"
#include "utf8_path.h"

namespace bmpcontrast_cli {
namespace {

using Status = Outcome::Status;

Request RequestFor(const BatchItem& item, const Options& options) {
    Request r;
    r.input = r.shown = item.input;
    r.destination = r.shownOutput = item.destination;
    r.level = options.level;
    r.mode = item.mode;
    r.replace = options.force || options.inPlace || options.update;
    // Never readable by more people than the input is.
    r.narrow = !options.inPlace;
    r.preserve = options.preserve;
    r.strict = options.strict;
    r.maxPixels = options.maxPixels;
    r.batch = true;
    r.verbose = options.verbose;
    r.quiet = options.quiet;
    r.skip = options.update         ? Request::Skip::IfNewer
             : options.skipExisting ? Request::Skip::IfExists
                                    : Request::Skip::Never;
    return r;
}

// -n: what a run would do to each file, and nothing done.
int DryRun(const std::vector<BatchItem>& items, const Options& options) {
    size_t refused = 0, skipped = 0;
    for (const BatchItem& item : items) {
        const Request r = RequestFor(item, options);
        std::string why = item.problem.empty() ? WouldRefuse(r) : item.problem;
        if (why.empty() && Skips(r)) {
            ++skipped;
            if (options.verbose) Emit(1, "would skip " + Quoted(item.destination) + "\n");
            continue;
        }
        if (why.empty()) {
            if (!platform::NameExists(item.destination)) {
                Emit(1, "would write " + Quoted(item.destination) + "\n");
                continue;
            }
            if (r.replace) {
                Emit(1, "would overwrite " + Quoted(item.destination) + "\n");
                continue;
            }
            why = Quoted(item.destination) + " already exists; would not be overwritten";
        }
        ++refused;
        Say(why);
    }
    if (!options.quiet) {
        const std::string skips =
            skipped == 0 ? "" : std::to_string(skipped) + " would be skipped, ";
        Emit(2, "dry run: " + std::to_string(items.size() - refused - skipped) +
                    " would be converted, " + skips + std::to_string(refused) + " would fail\n");
    }
    return refused == 0 ? kExitOk : kExitFailed;
}

// What the conversion threads hand the main thread, which alone prints.
struct Board {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Outcome> finished;
    size_t next = 0;     // the next item to take
    size_t running = 0;  // threads still working
    bool lines = false;  // an outcome with lines to print is waiting
};

class ProgressLine {
  public:
    ProgressLine(size_t total, bool shown) : total_(total), shown_(shown) {}
    void Draw(size_t done, size_t failed) {
        if (!shown_) return;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        char text[160];
        std::snprintf(text, sizeof text, "\r\033[K%zu/%zu files (%zu%%), %zu failed, %.1f files/s",
                      done, total_, total_ == 0 ? size_t{100} : done * 100 / total_, failed,
                      seconds > 0 ? static_cast<double>(done) / seconds : 0.0);
        Emit(2, text);
    }
    // Clears the line, so that whatever is printed next starts clean.
    void Clear() {
        if (shown_) Emit(2, "\r\033[K");
    }

  private:
    size_t total_;
    bool shown_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int RunBatch(const Options& options, std::atomic<bool>& cancel) {
    if (!options.outDir.empty() && !options.dryRun) {
        std::error_code ec;
        std::filesystem::create_directories(PathOf(options.outDir), ec);
        if (ec) {
            Say("cannot create output directory " + Quoted(options.outDir) + ": " + ec.message());
            return kExitFailed;
        }
    }
    std::vector<std::string> inputs, roots, notes;
    if (std::string error; !CollectInputs(options, inputs, roots, notes, error)) {
        Say(error);
        return kExitFailed;
    }
    const std::vector<BatchItem> items = PlanBatch(options, inputs, roots, notes);
    if (options.verbose) {
        for (const std::string& note : notes) Emit(1, note + "\n");
    }
    if (options.dryRun) return DryRun(items, options);

    // Every folder a result goes into, made once before any conversion.
    if (!options.inPlace) {
        std::set<std::string> folders;
        for (const BatchItem& item : items) {
            if (item.problem.empty())
                folders.insert(Utf8Of(PathOf(item.destination).parent_path()));
        }
        for (const std::string& folder : folders) {
            std::error_code ec;
            std::filesystem::create_directories(PathOf(folder), ec);
        }
    }
    const unsigned wanted = options.jobs != 0 ? options.jobs : platform::AvailableProcessors();
    const auto count = std::max<size_t>(1, std::min<size_t>(wanted, items.size()));
    Board board;
    board.running = count;
    auto work = [&] {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunkBytes]);
        for (;;) {
            size_t k = 0;
            {
                std::lock_guard<std::mutex> hold(board.lock);
                if (cancel || board.next >= items.size()) break;
                k = board.next++;
            }
            Outcome outcome;
            if (!items[k].problem.empty()) {
                outcome.err = "bmpcontrast: " + items[k].problem + "\n";
            } else {
                outcome =
                    Convert(RequestFor(items[k], options), buffer.get(), kChunkBytes, &cancel);
            }
            // The main thread is woken for lines to print; counts alone
            // wait for its next look.
            const bool lines = !outcome.out.empty() || !outcome.err.empty();
            std::lock_guard<std::mutex> hold(board.lock);
            board.finished.push_back(std::move(outcome));
            if (lines) {
                board.lines = true;
                board.changed.notify_one();
            }
        }
        std::lock_guard<std::mutex> hold(board.lock);
        --board.running;
        board.changed.notify_one();
    };
    std::vector<std::thread> threads;
    for (size_t t = 0; t < count; ++t) threads.emplace_back(work);

    const bool showProgress =
        items.size() > 1 && !options.quiet && platform::IsTerminal(platform::StdStream::Err);
    ProgressLine progress(items.size(), showProgress);
    size_t converted = 0, failed = 0, skipped = 0, cancelled = 0;
    for (bool more = true; more;) {
        std::deque<Outcome> done;
        {
            std::unique_lock<std::mutex> hold(board.lock);
            board.changed.wait_for(hold, std::chrono::milliseconds(200),
                                   [&] { return board.lines || board.running == 0; });
            board.lines = false;
            done.swap(board.finished);
            more = board.running > 0 || !done.empty();
        }
        for (const Outcome& o : done) {
            if (!o.out.empty() || !o.err.empty()) progress.Clear();
            Emit(1, o.out);
            Emit(2, o.err);
            (o.status == Status::Converted ? converted
             : o.status == Status::Skipped ? skipped
             : o.status == Status::Failed  ? failed
                                           : cancelled)++;
        }
        progress.Draw(converted + skipped + failed, failed);
    }
    for (std::thread& t : threads) t.join();
    progress.Clear();

    if (cancel) {
        Say("interrupted; " + std::to_string(items.size() - converted - skipped - failed) + " of " +
            std::to_string(items.size()) + " files not converted");
    }
    if (!options.quiet) {
        const std::string skips = skipped == 0 ? "" : std::to_string(skipped) + " skipped, ";
        Emit(2, std::to_string(converted) + " converted, " + skips + std::to_string(failed) +
                    " failed\n");
    }
    platform::FinishInterrupted();  // ends the process here if a signal came
    return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace bmpcontrast_cli
