// The SMTP sending component on vmime's SMTP transport.
#include "platform/mail/smtp_component.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vmime/net/smtp/SMTPExceptions.hpp>
#include <vmime/security/cert/certificateException.hpp>

#include "platform/os/connect_cause.h"
#include "platform/os/secret_text.h"
#include "platform/os/text_encoding.h"
#include "platform/mail/mime_writer.h"
#include "platform/mail/spooled_message.h"
#include "platform/mail/store_errors.h"
#include "platform/mail/vmime_socket.h"
#include "platform/mail/vmime_support.h"

namespace fs = std::filesystem;

namespace velarion::mail {

bool is_temporary(SmtpError kind) {
    switch (kind) {
        case SmtpError::name_not_resolved:
        case SmtpError::connection_refused:
        case SmtpError::timed_out:
        case SmtpError::connection_lost:
        case SmtpError::maybe_delivered:
        case SmtpError::no_space:
        case SmtpError::temporary_reply:
        case SmtpError::token_unavailable:
            return true;
        default:
            return false;
    }
}

NumberedError numbered_error(SmtpError kind, const std::string& text) {
    switch (kind) {
        case SmtpError::auth_refused: return LogonFailure(text, "");
        case SmtpError::name_not_resolved:
        case SmtpError::connection_refused:
        case SmtpError::tls:
        case SmtpError::token_unavailable:
        case SmtpError::bad_settings: return NumberedError(kFailure, text, Retry::server_down);
        case SmtpError::timed_out:
        case SmtpError::connection_lost:
        case SmtpError::no_space:
        case SmtpError::temporary_reply: return NumberedError(kFailure, text, Retry::later);
        case SmtpError::maybe_delivered: return NumberedError(kFailure, text, Retry::maybe_delivered);
        default: return NumberedError(kFailure, text, Retry::never);
    }
}

namespace {

// A failure of one send, with its kind.
struct Failure {
    SmtpError kind;
    std::string text;
};

struct Server {
    std::string host;
    int port = 25;
};

bool whole_port(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

// "host", "host:port", "[v6]:port" or a bare IPv6 address; a port written
// in the host wins over the port setting.
Server parse_server(const std::string& host_setting, const std::string& port_setting) {
    const std::string h = text::trim(host_setting);
    Server s;
    std::optional<std::string> port_text;
    if (!h.empty() && h.front() == '[') {
        const auto close = h.find(']');
        if (close == std::string::npos)
            throw Failure{SmtpError::bad_settings, "SMTP host \"" + h + "\" lacks its \"]\""};
        s.host = h.substr(1, close - 1);
        const std::string rest = h.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') throw Failure{SmtpError::bad_settings, "SMTP host \"" + h + "\" is not host:port"};
            port_text = rest.substr(1);
        }
    } else if (std::count(h.begin(), h.end(), ':') == 1) {
        s.host = text::trim(h.substr(0, h.find(':')));
        port_text = text::trim(h.substr(h.find(':') + 1));
    } else {
        s.host = h;
    }
    if (s.host.empty()) throw Failure{SmtpError::bad_settings, "No SMTP host is set"};
    if (!port_text) {
        const std::string p = text::trim(port_setting);
        if (!p.empty()) port_text = p;
    }
    if (port_text && !whole_port(*port_text, s.port))
        throw Failure{SmtpError::bad_settings,
                      "SMTP port \"" + *port_text + "\" is not a whole number from 1 to 65535"};
    return s;
}

// Percentages of the transfer in steps of a quarter.
class Progress final : public vmime::utility::progressListener {
public:
    explicit Progress(const std::function<void(int)>& report) : report_(report) {}
    void start(const size_t) override {}
    void progress(const size_t current, const size_t total) override {
        if (total == 0) return;
        const int percent = static_cast<int>(std::min<std::size_t>(100, current * 100 / total));
        while (next_ <= 100 && percent >= next_) {
            if (report_) report_(next_);
            next_ += 25;
        }
    }
    void stop(const size_t total) override { progress(total ? total : 1, total ? total : 1); }

private:
    const std::function<void(int)>& report_;
    int next_ = 25;
};

}  // namespace

// A connection kept for the next Send, with what it was opened for; ended
// (QUIT) when dropped.
struct SmtpSessions::Kept {
    struct For {
        std::string host;
        int port = 25;
        bool with_auth = false;
        std::string user, password;
        TlsPolicy tls;
        oauth::SignOn oauth;
        int timeout = 30, data_timeout = 600;
        bool operator==(const For&) const = default;
    };
    For opened_for;
    vmime::shared_ptr<vmime::net::transport> transport;
    detail::Waits waits{30};
    detail::Authentication auth;
    vmime::shared_ptr<detail::ReplyLog> replies;  // what its connection received last
    std::chrono::steady_clock::time_point used;

