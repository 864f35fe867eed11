#include "layout/barcode_encoders.h"

#include <cctype>

namespace velarion {

namespace {

std::string trim_spaces(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

// Start character, data with spaces as Chr(194), check, stop, one space.
std::string code128_fixed_start(std::string& data, char start) {
    // Trim spaces at both ends.
    data = trim_spaces(data);
    // Data: each space as Chr(194).
    std::string encoded = data;
    for (char& c : encoded)
        if (c == ' ') c = kCode128Space;
    // Check character over the data, and the result.
    return Code128Output(start, encoded);
}

}  // namespace

std::string Code128Output(char start, const std::string& encoded) {
    std::string out(1, start);
    out += encoded;
    out += Code128CheckChar(start, encoded);
    out += kCode128Stop;
    out += ' ';
    return out;
}

int Code128Value(unsigned char code) {
    if (code == static_cast<unsigned char>(kCode128Space)) return 0;
    return code < 135 ? code - 32 : code - 100;
}

char Code128Char(int value) {
    if (value == 0) return kCode128Space;
    if (value <= 94) return static_cast<char>(value + 32);
    return static_cast<char>(value + 100);
}

char Code128CheckChar(char start, const std::string& encoded) {
    long sum = static_cast<unsigned char>(start) - 100;
    long position = 1;
    for (char c : encoded) sum += position++ * Code128Value(static_cast<unsigned char>(c));
    return Code128Char(static_cast<int>(sum % 103));
}

std::string Code128a(std::string& data) { return code128_fixed_start(data, kCode128StartA); }

std::string Code128b(std::string& data) { return code128_fixed_start(data, kCode128StartB); }

std::string I2of5(std::string& data) {
    // Trim; keep only the digits.
    data = trim_spaces(data);
    std::string digits;
    for (char c : data)
        if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
    // An odd count gets a leading "0".
    if (digits.size() % 2 != 0) digits.insert(digits.begin(), '0');
    // One character per pair, framed by start and stop, then a space.
    std::string out(1, kCode128StartA);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int n = (digits[i] - '0') * 10 + (digits[i + 1] - '0');
        out += static_cast<char>(n < 94 ? n + 33 : n + 103);
    }
    out += kCode128StartB;
    out += ' ';
    return out;
}

std::string Code39(std::string& data) {
    // Trim; spaces as "="; framed by "!".
    data = trim_spaces(data);
    std::string text = data;
    for (char& c : text)
        if (c == ' ') c = '=';
    return "!" + text + "!";
}

}  // namespace velarion
