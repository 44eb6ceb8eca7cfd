// The conversion in chunks: headers, carried bytes, pixels and trailer pass
// through one caller-given buffer, so memory does not grow with the image.
#include <algorithm>
#include <cstring>

#include "apply_contrast.h"
#include "bmpcontrast.h"
#include "contrast_curve.h"
#include "engine.h"
#include "messages.h"

namespace bmpc {
namespace {

// Where an 8-bit file's colour table starts, and the size of one entry.
struct TableSpot {
    int64_t start;
    uint32_t entrySize;
};

TableSpot TableOf(const BMPInfoHeader& info) {
    if (IsCoreHeader(info)) return {kCoreHeadersSize, 3};
    return {int64_t{14} + std::max<int64_t>(info.biSize, 40), 4};
}

// The entries of the colour table among the carried bytes; `carried` holds
// the first `n` of them.
PaletteFacts ReadPalette(const Description& d, const uint8_t* carried, size_t n) {
    PaletteFacts facts;
    if (d.info.biBitCount != 8 || !d.plan.keepsLayout) return facts;
    const TableSpot spot = TableOf(d.info);
    const int64_t offset = spot.start - d.headersEnd;
    if (offset < 0 || offset >= static_cast<int64_t>(n)) return facts;
    const uint32_t used = d.info.biClrUsed;
    const uint64_t declared = used != 0 && used < 256 ? used : 256;
    const uint64_t room = (n - static_cast<uint64_t>(offset)) / spot.entrySize;
    facts.entries = static_cast<uint32_t>(std::min(declared, room));
    const uint8_t* entry = carried + offset;
    for (uint32_t k = 0; k < facts.entries; ++k, entry += spot.entrySize) {
        if (entry[0] != entry[1] || entry[0] != entry[2]) facts.grey = false;
    }
    return facts;
}

// Gathers output bytes in the buffer and hands them on a full buffer at a
// time.
class Stager {
  public:
    Stager(ByteSink& out, uint8_t* buffer, size_t size) : out_(out), buffer_(buffer), size_(size) {}

    // Room for up to `want` more bytes, at Free(); flushes first if full.
    size_t Room(size_t want) {
        if (fill_ == size_) Flush();
        return std::min(want, size_ - fill_);
    }
    uint8_t* Free() { return buffer_ + fill_; }
    void Commit(size_t n) { fill_ += n; }
    void Flush() {
        if (fill_ != 0 && ok_) ok_ = out_.Write(buffer_, fill_);
        fill_ = 0;
    }
    bool ok() const { return ok_; }

