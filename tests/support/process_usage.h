// What the process holds, for tests checking that calls give back everything
// they take.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmptest {

// Open files: descriptors, or handles on Windows.
int OpenDescriptors();

// Address space the process has mapped (reserved, on Windows).
uint64_t MappedBytes();

// Bytes allocated from the C heap and not yet freed.
size_t HeapInUse();

}  // namespace bmptest
