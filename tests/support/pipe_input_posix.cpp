#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>

#include "pipe_input.h"

namespace bmptest {

PipeInput::PipeInput(const std::filesystem::path& dir, Bytes bytes)
    : path_(dir / "input.fifo"), bytes_(std::move(bytes)) {
    if (mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    writer_ = std::thread([this] {
        // Opening blocks until the reader opens the other end.
        if (std::FILE* f = std::fopen(path_.c_str(), "wb")) {
            std::fwrite(bytes_.data(), 1, bytes_.size(), f);
            std::fclose(f);
        }
    });
}

PipeInput::~PipeInput() { writer_.join(); }

}  // namespace bmptest
