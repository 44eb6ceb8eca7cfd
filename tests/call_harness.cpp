#include "call_harness.h"

#include "bmpcontrast.h"
#include "stdio_capture.h"

namespace bmptest {

CallOutcome CallContrast(const char16_t* input, const char16_t* output, int32_t level) {
    int32_t result = 0;
    const StdioText text = CaptureStdio([&] { result = BMPContrast(input, output, level); });
    return {result, text.out, text.err};
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

std::filesystem::path ScratchTest::Put(const std::string& name, const Bytes& bytes) const {
    const auto path = Path(name);
    WriteFile(path.string(), bytes);
    return path;
}

}  // namespace bmptest
