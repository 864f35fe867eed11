#include "platform/mail/vmime_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <vmime/net/smtp/SMTPExceptions.hpp>
#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/security/cert/defaultCertificateVerifier.hpp>

#include "platform/os/text_encoding.h"
#include "platform/mail/smtp_dsn.h"
#include "platform/mail/smtp_transaction.h"
#include "platform/mail/spooled_message.h"
#include "platform/mail/vmime_file_system.h"

namespace fs = std::filesystem;

namespace velarion::mail::detail {

struct Waits::State {
    int seconds;
    int data_seconds;
    std::atomic<bool> data_reply{false};
    std::atomic<bool> ran_out{false};
};

namespace {

using vmime::security::cert::X509Certificate;

// Gives up on a server that stays silent for the limit of its Waits.
class Timeout final : public vmime::net::timeoutHandler {
public:
    explicit Timeout(std::shared_ptr<Waits::State> state) : state_(std::move(state)) {}
    bool isTimeOut() override {
        const int limit = state_->data_reply ? state_->data_seconds : state_->seconds;
        return std::chrono::steady_clock::now() - start_ >= std::chrono::seconds(limit);
    }
    void resetTimeOut() override { start_ = std::chrono::steady_clock::now(); }
    bool handleTimeOut() override {
        state_->ran_out = true;
        return false;
    }

private:
    std::shared_ptr<Waits::State> state_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The library's own handler factory is not exported by the shared library.
class TimeoutFactory final : public vmime::net::timeoutHandlerFactory {
public:
    explicit TimeoutFactory(std::shared_ptr<Waits::State> state) : state_(std::move(state)) {}
    vmime::shared_ptr<vmime::net::timeoutHandler> create() override { return vmime::make_shared<Timeout>(state_); }

private:
    std::shared_ptr<Waits::State> state_;
};

// On this machine the connection never leaves it: a certificate adds nothing
// that plain text would not give up anyway.
class AnyCertificate final : public vmime::security::cert::certificateVerifier {
public:
    void verify(vmime::shared_ptr<vmime::security::cert::certificateChain>, const vmime::string&) override {}
};

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every certificate of a PEM file (the library imports one per call).
std::vector<vmime::shared_ptr<X509Certificate>> pem_certificates(const std::string& pem) {
    static const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
    std::vector<vmime::shared_ptr<X509Certificate>> out;
    for (std::size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at + 1)) {
        const std::size_t stop = pem.find(end, at);
        if (stop == std::string::npos) break;
        const std::string block = pem.substr(at, stop + end.size() - at) + "\n";
        try {
            auto cert = X509Certificate::import(reinterpret_cast<const vmime::byte_t*>(block.data()), block.size());
            if (cert) out.push_back(cert);
        } catch (const vmime::exception&) {
            // not a certificate the library reads: skip it
        }
    }
    return out;
}

// The system's root certificates, read once.
const std::vector<vmime::shared_ptr<X509Certificate>>& system_roots() {
    static const auto roots = [] {
        const std::string bundle = "/etc/ssl/certs/ca-certificates.crt";
        std::error_code ec;
        if (fs::is_regular_file(bundle, ec)) return pem_certificates(read_bytes(bundle));
        std::vector<vmime::shared_ptr<X509Certificate>> all;
        for (const auto& entry : fs::directory_iterator("/etc/ssl/certs", ec)) {
            if (entry.path().extension() != ".pem") continue;
            auto some = pem_certificates(read_bytes(entry.path().string()));
            all.insert(all.end(), some.begin(), some.end());
        }
        return all;
    }();
    return roots;
}

// A verifier trusting the system's CAs and those of extra_ca, one per file.
vmime::shared_ptr<vmime::security::cert::certificateVerifier> verifier_for(const std::string& extra_ca) {
    static std::mutex lock;
    static std::map<std::string, vmime::shared_ptr<vmime::security::cert::defaultCertificateVerifier>> made;
    std::lock_guard<std::mutex> guard(lock);
    auto& v = made[extra_ca];
    if (!v) {
        auto roots = system_roots();
        if (!extra_ca.empty()) {
            std::error_code ec;
            const auto extra = fs::is_regular_file(extra_ca, ec) ? pem_certificates(read_bytes(extra_ca))
                                                                 : std::vector<vmime::shared_ptr<X509Certificate>>{};
            if (extra.empty()) {
                made.erase(extra_ca);
                throw vmime::exceptions::tls_exception("no CA certificate can be read from " + extra_ca);
            }
            roots.insert(roots.end(), extra.begin(), extra.end());
        }
        v = vmime::make_shared<vmime::security::cert::defaultCertificateVerifier>();
        v->setX509RootCAs(roots);
    }
    return v;
}

// An address as 16 bytes (IPv4 as IPv4-mapped IPv6), for comparisons.
using Address = std::array<unsigned char, 16>;

std::optional<Address> parse_address(const std::string& text) {
    Address a{};
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        a[10] = a[11] = 0xff;
        std::memcpy(&a[12], &v4, 4);
        return a;
    }
    std::string t = text;
    if (t.size() > 2 && t.front() == '[' && t.back() == ']') t = t.substr(1, t.size() - 2);
    in6_addr v6{};
    if (inet_pton(AF_INET6, t.c_str(), &v6) == 1) {
        std::memcpy(a.data(), &v6, 16);
        return a;
    }
    return std::nullopt;
}

bool is_loopback(const Address& a) {
    static const Address v6_loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const bool mapped = std::all_of(a.begin(), a.begin() + 10, [](unsigned char c) { return c == 0; }) &&
                        a[10] == 0xff && a[11] == 0xff;
    return a == v6_loopback || (mapped && a[12] == 127);
}

}  // namespace