  private:
    ByteSink& out_;
    uint8_t* buffer_;
    size_t size_;
    size_t fill_ = 0;
    bool ok_ = true;
};

// Colour mode: the colour-table bytes among the `n` carried bytes at `data`,
// which start at `position` in the file, through the curve.
void CurveTableBytes(const Description& d, uint8_t* data, size_t n, int64_t position,
                     const ContrastTable& table) {
    const int64_t tableEnd = d.tableStart + int64_t{d.tableEntries} * d.entrySize;
    const int64_t from = std::max(position, d.tableStart);
    const int64_t to = std::min(position + static_cast<int64_t>(n), tableEnd);
    if (from >= to) return;
    ApplyContrastToTable(data + (from - position), static_cast<size_t>(to - from),
                         static_cast<uint64_t>(from - d.tableStart), d.entrySize, table);
}

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

}  // namespace

StreamResult ConvertDescribed(const Description& d, ByteSource& in, ByteSink& out, uint8_t* buffer,
                              size_t bufferSize, const std::atomic<bool>* cancel,
                              PixelRange range) {
    StreamResult r;
    if (d.result != Success) {
        r.result = d.result;
        if (d.line != nullptr) r.lines.Error(d.line);
        return r;
    }
    // A buffer too small for the headers and a colour table is the
    // caller's mistake; nothing is written then.
    if (buffer == nullptr || bufferSize < std::min<uint64_t>(kMinChunkBytes, d.outputSize)) {
        r.result = OutputOpenFailed;
        r.lines.Error(msg::kWriteFailed);
        return r;
    }
    ContrastTable table;
    BuildContrastTable(ContrastFactor(d.level), table);
    Stager stage(out, buffer, bufferSize);
    const auto pixelBytes = static_cast<size_t>(d.geometry.size);
    const auto from = static_cast<size_t>(std::min<uint64_t>(range.from, pixelBytes));
    const auto to = static_cast<size_t>(std::min<uint64_t>(range.to, pixelBytes));
    const bool first = from == 0, last = to == pixelBytes;
    if (!first && !in.SeekTo(d.pixelStart + static_cast<int64_t>(from))) {
        r.result = OutputOpenFailed;
        r.lines.Error(msg::kWriteFailed);
        return r;
    }

    // Where the layout is not kept, the pixels follow the headers, and the
    // output's offset has to say so.
    BMPFileHeader written = d.file;
    if (!d.plan.keepsLayout) written.bfOffBits = d.headersEnd;
    uint8_t headers[kMaxHeadersSize];
    const size_t headerBytes = first ? EncodeBMPHeaders(written, d.info, headers) : 0;
    std::memcpy(stage.Free(), headers, headerBytes);
    stage.Commit(headerBytes);

    // The bytes between the headers and the pixels, the first of them
    // perhaps read by DescribeFile already; any the file lacks are zero, as
    // the exported call's block holds them. Colour mode curves the colour
    // table among them, as far as the file has it.
    bool firstCarried = true;
    const uint8_t* ahead = d.ahead;
    size_t aheadLeft = std::min<size_t>(d.aheadSize, d.plan.carried);
    int64_t position = d.headersEnd;
    for (size_t left = first ? d.plan.carried : 0; left != 0;) {
        if (Cancelled(cancel)) return r.cancelled = true, r;
        const size_t take = stage.Room(left);
        uint8_t* at = stage.Free();
        size_t got = std::min(take, aheadLeft);
        std::memcpy(at, ahead, got);
        ahead += got;
        aheadLeft -= got;
        got += ReadUpTo(in, at + got, take - got);
        std::memset(at + got, 0, take - got);
        if (firstCarried) r.palette = ReadPalette(d, at, take);
        firstCarried = false;
        if (d.treatment == Treatment::ColourTable) CurveTableBytes(d, at, got, position, table);
        stage.Commit(take);
        left -= take;
        position += static_cast<int64_t>(take);
    }

    // A stream already at the offset is left where it is: a pipe cannot be
    // sought, and one that can is not asked to drop what it buffered.
    if (first && d.file.bfOffBits >= 0 && d.file.bfOffBits != position) {
        in.SeekTo(d.file.bfOffBits);
    }

    // Once the file runs out, the rest of the pixel data is zero bytes.
    for (uint32_t k = 0; k < r.palette.entries; ++k) {
        r.indicesMoved = r.indicesMoved || table.map[k] != k;
    }
    const bool watchIndices =
        d.treatment == Treatment::EveryByte && r.palette.entries != 0 && r.palette.entries < 256;
    const unsigned keep = ~unsigned{d.curvedBytes} & 15u;
    uint8_t mostIndex = 0;
    bool shortRead = false;
    for (size_t done = from; done < to;) {
        if (Cancelled(cancel)) return r.cancelled = true, r;
        const size_t take = stage.Room(to - done);
        uint8_t* at = stage.Free();
        const size_t got = shortRead ? 0 : ReadUpTo(in, at, take);
        if (got < take) {
            shortRead = true;
            std::memset(at + got, 0, take - got);
        }
        if (watchIndices) {
            mostIndex = std::max(mostIndex, MaxPixelByte(at, take, done, d.geometry));
        }
        if (d.treatment == Treatment::EveryByte) {
            ApplyContrastSpan(at, take, done, d.geometry, table);
        } else if (d.treatment == Treatment::ColourBytes) {
            ApplyContrastSpanKeeping(at, take, done, d.geometry, table, keep);
        }
        stage.Commit(take);
        done += take;
    }
    if (shortRead) r.lines.Warning(msg::kShortRead);
    r.indexPastPalette =
        watchIndices && mostIndex < r.palette.entries && table.map[mostIndex] >= r.palette.entries;

    // The trailer, as much of it as the file still has.
    if (last && !shortRead) {
        for (size_t left = d.plan.trailer; left != 0;) {
            if (Cancelled(cancel)) return r.cancelled = true, r;
            const size_t take = stage.Room(left);
            const size_t got = ReadUpTo(in, stage.Free(), take);
            stage.Commit(got);
            if (got < take) break;
            left -= take;
        }
    }
    stage.Flush();
    if (!stage.ok()) {
        r.result = OutputOpenFailed;
        if (const char* line = out.FailureLine()) r.lines.Error(line);
        return r;
    }
    r.result = Success;
    if (last) r.lines.Success(msg::kSuccess);
    return r;
}

}  // namespace bmpc
