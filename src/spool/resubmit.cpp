#include "spool/resubmit.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "platform/os/atomic_file.h"
#include "platform/os/file_moves.h"
#include "platform/os/paths.h"
#include "platform/os/text_encoding.h"
#include "spool/queue_folder.h"
#include "spool/unsent.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {

struct Motivo {
    std::string spool;             // the spool folder named; "" when there is none
    bool maybe_delivered = false;  // it may have reached its server already
};

Motivo motivo_of(const std::string& folder) {
    Motivo m;
    std::ifstream in(folder + "motivo.txt", std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("spool=", 0) == 0) m.spool = paths::with_separator(line.substr(6));
        if (line == kMaybeDeliveredLine) m.maybe_delivered = true;
    }
    return m;
}

bool is_trigger(const std::string& name) {
    const std::string u = text::upper(name);
    return u.size() > 2 && u.compare(u.size() - 2, 2, ".T") == 0;
}

// What of that message the spool holds: a file of its name in the spool
// folder (a processed one, ".FATTO", aside), or its trigger waiting or in
// work in the queue; "" when nothing.
std::string in_spool(const std::string& spool, const std::optional<QueueFolder>& queue, const std::string& trigger) {
    const std::string base = text::upper(trigger.substr(0, trigger.size() - 1));  // "AB.1."
    std::string first;  // the first in name order, so the same one is named each time
    std::error_code ec;
    for (fs::directory_iterator it(spool, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string upper = text::upper(name);
        if (upper.rfind(base, 0) == 0 && !upper.ends_with(".FATTO") && (first.empty() || name < first))
            first = name;
    }
    if (!first.empty()) return first;
    if (!queue) return "";
    for (const auto& e : queue->entries())
        if (e.name == trigger) return "coda/" + QueueFolder::entry(e.name, e.owner);
    return "";
}

Resubmitted hand_back(const std::string& folder, bool force) {
    Resubmitted r;
    r.folder = folder;
    const Motivo motivo = motivo_of(folder);
    const std::string& spool = motivo.spool;
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
    // The queue folder only through its descriptor, and only when it is the agent's own.
    std::optional<QueueFolder> queue;
    try {
        queue = QueueFolder::open(spool, false);
    } catch (const std::exception& e) {
        r.text = e.what();
        return r;
    }
    if (const std::string there = in_spool(spool, queue, trigger); !there.empty()) {
        r.text = "la spool " + spool + " contiene gia' il file " + there + " del messaggio " + trigger;
        return r;
    }
    if (motivo.maybe_delivered && !force) {
        r.text = "il messaggio " + trigger.substr(0, trigger.size() - 2) +
                 " potrebbe essere gia' stato consegnato: per riconsegnarlo comunque usare --resubmit --force";
        return r;
    }
    for (const auto& name : files) {
        if (!atomic_file::copy(originals + name, spool + name)) {
            r.text = "impossibile copiare " + originals + name + " in " + spool;
            return r;
        }
    }
    // A record left from its earlier tries does not follow it.
    if (queue) queue->dir().remove(QueueFolder::record_name(trigger));
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

std::vector<Resubmitted> resubmit(const std::string& given, bool force) {
    const std::string folder = paths::with_separator(paths::native(given));
    std::error_code ec;
    if (given.empty() || !fs::is_directory(folder, ec)) return {{false, given, "la cartella non esiste"}};
    if (fs::exists(folder + "motivo.txt", ec)) return {hand_back(folder, force)};
    // A folder of parked messages: each of them, in name order.
    std::vector<std::string> parked;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        // A hidden folder is one still being made (unsent.h).
        if (it->is_directory() && it->path().filename().string()[0] != '.' && fs::exists(it->path() / "motivo.txt"))
            parked.push_back(it->path().string() + "/");
    std::sort(parked.begin(), parked.end());
    if (parked.empty()) return {{false, folder, "non contiene messaggi non inviati"}};
    std::vector<Resubmitted> out;
    for (const auto& p : parked) out.push_back(hand_back(p, force));
    return out;
}

}  // namespace velarion::spool
