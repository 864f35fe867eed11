// The mail layer on vmime: drafts in a maildir or IMAP store, sending through
// sendmail or SMTP, the desktop's compose window through xdg-email.
#include "platform/mail/mail.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vmime/net/imap/IMAPFolderStatus.hpp>
#include <vmime/net/smtp/SMTPExceptions.hpp>
#include <vmime/security/cert/certificateException.hpp>

#include "platform/os/connect_cause.h"
#include "platform/os/process.h"
#include "platform/os/secret_text.h"
#include "platform/mail/report_box_maildir.h"
#include "platform/mail/store_errors.h"
#include "platform/mail/stored_drafts.h"
#include "platform/os/text_encoding.h"
#include "platform/mail/vmime_socket.h"
#include "platform/mail/mime_writer.h"
#include "platform/mail/spooled_message.h"
#include "platform/mail/vmime_file_system.h"
#include "platform/mail/vmime_support.h"

namespace fs = std::filesystem;

namespace velarion::mail {
namespace {

using detail::utf8_charset;

// True when a mail client, not a browser or nothing, answers mailto: links.
// xdg-email hands the message to whatever opens them and exits 0 even when
// that is a text browser, which keeps nothing: the message would be lost.
bool mail_client_handles_mailto() {
    const auto handler = process::run_capture({"xdg-mime", "query", "default", "x-scheme-handler/mailto"});
    if (!handler) return false;
    std::string name = *handler;
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    name.erase(0, name.find_first_not_of(" \t"));
    if (name.empty() || name.find('/') != std::string::npos) return false;
    // The handler's own entry must say it is a mail client.
    std::vector<std::string> dirs;
    const char* data_home = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (data_home && *data_home) dirs.push_back(data_home);
    else if (home && *home) dirs.push_back(std::string(home) + "/.local/share");
    const char* data_dirs = std::getenv("XDG_DATA_DIRS");
    std::string all = data_dirs && *data_dirs ? data_dirs : "/usr/local/share:/usr/share";
    for (std::size_t start = 0; start <= all.size();) {
        std::size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        if (end > start) dirs.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    for (const auto& d : dirs) {
        std::ifstream in(d + "/applications/" + name);
        if (!in) continue;
        std::string line;
        for (int n = 0; n < 200 && std::getline(in, line); ++n)
            if (line.rfind("Categories=", 0) == 0)
                return line.find("Email") != std::string::npos || line.find("ContactManagement") != std::string::npos;
        return false;
    }
    return false;
}

bool has_desktop() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    if ((!x || !*x) && (!w || !*w)) return false;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    bool xdg_email = false;
    while (start <= dirs.size() && !xdg_email) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && access((dir + "/xdg-email").c_str(), X_OK) == 0) xdg_email = true;
        start = end + 1;
    }
    // Asked for each message handed to the user (few, on a desktop): the
    // user may choose a mail client while the agent runs.
    return xdg_email && mail_client_handles_mailto();
}

std::string default_sender() {
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) != 0 || !*host) std::snprintf(host, sizeof host, "localhost");
    const char* user = std::getenv("USER");
    return std::string(user && *user ? user : "velarion") + "@" + host;
}

// One recipient as a mailbox. Any other text cannot be resolved: the MAPI
// unknown-recipient error.
vmime::shared_ptr<vmime::mailbox> make_mailbox(const std::string& cp1252) {
    auto box = detail::parse_mailbox(cp1252);
    if (!box)
        throw NumberedError(kUnknownRecipient, "Destinatario sconosciuto: " + text::trim(text::cp1252_to_utf8(cp1252)));
    return box;
}

// A recipient of a draft. A draft keeps its recipients as written, since the
// user finishes it: a text that is no address (a customer code, a name) is
// kept as the display name of an empty group ("CLI0042:;"), which stores
// and mail readers accept and which cannot be mistaken for an address.
vmime::shared_ptr<vmime::address> draft_recipient(const std::string& cp1252) {
    if (auto box = detail::parse_mailbox(cp1252)) return box;
    const std::string name = text::trim(text::cp1252_to_utf8(detail::header_text(cp1252)));
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    // Plain text when it can be, else one encoded word: readers join it back exactly.
    return vmime::make_shared<vmime::mailboxGroup>(ascii ? vmime::text(name)
                                                         : vmime::text(vmime::word(name, utf8_charset())));
}

// The credentials a service signs on with (UTF-8): those given at sign-on,
// else the URL's own.
struct Account {
    std::string user, password;
};

// Where the library reads an attachment: through the caller's open file when
// there is one (the path checked cannot be swapped for a link meanwhile),
// else by its path. A missing file is kAttachmentNotFound.
std::string readable_path(const Attachment& a) {
    std::error_code ec;
    const bool missing = a.file ? !a.file->valid() : !fs::is_regular_file(a.path, ec);
    if (missing) throw NumberedError(kAttachmentNotFound, "Allegato non trovato: " + text::cp1252_to_utf8(a.path));
    return a.file ? "/proc/self/fd/" + std::to_string(a.file->get()) : a.path;
}

