#include "spool/resend.h"

#include <filesystem>
#include <vector>

#include "platform/os/atomic_file.h"
#include "platform/os/clock.h"
#include "platform/os/text_encoding.h"
#include "spool/sent_record.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {

// The spool moves attachment contents ".0" to ".7".
constexpr std::size_t kMaxDocuments = 8;

bool taken(const std::string& spool, const std::string& work, const std::string& base) {
    std::error_code ec;
    for (const char* ext : {".T", ".h", ".b", ".0"})
        if (fs::exists(spool + base + ext, ec) || fs::exists(spool + "coda/" + base + ext, ec)) return true;
    return !replaced_by_resend(work, base).empty();
}

// The subject line as the header has it: the one sent without its "RIF:<ref> - ".
std::string subject_line(const SentMessage& m) {
    const std::string prefix = "RIF:" + m.reference + " - ";
    return m.subject.rfind(prefix, 0) == 0 ? m.subject.substr(prefix.size()) : m.subject;
}

}  // namespace

ResendResult resend(const std::string& spool, const std::string& work, int since, const std::string& base,
                    const std::string& to) {
    ResendResult r;
    const std::string addresses = text::trim(to);
    if (addresses.find('@') == std::string::npos) {
        r.text = "nessun indirizzo valido in --to";
        return r;
    }
    const SentMessage* found = nullptr;
    const auto sent = read_sent(work, since);
    for (const auto& m : sent)
        if (m.base == base) found = &m;  // the last sending of it
    if (!found) {
        r.text = "nessun messaggio inviato con questo nome";
        return r;
    }
    // Its documents were kept on the day it was sent.
    const DateTime t = from_seconds(found->time);
    const int day = t.year * 10000 + t.month * 100 + t.day;
    const std::string envelope = found->envelope_id.empty() ? found->base : found->envelope_id;
    if (found->documents.size() > kMaxDocuments) {
        r.text = "troppi documenti per un messaggio di spool (" + std::to_string(found->documents.size()) + ")";
        return r;
    }
    std::vector<std::string> kept;
    for (const auto& d : found->documents) {
        kept.push_back(kept_document(work, day, envelope, d));
        if (kept.back().empty()) {
            r.text = "documento non piu' conservato: " + document_path(work, day, envelope, d);
            return r;
        }
    }
    int n = 1;
    while (taken(spool, work, base + "R" + std::to_string(n))) ++n;
    r.base = base + "R" + std::to_string(n);
    std::string header = found->reference + "\r\n\r\n" + found->sender + "\r\n" + addresses + "\r\n" +
                         subject_line(*found) + "\r\n.\r\nSEND\r\n";
    for (const auto& d : found->documents) header += d + "\r\n";
    const std::string target = spool + r.base;
    bool ok = note_resend(work, r.base, base);
    for (std::size_t i = 0; ok && i < found->documents.size(); ++i)
        ok = atomic_file::copy(kept[i], target + "." + std::to_string(i));
    ok = ok && atomic_file::write(target + ".b", kept_body(work, day, envelope));
    ok = ok && atomic_file::write(target + ".h", header);
    // The trigger last: the agents take the message only once it is whole.
    ok = ok && atomic_file::write(target + ".T", "");
    if (!ok) {
        r.text = "impossibile scrivere il messaggio " + r.base + " in " + spool;
        return r;
    }
    r.ok = true;
    r.text = "riscritto come " + r.base + " per " + addresses + " (sostituisce " + base + ")";
    return r;
}

}  // namespace velarion::spool
