// Opening the caller's files and sizing the input: the part of the call that
// differs between operating systems.
#pragma once

#include <cstdint>
#include <cstdio>

namespace bmpc {

// Open the file a UTF-16 path names, in binary mode; null where it cannot be
// opened (including a null path).
std::FILE* OpenInput(const char16_t* path) noexcept;
std::FILE* OpenOutput(const char16_t* path) noexcept;

// Size of the open input, or 0 where it has none (a pipe, a device). Always
// 64 bits wide, also on 32-bit targets.
int64_t InputSize(std::FILE* in) noexcept;

// Whether `outputPath` is known to name another file than the open input:
// nothing by that name, or a file of another identity (device and inode,
// links followed). False where that cannot be told.
bool OtherFile(std::FILE* in, const char16_t* outputPath) noexcept;

}  // namespace bmpc
