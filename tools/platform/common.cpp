// What the systems' layers share: whole writes and reads over the
// descriptors, and the framing of a worker's messages (a 32-bit length in
// this machine's byte order, then the bytes).
#include <cstdint>
#include <cstring>

#include "platform.h"

namespace bmpcontrast_cli::platform {
namespace {

bool ReadAll(int fd, char* data, size_t size) {
    while (size > 0) {
        const long n = ReadSome(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const long n = WriteSome(fd, data.data(), data.size());
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool Worker::Send(std::string_view message) {
    if (out_ < 0 || message.size() > UINT32_MAX) return false;
    const auto size = static_cast<uint32_t>(message.size());
    std::string frame(sizeof size, '\0');
    std::memcpy(frame.data(), &size, sizeof size);
    frame.append(message);
    if (!WriteAll(out_, frame)) return false;
    AfterSend();
    return true;
}

bool Worker::Receive(std::string& message) {
    char header[sizeof(uint32_t)];
    if (in_ < 0 || !ReadAll(in_, header, sizeof header)) return false;
    uint32_t size = 0;
    std::memcpy(&size, header, sizeof size);
    message.resize(size);
    return ReadAll(in_, message.data(), size);
}

void Worker::CloseSending() {
    if (out_ >= 0) Close(out_);
    out_ = -1;
}

}  // namespace bmpcontrast_cli::platform
