// The mail layer on vmime: drafts in a maildir or IMAP store, sending through
// sendmail or SMTP, the desktop's compose window through xdg-email.
#include "platform/mail.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vmime/mdn/MDNHelper.hpp>
#include <vmime/net/smtp/SMTPExceptions.hpp>
#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/security/cert/defaultCertificateVerifier.hpp>
#include <vmime/vmime.hpp>

#include "platform/process.h"
#include "platform/text_encoding.h"

namespace fs = std::filesystem;

namespace velarion::mail {
namespace {

const vmime::charset& utf8_charset() {
    static const vmime::charset cs(vmime::charsets::UTF_8);
    return cs;
}

void init_platform() {
    static const bool done = [] {
        vmime::platform::setHandler<vmime::platforms::posix::posixHandler>();
        return true;
    }();
    (void)done;
}

// The system's root certificates, loaded once, for imaps/smtps and STARTTLS.
std::shared_ptr<vmime::security::cert::defaultCertificateVerifier> system_verifier() {
    static const auto verifier = [] {
        auto v = vmime::make_shared<vmime::security::cert::defaultCertificateVerifier>();
        std::vector<vmime::shared_ptr<vmime::security::cert::X509Certificate>> roots;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/etc/ssl/certs", ec)) {
            if (entry.path().extension() != ".pem") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            try {
                auto cert = vmime::security::cert::X509Certificate::import(
                    reinterpret_cast<const vmime::byte_t*>(pem.data()), pem.size());
                if (cert) roots.push_back(cert);
            } catch (const vmime::exception&) {
                // not a certificate: skip it
            }
        }
        v->setX509RootCAs(roots);
        return v;
    }();
    return verifier;
}

// Gives up on a server that stays silent for 30 seconds (the library's own
// default handler factory is not exported by the shared library).
class Timeout final : public vmime::net::timeoutHandler {
public:
    bool isTimeOut() override { return std::chrono::steady_clock::now() - start_ >= std::chrono::seconds(30); }
    void resetTimeOut() override { start_ = std::chrono::steady_clock::now(); }
    bool handleTimeOut() override { return false; }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class TimeoutFactory final : public vmime::net::timeoutHandlerFactory {
public:
    vmime::shared_ptr<vmime::net::timeoutHandler> create() override { return vmime::make_shared<Timeout>(); }
};

bool has_desktop() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    if ((!x || !*x) && (!w || !*w)) return false;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && access((dir + "/xdg-email").c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

std::string default_sender() {
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) != 0 || !*host) std::snprintf(host, sizeof host, "localhost");
    const char* user = std::getenv("USER");
    return std::string(user && *user ? user : "velarion") + "@" + host;
}

// One recipient as a mailbox: "local@domain" or "Name <local@domain>". Any
// other text cannot be resolved: the MAPI unknown-recipient error. The
// library's own parser is lenient ("a@x.it b@y.it" gives a@x.it alone, "a b@x.it"
// the local host's domain), so the address is checked here and the mailbox
// built from its parts.
vmime::shared_ptr<vmime::mailbox> make_mailbox(const std::string& cp1252) {
    const std::string address = text::trim(text::cp1252_to_utf8(cp1252));
    const auto unknown = [&] { return NumberedError(kUnknownRecipient, "Destinatario sconosciuto: " + address); };
    std::string name, addr_spec = address;
    if (!address.empty() && address.back() == '>') {
        const auto lt = address.rfind('<');
        if (lt == std::string::npos) throw unknown();
        addr_spec = text::trim(address.substr(lt + 1, address.size() - lt - 2));
        name = text::trim(address.substr(0, lt));
        if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front())
            name = name.substr(1, name.size() - 2);
    }
    const auto at = addr_spec.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 >= addr_spec.size()) throw unknown();
    const auto bad = [](const std::string& part, const char* forbidden) {
        return std::any_of(part.begin(), part.end(), [&](char c) {
            return static_cast<unsigned char>(c) <= ' ' || std::strchr(forbidden, c) != nullptr;
        });
    };
    if (bad(addr_spec.substr(0, at), "\"(),:;<>@[\\]") || bad(addr_spec.substr(at + 1), "\"'(),:;<>@[\\]")) throw unknown();
    try {
        const vmime::emailAddress email(addr_spec);
        if (name.empty()) return vmime::make_shared<vmime::mailbox>(email);
        return vmime::make_shared<vmime::mailbox>(vmime::text(name, utf8_charset()), email);
    } catch (const vmime::exception&) {
        throw unknown();
    }
}

vmime::mediaType type_for(const std::string& name) {
    std::string ext = text::lower(fs::path(name).extension().string());
    if (ext == ".pdf") return vmime::mediaType("application", "pdf");
    if (ext == ".zip") return vmime::mediaType("application", "zip");
    if (ext == ".txt") return vmime::mediaType("text", "plain");
    return vmime::mediaType("application", "octet-stream");
}

