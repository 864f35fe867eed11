#include "spool/unsent.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <utility>

#include "common/runtime.h"
#include "platform/os/atomic_file.h"
#include "platform/os/file_moves.h"
#include "platform/os/paths.h"
#include "platform/os/safe_path.h"
#include "spool/message_rules.h"
#include "spool/spool_files.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
constexpr const char* kPartial = ".parziale.";

// The names in the work directory that belong to the message.
std::vector<std::string> message_files(const std::string& base,
                                       const std::vector<std::string>& attachment_names) {
    std::vector<std::string> names = {base + ".h", base + ".b", base + ".pdf", base + ".zip"};
    for (int i = 0; i <= 9; ++i) names.push_back(base + "." + std::to_string(i));
    for (const auto& a : attachment_names) {
        if (!is_safe_file_name(a)) continue;
        names.push_back(a);
        if (is_print_file(a)) {
            const std::string stem = a.substr(0, a.size() - 4);
            names.push_back(stem + ".pdf");
            names.push_back(stem + ".zip");
        }
    }
    return names;
}

// A folder of its own for the message, even when one of the same second exists.
std::string new_folder(const std::string& stem) {
    std::error_code ec;
    std::string folder = stem + "/";
    for (int n = 2; fs::exists(folder, ec); ++n) folder = stem + "_" + std::to_string(n) + "/";
    return folder;
}

bool is_trigger_name(const std::string& name) {
    return name.size() > 2 && name[name.size() - 2] == '.' && (name.back() == 'T' || name.back() == 't');
}

bool readable(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char c;
    return in && (in.read(&c, 1) || in.eof());
}

std::string one_line(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return s;
}

// The half-made folder and what it took from the spool; undone unless completed.
struct Building {
    std::string dir;
    std::vector<std::pair<std::string, std::string>> moved;  // from the spool, to the folder
    bool done = false;

