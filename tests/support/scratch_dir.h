// A private temporary directory per test process, removed with its contents:
// CTest runs test processes side by side, so fixed names would collide.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace bmptest {

class ScratchDir {
  public:
    // A random name, created only if nobody holds it yet: create_directory
    // reports an existing one, so two processes never share a directory.
    ScratchDir() {
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device device;
        const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        std::mt19937_64 random(device() ^ static_cast<uint64_t>(ticks));
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::filesystem::path candidate = base / ("bmpc-" + ToHex(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) {
                path_ = candidate;
                return;
            }
            if (ec) throw std::runtime_error("cannot create " + candidate.string());
        }
        throw std::runtime_error("no free scratch directory name in " + base.string());
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
    static std::string ToHex(uint64_t value) {
        static const char kDigits[] = "0123456789abcdef";
        std::string hex(16, '0');
        for (char& digit : hex) {
            digit = kDigits[value & 15];
            value >>= 4;
        }
        return hex;
    }

    std::filesystem::path path_;
};

// The UTF-16 path the library takes, for the ASCII names tests use.
inline std::u16string U16(const std::string& path) { return {path.begin(), path.end()}; }

}  // namespace bmptest
