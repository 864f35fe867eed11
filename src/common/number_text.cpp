#include "common/number_text.h"

#include <charconv>
#include <cmath>

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
    if (ec != std::errc() || p != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

// The range is tested on the double: converting one outside int is undefined.
std::optional<int> to_whole_number(const std::string& text, int lo, int hi) {
    const auto v = to_number(text);
    if (!v) return std::nullopt;
    const double whole = std::trunc(*v);
    if (whole < lo || whole > hi) return std::nullopt;
    return static_cast<int>(whole);
}

int to_whole_number_clamped(const std::string& text, int lo, int hi, int empty) {
    const auto v = to_number(text);
    if (!v) return empty;
    const double whole = std::trunc(*v);
    if (whole < lo) return lo;
    if (whole > hi) return hi;
    return static_cast<int>(whole);
}

}  // namespace velarion
