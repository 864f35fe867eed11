#include "platform/os/text_encoding.h"

#include <iconv.h>

#include <cctype>
#include <memory>

namespace velarion::text {

namespace {
// iconv does the table work; the deleter closes the descriptor.
struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// Both encodings agree on ASCII, which most addresses, names and lines are:
// such text needs no converter opened.
bool ascii(const std::string& in) {
    for (const char c : in)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string convert(const std::string& in, const char* to, const char* from) {
    if (ascii(in)) return in;
    iconv_t raw = iconv_open(to, from);
    if (raw == reinterpret_cast<iconv_t>(-1)) return in;
    std::unique_ptr<void, IconvCloser> cd(raw);
    std::string out;
    out.resize(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    char* dst = out.data();
    std::size_t dst_left = out.size();
    while (src_left > 0) {
        if (iconv(raw, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1)) {
            // An unmappable or invalid byte: write "?" and go on with the next one.
            if (dst_left == 0) break;
            *dst++ = '?';
            --dst_left;
            ++src;
            --src_left;
        }
    }
    out.resize(out.size() - dst_left);
    return out;
}
}  // namespace

std::string cp1252_to_utf8(const std::string& bytes) { return convert(bytes, "UTF-8", "CP1252"); }

std::string utf8_to_cp1252(const std::string& utf8) {
    return convert(utf8, "CP1252//TRANSLIT", "UTF-8");
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

std::string without_controls(std::string s, char replacement) {
    for (char& c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = replacement;
    }
    return s;
}

std::string printable(std::string s) {
    for (char& c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7f) c = '?';
    }
    return s;
}

}  // namespace velarion::text
