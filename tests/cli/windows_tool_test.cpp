// bmpcontrast.exe as Windows users run it: names outside the ANSI code page
// on the command line, batches on several threads, no-clobber,
// --in-place, binary standard streams, and Ctrl-C in the middle of a
// batch. Every output is compared with the library's own for the same file.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bmp_builder.h"
#include "bmpcontrast.h"
#include "scratch_dir.h"
#include "tool_path.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    DWORD status = 0;
    std::string out, err;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Spill(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Text streams on Windows end lines with CR LF, as the C runtime writes them.
std::string Unix(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

// An argument quoted the way CommandLineToArgvW reads it back.
std::wstring Quote(const std::wstring& arg) {
    std::wstring q = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        q.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        q += c;
    }
    q.append(2 * slashes, L'\\');
    return q + L"\"";
}

HANDLE Inheritable(const fs::path& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The tool started with its standard streams on files in `dir`.
class Tool {
  public:
    Tool(const fs::path& dir, const std::vector<std::wstring>& args,
         const std::optional<fs::path>& in = std::nullopt, DWORD flags = 0)
        : Tool(dir, args, Inheritable(in.value_or(L"NUL"), false), flags) {}
    // Standard input on `in`, an inheritable handle the tool takes over.
    Tool(const fs::path& dir, const std::vector<std::wstring>& args, HANDLE in, DWORD flags = 0)
        : outName_(dir / L"stdout.txt"), errName_(dir / L"stderr.txt") {
        const std::string utf8 = BMPCONTRAST_TOOL_PATH;
        const fs::path exe(std::u8string(utf8.begin(), utf8.end()));
        std::wstring command = Quote(exe.wstring());
        for (const auto& a : args) command += L" " + Quote(a);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in;
        si.hStdOutput = Inheritable(outName_, true);
        si.hStdError = Inheritable(errName_, true);
        started_ = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, flags,
                                  nullptr, nullptr, &si, &process_) != 0;
        for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) CloseHandle(h);
    }
    ~Tool() {
        if (!started_) return;
        WaitForSingleObject(process_.hProcess, 60'000);
        CloseHandle(process_.hProcess), CloseHandle(process_.hThread);
    }
    DWORD pid() const { return process_.dwProcessId; }
    // A tool still running after `ms` is ended, with STILL_ACTIVE as its status.
    ToolRun Wait(DWORD ms = 60'000) {
        ToolRun run;
        if (!started_) return run.status = ~DWORD{0}, run;
        if (WaitForSingleObject(process_.hProcess, ms) == WAIT_TIMEOUT) {
            run.status = STILL_ACTIVE;
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 60'000);
            return run;
        }
        GetExitCodeProcess(process_.hProcess, &run.status);
        run.out = Slurp(outName_);
        run.err = Unix(Slurp(errName_));
        return run;
    }

  private:
    fs::path outName_, errName_;
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

std::wstring W(const fs::path& p) { return p.wstring(); }

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

BOOL WINAPI KeepRunning(DWORD) { return TRUE; }

class WindowsTool : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir_ / L"in");
        // Rows with CR, LF and Ctrl-Z bytes in them: any text-mode stream
        // on the way would change them.
        bmptest::BmpLayout layout;
        layout.width = 37, layout.height = 23, layout.bitCount = 24;
        bmptest::Bytes bytes = bmptest::BuildBmp(layout);
        for (size_t i = 54; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>("\r\n\x1a\xff"[i % 4] + i / 4);
        }
        image_.assign(bytes.begin(), bytes.end());
        Spill(dir_ / L"ref-in.bmp", image_);
        const std::u16string from = (dir_ / L"ref-in.bmp").u16string();
        const std::u16string to = (dir_ / L"ref-out.bmp").u16string();
        ASSERT_EQ(BMPContrast(from.c_str(), to.c_str(), kLevel), BMPCONTRAST_SUCCESS);
        expected_ = Slurp(dir_ / L"ref-out.bmp");
    }
    fs::path Input(const std::wstring& name) const {
        Spill(dir_ / L"in" / name, image_);
        return dir_ / L"in" / name;
    }
    // Left-over scratch files start with a dot.
    std::vector<std::wstring> Hidden(const fs::path& dir) const {
        std::vector<std::wstring> found;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            if (e.path().filename().wstring()[0] == L'.') found.push_back(e.path().wstring());
        }
        return found;
    }

    static constexpr int32_t kLevel = 160;
    const std::wstring level_ = std::to_wstring(kLevel);
    const bmptest::ScratchDir scratch_;
    const fs::path dir_ = scratch_.path();
    std::string image_, expected_;
};

