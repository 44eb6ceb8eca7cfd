// The scratch file a result is written to before it takes its final name:
// beside the destination, so that the rename stays within one file system,
// hidden by its dot, and removed unless kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bmpc::files {

class ScratchFile {
  public:
    ScratchFile() = default;
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile();

    // Creates an empty file beside `destination`, named after it (or, where
    // that name would be too long, after nothing), with permissions `mode`
    // (less the creation mask unless `exact`), open for reading and
    // writing. Returns 0 or an errno value.
    int Create(const std::string& destination, uint32_t mode, bool exact);
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // The permissions the file was created with.
    uint32_t permissions() const { return permissions_; }

    // Closes the file; a write that failed late shows here. The file stays
    // locked, so that no other run takes it for stale while it still has to
    // be renamed or copied. Returns 0 or an errno value.
    int Close();
    // Renames the file onto `destination`. Without `replace` an existing
    // destination is left alone and the call fails with EEXIST. Returns 0 or
    // an errno value; after success the file is no longer removed.
    int MoveTo(const std::string& destination, bool replace);
    // Leaves the file where it is when this object goes.
    void Keep() { kept_ = true; }

  private:
    std::string path_;
    int fd_ = -1;
    int lock_ = -1;  // holds the lock once fd_ is closed
    uint32_t permissions_ = 0;
    bool kept_ = false;
};

// Whether `name` (a name in a folder, no path) is one ScratchFile makes.
bool IsScratchName(const std::string& name);

// Removes the scratch files that runs killed before they finished left in
// `folder`, once per folder and process: only those no live process holds.
// Returns their paths.
std::vector<std::string> RemoveStaleScratch(const std::string& folder);

}  // namespace bmpc::files