void init_platform() {
    static const bool done = [] {
        install_platform_handler();
        return true;
    }();
    (void)done;
}

const vmime::charset& utf8_charset() {
    static const vmime::charset cs(vmime::charsets::UTF_8);
    return cs;
}

vmime::shared_ptr<vmime::mailbox> parse_mailbox(const std::string& cp1252, const std::string& display) {
    const std::string address = text::trim(text::cp1252_to_utf8(header_text(cp1252)));
    std::string name, addr_spec = address;
    if (!address.empty() && address.back() == '>') {
        const auto lt = address.rfind('<');
        if (lt == std::string::npos) return nullptr;
        addr_spec = text::trim(address.substr(lt + 1, address.size() - lt - 2));
        name = text::trim(address.substr(0, lt));
        if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') && name.back() == name.front())
            name = name.substr(1, name.size() - 2);
    }
    const auto at = addr_spec.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 >= addr_spec.size()) return nullptr;
    const auto bad = [](const std::string& part, const char* forbidden) {
        return std::any_of(part.begin(), part.end(), [&](char c) {
            return static_cast<unsigned char>(c) <= ' ' || std::strchr(forbidden, c) != nullptr;
        });
    };
    if (bad(addr_spec.substr(0, at), "\"(),:;<>@[\\]") || bad(addr_spec.substr(at + 1), "\"'(),:;<>@[\\]"))
        return nullptr;
    const std::string shown = text::trim(text::cp1252_to_utf8(header_text(display)));
    if (!shown.empty()) name = shown;
    try {
        const vmime::emailAddress email(addr_spec);
        if (name.empty()) return vmime::make_shared<vmime::mailbox>(email);
        return vmime::make_shared<vmime::mailbox>(vmime::text(name, utf8_charset()), email);
    } catch (const vmime::exception&) {
        return nullptr;
    }
}

std::string header_text(const std::string& cp1252) { return text::without_controls(cp1252, ' '); }

vmime::mediaType type_for(const std::string& name) {
    const std::string ext = text::lower(fs::path(name).extension().string());
    if (ext == ".pdf") return vmime::mediaType("application", "pdf");
    if (ext == ".zip") return vmime::mediaType("application", "zip");
    if (ext == ".txt") return vmime::mediaType("text", "plain");
    return vmime::mediaType("application", "octet-stream");
}

Waits::Waits(int seconds, int data_seconds) : state_(std::make_shared<State>()) {
    state_->seconds = seconds > 0 ? seconds : 30;
    state_->data_seconds = data_seconds > 0 ? data_seconds : state_->seconds;
}

vmime::shared_ptr<vmime::net::timeoutHandlerFactory> Waits::factory() const {
    return vmime::make_shared<TimeoutFactory>(state_);
}

