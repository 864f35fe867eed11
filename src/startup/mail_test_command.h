// --test-mail: signs on to the operator's mail store and transport with the
// configured method (password or OAuth 2.0) and says which succeeded; no
// message is sent or stored.
#pragma once

#include <string>

namespace velarion {

// Exit status: 0 when the store and the transport both accepted the sign-on,
// 1 otherwise (or the configuration could not be read), 2 bad arguments.
int run_mail_test_command(const std::string& command_line);

}  // namespace velarion
