// The tool's exit statuses, listed in --help.
#pragma once

namespace bmpcontrast_cli {

inline constexpr int kExitOk = 0;      // every file converted
inline constexpr int kExitFailed = 1;  // at least one file not converted
inline constexpr int kExitUsage = 2;   // bad command line; nothing was done

}  // namespace bmpcontrast_cli
