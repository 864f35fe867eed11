// Pieces of the vmime mail code shared by the mail layer and the SMTP
// sending component: library set-up, mailboxes, attachment types, time-outs,
// where a service connects and how its connection is secured, and the
// credentials handed to the library. Internal to platform/.
#pragma once

#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vmime/net/service.hpp>
#include <vmime/net/transport.hpp>
#include <vmime/net/timeoutHandler.hpp>
#include <vmime/security/sasl/defaultSASLAuthenticator.hpp>
#include <vmime/vmime.hpp>

#include "platform/mail/mail.h"
#include "platform/mail/sasl_mechanisms.h"
#include "platform/mail/tls_policy.h"

namespace velarion::mail::detail {

void init_platform();
const vmime::charset& utf8_charset();

// One address as a mailbox: "local@domain" or "Name <local@domain>" (Windows-1252
// bytes); display, when not empty, is the name shown instead. nullptr when the
// text is not one address. The library's own parser is lenient ("a@x.it b@y.it"
// gives a@x.it alone, "a b@x.it" the local host's domain), so the address is
// checked here and the mailbox built from its parts.
vmime::shared_ptr<vmime::mailbox> parse_mailbox(const std::string& cp1252, const std::string& display = "");

// A header text (subject, display name, file name; Windows-1252 bytes) with
// its control characters made blanks: a NUL or a line break from the spool
// never reaches a header line.
std::string header_text(const std::string& cp1252);

// The media type of an attachment, from its file name.
vmime::mediaType type_for(const std::string& name);

// How long the services of one connection wait for their server: `seconds`
// for every answer but the one to the end of a message's data, which gets
// `data_seconds`. RFC 5321 (section 4.5.3.2) gives a client ten minutes
// there: the server may be storing or checking the message, and a client that
// gives up sooner sends it again although it was delivered. send_spooled
// switches to the long wait once the data has been written and back after
// the answer. Copies share their state.
class Waits {
public:
    explicit Waits(int seconds, int data_seconds = 0);

    // The handlers given to a service (setTimeoutHandlerFactory).
    vmime::shared_ptr<vmime::net::timeoutHandlerFactory> factory() const;
    int seconds() const;
    int data_seconds() const;
    // Whether the answer awaited now is the one to the end of the data.
    void await_data_reply(bool on) const;
    // Whether a wait of these services ran out since the last clear().
    bool ran_out() const;
    void clear() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// The message's data reached the server, but its answer never came: the wait
// for it ran out or the connection was lost. The server may have delivered
// the message; sending it again may deliver it twice.
class NoAnswerAfterData : public std::runtime_error {
public:
    NoAnswerAfterData(const std::string& what, bool timed_out) : std::runtime_error(what), timed_out_(timed_out) {}
    bool timed_out() const { return timed_out_; }

private:
    bool timed_out_;
};

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

// What both kinds of credentials share: nothing is handed to a connection
// that is not encrypted unless clear text is allowed for it; the
// authentication then fails and held_back() tells why.
class CredentialGuard {
public:
    // The server offered at least one mechanism the library can use.
    bool offered() const { return offered_; }
    // The credentials were asked for on a connection without TLS and not given.
    bool held_back() const { return held_back_; }

protected:
    explicit CredentialGuard(bool clear_allowed) : clear_allowed_(clear_allowed) {}

    // The value asked for, or authentication_error on a connection of the
    // service without TLS.
    const vmime::string hand_over(const vmime::weak_ptr<vmime::net::service>& service, const std::string& value) const;
    // Notes that the server offered mechanisms; false when none may be tried
    // on this connection (the library then gives up before sending anything).
    bool may_offer(const vmime::weak_ptr<vmime::net::service>& service) const;

private:
    bool in_clear(const vmime::weak_ptr<vmime::net::service>& service) const;

    bool clear_allowed_;
    mutable bool offered_ = false;
    mutable bool held_back_ = false;
};

// The user name and password handed to the library, through the mechanism
// GNU SASL suggests (never a token mechanism).
class Credentials final : public vmime::security::sasl::defaultSASLAuthenticator, public CredentialGuard {
public:
    Credentials(std::string user_utf8, std::string password_utf8, bool clear_allowed);

    const vmime::string getUsername() const override { return hand_over(getService(), user_); }
    const vmime::string getPassword() const override { return hand_over(getService(), password_); }
    const Mechanisms getAcceptableMechanisms(
        const Mechanisms& available, vmime::shared_ptr<vmime::security::sasl::SASLMechanism> suggested) const override;

private:
    std::string user_, password_;
};

// The user name and OAuth 2.0 access token, through XOAUTH2 when the server
// offers it, else OAUTHBEARER; never through another mechanism.
class TokenCredentials final : public vmime::security::sasl::defaultSASLAuthenticator, public CredentialGuard {
public:
    TokenCredentials(std::string user_utf8, std::string access_token, bool clear_allowed);

    const vmime::string getUsername() const override { return hand_over(getService(), user_); }
    const vmime::string getAccessToken() const override { return hand_over(getService(), token_); }
    const Mechanisms getAcceptableMechanisms(
        const Mechanisms& available, vmime::shared_ptr<vmime::security::sasl::SASLMechanism> suggested) const override;

private:
    std::string user_, token_;
};

// How a service signs on: the authenticator handed to the library, with
// what it tells afterwards.
struct Authentication {
    vmime::shared_ptr<vmime::security::authenticator> authenticator;
    vmime::shared_ptr<CredentialGuard> guard;
    bool token = false;  // an access token (XOAUTH2 or OAUTHBEARER)

    bool held_back() const { return guard && guard->held_back(); }
    bool offered() const { return guard && guard->offered(); }
    // Whether the failure being handled (call inside catch) is the server
    // refusing the access token: a fresh one may be fetched and tried once.
    bool token_refused() const;
};

// The user name with a password, or with an OAuth 2.0 access token (token).
Authentication authentication(const std::string& user_utf8, const std::string& secret_utf8, bool token,
                              bool clear_allowed);

// The text of a library exception with the one it wraps, if any.
std::string describe(const vmime::exception& e);

// Whether the failure being handled (call inside catch) says the server
// ended the connection before taking the message: closed or reset, not
// connected, or answered 421. A missing answer after the whole data
// (NoAnswerAfterData) is not: the message may have gone.
bool connection_gone();

class SpooledMessage;

// Sends the message with the given envelope through the connected
// transport, its bytes generated already (spooled_message.h; read from
// their start, so a send tried again sends them again). The envelope sender
// is the expeditor on every transport. With `waits` (those the transport was
// given), the answer to the end of the data gets their long wait. A failure
// after the whole data was written that is no answer of the server (a wait
// that ran out, a lost connection) throws NoAnswerAfterData. `data_end` is
// called once the whole data has been written, before its end is marked;
// what it throws stops the send there. With `dsn` asking for notifications
// and an SMTP server that offers DSN, the envelope carries them
// (smtp_dsn.h); otherwise the SMTP transaction is smtp_transaction.h's
// (`reused`: the connection carried a message before) and other transports
// get the library's own send.
void send_spooled(vmime::net::transport& transport, SpooledMessage& message, const vmime::mailbox& expeditor,
                  const vmime::mailboxList& recipients, vmime::utility::progressListener* progress = nullptr,
                  const Waits* waits = nullptr, const std::function<void()>& data_end = nullptr,
                  const Dsn* dsn = nullptr, bool reused = false);

}  // namespace velarion::mail::detail