// An attachment as the message writer reads it: through the caller's open
// file when there is one, else by its path. A missing file is kAttachmentNotFound.
detail::LetterAttachment letter_attachment(const Attachment& a) {
    readable_path(a);
    detail::LetterAttachment out;
    out.fd = a.file ? a.file->get() : -1;
    out.path = a.path;
    const std::string name = fs::path(a.path).filename().string();
    out.type = detail::type_for(name);
    out.filename = vmime::word(text::cp1252_to_utf8(detail::header_text(name)), utf8_charset());
    return out;
}

class VmimeSession final : public Session {
public:
    explicit VmimeSession(Profile profile)
        : profile_(std::move(profile)),
          network_store_(has_protocol(profile_.store, {"imap", "imaps"})),
          network_transport_(has_protocol(profile_.transport, {"smtp", "smtps"})) {
        detail::init_platform();
        session_ = vmime::net::session::create();
    }
    ~VmimeSession() override { sign_off(); }

    void sign_on(const std::string& user, const std::string& password) override {
        sign_off();
        user_ = user;
        password_ = password;
        session_ = vmime::net::session::create();  // no credentials left from an earlier sign-on
        account_.clear();
        try {
            const vmime::utility::url url(profile_.store);
            if (url.getProtocol() == "maildir") fs::create_directories(url.getPath());
            link_ = &store_link_;
            store_ = connect_service<vmime::net::store>(url, store_link_);
        } catch (...) {
            store_.reset();
            rethrow_numbered(kFailure, Phase::connect);
        }
        store_used_ = Clock::now();
        signed_on_ = true;
    }

    void sign_off() override {
        signed_on_ = false;
        drop_transport();
        close_drafts();
        close_inbox();
        try {
            if (store_ && store_->isConnected()) store_->disconnect();
        } catch (...) {
            // the connection is gone already
        }
        store_.reset();
    }

    void rest() override {
        drop_transport();
        if (store_ && network_store()) {
            close_drafts();
            close_inbox();
            try {
                if (store_->isConnected()) store_->disconnect();
            } catch (...) {
                // the connection is gone already
            }
        }
    }

    bool signed_on() const override { return signed_on_; }
    bool composes_on_desktop() const override { return has_desktop(); }

    void save(const Message& message) override {
        check_signed_on();
        const detail::Letter msg = build(message, true);
        link_ = &store_link_;
        replies_->clear();
        // A network store rested or left unused for long is connected afresh.
        if (network_store() && (!store_->isConnected() || idle(store_used_))) reconnect_store();
        try {
            // A try before may have stored it without hearing so: not twice.
            if (message.maybe_stored && already_stored(message.message_id)) {
                store_used_ = Clock::now();
                return;
            }
            try {
                store_message(msg);
            } catch (const vmime::exceptions::socket_exception&) {
                // A long-kept IMAP connection may have been dropped: open it
                // again once. The draft may have reached the store before the
                // connection went: it is looked for before it is stored again.
                reconnect_store();
                if (!already_stored(message.message_id)) store_message(msg);
            } catch (const vmime::exceptions::not_connected&) {
                reconnect_store();
                if (!already_stored(message.message_id)) store_message(msg);
            }
        } catch (...) {
            rethrow_numbered(kFailure, Phase::transfer);
        }
        store_used_ = Clock::now();
    }

    void send(const Message& message, bool dialog) override {
        if (dialog) {
            if (has_desktop())
                compose_on_desktop(message);
            else
                save(message);
            return;
        }
        data_reply_.clear();
        const detail::Letter letter = build(message, false);
        // What the library's send(message) does, with the message generated
        // once (in memory, or a file when large) instead of built in a string
        // at every try.
        vmime::mailboxList recipients;
        std::unique_ptr<detail::SpooledMessage> spooled;
        try {
            for (const auto* list : {&letter.to, &letter.cc, &letter.bcc})
                for (std::size_t i = 0; i < list->getAddressCount(); ++i)
                    if (auto box = vmime::dynamicCast<vmime::mailbox>(list->getAddressAt(i)->clone()))
                        recipients.appendMailbox(box);
            spooled = spool(letter, detail::LetterUse::transport);
        } catch (...) {
            rethrow_numbered(kFailure, Phase::transfer);
        }
        for (;;) {
            // The connection of the previous message serves, unless it was
            // left unused for long; RSET goes before the next envelope on
            // it. Whether the server closed it meanwhile the
            // library's send asks itself (not_connected: sent again below on
            // a new connection), so the socket is not asked twice.
            if (transport_ && idle(transport_used_)) drop_transport();
            const bool kept = transport_ != nullptr;
            link_ = &transport_link_;
            if (!kept) {
                try {
                    transport_ = connect_service<vmime::net::transport>(vmime::utility::url(profile_.transport),
                                                                        transport_link_);
                } catch (...) {
                    transport_.reset();
                    rethrow_numbered(kFailure, Phase::connect);
                }
            }
            transport_link_.waits.clear();
            try {
                transport_replies_->clear();
                detail::send_spooled(*transport_, *spooled, *letter.from, recipients, nullptr, &transport_link_.waits,
                                     message.on_data_end, &message.dsn, kept);
                data_reply_ = network_transport() ? transport_replies_->last_line() : "";
            } catch (...) {
                // After any failure the next message starts a new connection.
                drop_transport();
                // A kept connection the server closed while it waited (or
                // closes now with 421): the message went nowhere, so it goes
                // once more on a new connection.
                if (kept && detail::connection_gone()) continue;
                rethrow_numbered(kFailure, Phase::transfer);
            }
            // sendmail starts a program for each message: nothing to keep.
            if (!network_transport()) drop_transport();
            transport_used_ = Clock::now();
            return;
        }
    }