    Kept() = default;
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
    ~Kept() {
        try {
            if (transport && transport->isConnected()) transport->disconnect();
        } catch (...) {
            // the connection is gone already
        }
    }
};

SmtpSessions::SmtpSessions() = default;
SmtpSessions::~SmtpSessions() = default;
void SmtpSessions::close() { kept_.reset(); }
std::unique_ptr<SmtpSessions::Kept> SmtpSessions::take() { return std::move(kept_); }
void SmtpSessions::keep(std::unique_ptr<Kept> kept) { kept_ = std::move(kept); }

namespace {

// What the component sends: the envelope and the message.
struct Composed {
    vmime::shared_ptr<vmime::mailbox> from;
    vmime::mailboxList envelope;
    detail::Letter letter;
};

class Sender {
public:
    explicit Sender(const SmtpComponent& c) : c_(c), waits_(timeout(), data_timeout()) {}

    void run(const Envelope& message) {
        const Server server = locate();
        const Composed composed = compose(message);
        // Generated once for every try (in memory, or a file when large).
        // The writer's header fields are made once a thread.
        thread_local const detail::MimeWriter writer;
        detail::SpooledMessage spooled(
            [&](vmime::utility::outputStream& os) { writer.write(composed.letter, detail::LetterUse::as_built, os); });
        const bool with_auth = this->with_auth();
        const SmtpSessions::Kept::For wanted{server.host, server.port, with_auth, c_.UserName, c_.Password,
                                             c_.Tls,      c_.OAuth,    timeout(), data_timeout()};
        // The connection the last Send left open serves when it was opened
        // for the same and has not waited too long; else it is ended.
        std::unique_ptr<SmtpSessions::Kept> kept = c_.Sessions ? c_.Sessions->take() : nullptr;
        if (kept && (!(kept->opened_for == wanted) || !kept->transport->isConnected() ||
                     std::chrono::steady_clock::now() - kept->used > std::chrono::seconds(c_.Idle)))
            kept.reset();
        for (;;) {
            const bool reused = kept != nullptr;
            vmime::shared_ptr<vmime::net::transport> transport;
            if (reused) {
                transport = kept->transport;
                waits_ = kept->waits;
                auth_ = kept->auth;
                replies_ = kept->replies;
                kept->transport.reset();
                kept.reset();
                waits_.clear();
                status("Using the open connection to " + where_);
            } else {
                transport = open(server, with_auth);
            }
            stage_ = Stage::sending;
            status("Sending message");
            Progress progress(c_.on_progress);
            try {
                replies_->clear();
                const Dsn* dsn = c_.Dsn.envelope_id.empty() ? nullptr : &c_.Dsn;
                detail::send_spooled(*transport, spooled, *composed.from, composed.envelope, &progress, &waits_,
                                     c_.on_data_end, dsn, reused);
                reply_ = replies_->last_line();
            } catch (...) {
                // After any failure the next Send starts a new connection.
                close(*transport);
                // The server ended the kept connection while it waited: the
                // message went nowhere, so it goes on a new connection.
                if (reused && detail::connection_gone()) continue;
                throw;
            }
            if (!c_.Sessions) {
                close(*transport);
                return;
            }
            auto keep = std::make_unique<SmtpSessions::Kept>();
            keep->opened_for = wanted;
            keep->transport = transport;
            keep->waits = waits_;
            keep->auth = auth_;
            keep->replies = replies_;
            keep->used = std::chrono::steady_clock::now();
            c_.Sessions->keep(std::move(keep));
            return;
        }
    }

