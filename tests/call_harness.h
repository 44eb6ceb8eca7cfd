// Runs BMPContrast with standard output and standard error captured, in a
// scratch directory that each test gets to itself.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "bmp_builder.h"

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

class ScratchDir : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::filesystem::path Path(const std::string& name) const { return dir_ / name; }
    // Writes `bytes` to a file in the scratch directory and returns its path.
    std::filesystem::path Put(const std::string& name, const Bytes& bytes) const;

    std::filesystem::path dir_;
};

}  // namespace bmptest