int Waits::seconds() const { return state_->seconds; }
int Waits::data_seconds() const { return state_->data_seconds; }
void Waits::await_data_reply(bool on) const { state_->data_reply = on; }
bool Waits::ran_out() const { return state_->ran_out; }
void Waits::clear() const { state_->ran_out = false; }

Endpoint resolve_endpoint(const std::string& host, const TlsPolicy& policy) {
    std::string name = host;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) throw NameNotResolved("Name not resolved: " + host + " (" + gai_strerror(rc) + ")");
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);

    std::vector<Address> local;
    for (const auto& text : policy.local_addresses)
        if (auto a = parse_address(text::trim(text))) local.push_back(*a);

    Endpoint ep;
    ep.host = host;
    ep.address = name;
    ep.local = true;
    std::string first;
    bool first_v4 = false;
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
        char buf[INET6_ADDRSTRLEN] = {0};
        if (ai->ai_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr, buf, sizeof buf);
        else if (ai->ai_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(ai->ai_addr)->sin6_addr, buf, sizeof buf);
        else
            continue;
        const auto a = parse_address(buf);
        if (!a) continue;
        const bool here =
            policy.local_addresses.empty() ? is_loopback(*a) : std::find(local.begin(), local.end(), *a) != local.end();
        ep.local = ep.local && here;
        if (first.empty() || (ai->ai_family == AF_INET && !first_v4)) {
            first = buf;
            first_v4 = ai->ai_family == AF_INET;
        }
    }
    if (first.empty()) throw NameNotResolved("Name not resolved: " + host + " has no address");
    if (ep.local) ep.address = first;  // an IPv4 address first, where most local servers listen
    return ep;
}

void secure(vmime::net::service& service, const Endpoint& endpoint, const TlsPolicy& policy, bool credentials) {
    service.setProperty("server.address", endpoint.address);
    if (endpoint.local)
        service.setCertificateVerifier(vmime::make_shared<AnyCertificate>());
    else
        service.setCertificateVerifier(verifier_for(policy.extra_ca));
    const std::string protocol = service.getProtocolName();
    if (protocol == "imap" || protocol == "smtp") {
        // STARTTLS when the server offers it; without it the library would go on
        // in plain text, which credentials for another machine must not.
        service.setProperty("connection.tls", true);
        service.setProperty("connection.tls.required", credentials && !endpoint.local && !policy.allow_plain);
    }
}

bool CredentialGuard::in_clear(const vmime::weak_ptr<vmime::net::service>& service) const {
    if (clear_allowed_) return false;
    const auto s = service.lock();
    return !s || !s->isSecuredConnection();
}

const vmime::string CredentialGuard::hand_over(const vmime::weak_ptr<vmime::net::service>& service,
                                               const std::string& value) const {
    if (in_clear(service)) {
        held_back_ = true;
        throw vmime::exceptions::authentication_error("credentials not sent on a connection without TLS");
    }
    return value;
}

bool CredentialGuard::may_offer(const vmime::weak_ptr<vmime::net::service>& service) const {
    offered_ = true;
    if (!in_clear(service)) return true;
    held_back_ = true;
    return false;
}

Credentials::Credentials(std::string user_utf8, std::string password_utf8, bool clear_allowed)
    : CredentialGuard(clear_allowed), user_(std::move(user_utf8)), password_(std::move(password_utf8)) {}

const Mechanisms Credentials::getAcceptableMechanisms(
    const Mechanisms&, vmime::shared_ptr<vmime::security::sasl::SASLMechanism> suggested) const {
    // A server that offers only token mechanisms offers nothing a password
    // can sign on with.
    if (!suggested || is_token_mechanism(suggested->getName())) return {};
    if (!may_offer(getService())) return {};
    // One attempt per connection: servers count failed logins against the account.
    return {suggested};
}

TokenCredentials::TokenCredentials(std::string user_utf8, std::string access_token, bool clear_allowed)
    : CredentialGuard(clear_allowed), user_(std::move(user_utf8)), token_(std::move(access_token)) {
    register_token_mechanisms();
}

const Mechanisms TokenCredentials::getAcceptableMechanisms(
    const Mechanisms& available, vmime::shared_ptr<vmime::security::sasl::SASLMechanism>) const {
    if (!may_offer(getService())) return {};
    // One mechanism, one attempt: a refused token is fetched again and tried once more.
    const auto chosen = token_mechanism(available);
    if (!chosen) return {};
    return {chosen};
}

