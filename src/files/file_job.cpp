#include "file_job.h"

#include <cerrno>
#include <memory>
#include <optional>

#include "bmpcontrast.h"
#include "fd_stream.h"
#include "memory_source.h"
#include "messages.h"
#include "ranges.h"
#include "scratch_file.h"
#include "size_limits.h"
#include "system.h"

namespace bmpc::files {
namespace {

// Files from this size on are read ahead harder.
constexpr uint64_t kReadAheadFrom = uint64_t{1} << 20;
// Standard input is looked at before it is spooled: this much of it, which
// holds every header layout and a full colour table.
constexpr size_t kPeekBytes = kMinChunkBytes;

class Input {
  public:
    ~Input() { Close(); }
    void Close() {
        if (own) sys::Close(fd);
        own = false;
    }
    int fd = -1;
    bool own = false;
    std::optional<sys::FileInfo> info;
    ScratchFile spool;  // standard input's bytes, where it is a pipe
};

Result& Fail(Result& r, Reason reason, int error = 0, int32_t code = 0) {
    r.status = Status::Failed;
    r.reason = reason;
    r.error = error;
    if (code != 0) r.code = code;
    return r;
}

Result& Skip(Result& r, Reason reason) {
    r.status = Status::Skipped;
    r.reason = reason;
    return r;
}

// A result is never readable by more users than its input: each class
// (owner, group, others) the input denies reading loses its bits.
uint32_t Narrowed(uint32_t mode, uint32_t input) {
    for (const uint32_t cls : {0700u, 0070u, 0007u}) {
        if ((input & cls & 0444) == 0) mode &= ~cls;
    }
    return mode;
}

// Read-only: nobody may write it, or this process may not (a file only
// root could write is read-only to root as well).
bool ReadOnly(const sys::FileInfo& info, const std::string& path) {
    return (info.permissions & 0222) == 0 || !sys::Writable(path);
}

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\");
#else
    const size_t slash = path.find_last_of('/');
#endif
    if (slash == std::string::npos) return "";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// The peek at a pipe's first bytes as what it is: the start of a stream
// whose length is not known yet.
class StreamStart final : public ByteSource {
  public:
    StreamStart(const uint8_t* data, size_t size) noexcept : bytes_(data, size) {}
    size_t Read(uint8_t* into, size_t n) noexcept override { return bytes_.Read(into, n); }
    bool SeekTo(int64_t offset) noexcept override { return bytes_.SeekTo(offset); }
    int64_t Size() noexcept override { return 0; }

  private:
    MemorySource bytes_;
};

// Standard input as a pipe: its first bytes are checked as a bitmap before
// anything is spooled, and the spool stops where no valid file could need
// more. The spool has no name once created, so nothing is left behind.
bool SpoolInput(Input& in, const Job& job, Result& r) {
    std::unique_ptr<uint8_t[]> head(new uint8_t[kPeekBytes]);
    size_t got = 0;
    while (got < kPeekBytes) {
        const long k =
            sys::ReadSome(in.fd, reinterpret_cast<char*>(head.get() + got), kPeekBytes - got);
        if (k < 0) return Fail(r, Reason::InputOpen, errno, InputOpenFailed), false;
        if (k == 0) break;
        got += static_cast<size_t>(k);
    }
    MemorySource peek(head.get(), got);
    Description d;
    DescribeLevel(job.level, d);
    DescribeFile(peek, d, job.mode);
    if (d.result != Success && d.headersRead && got == kPeekBytes) {
        // More follows: what the peek lacked (a colour table past a long
        // info header) may lie there, so the headers are taken at their
        // word, as for any stream.
        StreamStart start(head.get(), got);
        Description whole;
        DescribeLevel(job.level, whole);
        DescribeFile(start, whole, job.mode);
        if (whole.result == Success) d = whole;
    }
    uint64_t limit = got;
    if (d.result == Success) {
        // Past the pixels a trailer is carried only up to its limit; one
        // byte more tells that it is longer. RLE data (colour mode) has no
        // size of its own: the peek saw only its start.
        const int64_t pixels =
            d.layout == Layout::IndexedRle ? kMaxPixelDataBytes : int64_t{d.geometry.size};
        const int64_t pixelsEnd = d.pixelStart + pixels;
        limit = static_cast<uint64_t>(pixelsEnd) + kMaxTrailerBytes + 1;
    }
    if (const int error =
            in.spool.Create(sys::TempDirectory() + "/bmpcontrast-stdin", 0600, true)) {
        return Fail(r, Reason::OutputCreate, error, InputOpenFailed), false;
    }
    sys::Remove(in.spool.path());
    FdSink spool(in.spool.fd());
    bool ok = spool.Write(head.get(), got);
    const bool ended = got < kPeekBytes || d.result != Success;
    for (uint64_t total = got; ok && !ended && total < limit;) {
        if (job.cancel != nullptr && job.cancel->load()) break;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kPeekBytes, limit - total));
        const long k = sys::ReadSome(in.fd, reinterpret_cast<char*>(head.get()), want);
        if (k < 0) return Fail(r, Reason::ReadFailed, errno, InputOpenFailed), false;
        if (k == 0) break;
        ok = spool.Write(head.get(), static_cast<size_t>(k));
        total += static_cast<uint64_t>(k);
    }
    if (!ok) return Fail(r, Reason::OutputCreate, spool.error(), InputOpenFailed), false;
    sys::SeekTo(in.spool.fd(), 0);
    in.fd = in.spool.fd();
    in.info = sys::OpenInfo(in.fd);
    return true;
}

