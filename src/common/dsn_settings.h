// Section "DSN" of velarion.ini: what the agent asks SMTP servers to report
// about each message it sends, where their reports arrive, how long the
// record of sent messages is kept, and the program told of a bounce.
#pragma once

#include <functional>
#include <string>

namespace velarion {

// The keys as written.
struct DsnKeys {
    std::string notifica, casella, giorni, su_rifiuto;
};

struct DsnSettings {
    // NOTIFY of RCPT TO: "NEVER", or SUCCESS, FAILURE, DELAY joined by ",".
    std::string notify = "FAILURE,DELAY";
    std::string mailbox;   // "casella": where reports arrive (imap://, imaps://, or a maildir path); "" for none
    int days = 30;         // "giorni": days the record of sent messages is kept
    std::string on_bounce; // "su_rifiuto": a program run for each bounce ("" for none)
};

// A key's text that cannot be used: key, text, what is done instead.
using DsnProblem = std::function<void(const std::string&, const std::string&, const std::string&)>;

DsnSettings parse_dsn_settings(const DsnKeys& keys, const DsnProblem& problem = {});

}  // namespace velarion
