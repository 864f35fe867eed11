// SASL with OAuth 2.0 access tokens: the OAUTHBEARER mechanism (RFC 7628),
// which the mail library lacks, beside the library's own XOAUTH2; their
// registration with the library; and the choice among the mechanisms a
// server offers. Internal to platform/mail.
#pragma once

#include <string>
#include <vector>
#include <vmime/security/sasl/SASLMechanism.hpp>

namespace velarion::mail::detail {

using Mechanisms = std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>>;

// Makes XOAUTH2 and OAUTHBEARER known to the library's mechanism factory,
// once per run, and lets a server that offers nothing else be signed on to.
void register_token_mechanisms();

// Whether a mechanism signs on with an access token (XOAUTH2, OAUTHBEARER).
bool is_token_mechanism(const std::string& name);

// The mechanism an access token signs on with among those the server
// offers: XOAUTH2 when it is offered, else OAUTHBEARER; nullptr when neither.
vmime::shared_ptr<vmime::security::sasl::SASLMechanism> token_mechanism(const Mechanisms& offered);

}  // namespace velarion::mail::detail
