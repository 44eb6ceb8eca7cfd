// The fixed lines a conversion ends with, returned instead of printed: the
// exported call prints them, other callers show them as they see fit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace bmpc {

// Where the exported call prints a line.
enum class Channel : uint8_t { Out, Err };

// What a line says: callers tell them apart by this, never by their text.
enum class Kind : uint8_t { Success, Warning, Error };

struct Line {
    Channel channel;
    const char* text;  // one of msg::k..., ending in "\n"
    Kind kind;
};

// The lines of one conversion, in the order they arose. A conversion gives
// at most two (the short-read warning, then the success line or one
// error); the room for four leaves a caller space to add its own.
class Diagnostics {
  public:
    static constexpr size_t kCapacity = 4;

    void Add(Kind kind, const char* text) noexcept {
        const Channel channel = kind == Kind::Success ? Channel::Out : Channel::Err;
        if (count_ < kCapacity) lines_[count_++] = Line{channel, text, kind};
    }
    void Add(const Line& line) noexcept { Add(line.kind, line.text); }
    void Error(const char* text) noexcept { Add(Kind::Error, text); }
    void Warning(const char* text) noexcept { Add(Kind::Warning, text); }
    void Success(const char* text) noexcept { Add(Kind::Success, text); }

    size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    const Line& operator[](size_t i) const noexcept { return lines_[i]; }
    const Line* begin() const noexcept { return lines_.data(); }
    const Line* end() const noexcept { return lines_.data() + count_; }

  private:
    std::array<Line, kCapacity> lines_{};
    size_t count_ = 0;
};

}  // namespace bmpc