bool OpenInput(const Job& job, Input& in, Result& r) {
    if (job.inputFd >= 0) {
        in.fd = job.inputFd;
        in.info = sys::OpenInfo(in.fd);
        const bool seekable = in.info && in.info->regular && sys::Position(in.fd) == 0;
        return seekable || SpoolInput(in, job, r);
    }
    in.fd = sys::OpenRead(job.input);
    if (in.fd < 0) return Fail(r, Reason::InputOpen, errno, InputOpenFailed), false;
    in.own = true;
    in.info = sys::OpenInfo(in.fd);
    if (in.info && in.info->directory) {
        return Fail(r, Reason::InputIsFolder, EISDIR, InputOpenFailed), false;
    }
    return true;
}

// The output as it is now; false where the policy ends the job here.
struct Target {
    std::string path;  // what is replaced: the file a symbolic link leads to
    std::optional<sys::FileInfo> existing;
};

bool InspectOutput(const Job& job, const Input& in, Target& t, Result& r) {
    if (job.output.empty()) return true;
    t.existing = sys::Stat(job.output);
    t.path = t.existing ? sys::Resolved(job.output) : job.output;
    if (!t.existing) return true;
    const sys::FileInfo& out = *t.existing;
    if (out.directory) return Fail(r, Reason::OutputIsFolder, EISDIR, OutputOpenFailed), false;
    r.sameFile = in.info && out.SameFile(*in.info);
    // A device or a pipe is written where it is: renaming onto it would put
    // a regular file in its place.
    if (!out.regular) {
        r.special = true;
        t.path = job.output;
        return true;
    }
    switch (job.existing) {
        case Existing::Skip:
            return Skip(r, Reason::OutputKept), false;
        case Existing::Update:
            if (in.info && out.modifiedNs >= in.info->modifiedNs) {
                return Skip(r, Reason::OutputNewer), false;
            }
            break;
        case Existing::Refuse:
            return Fail(r, Reason::OutputExists, EEXIST, OutputOpenFailed), false;
        case Existing::Replace:
            break;
    }
    if (!job.force && ReadOnly(out, t.path)) {
        return Fail(r, Reason::OutputReadOnly, EACCES, OutputOpenFailed), false;
    }
    return true;
}

