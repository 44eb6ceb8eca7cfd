// bmpcontrast._engine: the library's conversion for Python, on files, on
// bytes in memory and as the bare curve. Nothing here prints: the lines go
// back to Python, which returns them and raises warnings from them. The GIL
// is released while a file or a buffer is converted.
#include <pybind11/pybind11.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "bmpcontrast.h"
#include "contrast_curve.h"
#include "engine.h"
#include "file_job.h"
#include "memory_source.h"
#include "messages.h"

namespace py = pybind11;

namespace {

// Big enough that a 1 MP file goes out in a few writes, small enough to
// stay in cache between the transform and the write.
constexpr size_t kChunkBytes = size_t{1} << 20;

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

uint8_t* ChunkBuffer() {
    // One per thread, kept: a fresh block per call would fault its pages
    // in again every time.
    thread_local std::unique_ptr<uint8_t[]> buffer;
    if (!buffer) buffer.reset(new (std::nothrow) uint8_t[kChunkBytes]);
    return buffer.get();
}

// Why a file call failed outside the engine, as Python's side names it.
const char* ReasonName(bmpc::files::Reason reason) {
    using bmpc::files::Reason;
    switch (reason) {
        case Reason::InputOpen:
        case Reason::InputIsFolder:
            return "input";
        case Reason::ReadFailed:
            return "read";
        case Reason::OutputExists:
            return "exists";
        case Reason::OutputReadOnly:
            return "read-only";
        case Reason::OutputIsFolder:
        case Reason::OutputCreate:
        case Reason::Owner:
            return "output";
        case Reason::Write:
            return "write";
        case Reason::Rename:
            return "rename";
        default:
            return "";
    }
}

// Each line as (kind, text): "success", "warning" or "error".
py::tuple Lines(const bmpc::Diagnostics& lines) {
    py::tuple t(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const bmpc::Kind kind = lines[i].kind;
        const char* name = kind == bmpc::Kind::Success   ? "success"
                           : kind == bmpc::Kind::Warning ? "warning"
                                                         : "error";
        t[i] = py::make_tuple(name, py::str(lines[i].text));
    }
    return t;
}

bmpc::Mode ModeOf(bool colour) { return colour ? bmpc::Mode::Colour : bmpc::Mode::Contract; }

py::tuple PyAdjustFile(const py::bytes& src, const py::bytes& dst, int32_t level, bool overwrite,
                       bool colour, bool makeFolders) {
    bmpc::files::Job job;
    job.input = src;
    job.output = dst;
    job.level = level;
    job.mode = ModeOf(colour);
    job.existing = overwrite ? bmpc::files::Existing::Replace : bmpc::files::Existing::Refuse;
    job.force = overwrite;
    job.makeFolders = makeFolders;
    bmpc::files::Result r;
    {
        py::gil_scoped_release unlocked;
        uint8_t* buffer = ChunkBuffer();
        if (buffer == nullptr) {
            r.code = BMPCONTRAST_OUT_OF_MEMORY;
            r.lines.Error(bmpc::msg::kNoMemoryOutput);
        } else {
            r = bmpc::files::Run(job, buffer, kChunkBytes);
        }
    }
    return py::make_tuple(r.code, Lines(r.lines), r.error, ReasonName(r.reason));
}

// A buffer of bytes, one after the other, as the engine reads and writes.
py::buffer_info Contiguous(const py::buffer& b, bool writable, const char* what) {
    py::buffer_info view = b.request(writable);
    if (view.ndim != 1 || view.itemsize != 1 || view.strides[0] != 1) {
        throw py::type_error(std::string(what) + " needs a contiguous buffer of bytes");
    }
    return view;
}

py::tuple Refused(const bmpc::Description& d) {
    bmpc::Diagnostics lines;
    if (d.line != nullptr) lines.Error(d.line);
    return py::make_tuple(d.result, Lines(lines), py::none());
}

// (result, lines, output or None). The output is sized from the headers
// before the GIL is let go; a size the process cannot hold is the
// exported call's OutOfMemory.
py::tuple PyAdjustBytes(const py::buffer& data, int32_t level, bool colour) {
    const py::buffer_info view = Contiguous(data, false, "adjust_bytes");
    const auto* bytes = static_cast<const uint8_t*>(view.ptr);
    const auto size = static_cast<size_t>(view.size);
    bmpc::MemorySource source(bytes, size);
    bmpc::Description d;
    bmpc::Describe(source, level, d, ModeOf(colour));
    if (d.result != BMPCONTRAST_SUCCESS) return Refused(d);
    const size_t outSize = static_cast<size_t>(d.outputSize);
    PyObject* raw = outSize <= PY_SSIZE_T_MAX
                        ? PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(outSize))
                        : nullptr;
    if (raw == nullptr) {
        PyErr_Clear();
        bmpc::Diagnostics lines;
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
        r = bmpc::ConvertDescribed(d, source, sink, outSize != 0 ? at : &spare, outSize);
    }
    if (r.result != BMPCONTRAST_SUCCESS)
        return py::make_tuple(r.result, Lines(r.lines), py::none());
    if (sink.used() != outSize) {
        out = py::bytes(reinterpret_cast<const char*>(at), sink.used());
    }
    return py::make_tuple(r.result, Lines(r.lines), out);
}

