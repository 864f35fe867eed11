// The mail layer's configuration as the transports take it, made from the
// settings loaded from velarion.ini (sections "MAPI", "TLS", "OAUTH2", "CDO").
#pragma once

#include <string>

#include "platform/mail/mail.h"

namespace velarion {

struct Runtime;
struct DeliveryState;
struct DeliveryRequest;

// Store, drafts folder, transport, sender address and TLS rules of the profile.
mail::Profile mail_profile(const Runtime& rt);

// The OAuth 2.0 sign-on of the SMTP and IMAP services: section "OAUTH2" of
// velarion.ini with the run's tokens; enabled when "token_url" is set.
oauth::SignOn oauth_sign_on(const Runtime& rt);

// When credentials may travel without TLS and which CAs are trusted:
// section "TLS" of velarion.ini.
mail::TlsPolicy tls_policy(const Runtime& rt);

// Seconds the SMTP sending component waits for the server: "timeout" of
// section "CDO", a whole number from 1 to 60 (more is taken as 60); 30 when
// it is missing or no such number.
int smtp_timeout(const Runtime& rt);

// Seconds every SMTP path waits for the server's answer to the end of a
// message's data: "smtp_attesa_dati" of section "GLOBAL", a whole number of
// seconds from 1 to 86400; 600 (RFC 5321's ten minutes) when it is missing
// or no such number. Giving up sooner on a server that is still storing the
// message sends it again although it was delivered.
int smtp_data_wait(const Runtime& rt);

// The caption of lblclientMAPI: the one found at start-up, else the name the
// label is filled from (the "client" key of section "MAPI", else the desktop's
// default mail client), looked up once per run and kept in the dispatcher's state.
std::string mail_client_name(const Runtime& rt, DeliveryState& state);

// bClientOutlook: the name says Outlook (not Express) or Exchange.
bool is_client_outlook(const std::string& client_name);

// The fixed recipient for which WriteMail asks no read receipt (trimmed, lower case).
std::string senza_ricevuta(const Runtime& rt);

// The delivery reports asked for a message: its envelope id (the part of its
// Message-ID before "@") and NOTIFY from "notifica" of section "DSN".
mail::Dsn dsn_request(const Runtime& rt, const DeliveryRequest& r);

}  // namespace velarion
