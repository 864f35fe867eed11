#include "spool/prepare.h"

#include <filesystem>

#include "common/runtime.h"
#include "platform/os/paths.h"
#include "spool/spool_files.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
// The file of that name in the work directory, case ignored; "" when none.
std::string in_work(const std::string& work, const std::string& name) {
    if (!is_safe_file_name(name)) return "";
    const std::string found = paths::resolve(work + name);
    return !found.empty() && is_file(found) ? found : "";
}

// Puts the PDF `found` in place of base + ".PDF" and copies it on.
void hand_on_pdf(Runtime& rt, const std::string& work, const std::string& base,
                 const std::string& found, const std::string& dir, const std::string& renamed_line,
                 const std::string& copied_line) {
    const std::string target = work + base + ".PDF";
    const std::string old = in_work(work, base + ".PDF");
    if (!old.empty() && old != found) fs::remove(old);
    if (found != target) fs::rename(found, target);
    rt.list.add(renamed_line);
    if (is_file(target)) {
        copy_file(target, dir + base + ".PDF");
        rt.list.add(copied_line);
    }
}
}  // namespace

const std::string& prepare_dir(const Runtime& rt) { return rt.cfg.prepare_dir; }

void prepare_message(Runtime& rt, const std::string& work, const std::string& base,
                     const std::string& last_line, int& step) {
    // The preparation folder ("PREPARA:"), named in the activity list.
    step = 21;
    const std::string dir = prepare_dir(rt);
    rt.list.add(" Valore dirprepara " + dir);
    // "PREPARA:;" names no folder: never hand the message to the file system's root.
    if (dir == "/") throw NumberedError(76, "Path not found " + dir);
    rt.list.add(" Inizio le copie");
    // Header and body.
    step = 23;
    const std::string header = in_work(work, base + ".H");
    if (header.empty()) throw NumberedError(53, "File not found " + work + base + ".H");
    copy_file(header, dir + base + ".H");
    rt.list.add(" Copia h");
    step = 24;
    const std::string body = in_work(work, base + ".B");
    if (body.empty()) throw NumberedError(53, "File not found " + work + base + ".B");
    copy_file(body, dir + base + ".B");
    rt.list.add(" Copia b");

    // The PDF, or the attachment itself.
    step = 25;
    const std::string& n = last_line;
    const auto dot = n.find('.');
    std::string em_pdf, pdf;
    if (dot != std::string::npos && dot > 0) em_pdf = in_work(work, n.substr(0, dot) + ".PDF");
    if (em_pdf.empty()) pdf = in_work(work, n.substr(0, 6) + ".PDF");
    if (!em_pdf.empty()) {
        rt.list.add(" Esiste il pdf da stampante EM");
        // The EM printer's PDF (the attachment's name before its dot, with ".PDF")
        // handed on under the message's name.
        step = 26;
        hand_on_pdf(rt, work, base, em_pdf, dir, " Rename pdf  EM", "  Copiato pdf EM ");
    } else if (!pdf.empty()) {
        rt.list.add(" Esiste il pdf");
        // The PDF named by the attachment's first six characters
        // handed on under the message's name.
        step = 27;
        hand_on_pdf(rt, work, base, pdf, dir, " Rename pdf ", "  Copiato pdf ");
    } else if (n != ".") {
        const std::string file = in_work(work, n);
        if (!file.empty()) {
            // Any other attachment handed on as the message's ".0".
            step = 28;
            copy_file(file, dir + base + ".0");
            rt.list.add("  Copiato non pdf " + file + "in " + dir + base + ".0");
        }
    }

    // The header again, as the trigger of the next stage.
    step = 29;
    copy_file(header, dir + base + ".T");
    rt.list.add(" Copiato messaggio " + base + " in " + dir);
}

}  // namespace velarion::spool
