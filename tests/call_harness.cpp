#include "call_harness.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

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
        const Bytes file = ReadPath(output);
        ASSERT_EQ(file.size(), want.file.size());
        EXPECT_TRUE(file == want.file) << "output bytes differ from the prediction";
    }
}

Bytes ReadPath(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::filesystem::path ScratchTest::Put(const std::filesystem::path& name,
                                       const Bytes& bytes) const {
    const auto path = Path(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
    return path;
}

}  // namespace bmptest
