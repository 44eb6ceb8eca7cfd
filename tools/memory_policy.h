// How the process treats memory the library frees.
#pragma once

namespace bmpcontrast_cli {

// Keeps the pixel blocks a conversion frees in the process, so that the
// next file's blocks come from pages already faulted in instead of fresh
// ones. Call once, at start-up, before any thread runs. Returns false where
// the C library offers no such setting (then nothing changes).
bool KeepFreedPixelMemory();

}  // namespace bmpcontrast_cli
