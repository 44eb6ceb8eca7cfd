// How the tool shows names and its own lines.
#pragma once

#include <string>

namespace bmpcontrast_cli {

// One line "bmpcontrast: TEXT", written at once so that it cannot be split
// by anything else written meanwhile.
void Say(const std::string& text);
// Writes `text` to descriptor `fd` in one piece, as far as the system allows.
void Emit(int fd, const std::string& text);
// The errno of the first write to standard output that failed, or 0.
int OutputError();

// Whether `text` is UTF-8 (no overlong forms, no surrogates).
bool ValidUtf8(const std::string& text);

// "'name'", quoted for messages. Bytes that are not UTF-8 (names on POSIX
// are bytes) and control characters show as \xNN, so that every message
// stays one line of valid text.
std::string Quoted(const std::string& name);

}  // namespace bmpcontrast_cli
