#include "startup/instance_guard.h"

namespace velarion {

std::string instance_name(const std::string& ope) {
    std::string out = ope;
    for (char& c : out) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        else if (!keep) c = '_';
    }
    return out;
}

}  // namespace velarion
