#include "spool/resubmit.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/file_moves.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {

// The spool folder named in motivo.txt; "" when there is none.
std::string spool_of(const std::string& folder) {
    std::ifstream in(folder + "motivo.txt", std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("spool=", 0) == 0) return paths::with_separator(line.substr(6));
    }
    return "";
}

bool is_trigger(const std::string& name) {
    const std::string u = text::upper(name);
    return u.size() > 2 && u.compare(u.size() - 2, 2, ".T") == 0;
}

// True when the spool still holds a message of that trigger, waiting or in work.
bool in_spool(const std::string& spool, const std::string& trigger) {
    std::error_code ec;
    if (fs::exists(spool + trigger, ec)) return true;
    for (fs::directory_iterator it(spool + "coda", ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().rfind(trigger + "@", 0) == 0) return true;
    return false;
}

Resubmitted hand_back(const std::string& folder) {
    Resubmitted r;
    r.folder = folder;
    const std::string spool = spool_of(folder);
    const std::string originals = folder + "originale/";
    std::error_code ec;
    if (spool.empty() || !fs::is_directory(originals, ec)) {
        r.text = "non contiene un messaggio non inviato (motivo.txt, originale/)";
        return r;
    }
    if (!fs::is_directory(spool, ec)) {
        r.text = "la directory di spool " + spool + " non esiste";
        return r;
    }
    std::vector<std::string> files;
    std::string trigger;
    for (fs::directory_iterator it(originals, ec), end; !ec && it != end; it.increment(ec)) {
        // A symbolic link is not handed back: it could lead anywhere.
        std::error_code type_ec;
        if (!fs::is_regular_file(it->symlink_status(type_ec))) continue;
        const std::string name = it->path().filename().string();
        if (is_trigger(name))
            trigger = name;
        else
            files.push_back(name);
    }
    if (trigger.empty()) {
        // The trigger could not be kept: one is made from the header's name.
        const auto h = std::find_if(files.begin(), files.end(), [](const std::string& n) {
            return text::upper(n).size() > 2 && text::upper(n).ends_with(".H");
        });
        if (h == files.end()) {
            r.text = "in " + originals + " manca il file di testata";
            return r;
        }
        trigger = h->substr(0, h->size() - 2) + ".T";
        if (!atomic_file::write(originals + trigger, "")) {
            r.text = "impossibile scrivere " + originals + trigger;
            return r;
        }
    }
    if (in_spool(spool, trigger)) {
        r.text = "la spool " + spool + " contiene gia' il messaggio " + trigger;
        return r;
    }
    for (const auto& name : files) {
        if (!atomic_file::copy(originals + name, spool + name)) {
            r.text = "impossibile copiare " + originals + name + " in " + spool;
            return r;
        }
    }
    // A record left from its earlier tries does not follow it.
    fs::remove(spool + "coda/" + trigger + ".stato", ec);
    // The trigger last: the message is complete when it appears.
    if (!atomic_file::copy(originals + trigger, spool + trigger)) {
        r.text = "impossibile copiare " + originals + trigger + " in " + spool;
        return r;
    }
    file_moves::sync_folder(spool);
    fs::remove_all(folder, ec);
    r.ok = true;
    r.text = "messaggio " + trigger.substr(0, trigger.size() - 2) + " riconsegnato alla spool " + spool +
             (ec ? " (la cartella non e' stata rimossa: " + ec.message() + ")" : "");
    return r;
}

}  // namespace

std::vector<Resubmitted> resubmit(const std::string& given) {
    const std::string folder = paths::with_separator(paths::native(given));
    std::error_code ec;
    if (given.empty() || !fs::is_directory(folder, ec)) return {{false, given, "la cartella non esiste"}};
    if (fs::exists(folder + "motivo.txt", ec)) return {hand_back(folder)};
    // A folder of parked messages: each of them, in name order.
    std::vector<std::string> parked;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory() && fs::exists(it->path() / "motivo.txt")) parked.push_back(it->path().string() + "/");
    std::sort(parked.begin(), parked.end());
    if (parked.empty()) return {{false, folder, "non contiene messaggi non inviati"}};
    std::vector<Resubmitted> out;
    for (const auto& p : parked) out.push_back(hand_back(p));
    return out;
}

}  // namespace velarion::spool
