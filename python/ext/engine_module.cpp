// bmpcontrast._engine: the library's conversion for Python, on files, on
// bytes in memory and as the bare curve. Nothing here prints: the lines go
// back to Python, which returns them and raises warnings from them. The GIL
// is released while a file or a buffer is converted.
#include <fcntl.h>
#include <pybind11/pybind11.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <utility>

#include "bmpcontrast.h"
#include "contrast_curve.h"
#include "engine.h"
#include "fd_stream.h"
#include "memory_source.h"
#include "messages.h"

namespace py = pybind11;

namespace {

// Big enough that a 1 MP file goes out in a few writes, small enough to
// stay in cache between the transform and the write.
constexpr size_t kChunkBytes = size_t{1} << 20;

// Where a file call failed outside the engine, for the OSError Python
// chains to the exception.
enum class Stage { None, Input, Output, Write, Rename, Memory };

const char* StageName(Stage s) {
    switch (s) {
        case Stage::Input:
            return "input";
        case Stage::Output:
            return "output";
        case Stage::Write:
            return "write";
        case Stage::Rename:
            return "rename";
        case Stage::Memory:
            return "memory";
        case Stage::None:
            break;
    }
    return "";
}

class Fd {
  public:
    explicit Fd(int fd = -1) noexcept : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Close(); }
    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // True if the descriptor was open and closed cleanly (a failed
    // write-back shows here on some file systems).
    bool Close() noexcept { return fd_ >= 0 && ::close(std::exchange(fd_, -1)) == 0; }

  private:
    int fd_;
};

// Writes into memory the caller sized from the description. The engine
// may be handed that memory as its buffer: a write of it in place is then
// no copy.
class MemorySink final : public bmpc::ByteSink {
  public:
    MemorySink(uint8_t* data, size_t size) noexcept : data_(data), size_(size) {}

    bool Write(const uint8_t* data, size_t n) noexcept override {
        if (n > size_ - used_) return false;
        if (data != data_ + used_) std::memmove(data_ + used_, data, n);
        used_ += n;
        return true;
    }
    size_t used() const noexcept { return used_; }

  private:
    uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

struct FileOutcome {
    int32_t result = 0;
    bmpc::Diagnostics lines;
    int error = 0;  // errno where `stage` says the OS refused
    Stage stage = Stage::None;
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A new file with a hidden, unused name in `folder`, created with mode 0666
// so that the umask and default ACLs apply as for any new file.
Fd CreateScratch(const std::string& folder, std::string& name) {
    static std::atomic<uint64_t> counter{0};
    std::random_device seed;
    std::mt19937_64 random((uint64_t{seed()} << 32) ^ seed() ^ counter.fetch_add(1));
    for (int attempt = 0; attempt < 64; ++attempt) {
        char leaf[40];
        std::snprintf(leaf, sizeof leaf, ".bmpcontrast-%016llx.tmp",
                      static_cast<unsigned long long>(random()));
        name = folder + "/" + leaf;
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return Fd(fd);
    }
    errno = EEXIST;
    return Fd(-1);
}

// Moves the finished scratch file onto `dst`; without `overwrite`, only
// where `dst` does not exist at that moment.
bool PutInPlace(const std::string& scratch, const std::string& dst, bool overwrite) {
    if (overwrite) return ::rename(scratch.c_str(), dst.c_str()) == 0;
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, scratch.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    // File systems without the flag: a hard link fails on an existing name.
    if (::link(scratch.c_str(), dst.c_str()) != 0) return false;
    ::unlink(scratch.c_str());
    return true;
}

// A symbolic link at the output is written through, as opening it for
// writing did: the file it points at is replaced, not the link. A link
// that leads nowhere is replaced itself.
std::string ThroughLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::unique_ptr<char, decltype(&std::free)> target(::realpath(path.c_str(), nullptr),
                                                       &std::free);
    return target ? std::string(target.get()) : path;
}

uint8_t* ChunkBuffer() {
    // One per thread, kept: a fresh block per call would fault its pages
    // in again every time.
    thread_local std::unique_ptr<uint8_t[]> buffer;
    if (!buffer) buffer.reset(new (std::nothrow) uint8_t[kChunkBytes]);
    return buffer.get();
}

// The exported call's steps and results, with the output written to a
// scratch file beside `dst` and renamed onto it once complete: `dst` is
// never seen half written, and may be `src`.
FileOutcome AdjustFile(const std::string& src, const std::string& dstGiven, int32_t level,
                       bool overwrite) {
    FileOutcome o;
    const std::string dst = ThroughLink(dstGiven);
    bmpc::Description d;
    if (!bmpc::DescribeLevel(level, d)) {
        o.result = d.result;
        o.lines.Error(d.line);
        return o;
    }
    Fd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) {
        o.error = errno;
        o.stage = Stage::Input;
        o.result = BMPCONTRAST_INPUT_OPEN_FAILED;
        return o;
    }
    bmpc::FdSource source(in.get());
    bmpc::DescribeFile(source, d);
    if (d.result != BMPCONTRAST_SUCCESS) {
        o.result = d.result;
        if (d.line != nullptr) o.lines.Error(d.line);
        return o;
    }
    uint8_t* buffer = ChunkBuffer();
    if (buffer == nullptr) {
        o.result = BMPCONTRAST_OUT_OF_MEMORY;
        o.lines.Error(bmpc::msg::kNoMemoryOutput);
        o.stage = Stage::Memory;
        o.error = ENOMEM;
        return o;
    }
    // An output that is a device or a pipe (/dev/null, say) is written to
    // where it is: renaming onto it would put a regular file in its place.
    struct stat existing {};
    const bool exists = ::stat(dst.c_str(), &existing) == 0;
    const bool special = exists && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode);
    std::string scratch;
    Fd out = special ? Fd(::open(dst.c_str(), O_WRONLY | O_CLOEXEC))
                     : CreateScratch(FolderOf(dst), scratch);
    if (!out) {
        // As the exported call's output that cannot be opened: no line.
        o.error = errno;
        o.stage = Stage::Output;
        o.result = BMPCONTRAST_OUTPUT_OPEN_FAILED;
        return o;
    }
    // A file replaced keeps its permission bits, as one written over in
    // place did: a private file must not become readable by others.
    if (exists && S_ISREG(existing.st_mode)) ::fchmod(out.get(), existing.st_mode & 0777);
    bmpc::FdSink sink(out.get());
    bmpc::StreamResult r = bmpc::ConvertDescribed(d, level, source, sink, buffer, kChunkBytes);
    in.Close();
    o.result = r.result;
    o.lines = r.lines;
    bool closed = out.Close();
    if (o.result == BMPCONTRAST_SUCCESS && !closed) {
        o.error = errno;
        o.stage = Stage::Write;
        o.result = BMPCONTRAST_OUTPUT_OPEN_FAILED;
        o.lines = bmpc::Diagnostics();
        o.lines.Error(bmpc::msg::kWriteFailed);
    } else if (o.result != BMPCONTRAST_SUCCESS) {
        o.error = sink.error();
        o.stage = Stage::Write;
    } else if (!special && !PutInPlace(scratch, dst, overwrite)) {
        o.error = errno;
        o.stage = Stage::Rename;
        o.result = BMPCONTRAST_OUTPUT_OPEN_FAILED;
        o.lines = bmpc::Diagnostics();
    }
    if (o.result != BMPCONTRAST_SUCCESS && !special) ::unlink(scratch.c_str());
    return o;
}

