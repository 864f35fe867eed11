#include "common/bounded_line.h"

#include <algorithm>

namespace velarion {

bool read_bounded_line(std::istream& in, std::string& line, std::size_t max) {
    line.clear();
    char buffer[8192];
    bool any = false;
    for (;;) {
        in.getline(buffer, sizeof buffer);
        const auto count = static_cast<std::size_t>(in.gcount());
        if (count > 0) any = true;
        // The buffer filled before the line ended: more of it follows.
        const bool full = in.fail() && !in.eof() && count == sizeof buffer - 1;
        // A line end read is counted but not stored.
        const std::size_t stored = full || in.eof() || count == 0 ? count : count - 1;
        if (line.size() < max) line.append(buffer, std::min(stored, max - line.size()));
        if (full) {
            in.clear();
            continue;
        }
        if (!any) return false;
        if (in.eof()) in.clear(std::ios::eofbit);  // the last line: the next read fails
        return true;
    }
}

}  // namespace velarion
