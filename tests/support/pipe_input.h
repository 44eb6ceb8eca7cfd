// An input file without a size: a pipe that a thread of its own fills with
// the given bytes once the reader opens it, and then closes.
#pragma once

#include <filesystem>
#include <thread>

#include "bmp_builder.h"

namespace bmptest {

class PipeInput {
  public:
    // The pipe is named inside `dir` where the system names pipes in
    // directories.
    PipeInput(const std::filesystem::path& dir, Bytes bytes);
    ~PipeInput();  // waits for the writer, so the pipe must have been opened
    PipeInput(const PipeInput&) = delete;
    PipeInput& operator=(const PipeInput&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    Bytes bytes_;
    std::thread writer_;
};

}  // namespace bmptest