    std::string data_reply() const override { return data_reply_; }

    void check_transport() override {
        drop_transport();
        link_ = &transport_link_;
        vmime::shared_ptr<vmime::net::transport> transport;
        try {
            const vmime::utility::url url(profile_.transport);
            transport = connect_service<vmime::net::transport>(url, transport_link_);
        } catch (...) {
            rethrow_numbered(kFailure, Phase::connect);
        }
        try {
            transport->disconnect();
        } catch (...) {
        }
    }

    // The store's INBOX, for the mailbox of delivery reports: the messages
    // not in `skip`, by UID, kept for read_inbox until the next listing.
    //
    // The library has no IMAP IDLE, and IDLE written by hand on the library's
    // socket would fight it for the connection; nor would it save much with a
    // pass a minute. Instead each pass first asks STATUS (UIDVALIDITY,
    // UIDNEXT, MESSAGES) without selecting the folder: when the INBOX is as
    // the last complete listing found it and the caller has set aside every
    // message of that listing, nothing can be new and the folder is neither
    // selected nor fetched, so a large INBOX costs one short command a minute.
    std::vector<MailboxItem> list_inbox(const std::vector<std::string>& skip, std::size_t max_items) {
        check_signed_on();
        link_ = &store_link_;
        std::vector<MailboxItem> out;
        listed_.clear();
        try {
            if (!store_->isConnected()) reconnect_store();
            const auto status = vmime::dynamicCast<vmime::net::imap::IMAPFolderStatus>(
                store_->getFolder(inbox_path())->getStatus());
            const InboxMark mark{status ? status->getUIDValidity() : 0, status ? status->getUIDNext() : 0,
                                 status ? status->getMessageCount() : 0};
            if (status && inbox_mark_ && *inbox_mark_ == mark &&
                std::includes(skip.begin(), skip.end(), marked_keys_.begin(), marked_keys_.end())) {
                store_used_ = Clock::now();
                return out;
            }
            inbox_mark_.reset();
            open_inbox();
            const auto count = inbox_->getStatus()->getMessageCount();
            std::vector<std::string> keys;
            if (count > 0) {
                auto messages = inbox_->getMessages(vmime::net::messageSet::byNumber(1, count));
                inbox_->fetchMessages(messages,
                                      vmime::net::fetchAttributes::UID | vmime::net::fetchAttributes::SIZE);
                for (const auto& m : messages) {
                    if (out.size() >= max_items) break;
                    MailboxItem item;
                    item.key = static_cast<std::string>(m->getUID());
                    if (std::binary_search(skip.begin(), skip.end(), item.key)) continue;
                    item.size = m->getSize();
                    listed_[item.key] = m;
                    keys.push_back(item.key);
                    out.push_back(std::move(item));
                }
            }
            // A listing cut short leaves messages for the next: it marks nothing.
            if (status && out.size() < max_items) {
                std::sort(keys.begin(), keys.end());
                inbox_mark_ = mark;
                marked_keys_ = std::move(keys);
            }
        } catch (...) {
            close_inbox();
            rethrow_numbered(kFailure, Phase::transfer);
        }
        store_used_ = Clock::now();
        return out;
    }

    std::string read_inbox(const std::string& uid) {
        std::string raw;
        const auto m = listed_.find(uid);
        if (m == listed_.end()) return raw;
        try {
            vmime::utility::outputStreamStringAdapter os(raw);
            m->second->extract(os);
        } catch (...) {
            close_inbox();
            rethrow_numbered(kFailure, Phase::transfer);
        }
        return raw;
    }

    // Moves messages of the INBOX (by UID) to the folder, made when missing:
    // a copy, then the originals deleted and expunged.
    void move_from_inbox(const std::vector<std::string>& uids, const std::vector<std::string>& folder) {
        if (uids.empty()) return;
        inbox_mark_.reset();
        check_signed_on();
        link_ = &store_link_;
        try {
            if (!store_->isConnected()) reconnect_store();
            open_inbox();
            vmime::net::folder::path path;
            for (const auto& c : folder) path /= vmime::net::folder::path::component(c);
            auto target = store_->getFolder(path);
            if (!target->exists()) {
                vmime::net::folderAttributes attr;
                attr.setType(vmime::net::folderAttributes::TYPE_CONTAINS_MESSAGES);
                target->create(attr);
            }
            for (const auto& uid : uids) {
                const auto set = vmime::net::messageSet::byUID(uid);
                inbox_->copyMessages(path, set);
                inbox_->setMessageFlags(set, vmime::net::message::FLAG_DELETED, vmime::net::message::FLAG_MODE_ADD);
            }
            inbox_->expunge();
        } catch (...) {
            close_inbox();
            rethrow_numbered(kFailure, Phase::transfer);
        }
    }

