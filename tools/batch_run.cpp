#include "batch_run.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "batch_plan.h"
#include "bmp_peek.h"
#include "convert_file.h"
#include "exit_status.h"
#include "platform/platform.h"
#include "progress.h"
#include "report.h"
#include "utf8_path.h"

namespace bmpcontrast_cli {
namespace {

// Lines go out in one piece each, so that nothing another writer prints
// can land inside one.
void Print(std::FILE* to, const std::string& lines) {
    if (lines.empty()) return;
    std::fwrite(lines.data(), 1, lines.size(), to);
    std::fflush(to);
}

Job JobFor(const BatchItem& item, const Options& options) {
    Job job;
    job.input = item.input;
    job.destination = item.destination;
    job.mode = item.mode;
    job.level = options.level;
    job.replace = options.force || options.inPlace;
    job.preserve = options.preserve;
    job.strict = options.strict;
    job.verbose = options.verbose;
    job.maxPixels = options.maxPixels;
    return job;
}

// -n: what a run would do to each file, and nothing done.
int DryRun(const std::vector<BatchItem>& items, const Options& options) {
    size_t refused = 0;
    for (const BatchItem& item : items) {
        std::string line;
        if (!item.problem.empty()) {
            line = item.problem;
        } else if (const auto peek = PeekBmp(item.input); !peek) {
            line = Quoted(item.input) + " would be refused: not a readable bitmap";
        } else if (const std::string why = PreCheck(*peek, options.strict, options.maxPixels);
                   !why.empty()) {
            line = Quoted(item.input) + " would be refused: " + why;
        } else if (peek->compression != 0 ||
                   (peek->bitCount != 8 && peek->bitCount != 24 && peek->bitCount != 32)) {
            line = Quoted(item.input) + " would be refused: " +
                   (peek->compression != 0 ? "compressed" : "unsupported bit depth");
        } else if (platform::NameExists(item.destination)) {
            if (options.force || options.inPlace) {
                Print(stdout, "would overwrite " + Quoted(item.destination) + "\n");
                continue;
            }
            line = Quoted(item.destination) + " already exists; would not be overwritten";
        } else {
            Print(stdout, "would write " + Quoted(item.destination) + "\n");
            continue;
        }
        ++refused;
        Say(line);
    }
    if (!options.quiet) {
        std::fprintf(stderr, "dry run: %zu would be converted, %zu would fail\n",
                     items.size() - refused, refused);
    }
    return refused == 0 ? kExitOk : kExitFailed;
}

struct Slot {
    std::unique_ptr<platform::Worker> worker;
    std::optional<size_t> busy;  // the item it is converting
};

}  // namespace

int RunBatch(const Options& options) {
    std::vector<std::string> inputs, roots;
    if (std::string error; !CollectInputs(options, inputs, roots, error)) {
        Say(error);
        return kExitFailed;
    }
    if (!options.outDir.empty() && !options.dryRun) {
        std::error_code ec;
        std::filesystem::create_directories(PathOf(options.outDir), ec);
        if (ec) {
            Say("cannot create output directory " + Quoted(options.outDir) + ": " + ec.message());
            return kExitFailed;
        }
    }
    const std::vector<BatchItem> items = PlanBatch(options, inputs, roots);
    if (options.dryRun) return DryRun(items, options);

    const unsigned wanted = options.jobs != 0 ? options.jobs : platform::AvailableProcessors();
    const auto count = std::max<size_t>(1, std::min<size_t>(wanted, items.size()));
    // Workers start before any thread exists in this process.
    std::vector<Slot> slots(count);
    for (Slot& s : slots) s.worker = platform::Worker::Start(WorkerMain);

    size_t failed = 0, finished = 0, next = 0;
    platform::InterruptWatch interrupt;
    Progress progress(items.size());
    if (WantProgress(items.size(), options.quiet)) progress.Start();
    auto finish = [&](bool ok, const Outcome* outcome) {
        if (outcome != nullptr) {
            Print(stdout, outcome->out);
            Print(stderr, outcome->err);
        }
        if (!ok) ++failed;
        ++finished;
        progress.Step(ok);
    };
    // Hands each idle worker the next file; files that are refused before
    // any conversion are settled here.
    auto dispatch = [&] {
        for (Slot& s : slots) {
            while (!s.busy && s.worker && !interrupt.received() && next < items.size()) {
                const BatchItem& item = items[next++];
                if (!item.problem.empty()) {
                    Say(item.problem);
                    finish(false, nullptr);
                    continue;
                }
                if (s.worker->Send(Encode(JobFor(item, options))))
                    s.busy = next - 1;
                else
                    --next, s.worker.reset();
            }
        }
    };
    for (;;) {
        dispatch();
        std::vector<platform::Worker*> active;
        std::vector<Slot*> owners;
        for (Slot& s : slots) {
            if (s.busy) active.push_back(s.worker.get()), owners.push_back(&s);
        }
        if (active.empty()) {
            if (interrupt.received() || next >= items.size()) break;
            // Every worker is gone: start new ones, or give up on the rest.
            bool any = false;
            for (Slot& s : slots) {
                if (!s.worker) s.worker = platform::Worker::Start(WorkerMain);
                any = any || s.worker != nullptr;
            }
            if (!any) {
                Say("cannot start a worker process; " + std::to_string(items.size() - next) +
                    " files not converted");
                while (next < items.size()) ++next, finish(false, nullptr);
                break;
            }
            continue;
        }
        for (const size_t k : platform::Worker::Readable(active, 100)) {
            Slot& s = *owners[k];
            const BatchItem& item = items[*s.busy];
            std::string message;
            Outcome outcome;
            if (s.worker->Receive(message) && Decode(message, outcome)) {
                finish(outcome.ok, &outcome);
            } else {
                // The worker died on this file: the file fails, the batch goes on.
                const std::string how = s.worker->Reap();
                Say(Quoted(item.input) + " not converted: the conversion crashed" +
                    (how.empty() ? "" : " (" + how + ")"));
                finish(false, nullptr);
                s.worker = platform::Worker::Start(WorkerMain);
            }
            s.busy.reset();
        }
    }
    for (Slot& s : slots) {
        if (s.worker) s.worker->Reap();
    }
    progress.Stop();

    std::fflush(stdout);
    if (finished < items.size()) {
        Say("interrupted; " + std::to_string(items.size() - finished) + " of " +
            std::to_string(items.size()) + " files not started");
    }
    if (!options.quiet) {
        std::fprintf(stderr, "%zu converted, %zu failed\n", finished - failed, failed);
    }
    interrupt.Finish();  // ends the process here if a signal came
    return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace bmpcontrast_cli