    ~Building() {
        if (done || dir.empty()) return;
        for (const auto& [from, to] : moved) {
            std::error_code ec;
            fs::rename(to, from, ec);
        }
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

// Keeps one spool file in `to`: a copy synced to disk, or, for a file that
// cannot be read, a move on the same file system. False only when the
// folder could not be written; `kept` says whether the file is there.
bool keep_one(Runtime& rt, Building& b, const std::string& from, const std::string& to, bool may_move,
              bool& kept) {
    kept = false;
    std::string why;
    // A link could lead anywhere, a FIFO would wait for a writer: neither is read, nor kept.
    if (const std::string kind = refused_kind(from); !kind.empty()) {
        why = kind;
    } else if (atomic_file::copy(from, to)) {
        kept = true;
        return true;
    } else if (std::error_code ec; !fs::exists(from, ec)) {
        why = "file non trovato";
    } else if (readable(from)) {
        return false;  // the source reads: the parked folder is what cannot be written
    } else {
        why = "file non leggibile";
        if (may_move) {
            fs::rename(from, to, ec);
            if (!ec) {
                b.moved.emplace_back(from, to);
                kept = true;
                return true;
            }
            why = ec.message();
        }
    }
    rt.list.add(" Impossibile conservare il file " + from + " in " + paths::folder(to) + " " + why);
    return true;
}

// Fills the folder; false, with the reason, at the first thing it cannot write.
bool fill(Runtime& rt, const ParkRequest& r, Building& b, Parked& out) {
    const std::string& dir = b.dir;
    // Made below the work directory without following a link on the way.
    if (!safe_path::open_folder_below(dir + "originale/", {r.work}, true).valid()) {
        out.why = "Path/File access error " + dir;
        return false;
    }
    std::set<std::string> copied;
    // A name that is no plain name made no work files.
    const bool plain = odd_message_name(r.base).empty();
    for (const auto& name : plain ? message_files(r.base, r.attachment_names) : std::vector<std::string>{}) {
        const std::string found = paths::resolve(r.work + name);
        if (found.empty() || !is_file(found) || is_link(found)) continue;
        const std::string actual = paths::file_name(found);
        if (!copied.insert(actual).second) continue;
        if (!safe_path::copy_below(found, dir + actual, {r.work})) {
            out.why = "Path/File access error " + dir + actual;
            return false;
        }
    }
    const std::string originals = dir + "originale/";
    // Kept under plain names: a backslash would read as a folder.
    const auto kept_name = [](const std::string& path) { return plain_name(path.substr(path.rfind('/') + 1)); };
    bool kept = false;
    if (const std::string kind = refused_kind(r.trigger_path); !kind.empty()) {
        // A trigger that is no plain file is not read: an empty one stands for
        // it (a trigger holds nothing but its TIMING: line), so that the
        // message can be handed back once its files are plain.
        rt.list.add(" Impossibile conservare il file " + r.trigger_path + " in " + originals + " " + kind +
                    ": conservato vuoto");
        kept = atomic_file::write(originals + plain_name(r.trigger_name), "");
        if (!kept) {
            out.why = "Path/File access error " + originals + r.trigger_name;
            return false;
        }
    } else if (!keep_one(rt, b, r.trigger_path, originals + plain_name(r.trigger_name), false, kept) || !kept) {
        out.why = "Path/File access error " + originals + r.trigger_name;
        return false;
    }
    for (const auto& path : r.spool_files) {
        if (!keep_one(rt, b, path, originals + kept_name(path), true, kept)) {
            out.why = "Path/File access error " + originals + kept_name(path);
            return false;
        }
        if (kept) out.spool_files.push_back(path);
    }
    const std::string motivo = "spool=" + r.spool_dir + "\nmotivo=" + one_line(r.reason) + "\n" +
                               (r.maybe_delivered ? std::string(kMaybeDeliveredLine) + "\n" : "") +
                               "agente=" + r.agent + "\n";
    if (!atomic_file::write(dir + "motivo.txt", motivo) || !file_moves::sync_folder(originals) ||
        !file_moves::sync_folder(dir)) {
        out.why = "Path/File access error " + dir + "motivo.txt";
        return false;
    }
    return true;
}
}  // namespace

Parked park_copy(Runtime& rt, const ParkRequest& r) {
    Parked out;
    const std::string unsent = r.work + "non_inviati/";
    // A name that is no plain name gets a folder with a plain one.
    const std::string folder = new_folder(unsent + plain_name(r.base) + "_" + stamp_seconds(rt.clock.now()));
    const std::string name = paths::file_name(folder.substr(0, folder.size() - 1));
    Building b;
    b.dir = unsent + kPartial + r.agent + "." + name + "/";
    std::error_code ec;
    fs::remove_all(b.dir, ec);
    if (fill(rt, r, b, out)) {
        fs::rename(b.dir, folder, ec);
        if (!ec && file_moves::sync_folder(unsent)) {
            b.done = true;
            out.complete = true;
            out.folder = folder;
            rt.list.add(" Messaggio non inviato conservato in " + folder);
        } else {
            out.why = ec ? ec.message() : "Path/File access error " + unsent;
        }
    }
    if (!out.complete) {
        out.spool_files.clear();
        rt.list.add(" Impossibile conservare il messaggio non inviato in " + folder + " " + out.why);
    }
    rt.list.refresh();
    return out;
}

std::string parked_by(const std::string& work, const std::string& base, const std::string& agent) {
    const std::string unsent = work + "non_inviati/";
    std::error_code ec;
    for (fs::directory_iterator it(unsent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(base + "_", 0) != 0) continue;
        std::ifstream in(it->path() / "motivo.txt", std::ios::binary);
        for (std::string line; std::getline(in, line);)
            if (line == "agente=" + agent) return unsent + name + "/";
    }
    return "";
}

void remove_partial_parkings(Runtime& rt, const std::string& work, const std::string& spool_dir,
                             const std::function<bool(const std::string& agent)>& gone) {
    const std::string unsent = work + "non_inviati/";
    const std::string prefix = kPartial;
    std::vector<fs::path> old;
    std::error_code ec;
    for (fs::directory_iterator it(unsent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string rest = name.substr(prefix.size());
        // The agent's name has no dots ("<host>-<pid>-<hex>"); the message's folder follows.
        const auto dot = rest.find('.');
        if (dot == std::string::npos || !gone(rest.substr(0, dot))) continue;
        old.push_back(it->path());
    }
    for (const auto& p : old) {
        // Copies of files still in the spool stay copies; the trigger, which
        // waits in the queue, is never put back; nor is a half-written temporary.
        std::error_code it_ec;
        for (fs::directory_iterator it(p / "originale", it_ec), end; !it_ec && it != end; it.increment(it_ec)) {
            const std::string name = it->path().filename().string();
            std::error_code ec;
            if (name.empty() || name[0] == '.' || !it->is_regular_file(ec) || is_trigger_name(name) ||
                fs::exists(spool_dir + name, ec))
                continue;
            fs::rename(it->path(), spool_dir + name, ec);
        }
        std::error_code rm;
        fs::remove_all(p, rm);
        rt.list.add(" Rimossa la copia incompleta di un messaggio non inviato " + p.string() +
                    ": il messaggio e' rimasto nella spool");
    }
}

}  // namespace velarion::spool
