#include "batch_run.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "batch_plan.h"
#include "convert.h"
#include "exit_status.h"
#include "platform/platform.h"
#include "report.h"

namespace bmpcontrast_cli {
namespace {

using bmpc::files::Status;

Request RequestFor(const BatchItem& item, const Options& options, const std::atomic<bool>* cancel) {
    using bmpc::files::Existing;
    Request r;
    bmpc::files::Job& job = r.job;
    job.input = r.shown = item.input;
    job.output = r.shownOutput = item.destination;
    job.level = options.level;
    job.mode = options.colour ? bmpc::Mode::Colour : bmpc::Mode::Contract;
    job.existing = options.update                     ? Existing::Update
                   : options.skipExisting             ? Existing::Skip
                   : options.force || options.inPlace ? Existing::Replace
                                                      : Existing::Refuse;
    job.force = options.force;
    job.preserveTimes = options.preserve;
    job.strict = options.strict;
    job.maxPixels = options.maxPixels;
    job.makeFolders = true;
    job.cancel = cancel;
    r.batch = true;
    r.verbose = options.verbose;
    r.quiet = options.quiet;
    return r;
}

// -n: what a run would do to each file, and nothing done.
int DryRun(BatchFeed& feed, const Options& options) {
    size_t total = 0, refused = 0, skipped = 0;
    std::vector<std::string> notes;
    for (BatchItem item; feed.Next(item, notes); ++total) {
        if (options.verbose) {
            for (const std::string& note : notes) Emit(1, note + "\n");
        }
        notes.clear();
        if (!item.problem.empty()) {
            ++refused;
            Say(item.problem);
            continue;
        }
        bool exists = false;
        const Outcome o = Foresee(RequestFor(item, options, nullptr), exists);
        EmitAll(o);
        if (o.status == Status::Skipped) {
            ++skipped;
            if (options.verbose) Emit(1, "would skip " + Quoted(item.destination) + "\n");
        } else if (o.status != Status::Converted) {
            ++refused;
        } else {
            Emit(1,
                 (exists ? "would overwrite " : "would write ") + Quoted(item.destination) + "\n");
        }
    }
    if (options.verbose) {
        for (const std::string& note : notes) Emit(1, note + "\n");
    }
    if (!options.quiet) {
        const std::string skips =
            skipped == 0 ? "" : std::to_string(skipped) + " would be skipped, ";
        Emit(2, "dry run: " + std::to_string(total - refused - skipped) + " would be converted, " +
                    skips + std::to_string(refused) + " would fail\n");
    }
    return refused == 0 ? kExitOk : kExitFailed;
}

// What the conversion threads hand the main thread, which alone prints.
struct Board {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Outcome> finished;
    size_t next = 0;          // the next item to take
    size_t running = 0;       // threads still working
    unsigned converting = 0;  // of them, converting a file now
    bool lines = false;       // an outcome worth waking for is waiting
    bool counts = false;      // every outcome is worth waking for
};

class ProgressLine {
  public:
    ProgressLine(size_t total, bool shown) : total_(total), shown_(shown) {}
    void Draw(size_t done, size_t failed) {
        if (!shown_) return;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        char text[160];
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
        if (total_ == 0) {  // a list still being read
            std::snprintf(text, sizeof text, "\r\033[K%zu files, %zu failed, %.1f files/s", done,
                          failed, rate);
        } else {
            std::snprintf(text, sizeof text,
                          "\r\033[K%zu/%zu files (%zu%%), %zu failed, %.1f files/s", done, total_,
                          done * 100 / total_, failed, rate);
        }
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
    BatchFeed feed;
    if (std::string error; !feed.Open(options, error)) {
        Say(error);
        return kExitFailed;
    }
    if (options.dryRun) return DryRun(feed, options);

    // The items planned so far, and how each ended. Without a list all are
    // planned first, so that the progress line knows the total; a list is
    // read as the batch goes.
    std::vector<BatchItem> items;
    std::vector<Status> statuses;
    std::vector<std::string> notes;
    bool exhausted = false;
    auto plan = [&] {
        BatchItem item;
        if (exhausted || (exhausted = !feed.Next(item, notes))) return false;
        items.push_back(std::move(item));
        statuses.push_back(Status::Cancelled);
        return true;
    };
    if (options.filesFrom.empty()) {
        while (plan()) {
        }
    }
    if (options.verbose) {
        for (const std::string& note : notes) Emit(1, note + "\n");
    }
    notes.clear();

    const unsigned wanted = options.jobs != 0 ? options.jobs : platform::AvailableProcessors();
    const auto count =
        exhausted ? std::max<size_t>(1, std::min<size_t>(wanted, items.size())) : size_t{wanted};
    const bool showProgress = (items.size() > 1 || !exhausted) && !options.quiet &&
                              platform::IsTerminal(platform::StdStream::Err);
    // The total, where it is known before any thread starts.
    ProgressLine progress(exhausted ? items.size() : 0, showProgress);
    Board board;
    board.counts = showProgress;
    auto work = [&] {
        const platform::InterruptibleThread interruptible;
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunkBytes]);
        for (;;) {
            BatchItem item;
            unsigned threads = 1;
            size_t k = 0;
            {
                std::lock_guard<std::mutex> hold(board.lock);
                const bool more = !cancel && (board.next < items.size() || plan());
                // Lines about names planned meanwhile (-v), printed in order.
                if (options.verbose && !notes.empty()) {
                    Outcome said;
                    said.status = Status::Cancelled;  // lines only: counted as no file
                    for (const std::string& note : notes) said.lines.emplace_back(1, note + "\n");
                    board.finished.push_back(std::move(said));
                    board.lines = true;
                    board.changed.notify_one();
                }
                notes.clear();
                if (!more) break;
                k = board.next++;
                item = items[k];
                // Once no file is left to start, a large one may take the
                // threads that other files would have had.
                if (board.next >= items.size() && exhausted) {
                    threads = std::max(1u, wanted - board.converting);
                }
                ++board.converting;
            }
            Outcome outcome;
            if (!item.problem.empty()) {
                outcome.lines.emplace_back(2, "bmpcontrast: " + item.problem + "\n");
            } else {
                Request request = RequestFor(item, options, &cancel);
                request.job.threads = threads;
                outcome = Convert(request, buffer.get(), kChunkBytes);
            }
            // The main thread is woken for lines to print, and for counts
            // only where a progress line shows them.
            const bool wake = !outcome.Empty() || board.counts;
            std::lock_guard<std::mutex> hold(board.lock);
            --board.converting;
            statuses[k] = outcome.status;
            board.finished.push_back(std::move(outcome));
            if (wake) {
                board.lines = true;
                board.changed.notify_one();
            }
        }
        std::lock_guard<std::mutex> hold(board.lock);
        --board.running;
        board.changed.notify_one();
    };
    // A thread the system will not start leaves the batch to fewer; with
    // none, the main thread converts alone.
    std::vector<std::thread> threads;
    for (size_t t = 0; t < count; ++t) {
        try {
            {
                std::lock_guard<std::mutex> hold(board.lock);
                ++board.running;
            }
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            std::lock_guard<std::mutex> hold(board.lock);
            --board.running;
            break;
        }
    }
    if (threads.empty()) {
        board.running = 1;
        work();
    }

