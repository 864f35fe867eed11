#include "common/number_text.h"

#include <charconv>

namespace velarion {

std::optional<double> to_number(const std::string& text) {
    std::string t;
    for (char ch : text) {
        if (ch == ' ' || ch == '\t') continue;
        t.push_back(ch == ',' ? '.' : ch);
    }
    if (t.empty()) return std::nullopt;
    if (t.front() == '+') t.erase(0, 1);
    double v = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
    return v;
}

}  // namespace velarion