    // A new connection to the server, signed on when the settings ask.
    vmime::shared_ptr<vmime::net::transport> open(const Server& server, bool with_auth) {
        status("Connecting to " + where_);
        const detail::Endpoint endpoint = resolve(server);
        vmime::shared_ptr<vmime::net::transport> transport;
        try {
            transport = connect_signed_on(endpoint, server.port, with_auth);
        } catch (const vmime::exceptions::authentication_error&) {
            if (auth_.held_back() || auth_.offered()) throw;
            transport = connect(endpoint, server.port, false);  // the server offers no AUTH: send without it
        } catch (const vmime::exceptions::command_error& e) {
            if (!with_auth || e.command() != "AUTH" || auth_.offered()) throw;
            transport = connect(endpoint, server.port, false);  // no ESMTP, so no AUTH either
        }
        status("Connected to " + where_ + (transport->isSecuredConnection() ? " with TLS" : " without TLS"));
        return transport;
    }

    // Connects and signs on, then leaves: no message.
    void sign_on_only() {
        const Server server = locate();
        auto transport = connect_signed_on(resolve(server), server.port, with_auth());
        close(*transport);
    }

    // Turns whatever the library raised into a failure of this send.
    // The server's answer to the end of the data of the message sent.
    const std::string& reply() const { return reply_; }

    Failure failure() const {
        try {
            throw;
        } catch (const Failure& f) {
            return f;
        } catch (const oauth::TokenError& e) {
            if (e.kind() == oauth::TokenError::Kind::unreachable) return {SmtpError::token_unavailable, e.what()};
            return {SmtpError::auth_refused, "no access token for " + c_.UserName + ": " + e.what()};
        } catch (const vmime::net::smtp::SMTPCommandError& e) {
            return reply_failure(e.command(), e.statusCode(), e.response());
        } catch (const vmime::exceptions::command_error& e) {
            if (e.command() == "STARTTLS") return starttls_refused(e.response());
            return {SmtpError::other, where_ + ": " + e.command() + ": " + e.response()};
        } catch (const vmime::exceptions::authentication_error& e) {
            if (auth_.held_back())
                return {SmtpError::tls, where_ + " offers no TLS: the user name and password were not sent in clear"};
            return {SmtpError::auth_refused, where_ + " refused the login of " + c_.UserName + " (" +
                                                 (e.response().empty() ? detail::describe(e) : e.response()) + ")"};
        } catch (const detail::NoAnswerAfterData& e) {
            const std::string what =
                e.timed_out() ? " did not answer within " + std::to_string(waits_.data_seconds()) +
                                    " seconds after the end of the message (Timed out)"
                              : " closed the connection after the end of the message (" + std::string(e.what()) + ")";
            return {SmtpError::maybe_delivered, where_ + what + ": the message may already have been delivered"};
        } catch (const vmime::exceptions::operation_timed_out&) {
            return {SmtpError::timed_out,
                    where_ + " did not answer within " + std::to_string(timeout()) + " seconds (Timed out)"};
        } catch (const vmime::exceptions::connection_greeting_error& e) {
            return {SmtpError::temporary_reply, where_ + " refused the connection: " + e.response()};
        } catch (const vmime::exceptions::connection_error& e) {
            if (stage_ == Stage::connecting)
                return {SmtpError::connection_refused,
                        where_ + ": cannot connect (" +
                            detail::connect_failure_cause(address_, port_, waits_.ran_out()) + ")"};
            return {SmtpError::connection_lost, where_ + " closed the connection (" + detail::describe(e) + ")"};
        } catch (const vmime::exceptions::socket_exception& e) {
            return {SmtpError::connection_lost, where_ + " closed the connection (" + detail::describe(e) + ")"};
        } catch (const vmime::exceptions::tls_exception& e) {
            return {SmtpError::tls, where_ + ": TLS failed (" + detail::describe(e) + ")"};
        } catch (const vmime::security::cert::certificateException& e) {
            return {SmtpError::tls, where_ + ": the server's certificate is not trusted (" + detail::describe(e) + ")"};
        } catch (const vmime::exceptions::no_recipient&) {
            return {SmtpError::bad_address, "No recipient"};
        } catch (const vmime::exception& e) {
            return {SmtpError::other, where_ + ": " + detail::describe(e)};
        } catch (const std::system_error& e) {
            const int err = e.code().value();
            return {err == ENOSPC || err == EDQUOT ? SmtpError::no_space : SmtpError::other, where_ + ": " + e.what()};
        } catch (const std::exception& e) {
            return {SmtpError::other, where_ + ": " + e.what()};
        }
    }

private:
    enum class Stage { connecting, sending };