    void close_inbox() {
        listed_.clear();
        auto folder = std::move(inbox_);
        inbox_.reset();
        try {
            if (folder && folder->isOpen()) folder->close(false);
        } catch (...) {
            // the connection is gone: nothing to close
        }
    }

private:
    static vmime::net::folder::path inbox_path() {
        vmime::net::folder::path path;
        path /= vmime::net::folder::path::component("INBOX");
        return path;
    }

    void open_inbox() {
        if (inbox_ && inbox_->isOpen()) return;
        inbox_ = store_->getFolder(inbox_path());
        inbox_->open(vmime::net::folder::MODE_READ_WRITE);
    }

    // The INBOX as STATUS showed it at its last complete listing.
    struct InboxMark {
        std::uint64_t validity = 0, next = 0;
        std::size_t count = 0;
        bool operator==(const InboxMark&) const = default;
    };

    // A network service's server and waits, for the text of its failures.
    struct Link {
        detail::Waits waits{30};
        std::string address;
        int port = 0;
    };

    using Clock = std::chrono::steady_clock;

    void check_signed_on() const {
        if (!signed_on_ || !store_) throw NumberedError(kLoginFailure, "Sessione non aperta");
    }

    bool idle(Clock::time_point used) const { return Clock::now() - used > std::chrono::seconds(profile_.idle); }

    // Whether the URL names one of the protocols (a URL that does not parse names none).
    static bool has_protocol(const std::string& url, std::initializer_list<const char*> protocols) {
        try {
            const std::string p = vmime::utility::url(url).getProtocol();
            for (const char* known : protocols)
                if (p == known) return true;
        } catch (const std::exception&) {
        }
        return false;
    }

    bool network_store() const { return network_store_; }
    bool network_transport() const { return network_transport_; }

    // Ends the kept transport connection (QUIT), whatever state it is in.
    void drop_transport() {
        auto transport = std::move(transport_);
        transport_.reset();
        try {
            if (transport && transport->isConnected()) transport->disconnect();
        } catch (...) {
            // the connection is gone already
        }
    }

    void reconnect_store() {
        close_drafts();
        try {
            if (store_->isConnected()) store_->disconnect();
        } catch (...) {
        }
        try {
            link_ = &store_link_;
            store_link_.waits.clear();
            if (profile_.oauth.enabled())
                store_ = connect_service<vmime::net::store>(vmime::utility::url(profile_.store), store_link_);
            else
                store_->connect();
        } catch (...) {
            rethrow_numbered(kFailure, Phase::connect);
        }
    }

    // The drafts folder stays open while the session lasts: opening a maildir
    // folder lists all its messages, which would grow with every draft.
    void store_message(const detail::Letter& msg) {
        if (!store_->isConnected()) store_->connect();
        if (!drafts_ || !drafts_->isOpen()) {
            vmime::net::folder::path path;
            path /= vmime::net::folder::path::component(profile_.drafts.empty() ? "Drafts" : profile_.drafts);
            auto folder = store_->getFolder(path);
            if (!folder->exists()) {
                vmime::net::folderAttributes attr;
                attr.setType(vmime::net::folderAttributes::TYPE_CONTAINS_MESSAGES);
                try {
                    folder->create(attr);
                } catch (...) {
                    // Another agent (or the user's mail program) may be making
                    // it at the same moment: once it is there, that is what was
                    // wanted. A maildir folder is there when its three
                    // sub-folders are, so its maker is given a moment.
                    bool made = false;
                    for (int wait = 0; wait < 20 && !(made = folder->exists()); ++wait)
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    if (!made) throw;
                }
            }
            folder->open(vmime::net::folder::MODE_READ_WRITE);
            drafts_ = folder;
        }
        // The library names a maildir's new file from its own random numbers,
        // whose sequence repeats after some ten thousand draws: at hundreds of
        // drafts a second, two of one second can draw the same name. The file
        // is made exclusively, so nothing is overwritten; the draft is added
        // again under a new name.
        for (int attempt = 1;; ++attempt) {
            try {
                // Generated once and streamed (spooled_message.h): the library's
                // addMessage(message) builds the whole message in a string first.
                const auto spooled = spool(msg, detail::LetterUse::as_built);
                drafts_->addMessage(spooled->stream(), spooled->size(),
                                    vmime::net::message::FLAG_DRAFT | vmime::net::message::FLAG_SEEN);
                return;
            } catch (const vmime::exceptions::command_error& e) {
                if (attempt < kNameDraws && !network_store() && name_taken(e)) continue;
                close_drafts();
                throw;
            } catch (...) {
                close_drafts();
                throw;
            }
        }
    }

