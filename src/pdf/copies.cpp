#include "pdf/copies.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "common/runtime.h"
#include "pdf/layout_state.h"
#include "platform/os/paths.h"
#include "platform/os/safe_path.h"

namespace velarion {

namespace fs = std::filesystem;

namespace {

// A copy that failed is kept in the work directory's "non_copiati"
// folder, in a dated sub-folder, with a text file that says how to finish it.
// Both are written below the work directory without following a link.
void keep_not_copied(Runtime& rt, const std::string& output, const std::string& target) {
    const DateTime t = rt.clock.now();
    char dated[32];
    std::snprintf(dated, sizeof dated, "%04d/%02d%02d/", t.year, t.month, t.day);
    const std::vector<std::string> work = {rt.cfg.work_dir};
    const std::string dir = rt.cfg.work_dir + "non_copiati/" + dated;
    const std::string name = paths::file_name(output);
    const std::string kept = dir + name;
    const bool saved = safe_path::copy_below(output, kept, work, true);
    const std::string stem = fs::path(name).stem().string();
    safe_path::write_below(dir + stem + ".txt",
                           "CreaPdf Non Copiato " + output + " in " + target + "\r\n" + "mkdir " +
                               paths::folder(target) + "\r\n" + "move " + kept + " " + target + "\r\n",
                           work, true);
    rt.list.add(" CreaPdf Non Copiato " + output + " in " + target +
                 (saved ? " copia in " + kept : " copia non riuscita in " + kept));
}

// True when a file other than a PDF is at the target: a file the agent or a
// style reads (an overlay, an image, a font), never replaced by a copy.
bool over_other_file(const std::string& target) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(target, ec))) return false;
    const safe_path::Fd fd = safe_path::open_nofollow(target);
    char head[5] = {};
    return !fd.valid() || ::pread(fd.get(), head, sizeof head, 0) != 5 || std::string(head, 5) != "%PDF-";
}

// True when the target is an absolute path below the copy folders (roots),
// not below a folder the agent reads its own files from, and not over a file
// that is no PDF; else the activity line that says so.
bool allowed_target(Runtime& rt, const std::string& target, const std::vector<std::string>& roots) {
    const bool absolute = !target.empty() && target[0] == '/' && !target.starts_with("//");
    if (absolute && safe_path::is_below(target, roots) && !safe_path::is_below(target, rt.cfg.no_copy_roots) &&
        !over_other_file(target))
        return true;
    rt.list.add(" Destinazione di copia non ammessa " + target);
    return false;
}


}  // namespace

bool Creadir(const Runtime& rt, const std::string& path) { return Creadir(rt, path, rt.cfg.copy_roots); }

bool Creadir(const Runtime& /*rt*/, const std::string& path, const std::vector<std::string>& roots) {
    const std::string native = paths::native(path);
    // A relative folder would be made below whatever the current folder is,
    // and a Windows drive ("C:") names none here.
    if (native.empty() || native[0] != '/') return false;
    // Nor does a network share ("\\server\share"): its server is no folder of the root.
    if (native.starts_with("//")) return false;
    // Folders are made below the copy folders only, never through a link.
    return safe_path::open_folder_below(native, roots, true).valid();
}

void copy_pdf(Runtime& rt, const LayoutState& layout, const std::string& output) {
    const std::string name = paths::file_name(output);
    // The print file's own target: an absolute path below the copy folders.
    const std::string lsfilecrea = layout.compose.lsfilecrea;
    if (!lsfilecrea.empty()) {
        rt.list.add(" Chiamo Creadir con lsfilecrea = " + lsfilecrea);
        std::string target = paths::native(lsfilecrea);
        if (paths::ends_with_separator(target)) target += name;
        bool ok = allowed_target(rt, target, rt.cfg.copy_roots) && Creadir(rt, paths::folder(target));
        if (ok) {
            rt.list.add(" Uscito creadir in maniera corretta Procedo alla copia");
            // A temporary in the target's folder renamed over it: a link
            // there is replaced, never written through.
            ok = safe_path::copy_below(output, target, rt.cfg.copy_roots);
        }
        if (ok)
            rt.list.add(" CreaPdf sPLIT Copiato " + output + " in " + target);
        else
            keep_not_copied(rt, output, target);
    }
    // The style's copy directory: the installation's own choice when the
    // style file lies outside the spool; a style in the spool is spool input,
    // held to the copy folders as "CREAFILE:" is.
    const std::string dircopy = layout.style.dircopy;
    if (!dircopy.empty()) {
        const std::string folder = paths::native(paths::with_separator(dircopy));
        const std::string target = folder + name;
        std::vector<std::string> roots = rt.cfg.copy_roots;
        if (!rt.cfg.styles_in_spool() && !folder.empty() && folder[0] == '/') roots.push_back(folder);
        if (allowed_target(rt, target, roots) && safe_path::copy_below(output, target, roots))
            rt.list.add(" CreaPdf Copiato " + output + " in " + target);
        else
            keep_not_copied(rt, output, target);
    }
}

}  // namespace velarion
