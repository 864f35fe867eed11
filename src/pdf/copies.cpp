#include "pdf/copies.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/runtime.h"
#include "pdf/layout_state.h"
#include "platform/paths.h"

namespace velarion {

namespace fs = std::filesystem;

namespace {

bool copy_to(const std::string& from, const std::string& to) {
    std::error_code ec;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

// 13. A copy that failed is kept in the work directory's "non_copiati"
// folder, in a dated sub-folder, with a text file that says how to finish it.
void keep_not_copied(Runtime& rt, const std::string& output, const std::string& target) {
    const DateTime t = rt.clock.now();
    char dated[32];
    std::snprintf(dated, sizeof dated, "%04d/%02d%02d/", t.year, t.month, t.day);
    const std::string dir = rt.cfg.work_dir + "non_copiati/" + dated;
    std::error_code ec;
    fs::create_directories(dir, ec);
    const std::string name = paths::file_name(output);
    const std::string kept = dir + name;
    const bool saved = copy_to(output, kept);
    const std::string stem = fs::path(name).stem().string();
    std::ofstream note(dir + stem + ".txt", std::ios::binary);
    note << "CreaPdf Non Copiato " << output << " in " << target << "\r\n"
         << "mkdir " << paths::folder(target) << "\r\n"
         << "move " << kept << " " << target << "\r\n";
    rt.list.add(" CreaPdf Non Copiato " + output + " in " + target +
                 (saved ? " copia in " + kept : " copia non riuscita in " + kept));
}

}  // namespace

bool Creadir(const Runtime& rt, const std::string& path) {
    const std::string native = paths::native(path);
    if (native.empty()) return false;
    // A Windows drive ("C:") names no folder here: never create it below the current one.
    if (paths::is_drive_path(native)) return false;
    // Nor does a network share ("\\server\share"): its server is no folder of the root.
    if (native.starts_with("//")) return false;
    std::error_code ec;
    fs::create_directories(native, ec);
    return fs::is_directory(native, ec);
}

void copy_pdf(Runtime& rt, const LayoutState& layout, const std::string& output) {
    const std::string name = paths::file_name(output);
    // 11. The print file's own target.
    const std::string lsfilecrea = layout.compose.lsfilecrea;
    if (!lsfilecrea.empty()) {
        rt.list.add(" Chiamo Creadir con lsfilecrea = " + lsfilecrea);
        std::string target = paths::native(lsfilecrea);
        if (paths::ends_with_separator(target)) target += name;
        bool ok = Creadir(rt, paths::folder(target));
        if (ok) {
            rt.list.add(" Uscito creadir in maniera corretta Procedo alla copia");
            ok = copy_to(output, target);
        }
        if (ok)
            rt.list.add(" CreaPdf sPLIT Copiato " + output + " in " + target);
        else
            keep_not_copied(rt, output, target);
    }
    // 12. The style's copy directory.
    const std::string dircopy = layout.style.dircopy;
    if (!dircopy.empty()) {
        const std::string target = paths::native(paths::with_separator(dircopy)) + name;
        if (copy_to(output, target))
            rt.list.add(" CreaPdf Copiato " + output + " in " + target);
        else
            keep_not_copied(rt, output, target);
    }
}

}  // namespace velarion