// Turns whatever the library raised into the numbered error of the MAPI controls.
[[noreturn]] void rethrow_numbered(int fallback) {
    try {
        throw;
    } catch (const NumberedError&) {
        throw;
    } catch (const vmime::net::smtp::SMTPCommandError& e) {
        if (e.command().rfind("RCPT", 0) == 0 && e.statusCode() / 100 == 5)
            throw NumberedError(kUnknownRecipient, e.response());
        throw NumberedError(e.statusCode() == 535 ? kLoginFailure : fallback, e.what() + std::string(": ") + e.response());
    } catch (const vmime::exceptions::command_error& e) {
        if (e.command().rfind("RCPT", 0) == 0) throw NumberedError(kUnknownRecipient, e.response());
        throw NumberedError(fallback, e.what() + std::string(": ") + e.response());
    } catch (const vmime::exceptions::authentication_error& e) {
        throw NumberedError(kLoginFailure, e.what() + std::string(": ") + e.response());
    } catch (const vmime::exceptions::authentication_exception& e) {
        throw NumberedError(kLoginFailure, e.what());
    } catch (const vmime::exceptions::no_recipient& e) {
        throw NumberedError(kUnknownRecipient, e.what());
    } catch (const vmime::exception& e) {
        std::string text = e.what();
        if (e.other()) text += std::string(": ") + e.other()->what();
        throw NumberedError(fallback, text);
    } catch (const std::exception& e) {
        throw NumberedError(fallback, e.what());
    }
}

class VmimeSession final : public Session {
public:
    explicit VmimeSession(Profile profile) : profile_(std::move(profile)) {
        init_platform();
        session_ = vmime::net::session::create();
    }
    ~VmimeSession() override { sign_off(); }

    void sign_on(const std::string& user, const std::string& password) override {
        sign_off();
        user_ = user;
        password_ = password;
        session_ = vmime::net::session::create();  // no credentials left from an earlier sign-on
        try {
            const vmime::utility::url url(profile_.store);
            if (url.getProtocol() == "maildir") fs::create_directories(url.getPath());
            store_ = session_->getStore(url);
            configure(*store_);
            store_->connect();
        } catch (...) {
            store_.reset();
            rethrow_numbered(kLoginFailure);
        }
        signed_on_ = true;
    }

    void sign_off() override {
        signed_on_ = false;
        close_drafts();
        try {
            if (store_ && store_->isConnected()) store_->disconnect();
        } catch (...) {
            // the connection is gone already
        }
        store_.reset();
    }

    bool signed_on() const override { return signed_on_; }

    void save(const Message& message) override {
        check_signed_on();
        auto msg = build(message);
        try {
            try {
                store_message(msg);
            } catch (const vmime::exceptions::socket_exception&) {
                // a long-kept IMAP connection may have been dropped: open it again once
                reconnect_store();
                store_message(msg);
            } catch (const vmime::exceptions::not_connected&) {
                reconnect_store();
                store_message(msg);
            }
        } catch (...) {
            rethrow_numbered(kFailure);
        }
    }

    void send(const Message& message, bool dialog) override {
        check_signed_on();
        if (dialog) {
            if (has_desktop())
                compose_on_desktop(message);
            else
                save(message);
            return;
        }
        auto msg = build(message);
        try {
            auto transport = session_->getTransport(vmime::utility::url(profile_.transport));
            configure(*transport);
            transport->connect();
            try {
                transport->send(msg);
            } catch (...) {
                try {
                    transport->disconnect();
                } catch (...) {
                }
                throw;
            }
            transport->disconnect();
        } catch (...) {
            rethrow_numbered(kFailure);
        }
    }

private:
    void check_signed_on() const {
        if (!signed_on_ || !store_) throw NumberedError(kLoginFailure, "Sessione non aperta");
    }

    void reconnect_store() {
        close_drafts();
        try {
            if (store_->isConnected()) store_->disconnect();
        } catch (...) {
        }
        try {
            store_->connect();
        } catch (...) {
            rethrow_numbered(kLoginFailure);
        }
    }

