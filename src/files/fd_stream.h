// Open files as the engine's source and sink, through the system layer.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "byte_stream.h"
#include "system.h"

namespace bmpc {

// The headers come in many small reads; on a regular file they are served
// from one block read at once, which for a small file is the whole of it.
// A failed read ends the data as the end of the file does, and is kept
// for the caller, who decides whether an incomplete read may stand.
class FdSource final : public ByteSource {
  public:
    // `size`: the file's size where it has one (regular files), else 0.
    FdSource(int fd, int64_t size) noexcept : fd_(fd), size_(size) {}
    explicit FdSource(int fd) noexcept : FdSource(fd, RegularSize(fd)) {}

    static int64_t RegularSize(int fd) noexcept {
        const auto info = sys::OpenInfo(fd);
        return info && info->regular ? static_cast<int64_t>(info->size) : 0;
    }

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
        if (!sys::SeekTo(fd_, offset)) return false;
        start_ = offset, have_ = used_ = 0;
        return true;
    }
    int64_t Size() noexcept override { return size_; }
    // Where the next byte read comes from, for a file read from its start.
    int64_t Tell() const noexcept { return start_ + static_cast<int64_t>(used_); }
    // The errno of the first read that failed, or 0.
    int error() const noexcept { return error_; }

  private:
    size_t Buffered(uint8_t* into, size_t n) noexcept {
        const size_t take = std::min(n, have_ - used_);
        std::memcpy(into, block_ + used_, take);
        used_ += take;
        return take;
    }
    // Reads past the block: the file's position is past it too.
    size_t ReadFull(uint8_t* into, size_t n) noexcept {
        size_t got = 0;
        while (got < n && error_ == 0) {
            const long k = sys::ReadSome(fd_, reinterpret_cast<char*>(into + got), n - got);
            if (k < 0) error_ = errno != 0 ? errno : EIO;
            if (k <= 0) break;
            got += static_cast<size_t>(k);
        }
        if (into != block_) start_ += static_cast<int64_t>(have_ + got), have_ = used_ = 0;
        return got;
    }

    int fd_;
    int64_t size_;
    int error_ = 0;
    int64_t start_ = 0;  // where the block came from in the file
    size_t have_ = 0, used_ = 0;
    uint8_t block_[4096];
};

// A file read at a position of its own, for one of several threads that
// share the open file.
class PositionedSource final : public ByteSource {
  public:
    PositionedSource(int fd, int64_t size) noexcept : fd_(fd), size_(size) {}
    size_t Read(uint8_t* into, size_t n) noexcept override {
        size_t got = 0;
        while (got < n && error_ == 0) {
            const long k = sys::ReadAt(fd_, reinterpret_cast<char*>(into + got), n - got, at_);
            if (k < 0) error_ = errno != 0 ? errno : EIO;
            if (k <= 0) break;
            got += static_cast<size_t>(k);
            at_ += k;
        }
        return got;
    }
    bool SeekTo(int64_t offset) noexcept override {
        if (offset < 0) return false;
        at_ = offset;
        return true;
    }
    int64_t Size() noexcept override { return size_; }
    int error() const noexcept { return error_; }

  private:
    int fd_;
    int64_t size_;
    int64_t at_ = 0;
    int error_ = 0;
};

// A file written from `offset` on, leaving the file's position alone.
class PositionedSink final : public ByteSink {
  public:
    PositionedSink(int fd, int64_t offset) noexcept : fd_(fd), at_(offset) {}
    bool Write(const uint8_t* data, size_t n) noexcept override {
        while (n > 0) {
            const long k = sys::WriteAt(fd_, reinterpret_cast<const char*>(data), n, at_);
            if (k <= 0) {
                error_ = k < 0 ? errno : ENOSPC;
                return false;
            }
            data += k, at_ += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    }
    int error() const noexcept { return error_; }

  private:
    int fd_;
    int64_t at_;
    int error_ = 0;
};

// Remembers why a write failed, for the caller's own message.
class FdSink final : public ByteSink {
  public:
    explicit FdSink(int fd) noexcept : fd_(fd) {}
    bool Write(const uint8_t* data, size_t n) noexcept override {
        while (n > 0) {
            const long k = sys::WriteSome(fd_, reinterpret_cast<const char*>(data), n);
            if (k <= 0) {
                error_ = k < 0 ? errno : ENOSPC;
                return false;
            }
            data += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    }
    int error() const noexcept { return error_; }

  private:
    int fd_;
    int error_ = 0;
};

}  // namespace bmpc
