// The mail layer: a session and a compose buffer with the operations of the
// MAPI controls (sign on and off, compose, recipients, note text, positioned
// attachments, save as draft, send). Drafts go to the store's drafts folder
// (a maildir or an IMAP server); sending goes through the transport
// (sendmail or SMTP). Failures arrive as NumberedError with the MAPI numbers.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/error.h"
#include "platform/mail/oauth_token.h"
#include "platform/mail/tls_policy.h"
#include "platform/os/safe_path.h"

namespace velarion::mail {

// Error numbers of the MAPI controls.
inline constexpr int kFailure = 32002;
inline constexpr int kLoginFailure = 32003;
inline constexpr int kAttachmentNotFound = 32011;
inline constexpr int kUnknownRecipient = 32014;

// A logon failure (kLoginFailure) naming the account the server refused:
// the one given at sign-on, else the service URL's own.
class LogonFailure : public NumberedError {
public:
    LogonFailure(const std::string& description, std::string account)
        : NumberedError(kLoginFailure, description), account_(std::move(account)) {}
    const std::string& account() const { return account_; }

private:
    std::string account_;
};

// The account a logon failure names, else fallback.
inline std::string refused_account(const NumberedError& e, const std::string& fallback) {
    const auto* logon = dynamic_cast<const LogonFailure*>(&e);
    return logon && !logon->account().empty() ? logon->account() : fallback;
}

enum class RecipType { To = 1, Cc = 2, Bcc = 3 };

struct Recipient {
    RecipType type = RecipType::To;
    std::string address;  // Windows-1252 bytes: "local@domain" or "Name <local@domain>"
};

// Delivery status notifications asked of an SMTP server that offers them
// (RFC 3461 DSN): MAIL FROM gets RET=HDRS and ENVID, each RCPT TO gets
// NOTIFY. A server that does not offer them gets the plain commands.
struct Dsn {
    std::string envelope_id;                // ENVID (sent as xtext); empty: nothing is asked
    std::string notify = "FAILURE,DELAY";   // NOTIFY: NEVER, or SUCCESS, FAILURE, DELAY joined by ","
};

struct Attachment {
    int position = 0;  // place in the note text; attachments go out in this order
    std::string path;  // native path of the file; its last name names the attachment
    // The file as the caller opened it after checking where it lies: the
    // mail layer reads through it, never by the path again. An empty handle
    // means the caller found no file (the attachment is missing); no handle
    // at all, that the path is opened as given.
    std::shared_ptr<const safe_path::Fd> file = nullptr;
};

// The compose buffer. Texts are Windows-1252 bytes, as the core keeps them;
// the message goes out as UTF-8 MIME.
struct Message {
    std::string subject;
    bool receipt_requested = false;
    std::vector<Recipient> recipients;
    std::string note_text;
    std::vector<Attachment> attachments;
    // Called when sending, once the whole message has been written to the
    // transport and just before its end is marked: from then on the message
    // may be delivered although no answer comes (a caller that must survive
    // a kill records that here). What it throws stops the send before the
    // end is marked.
    std::function<void()> on_data_end = nullptr;
    // The message's own Message-ID, without the angle brackets, the same at
    // every try of the message; empty: one is made up.
    std::string message_id;
    // A try before this one may have stored the draft already (its outcome
    // never came): the drafts folder is searched for message_id first, and
    // a draft found there is not stored again.
    bool maybe_stored = false;
    Dsn dsn;
};

// Where drafts are kept and how messages leave.
struct Profile {
    std::string store;               // maildir://localhost/<path>, imap://..., imaps://...
    std::string drafts = "Drafts";   // drafts folder of the store
    std::string transport;           // sendmail://localhost[/program path], smtp://host:port, smtps://host:port
    std::string from;                // the profile's own address (sender, read receipts)
    TlsPolicy tls;                   // when credentials may travel without TLS
    int timeout = 30;                // seconds a network store or transport waits for its server
    int data_timeout = 600;          // seconds the SMTP transport waits for the answer to the end of the data
    int idle = 30;                   // seconds a kept SMTP or IMAP connection may wait unused and still serve
    // When enabled, the IMAP store and the SMTP transport sign on with
    // XOAUTH2, or OAUTHBEARER where the server offers only that (the
    // account's user name and an access token), instead of the password.
    // A refused token is fetched again once and tried again; an endpoint
    // that cannot be reached is Retry::server_down.
    oauth::SignOn oauth;

