// The SMTP sending component: a message given through properties, sent
// straight to an SMTP server by Send, which reports what happens through
// events raised on the caller's thread before it returns.
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

#include "platform/mail/oauth_token.h"
#include "platform/os/safe_path.h"
#include "platform/mail/tls_policy.h"

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

// Connections of the component kept from one Send to the next: a Send to
// the server, account and settings of the kept connection sends on it (the
// library sends RSET before the next envelope) instead of connecting again.
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
    // Properties. Every list is separated by Delimiter; the display lists
    // pair with their address lists by position.
    std::string Delimiter = ";";
    bool UseAuthentication = false;
    std::string UserName;
    std::string Password;
    std::string SMTPHost;
    std::string SMTPPort;  // used when SMTPHost names no port; empty: 25
    std::string From;
    std::string FromDisplayName;
    std::string ReplyToAddress;
    std::string Recipient;
    std::string RecipientDisplayName;
    std::string CcRecipient;
    std::string CcDisplayName;
    std::string BccRecipient;  // in the envelope only, never in a header
    std::string subject;
    std::string Message;
    int SMTPHostValidation = 0;      // 0: the host is not checked before connecting
    int EmailAddressValidation = 1;  // addresses are always checked; kept for its callers
    std::string Attachment;          // file paths
    // Files the caller opened for paths of Attachment: read through the open
    // file, never by the path again (an empty handle: the file is missing).
    // A path not in here is opened as given.
    std::map<std::string, std::shared_ptr<const safe_path::Fd>> OpenAttachments;
    bool Receipt = false;            // ask for a read receipt to From
    int Timeout = 30;                // seconds without an answer before giving up; 1 to 60
    int DataTimeout = 600;           // seconds for the answer to the end of the message's data
    int Idle = 30;                   // seconds a connection kept in Sessions may wait unused and still serve
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

    // Sends the message; raises on_send_successful, or on_send_failed with
    // the reason. Never throws for a failure of the send itself.
    void Send();

    // Connects to the server and signs on as Send does, then leaves without
    // sending a message. The outcome as Send's; no event is raised.
    void SignOn();

    // The outcome of the last Send or SignOn (cleared when it starts).
    bool failed() const { return error_ != SmtpError::none; }
    SmtpError error() const { return error_; }
    const std::string& error_text() const { return error_text_; }

private:
    // Send (events raised) or SignOn (none).
    void run(bool send);

    SmtpError error_ = SmtpError::none;
    std::string error_text_;
};

}  // namespace velarion::mail
