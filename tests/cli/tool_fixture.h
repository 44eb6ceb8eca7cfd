// The fixture of the tool's tests: a private folder per test, bitmaps in it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_builder.h"

namespace tooltest {

namespace fs = std::filesystem;
using bmptest::Bytes;

inline constexpr char kSuccessLine[] = "Success: Contrast adjustment applied.\n";

inline std::string AsString(const Bytes& b) { return {b.begin(), b.end()}; }

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Tool : public testing::Test {
  protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("bmpc_tool_" + std::string(info->name()) + "_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // A distinct valid bitmap per seed, written under `name`.
    Bytes Bitmap(const std::string& name, uint32_t seed, uint16_t bits = 24) {
        bmptest::BmpLayout layout;
        layout.width = 7 + static_cast<int32_t>(seed % 5);
        layout.height = seed % 2 == 0 ? 4 : -3;
        layout.bitCount = bits;
        layout.seed = seed;
        Bytes bytes = bmptest::BuildBmp(layout);
        fs::create_directories(fs::path(Path(name)).parent_path());
        bmptest::WriteFile(Path(name), bytes);
        return bytes;
    }

    // Files left in a directory, scratch files included.
    std::vector<std::string> Listing(const std::string& sub) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_ / sub))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

}  // namespace tooltest