TEST_F(WindowsTool, NamesOutsideTheCodePageWorkInBothPositions) {
    for (const std::wstring name : {L"\u00e9t\u00e9", L"\u56fe\u50cf", L"\U0001F5BC", L"a b"}) {
        const fs::path in = Input(name + L".bmp");
        const fs::path out = dir_ / (name + L"-out.bmp");
        const ToolRun run = Tool(dir_, {W(in), W(out), level_}).Wait();
        EXPECT_EQ(run.status, 0u) << run.err;
        EXPECT_EQ(Unix(run.out), "Success: Contrast adjustment applied.\n");
        EXPECT_EQ(Slurp(out), expected_) << out.u8string().size();
    }
}

TEST_F(WindowsTool, ParallelBatchConvertsEveryFileAndCountsTheBadOne) {
    std::vector<std::wstring> args = {L"-j", L"3", L"-l", level_, L"-o", W(dir_ / L"out")};
    const std::vector<std::wstring> names = {L"1.bmp", L"\u00e9.bmp", L"\u56fe.bmp",
                                             L"\U0001F5BC.bmp", L"5.bmp"};
    for (const auto& n : names) args.push_back(W(Input(n)));
    Spill(dir_ / L"in" / L"bad.bmp", "BMxx");
    args.push_back(W(dir_ / L"in" / L"bad.bmp"));
    const ToolRun run = Tool(dir_, args).Wait();
    EXPECT_EQ(run.status, 1u);
    EXPECT_TRUE(Has(run.err, "bad.bmp': Error: Could not read file header.\n")) << run.err;
    EXPECT_TRUE(Has(run.err, "5 converted, 1 failed\n")) << run.err;
    for (const auto& n : names) EXPECT_EQ(Slurp(dir_ / L"out" / n), expected_);
    EXPECT_FALSE(fs::exists(dir_ / L"out" / L"bad.bmp"));
    EXPECT_TRUE(Hidden(dir_ / L"out").empty());
}

TEST_F(WindowsTool, ExistingOutputsAreKeptUnlessForced) {
    const fs::path in = Input(L"x.bmp");
    fs::create_directories(dir_ / L"out");
    Spill(dir_ / L"out" / L"x.bmp", "keep me");
    const std::vector<std::wstring> args = {L"-l", level_, L"-o", W(dir_ / L"out"), W(in)};
    ToolRun run = Tool(dir_, args).Wait();
    EXPECT_EQ(run.status, 1u);
    EXPECT_TRUE(Has(run.err, "already exists; not overwritten (use --force)")) << run.err;
    EXPECT_EQ(Slurp(dir_ / L"out" / L"x.bmp"), "keep me");

    std::vector<std::wstring> forced = args;
    forced.insert(forced.begin(), L"--force");
    run = Tool(dir_, forced).Wait();
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(Slurp(dir_ / L"out" / L"x.bmp"), expected_);
    EXPECT_TRUE(Hidden(dir_).empty());
}

TEST_F(WindowsTool, InPlaceReplacesTheFileThroughAScratchFile) {
    const fs::path a = Input(L"\u00e9.bmp"), b = Input(L"b.bmp");
    const ToolRun run = Tool(dir_, {L"--in-place", L"-l", level_, W(a), W(b)}).Wait();
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(Slurp(a), expected_);
    EXPECT_EQ(Slurp(b), expected_);
    EXPECT_TRUE(Hidden(dir_).empty());
}