bool Authentication::token_refused() const {
    if (!token || held_back()) return false;
    try {
        throw;
    } catch (const vmime::net::smtp::SMTPCommandError& e) {
        return e.statusCode() / 100 == 5 && text::upper(e.command()).rfind("AUTH", 0) == 0;
    } catch (const vmime::exceptions::authentication_error&) {
        return offered();
    } catch (...) {
        return false;
    }
}

Authentication authentication(const std::string& user_utf8, const std::string& secret_utf8, bool token,
                              bool clear_allowed) {
    Authentication a;
    a.token = token;
    if (token) {
        auto credentials = vmime::make_shared<TokenCredentials>(user_utf8, secret_utf8, clear_allowed);
        a.authenticator = credentials;
        a.guard = credentials;
    } else {
        auto credentials = vmime::make_shared<Credentials>(user_utf8, secret_utf8, clear_allowed);
        a.authenticator = credentials;
        a.guard = credentials;
    }
    return a;
}

std::string describe(const vmime::exception& e) {
    std::string text = e.what();
    if (e.other()) text += std::string(": ") + e.other()->what();
    return text;
}

namespace {

// Passes the transfer's progress on and notes when the whole data has been
// written: from then on the wait is the one for the answer to the end of the
// data, until the transfer ends.
class DataEnd final : public vmime::utility::progressListener {
public:
    DataEnd(vmime::utility::progressListener* next, const Waits* waits, const std::function<void()>& on_end)
        : next_(next), waits_(waits), on_end_(on_end) {}
    ~DataEnd() override {
        if (waits_) waits_->await_data_reply(false);
    }
    DataEnd(const DataEnd&) = delete;
    DataEnd& operator=(const DataEnd&) = delete;

    void start(const size_t total) override {
        if (next_) next_->start(total);
    }
    void progress(const size_t current, const size_t total) override {
        if (next_) next_->progress(current, total);
    }
    void stop(const size_t total) override {
        if (on_end_) on_end_();  // may throw: then the end is not marked
        written_ = true;
        if (waits_) waits_->await_data_reply(true);
        if (next_) next_->stop(total);
    }
    bool written() const { return written_; }

private:
    vmime::utility::progressListener* next_;
    const Waits* waits_;
    const std::function<void()>& on_end_;
    bool written_ = false;
};

}  // namespace

bool connection_gone() {
    try {
        throw;
    } catch (const NoAnswerAfterData&) {
        return false;
    } catch (const vmime::net::smtp::SMTPCommandError& e) {
        return e.statusCode() == 421;
    } catch (const vmime::exceptions::socket_exception&) {
        return true;
    } catch (const vmime::exceptions::not_connected&) {
        return true;
    } catch (...) {
        return false;
    }
}

void send_spooled(vmime::net::transport& transport, SpooledMessage& spooled, const vmime::mailbox& expeditor,
                  const vmime::mailboxList& recipients, vmime::utility::progressListener* progress,
                  const Waits* waits, const std::function<void()>& on_data_end, const Dsn* dsn, bool reused) {
    DataEnd data_end(progress, waits, on_data_end);
    try {
        // The expeditor also as the envelope's sender: the library's sendmail
        // transport passes "-f" the sender it is given, empty ("@") by default.
        auto* smtp = dynamic_cast<vmime::net::smtp::SMTPTransport*>(&transport);
        if (smtp && dsn_wanted(*smtp, dsn, expeditor, recipients))
            send_with_dsn(*smtp, *dsn, expeditor, recipients, spooled.stream(), spooled.size(), &data_end);
        else if (smtp)
            send_transaction(*smtp, reused, spooled, expeditor, recipients, &data_end);
        else
            transport.send(expeditor, recipients, spooled.stream(), spooled.size(), &data_end, expeditor);
    } catch (const vmime::exceptions::command_error&) {
        throw;  // the server's answer (or the sendmail program's status): it says what became of the message
    } catch (const std::exception& e) {
        if (!data_end.written()) throw;
        const bool timed_out = dynamic_cast<const vmime::exceptions::operation_timed_out*>(&e) != nullptr;
        const auto* ve = dynamic_cast<const vmime::exception*>(&e);
        throw NoAnswerAfterData(ve ? describe(*ve) : e.what(), timed_out);
    }
}

}  // namespace velarion::mail::detail
