#include "delivery/address_split.h"

#include "platform/mail/mail.h"

namespace velarion {

namespace {

void store_part(Destinatari& arr, int& count, std::string& part) {
    ++count;
    if (count >= static_cast<int>(arr.size()))
        throw NumberedError(9, "Indice non compreso nell'intervallo");
    arr[count] = part;
    part.clear();
}

}  // namespace

void DividiIndirizzi(Destinatari& arrDestinatari, const std::string& text, char separator) {
    // Empty entries 1 to 15.
    for (std::size_t i = 1; i < arrDestinatari.size(); ++i) arrDestinatari[i].clear();
    std::string part;
    int count = 0;
    // Walk the text; each separator closes a part.
    for (char c : text) {
        if (c == separator)
            store_part(arrDestinatari, count, part);
        else
            part += c;
    }
    // The last part, when not empty.
    if (!part.empty()) store_part(arrDestinatari, count, part);
}

void add_recipients(mail::Message& msg, const std::string& list, mail::RecipType type) {
    if (list.empty()) return;
    Destinatari arrDestinatari;
    DividiIndirizzi(arrDestinatari, list, ';');
    for (std::size_t i = 1; i < arrDestinatari.size(); ++i)
        if (!arrDestinatari[i].empty()) msg.recipients.push_back({type, arrDestinatari[i]});
}

}  // namespace velarion
