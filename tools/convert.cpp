#include "convert.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "bmpcontrast.h"
#include "messages.h"
#include "platform/platform.h"
#include "refusal_hint.h"
#include "report.h"
#include "temp_file.h"
#include "utf8_path.h"

namespace bmpcontrast_cli {
namespace {

// Files from this size on are read ahead harder, and their outputs looked
// for before converting.
constexpr uint64_t kReadAheadFrom = uint64_t{1} << 20;
// A file alone is written on a second thread from this size on.
constexpr uint64_t kWriteBehindFrom = uint64_t{8} << 20;

// A file as the engine's source. The headers come in many small reads; on a
// regular file they are served from one block read at once, which for a
// small file is the whole of it.
class FdSource final : public bmpc::ByteSource {
  public:
    FdSource(int fd, int64_t size) : fd_(fd), size_(size) {}
    size_t Read(uint8_t* into, size_t n) noexcept override {
        size_t got = Buffered(into, n);
        if (got < n && size_ > 0 && n - got < sizeof block_) {
            start_ += static_cast<int64_t>(have_);
            // No more than the file holds: a read that finds the end costs a call.
            const int64_t left = std::max<int64_t>(0, size_ - start_);
            have_ = ReadFull(block_, static_cast<size_t>(std::min<int64_t>(left, sizeof block_)));
            used_ = 0;
            got += Buffered(into + got, n - got);
        }
        if (got < n) got += ReadFull(into + got, n - got);
        return got;
    }
    bool SeekTo(int64_t offset) noexcept override {
        if (offset >= start_ && offset <= start_ + static_cast<int64_t>(have_) && size_ > 0) {
            used_ = static_cast<size_t>(offset - start_);
            return true;
        }
        if (!platform::SeekTo(fd_, offset)) return false;
        start_ = offset, have_ = used_ = 0;
        return true;
    }
    int64_t Size() noexcept override { return size_; }

  private:
    size_t Buffered(uint8_t* into, size_t n) {
        const size_t take = std::min(n, have_ - used_);
        std::memcpy(into, block_ + used_, take);
        used_ += take;
        return take;
    }
    // Reads past the block: the file's position is past it too.
    size_t ReadFull(uint8_t* into, size_t n) {
        size_t got = 0;
        while (got < n) {
            const long k = platform::ReadSome(fd_, reinterpret_cast<char*>(into + got), n - got);
            if (k <= 0) break;
            got += static_cast<size_t>(k);
        }
        if (into != block_) start_ += static_cast<int64_t>(have_ + got), have_ = used_ = 0;
        return got;
    }

    int fd_;
    int64_t size_;
    int64_t start_ = 0;  // where the block came from in the file
    size_t have_ = 0, used_ = 0;
    uint8_t block_[4096];
};

// Remembers why a write failed; the tool says so in its own line.
class FdSink final : public bmpc::ByteSink {
  public:
    explicit FdSink(int fd) : fd_(fd) {}
    bool Write(const uint8_t* data, size_t n) noexcept override {
        while (n > 0) {
            const long k = platform::WriteSome(fd_, reinterpret_cast<const char*>(data), n);
            if (k <= 0) {
                error = k < 0 ? errno : ENOSPC;
                return false;
            }
            data += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    }
    const char* FailureLine() const noexcept override { return nullptr; }
    int error = 0;

  private:
    int fd_;
};

// Writes behind the conversion, on a thread of its own: each chunk is
// copied into a free slot and written while the next one is converted, so
// that one large file keeps two cores busy. Used where a file is alone.
class WriteBehind final : public bmpc::ByteSink {
  public:
    WriteBehind(int fd, size_t slotBytes) : out_(fd), slotBytes_(slotBytes) {
        for (Slot& slot : slots_) slot.bytes.reset(new uint8_t[slotBytes]);
        writer_ = std::thread([this] { WriteSlots(); });
    }
    ~WriteBehind() { Finish(); }
    bool Write(const uint8_t* data, size_t n) noexcept override {
        while (n > 0) {
            std::unique_lock<std::mutex> hold(lock_);
            changed_.wait(hold, [&] { return slots_[next_].size == 0 || failed_ != 0; });
            if (failed_ != 0) return false;
            Slot& slot = slots_[next_];
            const size_t take = std::min(n, slotBytes_);
            hold.unlock();  // the writer leaves a free slot alone
            std::memcpy(slot.bytes.get(), data, take);
            hold.lock();
            slot.size = take;
            next_ = (next_ + 1) % slots_.size();
            changed_.notify_all();
            data += take, n -= take;
        }
        return true;
    }
    const char* FailureLine() const noexcept override { return nullptr; }
    // Waits for every write; the error of the first that failed, or 0.
    int Finish() {
        if (writer_.joinable()) {
            {
                std::lock_guard<std::mutex> hold(lock_);
                done_ = true;
                changed_.notify_all();
            }
            writer_.join();
        }
        return failed_;
    }

