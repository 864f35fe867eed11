#include "layout/code128.h"

#include "layout/barcode_encoders.h"

namespace velarion {

namespace {

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

bool is_fnc1_mark(unsigned char c) { return c == 202 || (c >= 212 && c <= 215); }

// True when the n characters of s from 0-based index i exist and are digits.
bool digits_at(const std::string& s, std::size_t i, std::size_t n) {
    if (i + n > s.size()) return false;
    for (std::size_t k = i; k < i + n; ++k)
        if (!is_digit(static_cast<unsigned char>(s[k]))) return false;
    return true;
}

std::string encode(const std::string& data) {
    const std::size_t length = data.size();
    if (length == 0) return "";
    // Start character from the first data character.
    const unsigned char first = static_cast<unsigned char>(data[0]);
    char start = kCode128StartB;
    if (first < 32) start = kCode128StartA;
    if ((length > 4 && digits_at(data, 0, 4)) || is_fnc1_mark(first)) start = kCode128StartC;
    char set = start == kCode128StartA ? 'A' : start == kCode128StartB ? 'B' : 'C';

    // One pass over the data (i is 1-based as the positions are numbered).
    std::string encoded;
    for (std::size_t i = 1; i <= length; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i - 1]);
        if (is_fnc1_mark(c)) {
            encoded += kCode128Fnc1;
            continue;
        }
        const bool pair_in_c = set == 'C' && i < length && digits_at(data, i - 1, 2);
        const bool run_of_four = i + 2 < length && digits_at(data, i - 1, 4);
        if (pair_in_c || run_of_four) {
            if (set != 'C') encoded += kCode128SwitchC;
            set = 'C';
            encoded += Code128Char((data[i - 1] - '0') * 10 + (data[i] - '0'));
            ++i;
        } else if (c < 31 || (set == 'A' && c >= 33 && c < 96)) {
            if (set != 'A') encoded += kCode128SwitchA;
            set = 'A';
            if (c < 32)
                encoded += static_cast<char>(c + 96);
            else
                encoded += static_cast<char>(c);
        } else if (c >= 32 && c < 127) {
            if (set != 'B') encoded += kCode128SwitchB;
            set = 'B';
            encoded += c == ' ' ? kCode128Space : static_cast<char>(c);
        }
        // Other characters are dropped.
    }
    // Check character and output.
    return Code128Output(start, encoded);
}

// Number of AI digits after a Chr(202) at 1-based position i; 0: no bracket.
std::size_t fnc1_ai_length(const std::string& data, std::size_t i) {
    const std::size_t length = data.size();
    int v = -1;
    if (digits_at(data, i, 2)) v = (data[i] - '0') * 10 + (data[i + 1] - '0');
    if (i + 4 < length && (v == 80 || v == 81 || (v >= 31 && v <= 34))) return 4;
    if (i + 3 < length && ((v >= 40 && v <= 49) || (v >= 23 && v <= 25))) return 3;
    if ((v >= 0 && v <= 30) || (v >= 90 && v <= 99)) return 2;
    if (i + 4 < length) return 4;
    return 0;
}

// Human-readable text: AIs in brackets, control characters as spaces.
std::string human_readable(const std::string& data) {
    const std::size_t length = data.size();
    std::string out;
    for (std::size_t i = 1; i <= length; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i - 1]);
        if (i + 2 < length && is_fnc1_mark(c)) {
            std::size_t ai = 0;
            if (c == 212) ai = 2;
            else if (c == 213 && i + 3 < length) ai = 3;
            else if (c == 214 && i + 4 < length) ai = 4;
            else if (c == 215 && i + 4 < length) ai = 5;
            else if (c == 202) ai = fnc1_ai_length(data, i);
            if (ai > 0) {
                out += " (" + data.substr(i, ai) + ") ";
                i += ai;
                continue;
            }
        }
        if (c < 32)
            out += ' ';
        else if (c <= 127)
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

std::string Code128(std::string& data, int return_type) {
    const std::string text = data;
    data.clear();
    if (return_type == 1) return human_readable(text);
    const std::string barcode = encode(text);
    if (return_type == 2) return barcode.size() >= 3 ? barcode.substr(barcode.size() - 3, 1) : "";
    return barcode;
}

}  // namespace velarion
