#include "platform/mail/oauth_token.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/mail/oauth_token_state.h"
#include "platform/os/atomic_file.h"
#include "platform/os/secret_text.h"

namespace velarion::oauth {

namespace {

using Clock = std::chrono::steady_clock;

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

void curl_init() { static CurlGlobal once; }

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlText {
    char* text = nullptr;
    ~CurlText() { curl_free(text); }
};

std::string trim(std::string s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::string escaped(CURL* curl, const std::string& value) {
    CurlText t;
    t.text = curl_easy_escape(curl, value.c_str(), static_cast<int>(value.size()));
    return t.text ? t.text : "";
}

// The endpoint's answer: a token answer is a few KB; one beyond kMaxAnswer
// is an endpoint failing, and the transfer stops there.
constexpr std::size_t kMaxAnswer = 64 * 1024;
struct Answer {
    std::string text;
    bool too_long = false;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
    auto& answer = *static_cast<Answer*>(out);
    if (answer.text.size() + size * count > kMaxAnswer) {
        answer.too_long = true;
        return 0;  // the transfer fails with a write error
    }
    answer.text.append(data, size * count);
    return size * count;
}

bool loopback_host(std::string host) {
    if (!host.empty() && host.front() == '[') host = host.substr(1, host.size() - 2);
    if (host == "localhost" || host == "::1") return true;
    unsigned a = 0, b = 0, c = 0, d = 0;
    char tail = 0;
    return std::sscanf(host.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) == 4 && a == 127 && b < 256 &&
           c < 256 && d < 256;
}

// The seconds a token lives, from "expires_in" (a number, or a number as
// text as some providers send it); an hour when it is missing.
long long lifetime(const nlohmann::json& answer) {
    const auto it = answer.find("expires_in");
    if (it == answer.end()) return 3600;
    if (it->is_number()) return it->get<long long>();
    if (it->is_string()) {
        try {
            return std::stoll(it->get<std::string>());
        } catch (const std::exception&) {
        }
    }
    return 3600;
}

std::string text_field(const nlohmann::json& answer, const char* key) {
    const auto it = answer.find(key);
    return it != answer.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::string url_refusal(const std::string& url) {
    curl_init();
    std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return "token_url \"" + url + "\" is no URL";
    CurlText scheme, host;
    if (curl_url_get(u.get(), CURLUPART_SCHEME, &scheme.text, 0) != CURLUE_OK ||
        curl_url_get(u.get(), CURLUPART_HOST, &host.text, 0) != CURLUE_OK)
        return "token_url \"" + url + "\" is no URL";
    const std::string s = scheme.text;
    if (s == "https") return {};
    if (s == "http" && loopback_host(host.text)) return {};
    return "token_url \"" + url + "\" is not HTTPS: tokens travel over HTTPS only (plain HTTP to this machine alone)";
}

std::string read_secret_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        throw TokenError(TokenError::Kind::settings,
                         "cannot read the secret file " + path + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw TokenError(TokenError::Kind::settings, "the secret file " + path + " is not a regular file");
    if (st.st_uid != ::geteuid())
        throw TokenError(TokenError::Kind::settings,
                         "the secret file " + path +
                             " belongs to another user: refused (it must be the agent's own, mode 0600)");
    if (st.st_mode & 077)
        throw TokenError(TokenError::Kind::settings,
                         "the secret file " + path + " can be read by others: refused (chmod 600 " + path + ")");
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            throw TokenError(TokenError::Kind::settings,
                         "cannot read the secret file " + path + ": " + std::strerror(errno));
        if (n == 0 || bytes.size() > 65536) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return trim(bytes.substr(0, bytes.find('\n')));
}

std::string Tokens::access_token(const Config& config, bool fresh) {
    std::lock_guard lock(mutex_);
    State::Entry& entry = state_->entries[State::key(config)];
    if (!fresh && !entry.access_token.empty() && Clock::now() < entry.renew_at) return entry.access_token;
    entry.access_token.clear();

    if (const std::string why = url_refusal(config.token_url); !why.empty())
        throw TokenError(TokenError::Kind::settings, why);
    const std::string client_secret =
        config.client_secret_file.empty() ? config.client_secret : read_secret_file(config.client_secret_file);
    std::string refresh = config.refresh_token_file.empty() ? config.refresh_token
                                                            : read_secret_file(config.refresh_token_file);
    // A rotated refresh token that could not go to its file (or has none) is kept here.
    if (!entry.rotated_refresh.empty()) refresh = entry.rotated_refresh;
    for (const auto& s : {client_secret, refresh})
        if (!s.empty()) entry.seen.push_back(s);

    curl_init();
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) throw TokenError(TokenError::Kind::unreachable, "libcurl cannot be started");
    CURL* c = curl.get();
    std::string body = refresh.empty() ? "grant_type=client_credentials"
                                       : "grant_type=refresh_token&refresh_token=" + escaped(c, refresh);
    if (!config.client_id.empty()) body += "&client_id=" + escaped(c, config.client_id);
    if (!client_secret.empty()) body += "&client_secret=" + escaped(c, client_secret);
    if (!config.scope.empty()) body += "&scope=" + escaped(c, config.scope);

    Answer answer_text;
    char error[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(c, CURLOPT_URL, config.token_url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);  // a redirect could take the secrets elsewhere
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");  // no proxy from the environment sees the secrets
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeout_));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(timeout_));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer_text);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "velarion");
    // The extra CA as the CA file; the system's stay trusted through the
    // hashed folder, which the library reads besides it.
    if (!config.extra_ca.empty()) {
        curl_easy_setopt(c, CURLOPT_CAINFO, config.extra_ca.c_str());
        curl_easy_setopt(c, CURLOPT_CAPATH, "/etc/ssl/certs");
    }
    const CURLcode rc = curl_easy_perform(c);
    // The body held the secrets: wiped before it goes.
    std::fill(body.begin(), body.end(), '\0');
    const std::vector<std::string> hide = entry.seen;
    if (answer_text.too_long)
        throw TokenError(TokenError::Kind::unreachable, text::hide_secrets("token endpoint " + config.token_url +
                                                                               " answered more than 64 KB", hide));
    if (rc != CURLE_OK) {
        const std::string why = *error ? error : curl_easy_strerror(rc);
        throw TokenError(TokenError::Kind::unreachable,
                         text::hide_secrets("token endpoint " + config.token_url + " unreachable (" + why + ")", hide));
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);

    nlohmann::json answer = nlohmann::json::parse(answer_text.text, nullptr, false);
    if (!answer.is_object()) answer = nlohmann::json::object();
    const std::string where = "token endpoint " + config.token_url;
    if (status >= 500 || status == 429 || status == 408)
        throw TokenError(TokenError::Kind::unreachable, where + " answered HTTP " + std::to_string(status));
    const std::string code = text_field(answer, "error");
    const std::string description = text_field(answer, "error_description");
    const std::string token = text_field(answer, "access_token");
    if (status != 200 || !code.empty() || token.empty()) {
        const std::string detail = text::hide_secrets(
            "HTTP " + std::to_string(status) + (code.empty() ? "" : " " + code) +
                (description.empty() ? "" : ": " + description.substr(0, 300)),
            hide);
        if (code == "invalid_grant") {
            entry.rotated_refresh.clear();  // the file, once renewed, is read again
            throw TokenError(TokenError::Kind::invalid_grant,
                             where + " refused the refresh token (" + detail + "): the refresh token must be renewed");
        }
        throw TokenError(TokenError::Kind::refused, where + " gave no access token (" + detail + ")");
    }
    entry.seen.push_back(token);
    const long long seconds = lifetime(answer);
    // A token short-lived next to the margin is used for half its life.
    const auto keep = seconds > 2 * margin_.count() ? std::chrono::seconds(seconds) - margin_
                                                    : std::chrono::seconds(seconds / 2);
    entry.renew_at = Clock::now() + keep;
    entry.access_token = token;
    // Only the recent ones can still turn up in a text: a long run keeps no more.
    if (entry.seen.size() > 32) entry.seen.erase(entry.seen.begin(), entry.seen.end() - 32);

    const std::string rotated = text_field(answer, "refresh_token");
    if (!rotated.empty() && rotated != refresh) {
        entry.seen.push_back(rotated);
        entry.rotated_refresh = rotated;
        if (!config.refresh_token_file.empty()) {
            // Written back at once, mode 0600: the old one may no longer be
            // valid. Should that fail, the run goes on with the one in memory.
            atomic_file::Replacement file(config.refresh_token_file);
            if (file.ok() && ::fchmod(file.fd(), 0600) == 0 && file.write(rotated + "\n") && file.commit())
                entry.rotated_refresh.clear();
        }
    }
    return token;
}

}  // namespace velarion::oauth