  private:
    struct Slot {
        std::unique_ptr<uint8_t[]> bytes;
        size_t size = 0;  // 0: free
    };
    void WriteSlots() {
        bool broken = false;
        for (size_t k = 0;; k = (k + 1) % slots_.size()) {
            std::unique_lock<std::mutex> hold(lock_);
            changed_.wait(hold, [&] { return slots_[k].size != 0 || done_; });
            if (slots_[k].size == 0) return;  // done, and nothing left
            hold.unlock();
            broken = broken || !out_.Write(slots_[k].bytes.get(), slots_[k].size);
            hold.lock();
            if (broken && failed_ == 0) failed_ = out_.error;
            slots_[k].size = 0;
            changed_.notify_all();
        }
    }

    FdSink out_;  // the writer's alone
    int failed_ = 0;
    size_t slotBytes_;
    std::array<Slot, 2> slots_;
    size_t next_ = 0;
    bool done_ = false;
    std::mutex lock_;
    std::condition_variable changed_;
    std::thread writer_;
};

// The scratch file sits next to the destination, so that the final rename
// stays within one file system; the dot keeps it out of plain listings.
std::string ScratchPrefix(const std::string& destination) {
    const std::filesystem::path dest = PathOf(destination);
    std::string name = ".";
    name += Utf8Of(dest.filename());
    name += ".bmpcontrast-";
    return Utf8Of(dest.parent_path() / PathOf(name));
}

std::string Text(const bmpc::Line& line) {
    std::string text = line.text;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

class Lines {
  public:
    Lines(const Request& r, Outcome& o) : r_(r), o_(o) {}
    void Tool(const std::string& text) { o_.err += "bmpcontrast: " + text + "\n"; }
    void Failed(const std::string& text) {
        Tool(text);
        o_.status = Outcome::Status::Failed;
    }
    void Library(const bmpc::Line& line) {
        const bool success = line.text == bmpc::msg::kSuccess;
        if (r_.batch) {
            if (!success) {
                Tool(Quoted(r_.shown) + ": " + Text(line));
            } else if (r_.verbose) {
                o_.out += Quoted(r_.shown) + ": " + line.text;
            }
        } else if (!(success && r_.quiet)) {
            // Quiet sends what is left to standard error, as do image bytes
            // on standard output.
            const bool out = line.channel == bmpc::Channel::Out && !r_.quiet;
            (out && !r_.destination.empty() ? o_.out : o_.err) += line.text;
        }
    }
    void Refused(const bmpc::Description& d, int32_t result, const char* line) {
        if (line != nullptr) Library({bmpc::Channel::Err, line});
        if (d.headersRead && (result == BMPCONTRAST_COMPRESSION_UNSUPPORTED ||
                              result == BMPCONTRAST_UNSUPPORTED_BIT_DEPTH)) {
            if (const std::string hint = RefusalHint(d, r_.shown); !hint.empty()) Tool(hint);
        }
        if (r_.batch)
            Tool(Quoted(r_.shown) + " not converted (result " + std::to_string(result) + ")");
        o_.status = Outcome::Status::Failed;
    }

  private:
    const Request& r_;
    Outcome& o_;
};

std::string WriteError(const Request& r, int error) {
    return "cannot write " +
           (r.destination.empty() ? std::string("standard output")
                                  : "output " + Quoted(r.shownOutput)) +
           ": " + std::strerror(error);
}

}  // namespace

bool Skips(const Request& r) {
    if (r.skip == Request::Skip::Never || r.destination.empty()) return false;
    const auto existing = platform::Stat(r.destination);
    if (!existing || r.skip == Request::Skip::IfExists) return existing.has_value();
    const auto input = platform::Stat(r.input);
    return !input || existing->modifiedNs >= input->modifiedNs;
}

std::string WouldRefuse(const Request& r) {
    const int fd = platform::OpenRead(r.input);
    if (fd < 0) return "cannot open input " + Quoted(r.shown);
    FdSource source(fd, platform::RegularSize(fd));
    bmpc::Description d;
    bmpc::Describe(source, r.level, d);
    platform::Close(fd);
    std::string why = PreCheck(d, r.strict, r.maxPixels);
    if (why.empty() && d.result != BMPCONTRAST_SUCCESS) {
        why = d.line != nullptr ? Text({bmpc::Channel::Err, d.line})
                                : "result " + std::to_string(d.result);
    }
    return why.empty() ? "" : Quoted(r.shown) + " would be refused: " + why;
}

std::string PreCheck(const bmpc::Description& d, bool strict, uint64_t maxPixels) {
    if (!d.headersRead) return "";
    const uint64_t width = d.info.biWidth < 0 ? 0 : static_cast<uint64_t>(d.info.biWidth);
    const int64_t h = d.info.biHeight;
    const uint64_t height = static_cast<uint64_t>(h < 0 ? -h : h);
    if (maxPixels != 0 && width * height > maxPixels) {
        return "the header claims " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels, more than --max-pixels " + std::to_string(maxPixels);
    }
    if (strict && d.result == BMPCONTRAST_SUCCESS && !d.complete) {
        const uint64_t need = static_cast<uint64_t>(d.pixelStart) + uint64_t(d.geometry.size);
        return "truncated: the header claims " + std::to_string(need) + " bytes, the file has " +
               std::to_string(d.fileSize) + " (--strict)";
    }
    return "";
}

Outcome Convert(const Request& r, uint8_t* buffer, size_t bufferSize,
                const std::atomic<bool>* cancel) {
    Outcome outcome;
    Lines say(r, outcome);
    if (Skips(r)) {
        if (r.verbose)
            outcome.out += Quoted(r.shown) + ": skipped, " + Quoted(r.shownOutput) + " exists\n";
        outcome.status = Outcome::Status::Skipped;
        return outcome;
    }
    int fd = r.inputFd;
    if (fd < 0 && (fd = platform::OpenRead(r.input)) < 0) {
        say.Failed("cannot open input " + Quoted(r.shown) + ": " + std::strerror(errno));
        return outcome;
    }
    struct Closer {
        int fd;
        bool own;
        void Close() {
            if (own) platform::Close(fd);
            own = false;
        }
        ~Closer() { Close(); }
    } input{fd, r.inputFd < 0};
    // What was opened, not what the name showed earlier.
    const std::optional<platform::FileInfo> inputInfo = platform::OpenInfo(fd);
    uint32_t mode = r.mode;
    if (r.narrow && inputInfo) mode &= inputInfo->permissions;
    const int64_t size =
        inputInfo && inputInfo->regular ? static_cast<int64_t>(inputInfo->size) : 0;
    if (size > int64_t{kReadAheadFrom}) platform::ReadingThrough(fd);
    FdSource source(fd, size);
    bmpc::Description d;
    bmpc::Describe(source, r.level, d);
    if (const std::string why = PreCheck(d, r.strict, r.maxPixels); !why.empty()) {
        say.Failed(Quoted(r.shown) + " not converted: " + why);
        return outcome;
    }
    if (d.result != BMPCONTRAST_SUCCESS) {
        say.Refused(d, d.result, d.line);
        return outcome;
    }

    // An output that is there already is found again by the final rename;
    // looked for first only where the conversion is worth sparing.
    if (!r.replace && !r.destination.empty() && d.outputSize > kReadAheadFrom &&
        platform::NameExists(r.destination)) {
        say.Failed(Quoted(r.shownOutput) + " already exists; not overwritten (use --force)");
        return outcome;
    }
    std::optional<TempFile> scratch;
    int outFd = 1;
    if (!r.destination.empty()) {
        scratch.emplace(ScratchPrefix(r.destination), mode);
        if (!scratch->valid()) {
            say.Failed(WriteError(r, errno));
            return outcome;
        }
        outFd = scratch->fd();
    }
    FdSink direct(outFd);
    std::optional<WriteBehind> behind;
    if (!r.batch && d.outputSize > kWriteBehindFrom) behind.emplace(outFd, bufferSize);
    bmpc::ByteSink& sink = behind ? static_cast<bmpc::ByteSink&>(*behind) : direct;
    bmpc::StreamResult s =
        bmpc::ConvertDescribed(d, r.level, source, sink, buffer, bufferSize, cancel);
    const int writeError = behind ? behind->Finish() : direct.error;
    if (s.cancelled) {
        outcome.status = Outcome::Status::Cancelled;
        return outcome;  // the scratch file goes with `scratch`
    }
    if (writeError != 0) {
        say.Failed(WriteError(r, writeError));
        return outcome;
    }
    if (s.result != BMPCONTRAST_SUCCESS) {
        for (const bmpc::Line& line : s.lines) say.Library(line);
        say.Refused(d, s.result, nullptr);
        return outcome;
    }
    // Windows replaces no file that is open, the input in place included.
    input.Close();
    // Done writing: a late failure (a full disk on a network file system)
    // may show only when the file is closed.
    int error = scratch ? scratch->Close() : platform::Close(1);
    // The times with -p; and a read-only result only now, once written
    // (Windows creates the scratch file writable whatever the mode).
    if (error == 0 && scratch && ((r.preserve && inputInfo) || (mode & 0222) == 0)) {
        error = platform::ApplyMetadata(scratch->path(), mode,
                                        r.preserve && inputInfo ? &*inputInfo : nullptr);
    }
    if (error == 0 && scratch) error = scratch->MoveTo(r.destination, r.replace);
    if (error == EEXIST && !r.replace) {
        say.Failed(Quoted(r.shownOutput) + " already exists; not overwritten (use --force)");
        return outcome;
    }
    if (error != 0) {
        say.Failed(WriteError(r, error));
        return outcome;
    }
    outcome.status = Outcome::Status::Converted;
    for (const bmpc::Line& line : s.lines) say.Library(line);
    if (s.palette.entries > 0 && !s.palette.grey) {
        say.Tool(Quoted(r.shown) +
                 ": warning: the colour table is not grey; colours will shift, because the index "
                 "bytes are adjusted, not the colours");
    }
    if (s.indexPastPalette) {
        say.Tool(Quoted(r.shown) + ": warning: the curve sends indices past the colour table's " +
                 std::to_string(s.palette.entries) + " entries; readers may refuse the output");
    }
    return outcome;
}

}  // namespace bmpcontrast_cli
