// Runs BMPContrast with standard output and standard error captured, in a
// scratch directory that each test gets to itself.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "bmp_builder.h"
#include "scratch_dir.h"

namespace bmptest {

struct CallOutcome {
    int32_t result;
    std::string out;
    std::string err;
};

CallOutcome CallContrast(const char16_t* input, const char16_t* output, int32_t level);
CallOutcome CallContrast(const std::filesystem::path& input, const std::filesystem::path& output,
                         int32_t level);

// Compares a call's outcome and output file with Predict().
void ExpectPredicted(const CallOutcome& got, const Bytes& input, int32_t level,
                     const std::filesystem::path& output);

// A file's bytes, named by a path, which on Windows reaches names outside
// the ANSI code page too.
Bytes ReadPath(const std::filesystem::path& path);

// A test with a scratch directory of its own.
class ScratchTest : public testing::Test {
  protected:
    std::filesystem::path Path(const std::filesystem::path& name) const {
        return scratch_.path() / name;
    }
    // Writes `bytes` to a file in the scratch directory and returns its path.
    std::filesystem::path Put(const std::filesystem::path& name, const Bytes& bytes) const;

    ScratchDir scratch_;
};

}  // namespace bmptest
