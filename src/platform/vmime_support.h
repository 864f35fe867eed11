// Pieces of the vmime mail code shared by the mail layer and the SMTP
// sending component: library set-up, mailboxes, attachment types, time-outs,
// where a service connects and how its connection is secured, and the
// credentials handed to the library. Internal to platform/.
#pragma once

#include <stdexcept>
#include <string>
#include <vmime/net/service.hpp>
#include <vmime/net/timeoutHandler.hpp>
#include <vmime/security/sasl/defaultSASLAuthenticator.hpp>
#include <vmime/vmime.hpp>

#include "platform/tls_policy.h"

namespace velarion::mail::detail {

void init_platform();
const vmime::charset& utf8_charset();

// One address as a mailbox: "local@domain" or "Name <local@domain>" (Windows-1252
// bytes); display, when not empty, is the name shown instead. nullptr when the
// text is not one address. The library's own parser is lenient ("a@x.it b@y.it"
// gives a@x.it alone, "a b@x.it" the local host's domain), so the address is
// checked here and the mailbox built from its parts.
vmime::shared_ptr<vmime::mailbox> parse_mailbox(const std::string& cp1252, const std::string& display = "");

// The media type of an attachment, from its file name.
vmime::mediaType type_for(const std::string& name);

// Gives up on a server that stays silent for the given number of seconds.
vmime::shared_ptr<vmime::net::timeoutHandlerFactory> timeouts(int seconds);

// The host name did not resolve to any address.
class NameNotResolved : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where a service connects: the host as configured, the address the
// connection is made to, and whether that is this machine.
struct Endpoint {
    std::string host;
    std::string address;
    bool local = false;
};

// Resolves host. A host counts as this machine when every address it has is
// local (loopback, or one of policy.local_addresses when that list is given);
// it is then connected by the address checked, so that it cannot resolve
// differently a moment later. Throws NameNotResolved.
Endpoint resolve_endpoint(const std::string& host, const TlsPolicy& policy);

// Sets the service's server address and its security: implicit TLS for smtps
// and imaps, else STARTTLS, required when credentials go to a server that is
// not local (unless the policy allows plain text). Certificates of servers
// that are not local are checked against the system's CAs and the policy's
// extra CA file; on this machine, where plain text would be allowed, any
// certificate serves.
void secure(vmime::net::service& service, const Endpoint& endpoint, const TlsPolicy& policy, bool credentials);

// The user name and password handed to the library. They are held back from
// a connection that is not encrypted unless clear text is allowed for it:
// the authentication then fails and held_back() tells why.
class Credentials final : public vmime::security::sasl::defaultSASLAuthenticator {
public:
    Credentials(std::string user_utf8, std::string password_utf8, bool clear_allowed);

    const vmime::string getUsername() const override;
    const vmime::string getPassword() const override;
    const std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>> getAcceptableMechanisms(
        const std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>>& available,
        vmime::shared_ptr<vmime::security::sasl::SASLMechanism> suggested) const override;

    // The server offered at least one mechanism the library can use.
    bool offered() const { return offered_; }
    // The credentials were asked for on a connection without TLS and not given.
    bool held_back() const { return held_back_; }

private:
    bool in_clear() const;

    std::string user_, password_;
    bool clear_allowed_;
    mutable bool offered_ = false;
    mutable bool held_back_ = false;
};

// The text of a library exception with the one it wraps, if any.
std::string describe(const vmime::exception& e);

}  // namespace velarion::mail::detail