bool Describes(const Job& job, Input& in, Result& r, FdSource& source) {
    Description& d = r.description;
    if (in.info && in.info->size > kReadAheadFrom) sys::ReadingThrough(in.fd);
    DescribeFile(source, d, job.mode);
    if (d.headersRead && job.maxPixels != 0) {
        const uint64_t width = d.info.biWidth < 0 ? 0 : static_cast<uint64_t>(d.info.biWidth);
        const int64_t h = d.info.biHeight;
        const auto height = static_cast<uint64_t>(h < 0 ? -h : h);
        if (width * height > job.maxPixels) return Fail(r, Reason::TooManyPixels), false;
    }
    if (d.result != Success) {
        r.code = d.result;
        if (d.line != nullptr) r.lines.Error(d.line);
        return Fail(r, Reason::Refused), false;
    }
    if (job.strict && !d.complete) return Fail(r, Reason::Truncated), false;
    return true;
}

// Where the output has other names (hard links), a rename would leave them
// with the old bytes: the finished result is copied over the file instead.
// Should that fail, the complete result stays in the scratch file.
int CopyOver(ScratchFile& scratch, const std::string& path, uint8_t* buffer, size_t size) {
    const int from = sys::OpenRead(scratch.path());
    if (from < 0) return errno;
    const int to = sys::OpenWrite(path);
    if (to < 0) {
        const int error = errno;
        sys::Close(from);
        return error;
    }
    FdSink sink(to);
    uint64_t total = 0;
    int error = 0;
    for (;;) {
        const long k = sys::ReadSome(from, reinterpret_cast<char*>(buffer), size);
        if (k < 0) error = errno;
        if (k <= 0) break;
        if (!sink.Write(buffer, static_cast<size_t>(k))) {
            error = sink.error();
            break;
        }
        total += static_cast<uint64_t>(k);
    }
    if (error == 0) error = sys::Truncate(to, total);
    if (error == 0) error = sys::Sync(to);
    const int closed = sys::Close(to);
    if (error == 0) error = closed;
    sys::Close(from);
    return error;
}

