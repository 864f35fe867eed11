// The address lists of a delivery request (";"-separated, as message
// processing writes them) split into their entries: DividiIndirizzi into
// arrDestinatari, and a list as recipients of the mail layer.
#pragma once

#include <array>
#include <string>

#include "platform/mail/mail.h"

namespace velarion {

// Entries 1 to 15 hold the parts; entry 0 is unused.
using Destinatari = std::array<std::string, 16>;

// Splits text at the one-character separator into entries 1 to 15 (an empty
// part stays as empty text, a trailing separator adds nothing). A sixteenth
// part raises NumberedError 9 (subscript out of range).
void DividiIndirizzi(Destinatari& arrDestinatari, const std::string& text, char separator);

// Adds the non-empty entries of a ";"-separated list as recipients of one type.
void add_recipients(mail::Message& msg, const std::string& list, mail::RecipType type);

}  // namespace velarion