    // A maildir file name already taken: the exclusive creation refused it.
    static bool name_taken(const vmime::exceptions::command_error& e) {
        const auto* fs_error = dynamic_cast<const vmime::exceptions::filesystem_exception*>(e.other());
        return e.command() == "ADD" && fs_error && std::string(fs_error->what()).find(std::strerror(EEXIST)) != std::string::npos;
    }
    static constexpr int kNameDraws = 5;

    // Whether the drafts folder holds a message with this Message-ID: an
    // IMAP SEARCH by the header, or the headers of the maildir's files.
    bool already_stored(const std::string& id) {
        if (id.empty()) return false;
        const std::string folder = profile_.drafts.empty() ? "Drafts" : profile_.drafts;
        if (!network_store()) return detail::maildir_holds(vmime::utility::url(profile_.store).getPath(), folder, id);
        close_drafts();
        if (!store_->isConnected()) store_->connect();
        return detail::imap_folder_holds(*store_, folder, id);
    }

    void close_drafts() {
        auto folder = std::move(drafts_);
        drafts_.reset();
        try {
            if (folder && folder->isOpen()) folder->close(false);
        } catch (...) {
            // the connection is gone: nothing to close
        }
    }

    Account account_for(const vmime::utility::url& url) const {
        if (!user_.empty() || !password_.empty()) return {text::cp1252_to_utf8(user_), text::cp1252_to_utf8(password_)};
        return {url.getUsername(), url.getPassword()};
    }

    // The store or transport of a URL, connected and signed on. An access
    // token the server refuses may have been revoked or have expired early:
    // one fresh token is fetched and the sign-on tried once more.
    template <class Service>
    vmime::shared_ptr<Service> connect_service(const vmime::utility::url& url, Link& link) {
        auto service = open_service<Service>(url, link);
        try {
            service->connect();
            return service;
        } catch (...) {
            if (!auth_.token_refused()) throw;
        }
        try {
            if (service->isConnected()) service->disconnect();
        } catch (...) {
        }
        service = open_service<Service>(url, link, true);
        service->connect();
        return service;
    }


    // The store or transport of a URL with its time-outs, credentials and
    // security; a network service is connected by the address checked for it,
    // which `link` keeps with the service's waits. With OAuth, it signs on
    // with an access token (a fresh one when asked).
    template <class Service>
    vmime::shared_ptr<Service> open_service(const vmime::utility::url& url, Link& link, bool fresh_token = false) {
        const std::string protocol = url.getProtocol();
        const bool network = protocol == "imap" || protocol == "imaps" || protocol == "smtp" || protocol == "smtps";
        vmime::shared_ptr<Service> service;
        if (!network) {
            if constexpr (std::is_same_v<Service, vmime::net::store>)
                service = session_->getStore(url);
            else
                service = session_->getTransport(url);
            if (protocol == "sendmail") {
                // sendmail://localhost/<path> names the program; else the system's.
                const std::string named = url.getPath();
                if (!named.empty() && named != "/") {
                    service->setProperty("binpath", named);
                } else {
                    for (const char* bin : {"/usr/sbin/sendmail", "/usr/lib/sendmail"}) {
                        if (access(bin, X_OK) == 0) {
                            service->setProperty("binpath", std::string(bin));
                            break;
                        }
                    }
                }
            }
            return service;
        }
        Account account = account_for(url);
        const bool oauth = profile_.oauth.enabled();
        // A token is always for an account: when none is given, the profile's own address.
        if (oauth && account.user.empty()) {
            if (const auto box = detail::parse_mailbox(sender())) account.user = box->getEmail().toString();
        }
        const bool credentials = oauth || !account.user.empty() || !account.password.empty();
        account_ = account.user;
        secrets_ = {account.password, url.getPassword()};
        auth_ = {};
        const detail::Endpoint endpoint = detail::resolve_endpoint(url.getHost(), profile_.tls);
        const bool clear_allowed = endpoint.local || profile_.tls.allow_plain;
        std::string secret = account.password;
        if (oauth) {
            secret = profile_.oauth.tokens->access_token(profile_.oauth.config, fresh_token);
            const auto known = profile_.oauth.tokens->secrets(profile_.oauth.config);
            secrets_.insert(secrets_.end(), known.begin(), known.end());
        }
        auth_ = detail::authentication(account.user, secret, oauth, clear_allowed);
        if constexpr (std::is_same_v<Service, vmime::net::store>)
            service = session_->getStore(url, auth_.authenticator);
        else
            service = session_->getTransport(url, auth_.authenticator);
        link.waits = detail::Waits(profile_.timeout, profile_.data_timeout);
        link.address = endpoint.address;
        link.port = url.getPort() != vmime::utility::url::UNSPECIFIED_PORT ? static_cast<int>(url.getPort())
                    : protocol == "imap"                                 ? 143
                    : protocol == "imaps"                                ? 993
                    : protocol == "smtps"                                ? 465
                                                                         : 25;
        service->setTimeoutHandlerFactory(link.waits.factory());
        service->setSocketFactory(detail::socket_factory());
        if constexpr (std::is_same_v<Service, vmime::net::store>)
            service->setTracerFactory(replies_);
        else
            service->setTracerFactory(transport_replies_);
        detail::secure(*service, endpoint, profile_.tls, credentials);
        if (credentials && (protocol == "smtp" || protocol == "smtps"))
            service->setProperty("options.need-authentication", true);
        // IMAP signs on with LOGIN alone: one attempt, where SASL and its
        // fallback would try the same password up to three times.
        // With OAuth: XOAUTH2 or OAUTHBEARER through SASL, and nothing else.
        if (protocol == "imap" || protocol == "imaps") service->setProperty("options.sasl", oauth);
        if (oauth) service->setProperty("options.sasl.fallback", false);
        return service;
    }

