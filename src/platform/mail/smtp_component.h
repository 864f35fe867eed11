// The SMTP sending component: a typed message (its mailboxes, and its
// attachments with the files opened for them) sent straight to an SMTP
// server by Send, which reports what happens through events raised on the
// caller's thread before it returns. The server and account are properties,
// as the settings dialog shows and edits them.
//
// The server is SMTPHost: "host", "host:port" or "[v6 address]:port"; a port
// written there wins over SMTPPort, else 25. STARTTLS is used when the server
// offers it, and required when credentials are to go to a server that is not
// on this machine (see TlsPolicy); AUTH with UserName and Password when
// UseAuthentication is set and the server offers it. Blind copies travel in
// the envelope only. Every text is Windows-1252 bytes; the message goes out as
// UTF-8 MIME. The password never appears in an event's text.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include <vector>

#include "platform/mail/mail.h"
#include "platform/mail/oauth_token.h"
#include "platform/mail/tls_policy.h"
#include "platform/os/error.h"

namespace velarion::mail {

// Why a send failed. Temporary kinds may succeed later as they are; the
// others need a change of message, settings or account first.
enum class SmtpError {
    none,
    bad_settings,        // no host, or a port that is no whole number from 1 to 65535
    bad_address,         // no sender, no recipient, or an address that is none
    attachment_missing,  // an attachment file cannot be read
    name_not_resolved,   // the host name has no address
    connection_refused,  // no connection could be made: refused, unreachable, or not answered in time
    timed_out,           // the server did not answer in time
    connection_lost,     // the server closed the connection in the middle
    maybe_delivered,     // the whole message was sent but the answer to it never came: it may have been delivered
    no_space,            // the message could not be written out first: the temporary folder is full
    tls,                 // TLS refused or failed, or the certificate is not trusted
    auth_refused,        // the server refused the user name and password (or access token)
    token_unavailable,   // the OAuth token endpoint cannot be reached or answers with a server error
    temporary_reply,     // the server answered 4xx
    permanent_reply,     // the server answered 5xx
    recipient_refused,   // the server refused a recipient with 5xx
    other,
};

// Connection refused, time-out, unknown host, lost connection, a missing
// answer after the data, a full temporary folder, an unreachable token
// endpoint and 4xx replies.
bool is_temporary(SmtpError kind);

// A failure as the mail layer's own sends report it: kLoginFailure for a
// refused account, else kFailure with what it says about trying again (a
// server that cannot be reached or that the settings cannot reach,
// server_down; a failure this message may get past later, later; a missing
// answer after the data, maybe_delivered; the rest never).
NumberedError numbered_error(SmtpError kind, const std::string& text);

// One mailbox of the message; Windows-1252 bytes.
struct Mailbox {
    std::string address;       // "local@domain" or "Name <local@domain>"
    std::string display = "";  // the name shown for it; empty, or the address itself: none
};

// The message the component sends.
struct Envelope {
    Mailbox from;               // the sender, also the envelope's sender
    std::string reply_to = "";  // empty: no Reply-To
    std::vector<Mailbox> to = {}, cc = {};
    std::vector<std::string> bcc = {};  // in the envelope only, never in a header
    std::string subject = "";
    std::string body = "";
    // Sent in this order. A blank path is left out; see Attachment for the
    // file the caller opened.
    std::vector<Attachment> attachments = {};
    bool receipt = false;  // ask for a read receipt to the sender
};

// Connections of the component kept from one Send to the next: a Send to
// the server, account and settings of the kept connection sends on it (RSET
// before the next envelope) instead of connecting again.
// After a failed Send the connection is ended; one the server closed while
// it was kept (or closes with 421) is replaced once, before any of the
// message's data went out. close() ends it with QUIT, as does a Send after
// the component's Idle seconds without use.
class SmtpSessions {
public:
    SmtpSessions();
    ~SmtpSessions();
    SmtpSessions(const SmtpSessions&) = delete;
    SmtpSessions& operator=(const SmtpSessions&) = delete;

    void close();

    struct Kept;
    // The kept connection, handed over (nullptr when there is none).
    std::unique_ptr<Kept> take();
    // Keeps a connection, ending the one kept before.
    void keep(std::unique_ptr<Kept> kept);

private:
    std::unique_ptr<Kept> kept_;
};

class SmtpComponent {
public:
    // Properties.
    bool UseAuthentication = false;
    std::string UserName;
    std::string Password;
    std::string SMTPHost;
    std::string SMTPPort;   // used when SMTPHost names no port; empty: 25
    int Timeout = 30;       // seconds without an answer before giving up; 1 to 60
    int DataTimeout = 600;  // seconds for the answer to the end of the message's data
    int Idle = 30;          // seconds a connection kept in Sessions may wait unused and still serve
    TlsPolicy Tls;
    // When enabled, AUTH XOAUTH2 (OAUTHBEARER where the server offers only
    // that) with UserName and an access token instead of the password
    // (UseAuthentication aside). A refused token is fetched again once and
    // tried again.
    oauth::SignOn OAuth;
    // Where the connection stays open for the next Send (none: each Send
    // connects, and ends its connection when done).
    SmtpSessions* Sessions = nullptr;

    // Events.
    std::function<void(int percent)> on_progress;
    std::function<void(const std::string& explanation)> on_send_failed;
    std::function<void()> on_send_successful;
    std::function<void(const std::string& status)> on_status;
    // Raised once the whole message has been written, just before its end is
    // marked: from then on it may be delivered although no answer comes. What
    // it throws stops the send there (reported as on_send_failed).
    std::function<void()> on_data_end;
    // The message's own Message-ID without brackets (empty: one is made up),
    // and the delivery reports asked of a server that offers DSN.
    std::string MessageId;
    mail::Dsn Dsn;

    // Sends the message; raises on_send_successful, or on_send_failed with
    // the reason. Never throws for a failure of the send itself. Blank
    // mailboxes are left out; a message without any recipient, or with an
    // address that is none, is bad_address.
    void Send(const Envelope& message);

    // Connects to the server and signs on as Send does, then leaves without
    // sending a message. The outcome as Send's; no event is raised.
    void SignOn();

    // The outcome of the last Send or SignOn (cleared when it starts).
    bool failed() const { return error_ != SmtpError::none; }
    SmtpError error() const { return error_; }
    const std::string& error_text() const { return error_text_; }
    // The server's answer to the end of the data of the last message sent.
    const std::string& data_reply() const { return reply_; }

private:
    // Send (events raised, with the message) or SignOn (none, without).
    void run(const Envelope* message);

    SmtpError error_ = SmtpError::none;
    std::string error_text_;
    std::string reply_;
};

}  // namespace velarion::mail
