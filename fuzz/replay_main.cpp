// Replays fuzz inputs (files, or every file under a directory) through the
// fuzz target without libFuzzer, so that any compiler builds and runs it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "bmp_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        if (!fs::is_directory(arg)) {
            inputs.push_back(arg);
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(arg)) {
            // Notes kept beside the inputs are not inputs.
            if (entry.is_regular_file() && entry.path().extension() != ".md") {
                inputs.push_back(entry.path());
            }
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s FILE-OR-DIR...  (no inputs found)\n", argv[0]);
        return 2;
    }
    for (const fs::path& path : inputs) {
        const bmptest::Bytes bytes = bmptest::ReadFile(path.string());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