    // The drafts folder stays open while the session lasts: opening a maildir
    // folder lists all its messages, which would grow with every draft.
    void store_message(const vmime::shared_ptr<vmime::message>& msg) {
        if (!store_->isConnected()) store_->connect();
        if (!drafts_ || !drafts_->isOpen()) {
            vmime::net::folder::path path;
            path /= vmime::net::folder::path::component(profile_.drafts.empty() ? "Drafts" : profile_.drafts);
            auto folder = store_->getFolder(path);
            if (!folder->exists()) {
                vmime::net::folderAttributes attr;
                attr.setType(vmime::net::folderAttributes::TYPE_CONTAINS_MESSAGES);
                folder->create(attr);
            }
            folder->open(vmime::net::folder::MODE_READ_WRITE);
            drafts_ = folder;
        }
        try {
            drafts_->addMessage(msg, vmime::net::message::FLAG_DRAFT | vmime::net::message::FLAG_SEEN);
        } catch (...) {
            close_drafts();
            throw;
        }
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

    // Timeouts, certificates, credentials and the sendmail program of one service.
    void configure(vmime::net::service& service) {
        service.setTimeoutHandlerFactory(vmime::make_shared<TimeoutFactory>());
        const std::string protocol = service.getProtocolName();
        if (protocol == "imaps" || protocol == "smtps" || protocol == "imap" || protocol == "smtp")
            service.setCertificateVerifier(system_verifier());
        if (protocol == "imap" || protocol == "smtp") {
            // STARTTLS when the server offers it
            service.setProperty("connection.tls", true);
            service.setProperty("connection.tls.required", false);
        }
        if (!user_.empty() || !password_.empty()) {
            service.setProperty("auth.username", text::cp1252_to_utf8(user_));
            service.setProperty("auth.password", text::cp1252_to_utf8(password_));
        }
        if ((protocol == "smtp" || protocol == "smtps") &&
            (service.getSession()->getProperties().hasProperty(service.getInfos().getPropertyPrefix() + "auth.username")))
            service.setProperty("options.need-authentication", true);
        if (protocol == "sendmail") {
            for (const char* bin : {"/usr/sbin/sendmail", "/usr/lib/sendmail"}) {
                if (access(bin, X_OK) == 0) {
                    service.setProperty("binpath", std::string(bin));
                    break;
                }
            }
        }
    }

    std::string sender() const { return profile_.from.empty() ? default_sender() : text::trim(profile_.from); }

    vmime::shared_ptr<vmime::message> build(const Message& m) const {
        try {
            vmime::messageBuilder mb;
            const std::string from = sender();
            mb.setExpeditor(*make_mailbox(from));
            for (const auto& r : m.recipients) {
                auto box = make_mailbox(r.address);
                if (r.type == RecipType::To)
                    mb.getRecipients().appendAddress(box);
                else if (r.type == RecipType::Cc)
                    mb.getCopyRecipients().appendAddress(box);
                else
                    mb.getBlindCopyRecipients().appendAddress(box);
            }
            // One encoded word for the whole subject: mail readers join it back exactly.
            mb.setSubject(vmime::text(vmime::word(text::cp1252_to_utf8(m.subject), utf8_charset())));
            mb.getTextPart()->setCharset(utf8_charset());
            mb.getTextPart()->setText(
                vmime::make_shared<vmime::stringContentHandler>(text::cp1252_to_utf8(m.note_text)));

            std::vector<Attachment> atts = m.attachments;
            std::stable_sort(atts.begin(), atts.end(),
                             [](const Attachment& a, const Attachment& b) { return a.position < b.position; });
            for (const auto& a : atts) {
                std::error_code ec;
                if (!fs::is_regular_file(a.path, ec))
                    throw NumberedError(kAttachmentNotFound, "Allegato non trovato: " + text::cp1252_to_utf8(a.path));
                const std::string name = fs::path(a.path).filename().string();
                auto att = vmime::make_shared<vmime::fileAttachment>(a.path, type_for(name));
                att->getFileInfo().setFilename(vmime::word(text::cp1252_to_utf8(name), utf8_charset()));
                mb.appendAttachment(att);
            }
            auto msg = mb.construct();
            if (m.receipt_requested) vmime::mdn::MDNHelper::attachMDNRequest(msg, *make_mailbox(from));
            return msg;
        } catch (...) {
            rethrow_numbered(kFailure);
        }
    }

    // The desktop's compose window: the user finishes and sends the message.
    void compose_on_desktop(const Message& m) const {
        std::vector<std::string> argv{"xdg-email", "--utf8", "--subject", text::cp1252_to_utf8(m.subject),
                                      "--body", text::cp1252_to_utf8(m.note_text)};
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
            std::error_code ec;
            if (!fs::is_regular_file(a.path, ec))
                throw NumberedError(kAttachmentNotFound, "Allegato non trovato: " + text::cp1252_to_utf8(a.path));
            argv.push_back("--attach");
            argv.push_back(a.path);
        }
        argv.insert(argv.end(), to.begin(), to.end());
        const int rc = process::run_and_wait(argv);
        if (rc != 0) throw NumberedError(kFailure, "xdg-email: codice di uscita " + std::to_string(rc));
    }

    Profile profile_;
    vmime::shared_ptr<vmime::net::session> session_;
    vmime::shared_ptr<vmime::net::store> store_;
    vmime::shared_ptr<vmime::net::folder> drafts_;
    std::string user_, password_;
    bool signed_on_ = false;
};

}  // namespace

std::unique_ptr<Session> open_session(const Profile& profile) { return std::make_unique<VmimeSession>(profile); }

}  // namespace velarion::mail
