// The inverse of splitCommandLine, for tests and fuzzing: one argument
// written so that the splitter reads it back unchanged. Bare when it has no
// space, tab or quote and is not empty; otherwise in quotes, the backslashes
// before a quote (or before the closing quote) doubled, and every quote
// inside written as \" or, with doubledQuotes, as "".
#pragma once
#include <string>

inline std::string quoteArgument(const std::string& arg, bool doubledQuotes = false) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            if (doubledQuotes) {
                out.append(2 * backslashes, '\\');
                out += "\"\"";
            } else {
                out.append(2 * backslashes + 1, '\\');
                out += '"';
            }
        } else {
            out.append(backslashes, '\\');
            out += c;
        }
        backslashes = 0;
    }
    out.append(2 * backslashes, '\\');
    out += '"';
    return out;
}
