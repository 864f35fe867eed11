#include "spool/unsent.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "common/runtime.h"
#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/file_moves.h"
#include "platform/paths.h"
#include "platform/safe_path.h"
#include "spool/message_rules.h"
#include "spool/spool_files.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
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

// A copy synced to disk, or, for a file that cannot be read, a move on the same file system.
bool keep_one(const std::string& from, const std::string& to, std::string& why, bool may_move) {
    // A link could lead anywhere, a FIFO would wait for a writer: neither is read, nor kept.
    if (const std::string kind = refused_kind(from); !kind.empty()) {
        why = kind;
        return false;
    }
    if (atomic_file::copy(from, to)) return true;
    std::error_code ec;
    if (!fs::exists(from, ec)) {
        why = "file non trovato";
        return false;
    }
    why = "file non leggibile";
    if (!may_move) return false;
    fs::rename(from, to, ec);
    if (!ec) return true;
    why = ec.message();
    return false;
}
}  // namespace

std::string keep_unsent(Runtime& rt, const std::string& work, const std::string& base,
                        const std::vector<std::string>& attachment_names) {
    // A name that is no plain name made no work files; its folder gets a plain one.
    const bool plain = odd_message_name(base).empty();
    const std::string folder =
        new_folder(work + "non_inviati/" + plain_name(base) + "_" + stamp_seconds(rt.clock.now()));
    std::string kept;
    try {
        // Made below the work directory without following a link on the way.
        if (!safe_path::open_folder_below(folder, {work}, true).valid())
            throw NumberedError(75, "Path/File access error " + folder);
        std::set<std::string> copied;
        for (const auto& name : plain ? message_files(base, attachment_names) : std::vector<std::string>{}) {
            const std::string found = paths::resolve(work + name);
            if (found.empty() || !is_file(found) || is_link(found)) continue;
            const std::string actual = paths::file_name(found);
            if (!copied.insert(actual).second) continue;
            if (!safe_path::copy_below(found, folder + actual, {work}))
                throw NumberedError(75, "Path/File access error " + folder + actual);
        }
        rt.list.add(" Messaggio non inviato conservato in " + folder);
        kept = folder;
    } catch (const std::exception& e) {
        std::error_code ec;
        if (fs::is_directory(folder, ec)) kept = folder;  // the originals can still go there
        rt.list.add(" Impossibile conservare il messaggio non inviato in " + folder + " " +
                     e.what());
    }
    rt.list.refresh();
    return kept;
}

KeptOriginals keep_originals(Runtime& rt, const std::string& folder, const std::string& spool_dir,
                             const std::string& trigger_path, const std::string& trigger_name,
                             const std::vector<std::string>& spool_files, const std::string& reason) {
    KeptOriginals out;
    const std::string dir = folder + "originale/";
    // Made below the message's folder without following a link on the way.
    bool all = safe_path::open_folder_below(dir, {folder}, true).valid();
    std::string why;
    // Kept under plain names: a backslash would read as a folder.
    const auto kept_name = [](const std::string& path) { return plain_name(path.substr(path.rfind('/') + 1)); };
    if (!all || !keep_one(trigger_path, dir + plain_name(trigger_name), why, false)) {
        all = false;
        rt.list.add(" Impossibile conservare il file " + trigger_name + " in " + dir + " " + why);
    }
    for (const auto& path : spool_files) {
        why.clear();
        if (keep_one(path, dir + kept_name(path), why, true)) {
            out.spool_files.push_back(path);
        } else {
            all = false;
            rt.list.add(" Impossibile conservare il file " + path + " in " + dir + " " + why);
        }
    }
    std::string one_line = reason;
    for (char& c : one_line)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    if (!atomic_file::write(folder + "motivo.txt", "spool=" + spool_dir + "\nmotivo=" + one_line + "\n")) all = false;
    file_moves::sync_folder(dir);
    file_moves::sync_folder(folder);
    out.complete = all;
    return out;
}


}  // namespace velarion::spool
