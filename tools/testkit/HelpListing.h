#pragma once
// Reading a program's option listing, whose column widths and line breaks are the option
// library's own.

#include <string>

// The text with every run of blanks and line ends made one space.
inline std::string flattened(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\n';
        if (!blank || (!out.empty() && out.back() != ' ')) {
            out.push_back(blank ? ' ' : c);
        }
    }
    return out;
}
