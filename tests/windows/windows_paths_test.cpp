// Windows paths: UTF-16 names reach the file system as they are, so names
// outside the ANSI code page open the right file, and outputs that cannot be
// opened give 41.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bmpcontrast.h"

namespace fs = std::filesystem;

namespace {

// A 1x1 24-bit bitmap: headers, one BGR pixel and a pad byte.
const std::string kBmp = [] {
    std::string b(58, '\0');
    const unsigned char head[] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                  0,   0,   0,  1, 0, 0, 0, 1, 0, 0, 0,  1, 0, 24, 0};
    b.replace(0, sizeof head, reinterpret_cast<const char*>(head), sizeof head);
    b[54] = 100, b[55] = static_cast<char>(128), b[56] = static_cast<char>(200), b[57] = 7;
    return b;
}();

class WindowsPaths : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("bmpc-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& e : fs::recursive_directory_iterator(dir_, ignored))
            fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        fs::remove_all(dir_, ignored);
    }
    std::u16string Path(const std::u16string& name) const { return (dir_ / name).u16string(); }
    void Write(const std::u16string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    std::string Read(const std::u16string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::vector<std::u16string> Names() const {
        std::vector<std::u16string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename().u16string());
        return names;
    }
    fs::path dir_;
};

TEST_F(WindowsPaths, NamesOutsideTheCodePageOpenTheRightFile) {
    const std::u16string names[] = {u"\u00e9.bmp", u"\u56fe\u50cf.bmp", u"\U0001F5BC.bmp"};
    for (const std::u16string& name : names) {
        const std::u16string out = u"out-" + name;
        Write(name, kBmp);
        EXPECT_EQ(BMPContrast(Path(name).c_str(), Path(out).c_str(), 200), BMPCONTRAST_SUCCESS);
        const std::string result = Read(out);
        ASSERT_EQ(result.size(), 58u);
        EXPECT_EQ(static_cast<unsigned char>(result[54]), 72);
        EXPECT_EQ(static_cast<unsigned char>(result[56]), 255);
    }
    // Exactly the files named, no code-page look-alikes beside them.
    std::vector<std::u16string> expected;
    for (const std::u16string& name : names)
        expected.insert(expected.end(), {name, u"out-" + name});
    std::vector<std::u16string> found = Names();
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
}

TEST_F(WindowsPaths, ReadOnlyOutputGives41AndKeepsItsBytes) {
    Write(u"in.bmp", kBmp);
    Write(u"read-only.bmp", "old");
    fs::permissions(dir_ / u"read-only.bmp",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (std::ofstream(dir_ / u"read-only.bmp", std::ios::app)) {
        GTEST_SKIP() << "this user may write read-only files (Wine run as root maps the "
                        "attribute to permissions root ignores)";
    }
    EXPECT_EQ(BMPContrast(Path(u"in.bmp").c_str(), Path(u"read-only.bmp").c_str(), 150),
              BMPCONTRAST_OUTPUT_OPEN_FAILED);
    EXPECT_EQ(Read(u"read-only.bmp"), "old");
}

TEST_F(WindowsPaths, FolderAsOutputGives41AndAsInput13) {
    Write(u"in.bmp", kBmp);
    fs::create_directory(dir_ / u"folder");
    EXPECT_EQ(BMPContrast(Path(u"in.bmp").c_str(), Path(u"folder").c_str(), 150),
              BMPCONTRAST_OUTPUT_OPEN_FAILED);
    EXPECT_TRUE(fs::is_directory(dir_ / u"folder"));
    EXPECT_EQ(BMPContrast(Path(u"folder").c_str(), Path(u"out.bmp").c_str(), 150),
              BMPCONTRAST_INPUT_OPEN_FAILED);
}

}  // namespace
