// The run's token object: made, ended and asked for its secrets without the
// HTTP library, which only the fetching in oauth_token.cpp needs.
#include <memory>
#include <mutex>

#include "platform/mail/oauth_token.h"
#include "platform/mail/oauth_token_state.h"

namespace velarion::oauth {

Tokens::Tokens(std::chrono::seconds margin, int timeout)
    : margin_(margin), timeout_(timeout), state_(std::make_unique<State>()) {}

Tokens::~Tokens() = default;

std::vector<std::string> Tokens::secrets(const Config& config) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out{config.client_secret, config.refresh_token};
    const auto it = state_->entries.find(State::key(config));
    if (it != state_->entries.end()) out.insert(out.end(), it->second.seen.begin(), it->second.seen.end());
    return out;
}

}  // namespace velarion::oauth
