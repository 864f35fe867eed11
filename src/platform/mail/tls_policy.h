// When the mail layer and the SMTP sending component may send credentials
// without TLS, and which certificates they trust.
//
// Credentials for a server on this machine (a loopback address, or one of
// local_addresses when that list is given) may go in plain text: they never
// leave the machine. For any other server STARTTLS (or implicit TLS) is
// required before a user name or password is sent, and the server's
// certificate is checked against the system's CAs and extra_ca, unless
// allow_plain is set.
#pragma once

#include <string>
#include <vector>

namespace velarion::mail {

struct TlsPolicy {
    bool allow_plain = false;                  // credentials may go in clear to any server
    std::string extra_ca;                      // a PEM file of more trusted CA certificates
    std::vector<std::string> local_addresses;  // numeric addresses of this machine; empty: loopback

    bool operator==(const TlsPolicy&) const = default;
};

}  // namespace velarion::mail
