#include "platform/os/secret_text.h"

#include <regex>

#include "platform/os/text_encoding.h"

namespace velarion::text {

namespace {

void replace_all(std::string& text, const std::string& what, const std::string& with) {
    if (what.empty()) return;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// The form a URL gives a password: every byte outside the unreserved set as %XX.
std::string percent_encoded(const std::string& s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

std::string hide_secrets(std::string text, const std::vector<std::string>& secrets) {
    static const std::regex url_password(R"(([A-Za-z][A-Za-z0-9+.-]*://[^/@:\s]*):[^/@\s]*@)");
    text = std::regex_replace(text, url_password, "$1:***@");
    for (const auto& s : secrets) {
        if (s.empty()) continue;
        for (const auto& form : {s, cp1252_to_utf8(s), percent_encoded(s), percent_encoded(cp1252_to_utf8(s))})
            replace_all(text, form, "***");
    }
    return text;
}

}  // namespace velarion::text
