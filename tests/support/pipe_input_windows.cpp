// Windows names pipes in a namespace of their own, not in directories.
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "pipe_input.h"

namespace bmptest {

PipeInput::PipeInput(const std::filesystem::path& /*dir*/, Bytes bytes) : bytes_(std::move(bytes)) {
    static std::atomic<int> counter{0};
    path_ = L"\\\\.\\pipe\\bmpc-input-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    HANDLE pipe = CreateNamedPipeW(path_.c_str(), PIPE_ACCESS_OUTBOUND,
                                   PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                   64 << 10, 64 << 10, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) throw std::runtime_error("CreateNamedPipeW failed");
    writer_ = std::thread([this, pipe] {
        // Waits for the reader; it may have connected already.
        if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            const uint8_t* p = bytes_.data();
            size_t left = bytes_.size();
            DWORD wrote = 0;
            while (left > 0 && ::WriteFile(pipe, p, static_cast<DWORD>(left), &wrote, nullptr)) {
                p += wrote;
                left -= wrote;
            }
            // Until the reader has taken everything: closing drops what it has not.
            FlushFileBuffers(pipe);
        }
        CloseHandle(pipe);
    });
}

PipeInput::~PipeInput() { writer_.join(); }

}  // namespace bmptest
