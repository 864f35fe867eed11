// Why a connection to a server could not be made, in plain words. The mail
// library reports every failed connect as timed out, refused or not; the
// mail code asks here what the system says instead. Internal to platform/.
#pragma once

#include <string>

namespace velarion::mail::detail {

// "Timed out" when the library's own wait ran out (waited_out); otherwise
// the address (a name or a numeric address) is tried once more, for at most
// a few seconds, and the system's answer is given: "Connection refused",
// "Network is unreachable", "No route to host", "Timed out", "Name not
// resolved". When that connection succeeds (the server has just come up),
// "Connection failed".
std::string connect_failure_cause(const std::string& address, int port, bool waited_out);

}  // namespace velarion::mail::detail
