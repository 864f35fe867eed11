#include "platform/os/agent_identity.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <random>

namespace velarion {

const std::string& agent_identity() {
    static const std::string id = [] {
        char host[256] = {0};
        if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
        std::string name;
        for (const char* p = host; *p && name.size() < 40; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (std::isalnum(c) || c == '-') name += static_cast<char>(c);
        }
        if (name.empty()) name = "host";
        std::random_device rd;
        char rest[40];
        std::snprintf(rest, sizeof rest, "-%d-%08x", static_cast<int>(::getpid()), static_cast<unsigned>(rd()));
        return name + rest;
    }();
    return id;
}

}  // namespace velarion
