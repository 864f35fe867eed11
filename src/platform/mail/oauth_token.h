// OAuth 2.0 access tokens for signing on to mail servers with XOAUTH2: fetched
// from the provider's token endpoint (refresh-token grant, else client
// credentials), kept in memory until shortly before they expire. A refresh
// token the provider rotates is written back to its file.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace velarion::oauth {

// Section "OAUTH2" of velarion.ini. A secret may be given in a file of its
// own, readable by the agent's user alone; the file wins over the key.
struct Config {
    std::string token_url;
    std::string client_id;
    std::string client_secret;
    std::string client_secret_file;
    std::string refresh_token;
    std::string refresh_token_file;
    std::string scope;
    std::string extra_ca;  // a CA file trusted besides the system's (section "TLS", "ca_extra")

    bool enabled() const { return !token_url.empty(); }
    bool operator==(const Config&) const = default;
};

// Why no access token could be had.
class TokenError : public std::runtime_error {
public:
    enum class Kind {
        unreachable,    // the endpoint cannot be reached or answers with a server error: try again later
        invalid_grant,  // the refresh token is revoked or expired: it must be renewed
        refused,        // the endpoint refused the client (invalid_client, ...)
        settings,       // the settings are unusable (a secret file others can read, a URL that is not HTTPS)
    };
    TokenError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// The tokens of the run: one object, owned by start-up for the whole run.
// Thread-safe.
class Tokens {
public:
    // margin: a token is fetched again when it has less than this left.
    // timeout: seconds a request to the endpoint may take.
    explicit Tokens(std::chrono::seconds margin = std::chrono::seconds(60), int timeout = 30);
    ~Tokens();
    Tokens(const Tokens&) = delete;
    Tokens& operator=(const Tokens&) = delete;

    // An access token for the settings: the one kept, unless `fresh` is asked
    // (the server refused it) or it expires within the margin. Throws TokenError.
    std::string access_token(const Config& config, bool fresh = false);

    // Every secret known for the settings (client secret, refresh tokens,
    // access tokens fetched in this run), to be hidden from texts.
    std::vector<std::string> secrets(const Config& config) const;

    struct State;

private:
    std::chrono::seconds margin_;
    int timeout_;
    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;
};

// What a mail service signs on with: the settings and the run's tokens.
// Enabled when a token URL is set.
struct SignOn {
    Config config;
    Tokens* tokens = nullptr;

    bool enabled() const { return tokens && config.enabled(); }
    bool operator==(const SignOn&) const = default;
};

// Whether the token URL may be used: HTTPS, or plain HTTP to a loopback
// address (127.0.0.0/8, ::1, localhost). Empty when it may, else why not.
std::string url_refusal(const std::string& url);

// Reads a secret file: it must be a regular file of the agent's user that
// neither group nor others can read. Throws TokenError (settings). The
// secret is the file's first line, trimmed.
std::string read_secret_file(const std::string& path);

}  // namespace velarion::oauth
