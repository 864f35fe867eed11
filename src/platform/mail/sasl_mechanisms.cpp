#include "platform/mail/sasl_mechanisms.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vmime/security/sasl/SASLContext.hpp>
#include <vmime/security/sasl/SASLMechanismFactory.hpp>
#include <vmime/security/sasl/SASLSession.hpp>
#include <vmime/security/sasl/XOAuth2SASLMechanism.hpp>

namespace velarion::mail::detail {
namespace {

using vmime::byte_t;
using vmime::security::sasl::SASLContext;
using vmime::security::sasl::SASLSession;

constexpr const char* kXoauth2 = "XOAUTH2";
constexpr const char* kOauthBearer = "OAUTHBEARER";

// Hands bytes to the library, which frees them with delete[].
void give(const std::string& bytes, byte_t** out, std::size_t* out_len) {
    auto buffer = std::make_unique<byte_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer.get());
    *out = buffer.release();
    *out_len = bytes.size();
}

// OAUTHBEARER (RFC 7628): the user name in a GS2 header and the token in
// one client message. A server that refuses the token sends its reasons
// (a JSON text) as a challenge; the client answers it with a lone ^A and
// the server then ends the exchange with its failure.
class OAuthBearer final : public vmime::security::sasl::SASLMechanism {
public:
    OAuthBearer(vmime::shared_ptr<SASLContext>, const vmime::string&) {}

    const vmime::string getName() const override { return kOauthBearer; }
    bool isComplete() const override { return complete_; }
    bool hasInitialResponse() const override { return true; }

    bool step(vmime::shared_ptr<SASLSession> session, const byte_t*, const std::size_t, byte_t** response,
              std::size_t* response_len) override {
        if (sent_) {
            give("\x01", response, response_len);
        } else {
            const auto auth = session->getAuthenticator();
            give("n,a=" + gs2_name(auth->getUsername()) + ",\x01" "auth=Bearer " + auth->getAccessToken() + "\x01\x01",
                 response, response_len);
            sent_ = true;
        }
        complete_ = true;
        return true;
    }

    // No security layer: the data passes as it is.
    void encode(vmime::shared_ptr<SASLSession>, const byte_t* input, const std::size_t len, byte_t** output,
                std::size_t* output_len) override {
        give(std::string(reinterpret_cast<const char*>(input), len), output, output_len);
    }
    void decode(vmime::shared_ptr<SASLSession>, const byte_t* input, const std::size_t len, byte_t** output,
                std::size_t* output_len) override {
        give(std::string(reinterpret_cast<const char*>(input), len), output, output_len);
    }

private:
    // The GS2 header writes "," and "=" of the name as "=2C" and "=3D".
    static std::string gs2_name(const std::string& user) {
        std::string out;
        for (const char c : user) out += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
        return out;
    }

    bool sent_ = false;
    bool complete_ = false;
};

}  // namespace

void register_token_mechanisms() {
    static const bool registered = [] {
        // The library carries XOAUTH2, but its factory, as packaged, offers
        // only what GNU SASL knows (LOGIN, PLAIN, ...).
        auto* factory = vmime::security::sasl::SASLMechanismFactory::getInstance();
        if (!factory->isMechanismSupported(kXoauth2))
            factory->registerMechanism<vmime::security::sasl::XOAuth2SASLMechanism>(kXoauth2);
        if (!factory->isMechanismSupported(kOauthBearer)) factory->registerMechanism<OAuthBearer>(kOauthBearer);
        return true;
    }();
    (void)registered;
}

bool is_token_mechanism(const std::string& name) { return name == kXoauth2 || name == kOauthBearer; }

vmime::shared_ptr<vmime::security::sasl::SASLMechanism> token_mechanism(const Mechanisms& offered) {
    for (const char* wanted : {kXoauth2, kOauthBearer})
        for (const auto& m : offered)
            if (m && m->getName() == wanted) return m;
    return nullptr;
}

}  // namespace velarion::mail::detail

// The library asks GNU SASL which of the server's mechanisms to use before
// it asks the authenticator, and gives up ("Unable to suggest SASL
// mechanism") when GNU SASL suggests none: GNU SASL knows neither XOAUTH2
// nor OAUTHBEARER, so a server that offers only those could never be signed
// on to. This definition stands in for GNU SASL's in the whole program (the
// program's own symbol wins over a library's): GNU SASL is asked first, and
// when it knows none of the offered mechanisms, the first token mechanism
// among them is suggested. The authenticator then decides what is tried (a
// password never goes through a token mechanism).
struct Gsasl;
extern "C" __attribute__((visibility("default"))) const char* gsasl_client_suggest_mechanism(Gsasl* ctx,
                                                                                             const char* mechlist) {
    using Suggest = const char* (*)(Gsasl*, const char*);
    static const auto gnu = reinterpret_cast<Suggest>(dlsym(RTLD_NEXT, "gsasl_client_suggest_mechanism"));
    if (gnu)
        if (const char* suggested = gnu(ctx, mechlist)) return suggested;
    if (!mechlist) return nullptr;
    // The offered names, separated by blanks.
    for (const char* wanted : {"XOAUTH2", "OAUTHBEARER"}) {
        const std::size_t n = std::strlen(wanted);
        for (const char* at = std::strstr(mechlist, wanted); at; at = std::strstr(at + 1, wanted)) {
            const bool starts = at == mechlist || at[-1] == ' ';
            const bool ends = at[n] == '\0' || at[n] == ' ';
            if (starts && ends) return wanted;
        }
    }
    return nullptr;
}