    // Where a failure happened: while connecting and signing on, which every
    // message would meet as well, or while one message was handed over.
    enum class Phase { connect, transfer };

    // The numbered error of the MAPI controls, with no password in its text.
    [[noreturn]] void raise(int number, const std::string& text, Retry retry = Retry::never) const {
        std::vector<std::string> secrets = secrets_;
        secrets.push_back(password_);
        const std::string clean = text::hide_secrets(text, secrets);
        if (number == kLoginFailure) throw LogonFailure(clean, account_);
        throw NumberedError(number, clean, retry);
    }

    // The failure of the sendmail program, by its exit status: 75 (EX_TEMPFAIL)
    // passes by itself; a program that cannot be run concerns every message.
    static Retry sendmail_retry(const vmime::exceptions::command_error& e) {
        const std::string why = e.other() ? e.other()->what() : "";
        if (why.find("exited with status 75") != std::string::npos) return Retry::later;
        if (why.find("Could not execute") != std::string::npos) return Retry::server_down;
        return Retry::never;
    }

    // Turns whatever the library raised into the numbered error of the MAPI
    // controls, with what it says about trying again: only a refused user
    // name or password is a logon failure; a server that cannot be reached,
    // does not answer or answers 4xx is tried again later.
    [[noreturn]] void rethrow_numbered(int fallback, Phase phase) const {
        const std::string tls_missing = "il server non offre TLS: nome utente e password non inviati in chiaro";
        const bool connecting = phase == Phase::connect;
        // A connection that fails or is lost: while connecting every message
        // would meet it; while sending, this message may go through later.
        const Retry network = connecting ? Retry::server_down : Retry::later;
        // Anything else while connecting concerns every message too.
        const Retry other = connecting ? Retry::server_down : Retry::never;
        try {
            throw;
        } catch (const NumberedError&) {
            throw;
        } catch (const oauth::TokenError& e) {
            // An endpoint that cannot be reached concerns every message;
            // a refused grant or client needs new settings, as a refused password does.
            if (e.kind() == oauth::TokenError::Kind::unreachable) raise(fallback, e.what(), Retry::server_down);
            raise(kLoginFailure, e.what());
        } catch (const detail::NameNotResolved& e) {
            raise(fallback, e.what(), Retry::server_down);
        } catch (const detail::NoAnswerAfterData& e) {
            const std::string why =
                e.timed_out() ? "nessuna risposta del server entro " + std::to_string(link_->waits.data_seconds()) +
                                    " secondi dalla fine del messaggio (Timed out)"
                              : "connessione chiusa dopo la fine del messaggio (" + std::string(e.what()) + ")";
            raise(fallback, why + ": il messaggio potrebbe essere stato consegnato", Retry::maybe_delivered);
        } catch (const vmime::net::smtp::SMTPCommandError& e) {
            if (e.command().rfind("STARTTLS", 0) == 0)
                raise(fallback, tls_missing + " (" + std::to_string(e.statusCode()) + " " + e.response() + ")", other);
            if (e.command().rfind("RCPT", 0) == 0 && e.statusCode() / 100 == 5) raise(kUnknownRecipient, e.response());
            if (e.statusCode() == 535) raise(kLoginFailure, e.what() + std::string(": ") + e.response());
            raise(fallback, e.what() + std::string(": ") + e.response(), e.statusCode() / 100 == 4 ? network : other);
        } catch (const vmime::exceptions::command_error& e) {
            if (e.command().rfind("STARTTLS", 0) == 0) raise(fallback, tls_missing + " (" + e.response() + ")", other);
            if (e.command().rfind("RCPT", 0) == 0) raise(kUnknownRecipient, e.response());
            if (e.command().rfind("SEND", 0) == 0)
                raise(fallback, e.what() + std::string(": ") + detail::describe(e), sendmail_retry(e));
            if (e.command() == "APPEND") {
                // The library keeps no text of the server's refusal: its last line says it.
                const std::string reply = replies_->last_reply();
                const Retry store = detail::imap_refusal_retry(reply);
                raise(fallback, e.what() + std::string(": ") + (reply.empty() ? e.response() : reply),
                      store != Retry::never ? store : other);
            }
            if (e.command() == "ADD" || e.command() == "CREATE") {
                // A maildir: the file error the library wrapped says why.
                const std::string why = store_file_error(e);
                const Retry store = detail::file_error_retry(why);
                raise(fallback, e.what() + std::string(": ") + why, store != Retry::never ? store : other);
            }
            raise(fallback, e.what() + std::string(": ") + e.response(), other);
        } catch (const vmime::exceptions::authentication_error& e) {
            if (auth_.held_back()) raise(fallback, tls_missing, other);
            if (link_ == &store_link_) {
                // A server that cannot check the password now refused no account.
                const std::string reply = e.response().empty() ? replies_->last_reply() : e.response();
                if (detail::imap_login_unavailable(reply)) raise(fallback, e.what() + std::string(": ") + reply, other);
            }
            raise(kLoginFailure, e.what() + std::string(": ") + e.response());
        } catch (const vmime::exceptions::authentication_exception& e) {
            raise(kLoginFailure, e.what());
        } catch (const vmime::exceptions::no_recipient& e) {
            raise(kUnknownRecipient, e.what());
        } catch (const vmime::security::cert::certificateException& e) {
            raise(fallback, "certificato del server non valido: " + detail::describe(e), other);
        } catch (const vmime::exceptions::connection_error& e) {
            // The library says "timed out" for every failed connection: the cause is asked again.
            raise(fallback,
                  "connessione a " + where() + " non riuscita (" +
                      detail::connect_failure_cause(link_->address, link_->port, link_->waits.ran_out()) + ")",
                  network);
        } catch (const vmime::exceptions::socket_exception& e) {
            raise(fallback, detail::describe(e), network);
        } catch (const vmime::exceptions::operation_timed_out& e) {
            raise(fallback,
                  "nessuna risposta da " + where() + " entro " + std::to_string(link_->waits.seconds()) +
                      " secondi (Timed out)",
                  network);
        } catch (const vmime::exceptions::not_connected& e) {
            raise(fallback, detail::describe(e), network);
        } catch (const vmime::exceptions::connection_greeting_error& e) {
            raise(fallback, detail::describe(e) + ": " + e.response(), Retry::server_down);
        } catch (const vmime::exception& e) {
            raise(fallback, detail::describe(e), other);
        } catch (const std::system_error& e) {
            // The message written out first to a temporary file: a full disk passes.
            const bool space = e.code().value() == ENOSPC || e.code().value() == EDQUOT;
            raise(fallback, e.what(), space ? Retry::later : other);
        } catch (const std::exception& e) {
            raise(fallback, e.what(), other);
        }
    }


