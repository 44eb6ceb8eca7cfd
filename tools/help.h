// What the tool says about itself.
#pragma once

#include <cstdio>

namespace bmpcontrast_cli {

// The two synopsis lines, for usage errors.
void PrintUsage(std::FILE* to);
// Every option and every exit status, for --help.
void PrintHelp(std::FILE* to);
void PrintVersion(std::FILE* to);

}  // namespace bmpcontrast_cli
