#include "report.h"

#include <cstring>

#include "bmpcontrast.h"
#include "platform/platform.h"

namespace bmpcontrast_cli {

void Say(const std::string& text) {
    const std::string line = "bmpcontrast: " + text + "\n";
    // One write per line: stdio could split it where a parallel thread's
    // line would land in between.
    platform::WriteAll(2, line);
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

void ReportFailure(int32_t result, int error, const std::string& input, const std::string& output,
                   bool always) {
    const std::string why = error != 0 ? std::string(": ") + std::strerror(error) : "";
    if (result == BMPCONTRAST_INPUT_OPEN_FAILED) {
        Say("cannot open input " + Quoted(input) + why);
    } else if (result == BMPCONTRAST_OUTPUT_OPEN_FAILED) {
        Say("cannot write output " + Quoted(output) + why);
    } else if (always) {
        Say(Quoted(input) + " not converted (result " + std::to_string(result) + ")");
    }
}

}  // namespace bmpcontrast_cli