// Every result the header describes, as (value, name, meaning): the header
// is the one table of codes, and Python's names come from it. Results are
// small positive numbers; any value the header does not name is no result.
py::list Results() {
    py::list results;
    for (int32_t value = 0; value <= INT16_MAX; ++value) {
        const BMPContrastResultText text = BMPContrastDescribeResult(value);
        if (std::strcmp(text.name, "BMPCONTRAST_UNKNOWN_RESULT") == 0) continue;
        results.append(py::make_tuple(value, text.name, text.meaning));
    }
    return results;
}

// (result, lines, bytes written or None) for a bitmap converted into
// memory the caller owns, which may be the input's own. Nothing is
// allocated but where `out` overlaps `data` otherwise than exactly, and
// no fresh page is touched.
py::tuple PyAdjustInto(const py::buffer& data, const py::buffer& into, int32_t level, bool colour) {
    const py::buffer_info in = Contiguous(data, false, "adjust_into");
    const py::buffer_info out = Contiguous(into, true, "adjust_into");
    const auto* from = static_cast<const uint8_t*>(in.ptr);
    auto* to = static_cast<uint8_t*>(out.ptr);
    const auto size = static_cast<size_t>(in.size), room = static_cast<size_t>(out.size);
    bmpc::MemorySource source(from, size);
    bmpc::Description d;
    bmpc::Describe(source, level, d, ModeOf(colour));
    if (d.result != BMPCONTRAST_SUCCESS) return Refused(d);
    if (d.outputSize > room) {
        throw py::value_error("out holds " + std::to_string(room) + " bytes; the result needs " +
                              std::to_string(d.outputSize));
    }
    const size_t outSize = static_cast<size_t>(d.outputSize);
    const bool overlap = from < to + room && to < from + size;
    // Through the engine's chunk buffer, which in place needs and which
    // measured as fast as converting in `out` itself where `out` is apart.
    // In place, every byte goes out where it was read from when the layout
    // is kept and the file holds all its pixels, so the output never
    // overtakes input not yet read; any other overlap goes through a block
    // of its own.
    const bool inPlace = overlap && from == to && d.plan.keepsLayout && d.complete;
    std::unique_ptr<uint8_t[]> apart;
    if (overlap && !inPlace) apart.reset(new uint8_t[outSize == 0 ? 1 : outSize]);
    uint8_t* target = apart ? apart.get() : to;
    uint8_t* chunk = ChunkBuffer();
    if (chunk == nullptr && inPlace) throw std::bad_alloc();
    MemorySink sink(target, outSize);
    bmpc::StreamResult r;
    {
        py::gil_scoped_release unlocked;
        uint8_t spare = 0;
        uint8_t* buffer = chunk != nullptr ? chunk : outSize != 0 ? target : &spare;
        r = bmpc::ConvertDescribed(d, source, sink, buffer,
                                   chunk != nullptr ? kChunkBytes : outSize);
        if (apart && r.result == BMPCONTRAST_SUCCESS) std::memmove(to, apart.get(), sink.used());
    }
    if (r.result != BMPCONTRAST_SUCCESS)
        return py::make_tuple(r.result, Lines(r.lines), py::none());
    return py::make_tuple(r.result, Lines(r.lines), sink.used());
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
    m.def("adjust_file", &PyAdjustFile, py::arg("src"), py::arg("dst"), py::arg("level"),
          py::arg("overwrite"), py::arg("colour") = false, py::arg("make_folders") = false,
          "(result, lines, errno, reason): one file through the library's file job.");
    m.def("adjust_bytes", &PyAdjustBytes, py::arg("data"), py::arg("level"),
          py::arg("colour") = false, "(result, lines, output or None) for a bitmap in memory.");
    m.def("adjust_into", &PyAdjustInto, py::arg("data"), py::arg("out"), py::arg("level"),
          py::arg("colour") = false,
          "(result, lines, bytes written or None) for a bitmap converted into `out`.");
    m.def("curve", &Curve, py::arg("level"), "The 256-byte curve for a positive level.");
    m.def("results", &Results, "(value, name, meaning) of every result code, from the header.");
}
