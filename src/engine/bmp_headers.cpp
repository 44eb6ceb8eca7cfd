#include "bmp_headers.h"

#include <cstring>

#include "messages.h"

namespace bmpc {
namespace {

// Little-endian fields taken from a run of bytes, one after the other, so
// that the result does not depend on the host's byte order. A field the
// bytes do not cover whole fails, and so do all after it.
class FieldReader {
  public:
    FieldReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    template <typename T>
    bool Read(T& field) {
        if (size_ - at_ < sizeof(T)) return false;
        uint32_t value = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            value |= static_cast<uint32_t>(bytes_[at_ + i]) << (8 * i);
        }
        at_ += sizeof(T);
        field = static_cast<T>(value);
        return true;
    }

  private:
    const uint8_t* bytes_;
    size_t size_;
    size_t at_ = 0;
};

class FieldWriter {
  public:
    explicit FieldWriter(uint8_t* bytes) : bytes_(bytes) {}

    template <typename T>
    void Write(T field) {
        const auto value = static_cast<uint32_t>(field);
        for (size_t i = 0; i < sizeof(T); ++i) {
            bytes_[at_++] = static_cast<uint8_t>(value >> (8 * i));
        }
    }
    size_t size() const { return at_; }

  private:
    uint8_t* bytes_;
    size_t at_ = 0;
};

int Fail(const char*& line, const char* text) {
    line = text;
    return 0;
}

// The bytes of the file header and of the info header's size field.
constexpr size_t kLeadSize = sizeof(LeadBytes::bytes);

}  // namespace

int ReadBMPHeaders(ByteSource& in, BMPFileHeader& file, BMPInfoHeader& info, const char*& line,
                   LeadBytes* leadOut) {
    line = nullptr;
    // The source is read no further than the headers end: the core layout
    // is known only once its size field is in.
    uint8_t lead[kLeadSize];
    const size_t got = ReadUpTo(in, lead, kLeadSize);
    if (leadOut != nullptr) {
        std::memcpy(leadOut->bytes, lead, got);
        leadOut->size = got;
    }
    FieldReader fields(lead, got);
    if (!fields.Read(file.bfType)) return Fail(line, msg::kNoSignature);
    if (file.bfType != kSignature) return Fail(line, msg::kBadSignature);
    if (!fields.Read(file.bfSize) || !fields.Read(file.bfReserved1) ||
        !fields.Read(file.bfReserved2) || !fields.Read(file.bfOffBits)) {
        return Fail(line, msg::kNoFileHeader);
    }
    if (!fields.Read(info.biSize)) return Fail(line, msg::kNoInfoSize);

    const size_t restSize = static_cast<size_t>(HeadersEnd(info)) - kLeadSize;
    uint8_t rest[kMaxHeadersSize - kLeadSize];
    FieldReader more(rest, ReadUpTo(in, rest, restSize));
    if (IsCoreHeader(info)) {
        // The core layout's four 16-bit fields; the rest of the record stays
        // zero, which also makes it uncompressed.
        const uint32_t size = info.biSize;
        info = BMPInfoHeader{};
        info.biSize = size;
        uint16_t width = 0, height = 0;
        if (!more.Read(width) || !more.Read(height) || !more.Read(info.biPlanes) ||
            !more.Read(info.biBitCount)) {
            return Fail(line, msg::kNoInfoHeader);
        }
        info.biWidth = width;
        info.biHeight = height;
        return 1;
    }
    if (!more.Read(info.biWidth) || !more.Read(info.biHeight) || !more.Read(info.biPlanes) ||
        !more.Read(info.biBitCount) || !more.Read(info.biCompression) ||
        !more.Read(info.biSizeImage) || !more.Read(info.biXPelsPerMeter) ||
        !more.Read(info.biYPelsPerMeter) || !more.Read(info.biClrUsed) ||
        !more.Read(info.biClrImportant)) {
        return Fail(line, msg::kNoInfoHeader);
    }
    return 1;
}

size_t EncodeBMPHeaders(const BMPFileHeader& file, const BMPInfoHeader& info,
                        uint8_t (&bytes)[kMaxHeadersSize]) {
    FieldWriter out(bytes);
    out.Write(file.bfType);
    out.Write(file.bfSize);
    out.Write(file.bfReserved1);
    out.Write(file.bfReserved2);
    out.Write(file.bfOffBits);
    out.Write(info.biSize);
    if (IsCoreHeader(info)) {
        out.Write(static_cast<uint16_t>(info.biWidth));
        out.Write(static_cast<uint16_t>(info.biHeight));
        out.Write(info.biPlanes);
        out.Write(info.biBitCount);
        return out.size();
    }
    out.Write(info.biWidth);
    out.Write(info.biHeight);
    out.Write(info.biPlanes);
    out.Write(info.biBitCount);
    out.Write(info.biCompression);
    out.Write(info.biSizeImage);
    out.Write(info.biXPelsPerMeter);
    out.Write(info.biYPelsPerMeter);
    out.Write(info.biClrUsed);
    out.Write(info.biClrImportant);
    return out.size();
}

}  // namespace bmpc