    // The server of the service that failed, as host:port.
    std::string where() const {
        const std::string& a = link_->address;
        return (a.find(':') != std::string::npos ? "[" + a + "]" : a) + ":" + std::to_string(link_->port);
    }

    // The file error under a maildir command's failure, with its file.
    static std::string store_file_error(const vmime::exceptions::command_error& e) {
        const auto* fs_error = dynamic_cast<const vmime::exceptions::filesystem_exception*>(e.other());
        if (!fs_error) return e.other() ? e.other()->what() : e.response();
        std::string file;
        try {
            file = vmime::platform::getHandler()->getFileSystemFactory()->pathToString(fs_error->path());
        } catch (const vmime::exception&) {
        }
        return std::string(fs_error->what()) + (file.empty() ? "" : " (" + file + ")");
    }

    std::string sender() const {
        return profile_.from.empty() ? default_sender() : text::trim(detail::header_text(profile_.from));
    }

    // The message; only a message to be sent needs real addresses.
    detail::Letter build(const Message& m, bool draft) const {
        // Made in place of the caller's (the library's address lists are
        // copied, never moved).
        detail::Letter l;
        try {
            // The sender is a setting: its mailbox is made once a session
            // (shared by every message, which only reads it).
            if (!from_box_) from_box_ = make_mailbox(sender());
            l.from = from_box_;
            for (const auto& r : m.recipients) {
                if (draft && text::trim(r.address).empty()) continue;
                vmime::shared_ptr<vmime::address> box =
                    draft ? draft_recipient(r.address) : make_mailbox(r.address);
                if (r.type == RecipType::To)
                    l.to.appendAddress(box);
                else if (r.type == RecipType::Cc)
                    l.cc.appendAddress(box);
                else
                    l.bcc.appendAddress(box);
            }
            // One encoded word for the whole subject: mail readers join it back exactly.
            l.subject = vmime::text(vmime::word(text::cp1252_to_utf8(detail::header_text(m.subject)), utf8_charset()));
            l.body = text::cp1252_to_utf8(m.note_text);

            std::vector<Attachment> atts = m.attachments;
            std::stable_sort(atts.begin(), atts.end(),
                             [](const Attachment& a, const Attachment& b) { return a.position < b.position; });
            for (const auto& a : atts) l.attachments.push_back(letter_attachment(a));
            l.message_id = m.message_id;
            if (m.receipt_requested) l.receipt_to = from_box_;
            // Before the store or the transport is used, as the library's builder did.
            detail::check_recipients(l);
        } catch (...) {
            rethrow_numbered(kFailure, Phase::transfer);
        }
        return l;
    }

