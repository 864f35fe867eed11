#include "platform/pdf/pdf_syntax.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace velarion::pdfwriter {

namespace {
constexpr std::int64_t kScale[] = {1, 10, 100, 1000, 10000, 100000, 1000000};

// value / scale with its fraction digits, trailing zeros dropped. The
// magnitude is taken unsigned: the most negative value has no positive twin.
// Made in a buffer and appended once: a page of rules and bars writes a
// thousand numbers.
void append_scaled(std::string& out, std::int64_t value, int decimals) {
    char buf[48];  // sign, 20 digits, point, 6 digits
    char* p = buf;
    std::uint64_t magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) {
        *p++ = '-';
        magnitude = 0 - magnitude;
    }
    const auto scale = static_cast<std::uint64_t>(kScale[decimals]);
    p = std::to_chars(p, buf + 24, magnitude / scale).ptr;
    std::uint64_t fraction = magnitude % scale;
    if (fraction != 0) {
        int digits = decimals;
        while (fraction % 10 == 0) {
            fraction /= 10;
            --digits;
        }
        *p++ = '.';
        for (int i = digits - 1; i >= 0; --i, fraction /= 10) p[i] = static_cast<char>('0' + fraction % 10);
        p += digits;
    }
    out.append(buf, p);
}
}  // namespace

void append_integer(std::string& out, std::int64_t value) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

std::int64_t round_scaled(double value, double scale) {
    if (!std::isfinite(value)) return 0;
    return std::llround(std::clamp(value, -kNumberLimit, kNumberLimit) * scale);
}

void append_number(std::string& out, double value, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 6) decimals = 6;
    append_scaled(out, round_scaled(value, static_cast<double>(kScale[decimals])), decimals);
}

void append_thousandths(std::string& out, std::int64_t thousandths) { append_scaled(out, thousandths, 3); }

void append_literal(std::string& out, std::string_view bytes) {
    const std::size_t start = out.size();
    out.resize(start + 2 + 4 * bytes.size());  // room for every byte escaped
    char* p = out.data() + start;
    *p++ = '(';
    auto put = [&p](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != '(' && c != ')' && c != '\\') {
            *p++ = ch;
        } else if (c >= 0x20) {
            *p++ = '\\';
            *p++ = ch;
        } else {
            *p++ = '\\';
            *p++ = static_cast<char>('0' + (c >> 6));
            *p++ = static_cast<char>('0' + ((c >> 3) & 7));
            *p++ = static_cast<char>('0' + (c & 7));
        }
    };
    // Listing lines are almost never escaped: eight bytes at a time are
    // tested for a control byte, a parenthesis or a backslash (the usual bit
    // tricks for a zero byte) and copied whole when they hold none. This is
    // the innermost loop of a long listing.
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    auto has_zero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, bytes.data() + i, 8);
        const std::uint64_t special = ((w - ones * 0x20) & ~w & highs) | has_zero(w ^ (ones * '(')) |
                                      has_zero(w ^ (ones * ')')) | has_zero(w ^ (ones * '\\'));
        if (special == 0) {
            std::memcpy(p, bytes.data() + i, 8);
            p += 8;
        } else {
            for (std::size_t k = 0; k < 8; ++k) put(bytes[i + k]);
        }
    }
    for (; i < bytes.size(); ++i) put(bytes[i]);
    *p++ = ')';
    out.resize(static_cast<std::size_t>(p - out.data()));
}

std::string to_pdfdoc(std::string_view cp1252) {
    static const unsigned char high[32] = {
        0xA0, '?',  0x91, 0x86, 0x8C, 0x83, 0x81, 0x82,   // 80-87
        0x1A, 0x8B, 0x97, 0x88, 0x96, '?',  0x99, '?',    // 88-8F
        '?',  0x8F, 0x90, 0x8D, 0x8E, 0x80, 0x85, 0x84,   // 90-97
        0x1F, 0x92, 0x9D, 0x89, 0x9C, '?',  0x9E, 0x98};  // 98-9F
    std::string out;
    out.reserve(cp1252.size());
    for (const char ch : cp1252) {
        auto c = static_cast<unsigned char>(ch);
        if (c == 0) continue;
        if (c >= 0x80 && c <= 0x9F) c = high[c - 0x80];
        else if (c == 0xA0) c = ' ';
        out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace velarion::pdfwriter