TEST_F(WindowsTool, StandardStreamsCarryTheImageUntranslated) {
    const fs::path in = Input(L"s.bmp");
    // Standard output is the image alone; the library's line goes to stderr.
    ToolRun run = Tool(dir_, {L"-", L"-", level_}, in).Wait();
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(run.out, expected_);
    EXPECT_EQ(run.err, "Success: Contrast adjustment applied.\n");
}

TEST_F(WindowsTool, NameWithAnUnpairedSurrogateIsRefusedNotReplaced) {
    const ToolRun run = Tool(dir_, {W(Input(L"ok.bmp")), W(dir_ / L"\xD800.bmp"), level_}).Wait();
    EXPECT_EQ(run.status, 2u);
    EXPECT_TRUE(Has(run.err, "not valid UTF-8")) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / L"\xFFFD.bmp"));
}

TEST_F(WindowsTool, CtrlCStopsTheConversionsAndPrintsTheSummary) {
    // Large files, one at a time: Ctrl-C lands while most are not started.
    bmptest::BmpLayout layout;
    layout.width = 2000, layout.height = 1500, layout.bitCount = 24;
    const bmptest::Bytes big = bmptest::BuildBmp(layout);
    std::vector<std::wstring> args = {L"-j", L"1", L"-l", level_, L"-o", W(dir_ / L"out")};
    for (int k = 0; k < 40; ++k) {
        const fs::path p = dir_ / L"in" / (std::to_wstring(k) + L".bmp");
        Spill(p, std::string(big.begin(), big.end()));
        args.push_back(W(p));
    }
    // Console events travel through a console: one for this process, which
    // the tool then shares. Ctrl-C goes to every process on it; this one
    // lets it pass.
    AllocConsole();
    SetConsoleCtrlHandler(KeepRunning, TRUE);
    Tool tool(dir_, args);
    // Sent once the first file is under way: the rest take far longer.
    for (int tries = 0; tries < 10'000; ++tries) {
        std::error_code ec;
        if (fs::exists(dir_ / L"out", ec) && !fs::is_empty(dir_ / L"out", ec)) break;
        Sleep(1);
    }
    const bool sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    if (!sent) {
        tool.Wait();
        // Wine gives programs a console only when it runs on a terminal;
        // CI runs this test once more under script(1) for that.
        GTEST_SKIP() << "no console to send Ctrl-C through (error " << GetLastError() << ")";
    }
    const ToolRun run = tool.Wait();
    if (run.status == 0 && Has(run.err, "40 converted, 0 failed")) {
        GTEST_SKIP() << "Ctrl-C did not reach the tool (no console here)";
    }
    EXPECT_EQ(run.status, 0xC000013Au) << run.err;
    EXPECT_TRUE(Has(run.err, "files not converted; their names follow on standard output"))
        << run.err;
    EXPECT_TRUE(Has(run.err, " converted, 0 failed\n")) << run.err;
    EXPECT_TRUE(Hidden(dir_ / L"out").empty());
}

// Ctrl-C reaches a read that waits on a pipe nobody writes to: the first
// one ends the run, with no output and no scratch file left.
TEST_F(WindowsTool, CtrlCEndsAReadBlockedOnAPipe) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &sa, 0));
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    AllocConsole();
    SetConsoleCtrlHandler(KeepRunning, TRUE);
    const fs::path out = dir_ / L"out.bmp";
    Tool tool(dir_, {L"-", W(out), level_}, readEnd);
    Sleep(1000);  // the tool is waiting for its first bytes
    if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) == 0) {
        CloseHandle(writeEnd);
        tool.Wait();
        GTEST_SKIP() << "no console to send Ctrl-C through (error " << GetLastError() << ")";
    }
    const ToolRun run = tool.Wait(20'000);
    CloseHandle(writeEnd);
    EXPECT_EQ(run.status, 0xC000013Au) << run.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(Hidden(dir_).empty());
}

}  // namespace
