#include "common/print_file_name.h"

#include "platform/os/text_encoding.h"

namespace velarion {

bool is_print_file(const std::string& name) {
    if (name.size() != 10 && name.size() != 13) return false;
    return text::lower(name.substr(name.size() - 4)) == ".txt";
}

bool is_safe_file_name(const std::string& name) {
    if (name.empty() || name == ".") return false;
    if (name.find("..") != std::string::npos) return false;
    for (unsigned char c : name) {
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

}  // namespace velarion
