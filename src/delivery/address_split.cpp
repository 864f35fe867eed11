#include "delivery/address_split.h"

#include "platform/mail/mail.h"
#include "platform/os/text_list.h"

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

void DividiIndirizzi(Destinatari& arrDestinatari, const std::string& list, char separator) {
    // Entries 1 to 15 emptied, then filled with the parts in order; an empty
    // part keeps its place, a trailing separator adds nothing.
    for (std::size_t i = 1; i < arrDestinatari.size(); ++i) arrDestinatari[i].clear();
    auto parts = text::split(list, separator);
    if (parts.back().empty()) parts.pop_back();
    int count = 0;
    for (auto& part : parts) store_part(arrDestinatari, count, part);
}

void add_recipients(mail::Message& msg, const std::string& list, mail::RecipType type) {
    if (list.empty()) return;
    Destinatari arrDestinatari;
    DividiIndirizzi(arrDestinatari, list, ';');
    for (std::size_t i = 1; i < arrDestinatari.size(); ++i)
        if (!arrDestinatari[i].empty()) msg.recipients.push_back({type, arrDestinatari[i]});
}

}  // namespace velarion
