#include "call_harness.h"

#include <unistd.h>

#include "bmpcontrast.h"

namespace bmptest {

CallOutcome CallContrast(const char16_t* input, const char16_t* output, int32_t level) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int32_t result = BMPContrast(input, output, level);
    CallOutcome outcome{result, testing::internal::GetCapturedStdout(),
                        testing::internal::GetCapturedStderr()};
    return outcome;
}

CallOutcome CallContrast(const std::filesystem::path& input, const std::filesystem::path& output,
                         int32_t level) {
    return CallContrast(input.u16string().c_str(), output.u16string().c_str(), level);
}

void ExpectPredicted(const CallOutcome& got, const Bytes& input, int32_t level,
                     const std::filesystem::path& output) {
    const Expected want = Predict(input, level);
    EXPECT_EQ(got.result, want.result);
    EXPECT_EQ(got.err, want.err);
    EXPECT_EQ(got.out, want.out);
    if (want.result == 999) {
        ASSERT_TRUE(std::filesystem::exists(output));
        const Bytes file = ReadFile(output.string());
        ASSERT_EQ(file.size(), want.file.size());
        EXPECT_TRUE(file == want.file) << "output bytes differ from the prediction";
    }
}

void ScratchDir::SetUp() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    // Parameterised tests have '/' in their names; ctest runs tests in parallel.
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    dir_ = std::filesystem::temp_directory_path() /
           ("bmpcontrast-" + std::to_string(getpid()) + "-" + name);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
}

void ScratchDir::TearDown() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::filesystem::path ScratchDir::Put(const std::string& name, const Bytes& bytes) const {
    const auto path = dir_ / name;
    WriteFile(path.string(), bytes);
    return path;
}

}  // namespace bmptest
