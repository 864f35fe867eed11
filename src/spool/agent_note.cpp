#include "spool/agent_note.h"

#include <charconv>
#include <sstream>

namespace velarion::spool {

namespace {

template <class N>
bool number(const std::string& text, N& n) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    return ec == std::errc() && end == text.data() + text.size();
}

// One field of a "|"-separated line: control characters and "|" become blanks.
std::string field(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == '|') c = ' ';
    return s;
}

std::vector<std::string> split(const std::string& s, char sep, std::size_t max_parts) {
    std::vector<std::string> out;
    std::size_t from = 0;
    while (out.size() + 1 < max_parts) {
        const auto at = s.find(sep, from);
        if (at == std::string::npos) break;
        out.push_back(s.substr(from, at - from));
        from = at + 1;
    }
    out.push_back(s.substr(from));
    return out;
}

}  // namespace

std::string format_note(const AgentNote& note) {
    std::string out = "ope=";
    for (std::size_t i = 0; i < note.prefixes.size(); ++i) out += (i ? "," : "") + field(note.prefixes[i]);
    out += "\n";
    for (const auto& h : note.holds) {
        out += std::string(h.side == Target::store ? "archivio=" : "invio=") +
               (h.kind == Delivered::logon_refused ? "accesso" : "server") + "|" + std::to_string(h.since) + "|" +
               std::to_string(h.next_try) + "|" + std::to_string(h.failures) + "|" + field(h.reason) + "\n";
    }
    return out;
}

AgentNote parse_note(const std::string& text) {
    AgentNote note;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "ope") {
            for (const auto& p : split(value, ',', 64))
                if (!p.empty()) note.prefixes.push_back(p);
            continue;
        }
        if (key != "invio" && key != "archivio") continue;
        const auto parts = split(value, '|', 5);
        SideHold h;
        h.side = key == "archivio" ? Target::store : Target::transport;
        if (parts.size() != 5 || (parts[0] != "server" && parts[0] != "accesso")) continue;
        h.kind = parts[0] == "accesso" ? Delivered::logon_refused : Delivered::server_down;
        if (!number(parts[1], h.since) || !number(parts[2], h.next_try) || !number(parts[3], h.failures)) continue;
        h.reason = parts[4];
        note.holds.push_back(std::move(h));
    }
    return note;
}

}  // namespace velarion::spool
