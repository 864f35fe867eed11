// A problem found in a layout file (a style, an overlay, a formatting table)
// while it was read: where it is and what is wrong, for the style checker.
#pragma once

#include <string>

namespace velarion {

struct FileProblem {
    std::string file;  // path of the file
    int line = 0;      // from 1; 0 when the problem has no line (a missing section)
    std::string text;  // "[FATTURA] margbasso: 'abc' is not a number"

    // "file:line text", or "file: text" without a line.
    std::string message() const {
        return file + (line > 0 ? ":" + std::to_string(line) : std::string(":")) + " " + text;
    }
    bool operator==(const FileProblem&) const = default;
};

}  // namespace velarion
