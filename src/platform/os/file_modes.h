// The permission bits taken away from every file and folder the process
// makes (its umask): invoices and mail are personal data, so by default only
// the agent's own user may read what it writes.
#pragma once

#include <string>

namespace velarion::file_modes {

// The agent's default: 0077 (files 0600, folders 0700).
constexpr unsigned kDefaultUmask = 077;

// Sets the process's umask (also what the programs it starts inherit).
void set_umask(unsigned mask);

// The octal text of a umask ("0027", "027", "77"); -1 when it is none.
int parse_umask(const std::string& text);

}  // namespace velarion::file_modes
