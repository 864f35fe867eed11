#include "platform/os/file_modes.h"

#include <sys/stat.h>

#include <charconv>

namespace velarion::file_modes {

void set_umask(unsigned mask) { ::umask(static_cast<mode_t>(mask & 0777)); }

int parse_umask(const std::string& raw) {
    const auto first = raw.find_first_not_of(" \t");
    if (first == std::string::npos) return -1;
    const auto last = raw.find_last_not_of(" \t");
    const char* begin = raw.data() + first;
    const char* end = raw.data() + last + 1;
    unsigned value = 0;
    const auto [stop, ec] = std::from_chars(begin, end, value, 8);
    if (ec != std::errc() || stop != end || value > 0777) return -1;
    return static_cast<int>(value);
}

}  // namespace velarion::file_modes
