#include "platform/os/text_list.h"

#include "platform/os/text_encoding.h"

namespace velarion::text {

std::vector<std::string> split(const std::string& list, char separator) {
    std::vector<std::string> out(1);
    for (const char c : list) {
        if (c == separator)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

std::vector<std::string> entries(const std::string& list, char separator) {
    std::vector<std::string> out;
    for (const auto& entry : split(list, separator))
        if (auto trimmed = trim(entry); !trimmed.empty()) out.push_back(std::move(trimmed));
    return out;
}

}  // namespace velarion::text