    // The server of the settings, noted for the texts of failures.
    Server locate() {
        const Server server = parse_server(c_.SMTPHost, c_.SMTPPort);
        port_ = server.port;
        where_ = (server.host.find(':') != std::string::npos ? "[" + server.host + "]" : server.host) + ":" +
                 std::to_string(server.port);
        return server;
    }

    detail::Endpoint resolve(const Server& server) {
        try {
            const detail::Endpoint endpoint = detail::resolve_endpoint(server.host, c_.Tls);
            address_ = endpoint.address;
            return endpoint;
        } catch (const detail::NameNotResolved& e) {
            throw Failure{SmtpError::name_not_resolved, e.what()};
        }
    }

    bool with_auth() const { return (c_.UseAuthentication || c_.OAuth.enabled()) && !c_.UserName.empty(); }

    int timeout() const { return c_.Timeout <= 0 ? 30 : std::min(c_.Timeout, 60); }
    int data_timeout() const { return c_.DataTimeout <= 0 ? 600 : c_.DataTimeout; }

    void status(const std::string& text) const {
        if (c_.on_status) c_.on_status(text);
    }

    Failure reply_failure(const std::string& command, int code, const std::string& response) const {
        const std::string cmd = text::upper(command);
        const std::string answer = where_ + " answered " + std::to_string(code) + " to " + command + ": " + response;
        if (cmd.rfind("STARTTLS", 0) == 0) return starttls_refused(std::to_string(code) + " " + response);
        if (code / 100 == 4) return {SmtpError::temporary_reply, answer};
        if (cmd.rfind("AUTH", 0) == 0)
            return {SmtpError::auth_refused, where_ + " refused the login of " + c_.UserName + ": " + response};
        if (cmd.rfind("RCPT", 0) == 0) return {SmtpError::recipient_refused, answer};
        if (code / 100 == 5) return {SmtpError::permanent_reply, answer};
        return {SmtpError::other, answer};
    }

    Failure starttls_refused(const std::string& response) const {
        return {SmtpError::tls,
                where_ + " refused STARTTLS (" + response + "): the user name and password are not sent in clear"};
    }

    vmime::shared_ptr<vmime::mailbox> mailbox(const std::string& address, const std::string& display) const {
        // A display name equal to the address adds nothing.
        const std::string shown = text::trim(display) == text::trim(address) ? "" : display;
        auto box = detail::parse_mailbox(address, shown);
        if (!box) throw Failure{SmtpError::bad_address, "Invalid e-mail address \"" + text::trim(address) + "\""};
        return box;
    }

    // The mailboxes of one list; blank ones are left out.
    std::vector<vmime::shared_ptr<vmime::mailbox>> mailboxes(const std::vector<Mailbox>& list) const {
        std::vector<vmime::shared_ptr<vmime::mailbox>> out;
        for (const auto& m : list)
            if (!text::trim(m.address).empty()) out.push_back(mailbox(m.address, m.display));
        return out;
    }

    Composed compose(const Envelope& e) const {
        Composed l;
        if (text::trim(e.from.address).empty()) throw Failure{SmtpError::bad_address, "No sender address"};
        l.from = mailbox(e.from.address, e.from.display);
        const auto to = mailboxes(e.to);
        const auto cc = mailboxes(e.cc);
        const auto bcc = [&] {
            std::vector<vmime::shared_ptr<vmime::mailbox>> out;
            for (const auto& address : e.bcc)
                if (!text::trim(address).empty()) out.push_back(mailbox(address, ""));
            return out;
        }();
        if (to.empty() && cc.empty() && bcc.empty()) throw Failure{SmtpError::bad_address, "No recipient"};

        std::vector<std::string> seen;
        for (const auto* group : {&to, &cc, &bcc}) {
            for (const auto& box : *group) {
                const std::string key = text::lower(box->getEmail().toString());
                if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
                seen.push_back(key);
                l.envelope.appendMailbox(box);
            }
        }

        detail::Letter& m = l.letter;
        m.from = l.from;
        for (const auto& box : to) m.to.appendAddress(box);
        for (const auto& box : cc) m.cc.appendAddress(box);
        // One encoded word for the whole subject: mail readers join it back exactly.
        m.subject =
            vmime::text(vmime::word(text::cp1252_to_utf8(detail::header_text(e.subject)), detail::utf8_charset()));
        m.body = text::cp1252_to_utf8(e.body);
        for (const auto& a : e.attachments) {
            if (text::trim(a.path).empty()) continue;
            // Read through the file the caller opened, else by the path.
            std::error_code ec;
            const bool found = a.file ? a.file->valid() : fs::is_regular_file(a.path, ec);
            if (!found) throw Failure{SmtpError::attachment_missing, "Attachment not found: " + a.path};
            detail::LetterAttachment att;
            att.fd = a.file ? a.file->get() : -1;
            att.path = a.path;
            const std::string name = fs::path(a.path).filename().string();
            att.type = detail::type_for(name);
            att.filename = vmime::word(text::cp1252_to_utf8(detail::header_text(name)), detail::utf8_charset());
            m.attachments.push_back(std::move(att));
        }
        m.message_id = c_.MessageId;
        if (!text::trim(e.reply_to).empty()) m.reply_to = mailbox(e.reply_to, "");
        if (e.receipt) m.receipt_to = l.from;
        return l;
    }