    bool operator==(const Profile&) const = default;
};

class Session {
public:
    virtual ~Session() = default;
    // Signs on (opens the store). Empty user and password: the URL's own
    // credentials serve. Failure: kLoginFailure, naming the account refused.
    // Credentials for a server that is not on this machine go only over TLS
    // (see TlsPolicy); without it the sign-on fails and sends none.
    virtual void sign_on(const std::string& user, const std::string& password) = 0;
    virtual void sign_off() = 0;
    virtual bool signed_on() const = 0;
    // True when send's dialog flag opens the desktop's compose window (a
    // desktop and its mail helper are there): no store is needed then.
    virtual bool composes_on_desktop() const = 0;
    // Stores the message in the drafts folder with the \Draft flag. Its
    // recipients are kept as written: one that is no address (a customer
    // code) stays in the draft, as the name of an empty group, for the user.
    // The folder stays open for the next message while the session lasts,
    // so a draft costs the same however many the folder holds. Attachments
    // are read from their files as the message is stored, never whole. A
    // store that is full or out of service (maildir ENOSPC/EDQUOT, IMAP
    // [OVERQUOTA], [UNAVAILABLE] ...) is a temporary failure, with the
    // store's own words.
    virtual void save(const Message& message) = 0;
    // Sends the message through the transport, with the profile's sender
    // as the envelope's sender too. The transport needs no sign-on: a store
    // that cannot be reached never holds a message back that only goes out.
    // With the dialog flag the desktop's compose window is opened instead (a
    // draft where there is no desktop, which needs the sign-on). When the
    // whole message went to an SMTP server but its answer never came, the
    // error says so with Retry::maybe_delivered: sending it again may
    // deliver it twice.
    // The SMTP connection is kept for the next message (RSET between them)
    // until rest(), an error, or the profile's idle seconds without use; a kept connection
    // the server has closed meanwhile is replaced once, before any of the
    // message's data went out.
    virtual void send(const Message& message, bool dialog) = 0;
    // Connects to the transport and signs on as send does, then leaves
    // without sending anything. Failures as send's.
    virtual void check_transport() = 0;
    // The server's answer to the end of the data of the message sent last
    // (its queue id, usually); empty when there was none (sendmail).
    virtual std::string data_reply() const { return ""; }
    // Ends the connections to network servers (SMTP QUIT, IMAP LOGOUT) at
    // the end of a batch; the session stays signed on and the next message
    // connects again. A maildir store stays open.
    virtual void rest() = 0;
};


std::unique_ptr<Session> open_session(const Profile& profile);

// Puts on disk the maildir folders drafts were stored into since the last
// call (each draft's own data is synced as it is stored): called before the
// record that a batch of drafts was stored is synced. "" when done, else the
// folder that could not be synced (tried again at the next call).
std::string sync_stored_drafts();

// One message of the mailbox where delivery reports arrive.
struct MailboxItem {
    std::string key;        // its name there: a maildir file name, an IMAP UID
    std::size_t size = 0;   // its size in bytes
};

// The mailbox where delivery reports arrive: a maildir (a path) or the
// INBOX of an IMAP store (imap:// or imaps://, signed on, secured and with
// XOAUTH2 as the drafts store). Reports recognised go to its folder
// "Velarion/Rapporti"; other mail is never touched. Messages are read one
// at a time, so that memory does not grow with the mailbox.
class ReportBox {
public:
    virtual ~ReportBox() = default;
    // The messages whose key is not in `skip` (sorted), at most max_items.
    virtual std::vector<MailboxItem> list(const std::vector<std::string>& skip, std::size_t max_items) = 0;
    // The bytes of a message of the last list.
    virtual std::string read(const MailboxItem& item) = 0;
    // Moves the messages to "Velarion/Rapporti" (made when missing).
    virtual void file_away(const std::vector<std::string>& keys) = 0;
    // Ends the connection until the next list.
    virtual void rest() = 0;
};

// `where` as "casella" of section DSN says it; the profile gives the
// sign-on rules (its store is not used).
std::unique_ptr<ReportBox> open_report_box(const std::string& where, const Profile& profile);

// What is wrong with a store or transport URL of the profile ("" when it
// parses and names a service the mail layer knows).
std::string url_problem(const std::string& url);

}  // namespace velarion::mail
