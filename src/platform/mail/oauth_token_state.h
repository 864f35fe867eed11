// What the run's OAuth token object keeps for each set of settings
// (Tokens::State): shared by the token fetching (oauth_token.cpp) and the
// object's own life and secrets (oauth_tokens.cpp), built apart so that a
// program that never fetches a token (velarion-compose) links no HTTP library.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "platform/mail/oauth_token.h"

namespace velarion::oauth {

struct Tokens::State {
    using Clock = std::chrono::steady_clock;

    // What is kept for one set of settings.
    struct Entry {
        std::string access_token;
        Clock::time_point renew_at{};
        std::string rotated_refresh;  // a refresh token rotated by the provider, when it has no file to go to
        std::vector<std::string> seen;  // every secret met, to hide from texts
    };
    std::map<std::string, Entry> entries;  // by token URL, client and refresh token source

    static std::string key(const Config& c) {
        return c.token_url + '\n' + c.client_id + '\n' + c.refresh_token_file + '\n' + c.refresh_token + '\n' +
               c.scope;
    }
};

}  // namespace velarion::oauth