    size_t converted = 0, failed = 0, skipped = 0;
    for (bool more = true; more;) {
        std::deque<Outcome> done;
        {
            std::unique_lock<std::mutex> hold(board.lock);
            board.changed.wait(hold, [&] { return board.lines || board.running == 0; });
            board.lines = false;
            done.swap(board.finished);
            more = board.running > 0 || !done.empty();
        }
        for (const Outcome& o : done) {
            if (!o.Empty()) progress.Clear();
            EmitAll(o);
            if (o.status == Status::Converted) ++converted;
            if (o.status == Status::Skipped) ++skipped;
            if (o.status == Status::Failed) ++failed;
        }
        progress.Draw(converted + skipped + failed, failed);
    }
    for (std::thread& t : threads) t.join();
    progress.Clear();

    if (cancel) {
        // The names left, one a line on standard output (NUL-ended with
        // -0), for --files-from: a run on them converts nothing twice.
        std::vector<std::string> names;
        for (size_t k = 0; k < items.size(); ++k) {
            if (statuses[k] == Status::Cancelled) names.push_back(items[k].input);
        }
        const std::vector<std::string> unread = feed.Unread();
        names.insert(names.end(), unread.begin(), unread.end());
        std::string left;
        for (const std::string& name : names) {
            left += name;
            left += options.nulSeparated ? '\0' : '\n';
        }
        Say("interrupted; " + std::to_string(names.size()) + " of " +
            std::to_string(items.size() + unread.size()) +
            " files not converted; their names follow on standard output (for --files-from)");
        Emit(1, left);
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