    // The message's bytes, generated once for every try.
    std::unique_ptr<detail::SpooledMessage> spool(const detail::Letter& letter, detail::LetterUse use) const {
        return std::make_unique<detail::SpooledMessage>(
            [&](vmime::utility::outputStream& os) { writer_.write(letter, use, os); });
    }

    // The desktop's compose window: the user finishes and sends the message.
    void compose_on_desktop(const Message& m) const {
        std::vector<std::string> argv{"xdg-email", "--utf8",
                                      "--subject", text::cp1252_to_utf8(m.subject),
                                      "--body",    text::cp1252_to_utf8(m.note_text)};
        std::vector<std::string> to;
        for (const auto& r : m.recipients) {
            const std::string a = text::trim(text::cp1252_to_utf8(r.address));
            if (r.type == RecipType::To)
                to.push_back(a);
            else {
                argv.push_back(r.type == RecipType::Cc ? "--cc" : "--bcc");
                argv.push_back(a);
            }
        }
        for (const auto& a : m.attachments) {
            readable_path(a);
            argv.push_back("--attach");
            argv.push_back(a.path);
        }
        argv.insert(argv.end(), to.begin(), to.end());
        const int rc = process::run_and_wait(argv);
        if (rc != 0) throw NumberedError(kFailure, "xdg-email: codice di uscita " + std::to_string(rc));
    }

    Profile profile_;
    bool network_store_, network_transport_;  // IMAP, SMTP: connections worth keeping and ending
    Link store_link_, transport_link_;
    const Link* link_ = &store_link_;  // of the service used last
    vmime::shared_ptr<detail::ReplyLog> replies_ = vmime::make_shared<detail::ReplyLog>();  // the store's
    vmime::shared_ptr<detail::ReplyLog> transport_replies_ = vmime::make_shared<detail::ReplyLog>();
    std::string data_reply_;  // the answer to the end of the last message's data
    vmime::shared_ptr<vmime::net::session> session_;
    detail::MimeWriter writer_;                           // made once: its header fields serve every message
    mutable vmime::shared_ptr<vmime::mailbox> from_box_;  // the sender's, made at the first message
    detail::Authentication auth_;                         // of the service opened last
    std::string account_;                                 // its user name
    std::vector<std::string> secrets_;                    // its passwords
    vmime::shared_ptr<vmime::net::store> store_;
    vmime::shared_ptr<vmime::net::folder> drafts_;
    vmime::shared_ptr<vmime::net::folder> inbox_;  // the reports' mailbox, while it is read
    std::map<std::string, vmime::shared_ptr<vmime::net::message>> listed_;  // its messages listed last, by UID
    std::optional<InboxMark> inbox_mark_;  // unset: the next listing is a full one
    std::vector<std::string> marked_keys_;  // sorted: the UIDs of that complete listing
    vmime::shared_ptr<vmime::net::transport> transport_;  // kept between messages
    Clock::time_point store_used_{}, transport_used_{};
    std::string user_, password_;
    bool signed_on_ = false;
};

// The reports' mailbox on an IMAP store: a session of its own, signed on
// with the URL's credentials.
class ImapReportBox final : public ReportBox {
public:
    ImapReportBox(const std::string& url, Profile profile) {
        profile.store = url;
        session_ = std::make_unique<VmimeSession>(std::move(profile));
    }
    std::vector<MailboxItem> list(const std::vector<std::string>& skip, std::size_t max_items) override {
        if (!session_->signed_on()) session_->sign_on("", "");
        return session_->list_inbox(skip, max_items);
    }
    std::string read(const MailboxItem& item) override { return session_->read_inbox(item.key); }
    void file_away(const std::vector<std::string>& keys) override {
        session_->move_from_inbox(keys, {"Velarion", "Rapporti"});
    }
    void rest() override {
        session_->close_inbox();
        session_->rest();
    }

private:
    std::unique_ptr<VmimeSession> session_;
};

}  // namespace

std::unique_ptr<Session> open_session(const Profile& profile) { return std::make_unique<VmimeSession>(profile); }

std::string sync_stored_drafts() { return detail::sync_renamed_folders(); }

std::unique_ptr<ReportBox> open_report_box(const std::string& where, const Profile& profile) {
    if (where.rfind("imap://", 0) == 0 || where.rfind("imaps://", 0) == 0)
        return std::make_unique<ImapReportBox>(where, profile);
    return detail::open_maildir_report_box(where);
}

std::string url_problem(const std::string& text) {
    try {
        const vmime::utility::url url(text);
        const std::string protocol = url.getProtocol();
        for (const char* known : {"maildir", "imap", "imaps", "pop3", "pop3s", "smtp", "smtps", "sendmail"})
            if (protocol == known) return "";
        return "protocollo sconosciuto '" + protocol + "'";
    } catch (const std::exception& e) {
        return std::string("URL non valido: ") + e.what();
    }
}

}  // namespace velarion::mail