Result RunJob(const Job& job, uint8_t* buffer, size_t bufferSize, bool dry) {
    Result r;
    Description& d = r.description;
    if (!DescribeLevel(job.level, d)) {
        r.code = d.result;
        r.lines.Error(d.line);
        return Fail(r, Reason::Refused);
    }
    Input in;
    if (!OpenInput(job, in, r)) return r;
    Target target;
    if (!InspectOutput(job, in, target, r)) return r;
    FdSource source(in.fd, in.info && in.info->regular ? static_cast<int64_t>(in.info->size) : 0);
    if (!Describes(job, in, r, source)) {
        // Headers cut short by the interrupt say nothing of the file.
        if (job.cancel != nullptr && job.cancel->load() && source.error() != 0) {
            r.status = Status::Cancelled;
        }
        return r;
    }
    if (dry) {
        r.status = Status::Converted;
        r.code = Success;
        return r;
    }

    const bool regular = !job.output.empty() && !r.special;
    const std::optional<sys::FileInfo>& existing = target.existing;
    ScratchFile scratch;
    int outFd = job.outputFd;
    uint32_t mode = 0;
    bool ownerChanged = false;
    if (r.special) {
        outFd = sys::OpenWrite(target.path);
        if (outFd < 0) return Fail(r, Reason::OutputCreate, errno, OutputOpenFailed);
    } else if (regular) {
        const std::string folder = FolderOf(target.path);
        r.staleRemoved = RemoveStaleScratch(folder);
        // A new file's mode is any new file's, less the creation mask,
        // which the system applies; a file replaced keeps its own.
        mode = existing ? existing->permissions : 0666;
        if (in.info && in.spool.path().empty()) mode = Narrowed(mode, in.info->permissions);
        const bool exact = existing.has_value();
        int error = scratch.Create(target.path, mode, exact);
        if (error == ENOENT && job.makeFolders && sys::MakeFolders(folder) == 0) {
            error = scratch.Create(target.path, mode, exact);
        }
        if (error != 0) return Fail(r, Reason::OutputCreate, error, OutputOpenFailed);
        mode = scratch.permissions();
        // A file replaced keeps its owner and group (root converting a
        // user's file in place would otherwise take it over).
        if (existing && existing->owner >= 0) {
            const auto mine = sys::OpenInfo(scratch.fd());
            if (mine && (mine->owner != existing->owner || mine->group != existing->group)) {
                if (const int e = sys::KeepOwner(scratch.fd(), *existing); e != 0) {
                    return Fail(r, Reason::Owner, e, OutputOpenFailed);
                }
                ownerChanged = true;
            }
        }
        outFd = scratch.fd();
    }

    int readError = 0, writeError = 0;
    if (const unsigned threads = regular ? RangeThreads(d, job.threads) : 1; threads > 1) {
        const RangeOutcome o =
            ConvertInRanges(d, source, in.fd, outFd, threads, buffer, bufferSize, job.cancel);
        r.stream = o.stream;
        readError = o.readError;
        writeError = o.writeError;
    } else {
        FdSink sink(outFd);
        r.stream = ConvertDescribed(d, source, sink, buffer, bufferSize, job.cancel);
        readError = source.error();
        writeError = sink.error();
    }
    // A read ended by the interrupt gave zeros, not the file.
    const bool interrupted = job.cancel != nullptr && job.cancel->load() && readError != 0;
    if (r.stream.cancelled || interrupted) {
        r.status = Status::Cancelled;
        return r;
    }
    if (writeError != 0) {
        r.lines = Diagnostics();
        r.lines.Error(msg::kWriteFailed);
        return Fail(r, Reason::Write, writeError, OutputOpenFailed);
    }
    if (r.stream.result != Success) {
        r.lines = r.stream.lines;
        return Fail(r, Reason::Write, EINVAL, r.stream.result);
    }
    // A read that failed, or a file that shrank while it was read: where
    // the original is at stake it is kept, rather than replaced by zeros.
    bool shortRead = false;
    for (const Line& line : r.stream.lines) shortRead = shortRead || line.kind == Kind::Warning;
    if ((readError != 0 || (shortRead && d.complete)) && (r.sameFile || job.strict)) {
        return Fail(r, Reason::ReadFailed, readError);
    }
    r.code = Success;
    r.lines = r.stream.lines;
    // Windows replaces no file that is open, the input in place included.
    in.Close();

    if (r.special) {
        if (const int error = sys::Close(outFd); error != 0) {
            return Fail(r, Reason::Write, error, OutputOpenFailed);
        }
    } else if (regular) {
        // A file replaced must not be lost to a crash: the new bytes reach
        // the disk before the old ones go.
        int error = existing ? sys::Sync(scratch.fd()) : 0;
        if (const int closed = scratch.Close(); error == 0) error = closed;
        // The times with -p; the mode again where a change of owner cleared
        // its set-id bits, and a read-only result only now, once written
        // (Windows creates the scratch file writable whatever the mode).
        const sys::FileInfo* times = job.preserveTimes && in.info ? &*in.info : nullptr;
        if (error == 0 && (times != nullptr || ownerChanged || (mode & 0222) == 0)) {
            error = sys::ApplyMetadata(scratch.path(), mode, times);
        }
        if (error != 0) return Fail(r, Reason::Write, error, OutputOpenFailed);
        if (existing && existing->links > 1) {
            if ((error = CopyOver(scratch, target.path, buffer, bufferSize)) != 0) {
                scratch.Keep();
                r.keptScratch = scratch.path();
                return Fail(r, Reason::Write, error, OutputOpenFailed);
            }
            if (times != nullptr) sys::ApplyMetadata(target.path, existing->permissions, times);
        } else if ((error = scratch.MoveTo(target.path, job.existing != Existing::Refuse)) != 0) {
            return error == EEXIST && job.existing == Existing::Refuse
                       ? Fail(r, Reason::OutputExists, error, OutputOpenFailed)
                       : Fail(r, Reason::Rename, error, OutputOpenFailed);
        }
    }
    r.status = Status::Converted;
    return r;
}

}  // namespace

Result Run(const Job& job, uint8_t* buffer, size_t bufferSize) {
    return RunJob(job, buffer, bufferSize, false);
}

Result Foresee(const Job& job) { return RunJob(job, nullptr, 0, true); }

}  // namespace bmpc::files
