// Uniquely named scratch files that go away unless kept.
#pragma once

#include <cstdint>
#include <string>

namespace bmpcontrast_cli {

class TempFile {
  public:
    // Creates an empty file named `prefix` plus six random characters, with
    // permissions `mode`. On failure valid() is false and errno tells why.
    TempFile(const std::string& prefix, uint32_t mode);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool valid() const { return !path_.empty(); }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Closes the file; a write that failed late shows here. Returns 0 or
    // an errno value.
    int Close();
    // Renames the file onto `destination`. Without `replace` an existing
    // destination is left alone and the call fails with EEXIST. Returns 0 or
    // an errno value; after success the file is no longer removed.
    int MoveTo(const std::string& destination, bool replace);

  private:
    std::string path_;
    int fd_ = -1;
    bool kept_ = false;
};

}  // namespace bmpcontrast_cli
