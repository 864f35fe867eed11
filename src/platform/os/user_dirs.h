// The user's folders and name: the XDG documents directory and the login name.
#pragma once

#include <string>

namespace velarion::user_dirs {

// The user's documents folder: `xdg-user-dir DOCUMENTS` when that names a
// folder of its own, else $HOME/Documents ("" without a home).
std::string documents_dir();

// The login name ("" when unknown).
std::string login_name();

}  // namespace velarion::user_dirs