py::tuple Lines(const bmpc::Diagnostics& lines) {
    py::tuple t(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) t[i] = py::str(lines[i].text);
    return t;
}

py::tuple PyAdjustFile(const py::bytes& src, const py::bytes& dst, int32_t level, bool overwrite) {
    std::string srcPath = src, dstPath = dst;
    FileOutcome o;
    {
        py::gil_scoped_release unlocked;
        o = AdjustFile(srcPath, dstPath, level, overwrite);
    }
    return py::make_tuple(o.result, Lines(o.lines), o.error, StageName(o.stage));
}

// (result, lines, output or None). The output is sized from the headers
// before the GIL is let go; a size the process cannot hold is the
// exported call's OutOfMemory.
py::tuple PyAdjustBytes(const py::buffer& data, int32_t level) {
    py::buffer_info view = data.request();
    if (view.ndim != 1 || view.itemsize != 1 || view.strides[0] != 1) {
        throw py::type_error("adjust_bytes needs a contiguous buffer of bytes");
    }
    const auto* bytes = static_cast<const uint8_t*>(view.ptr);
    const auto size = static_cast<size_t>(view.size);
    bmpc::MemorySource source(bytes, size);
    bmpc::Description d;
    bmpc::Describe(source, level, d);
    bmpc::Diagnostics lines;
    if (d.result != BMPCONTRAST_SUCCESS) {
        if (d.line != nullptr) lines.Error(d.line);
        return py::make_tuple(d.result, Lines(lines), py::none());
    }
    const size_t outSize = static_cast<size_t>(d.outputSize);
    PyObject* raw = outSize <= PY_SSIZE_T_MAX
                        ? PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(outSize))
                        : nullptr;
    if (raw == nullptr) {
        PyErr_Clear();
        lines.Error(bmpc::msg::kNoMemoryOutput);
        return py::make_tuple(static_cast<int32_t>(BMPCONTRAST_OUT_OF_MEMORY), Lines(lines),
                              py::none());
    }
    auto out = py::reinterpret_steal<py::bytes>(raw);
    auto* at = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(raw));
    MemorySink sink(at, outSize);
    bmpc::StreamResult r;
    {
        py::gil_scoped_release unlocked;
        // The output itself is the engine's buffer: one pass, no copy. An
        // empty output still needs somewhere to point.
        uint8_t spare = 0;
        r = bmpc::ConvertDescribed(d, level, source, sink, outSize != 0 ? at : &spare, outSize);
    }
    if (r.result != BMPCONTRAST_SUCCESS)
        return py::make_tuple(r.result, Lines(r.lines), py::none());
    if (sink.used() != outSize) {
        out = py::bytes(reinterpret_cast<const char*>(at), sink.used());
    }
    return py::make_tuple(r.result, Lines(r.lines), out);
}

py::bytes Curve(int32_t level) {
    if (level <= 0) throw py::value_error("level must be positive");
    bmpc::ContrastTable table;
    bmpc::BuildContrastTable(bmpc::ContrastFactor(level), table);
    return py::bytes(reinterpret_cast<const char*>(table.map), sizeof table.map);
}

}  // namespace

PYBIND11_MODULE(_engine, m) {
    m.doc() = "The library's conversion engine (internal; use the bmpcontrast package).";
    m.attr("VERSION") = BMPCONTRAST_VERSION_STRING;
    m.attr("CHUNK_BYTES") = kChunkBytes;
    m.def("adjust_file", &PyAdjustFile, py::arg("src"), py::arg("dst"), py::arg("level"),
          py::arg("overwrite"),
          "(result, lines, errno, stage): one file into a scratch file renamed onto dst.");
    m.def("adjust_bytes", &PyAdjustBytes, py::arg("data"), py::arg("level"),
          "(result, lines, output or None) for a bitmap in memory.");
    m.def("curve", &Curve, py::arg("level"), "The 256-byte curve for a positive level.");
}