    // Connected and signed on. An access token the server refuses may have
    // been revoked or have expired early: one fresh token, one more attempt.
    vmime::shared_ptr<vmime::net::transport> connect_signed_on(const detail::Endpoint& endpoint, int port,
                                                               bool with_auth) {
        try {
            return connect(endpoint, port, with_auth);
        } catch (...) {
            if (!auth_.token_refused()) throw;
        }
        status("The access token was refused: fetching a new one");
        return connect(endpoint, port, with_auth, true);
    }

    vmime::shared_ptr<vmime::net::transport> connect(const detail::Endpoint& endpoint, int port, bool with_auth,
                                                     bool fresh_token = false) {
        stage_ = Stage::connecting;
        auto session = vmime::net::session::create();
        const bool clear_allowed = endpoint.local || c_.Tls.allow_plain;
        auth_ = {};
        const bool token = with_auth && c_.OAuth.enabled();
        const std::string secret = token ? c_.OAuth.tokens->access_token(c_.OAuth.config, fresh_token)
                                         : text::cp1252_to_utf8(c_.Password);
        auth_ = detail::authentication(text::cp1252_to_utf8(c_.UserName), secret, token, clear_allowed);
        auto transport = session->getTransport("smtp", auth_.authenticator);
        replies_ = vmime::make_shared<detail::ReplyLog>();
        transport->setTracerFactory(replies_);
        transport->setTimeoutHandlerFactory(waits_.factory());
        transport->setSocketFactory(detail::socket_factory());
        waits_.clear();
        detail::secure(*transport, endpoint, c_.Tls, with_auth);
        transport->setProperty("server.port", port);
        transport->setProperty("options.need-authentication", with_auth);
        transport->setProperty("options.sasl.fallback", false);
        transport->connect();
        return transport;
    }

    static void close(vmime::net::transport& transport) {
        try {
            if (transport.isConnected()) transport.disconnect();
        } catch (...) {
            // the connection is gone already
        }
    }

    const SmtpComponent& c_;
    std::string where_;
    Stage stage_ = Stage::connecting;
    std::string address_;  // the address connected to, and its port
    int port_ = 25;
    detail::Waits waits_;
    vmime::shared_ptr<detail::ReplyLog> replies_ = vmime::make_shared<detail::ReplyLog>();
    std::string reply_;
    detail::Authentication auth_;  // of the connection opened last
};

}  // namespace

void SmtpComponent::SignOn() { run(nullptr); }

void SmtpComponent::Send(const Envelope& message) { run(&message); }

void SmtpComponent::run(const Envelope* message) {
    const bool send = message != nullptr;
    error_ = SmtpError::none;
    error_text_.clear();
    detail::init_platform();
    Sender sender(*this);
    reply_.clear();
    try {
        if (send)
            sender.run(*message);
        else
            sender.sign_on_only();
    } catch (...) {
        const Failure f = sender.failure();
        error_ = f.kind;
        std::vector<std::string> secrets{Password};
        if (OAuth.tokens) {
            const auto known = OAuth.tokens->secrets(OAuth.config);
            secrets.insert(secrets.end(), known.begin(), known.end());
        }
        error_text_ = text::hide_secrets(f.text, secrets);
        if (send && on_send_failed) on_send_failed(error_text_);
        return;
    }
    reply_ = sender.reply();
    if (send && on_send_successful) on_send_successful();
}

}  // namespace velarion::mail
