#include "spool/message_rules.h"

#include <cctype>

#include "common/runtime.h"
#include "platform/os/text_encoding.h"

namespace velarion::spool {

std::string fax_gateway(const Runtime& rt) {
    return rt.cfg.fax_gateway;
}

bool names_fax_gateway(const std::string& line, const std::string& gateway) {
    const std::string hay = text::upper(line);
    const std::string needle = "@" + text::upper(gateway);
    for (auto pos = hay.find(needle); pos != std::string::npos; pos = hay.find(needle, pos + 1)) {
        const auto end = pos + needle.size();
        if (end == hay.size()) return true;
        const unsigned char next = static_cast<unsigned char>(hay[end]);
        if (!std::isalnum(next) && next != '-' && next != '_') return true;
    }
    return false;
}

std::string delivery_option(const Runtime& rt, const std::string& line7, const std::string& line4) {
    std::string option = line7;
    if (rt.cfg.sw.smtp_component) option = "SEND";
    if (rt.cfg.delivery_mode == DeliveryMode::always_send) {
        option = "SEND";
        if (line4.find('@') == std::string::npos) option = "SAVE";
    }
    if (rt.cfg.delivery_mode == DeliveryMode::always_save) option = "SAVE";
    return option;
}

}  // namespace velarion::spool
