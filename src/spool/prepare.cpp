#include "spool/prepare.h"

#include <filesystem>

#include "platform/paths.h"
#include "spool/spool_files.h"
#include "startup/context.h"

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
void hand_on_pdf(Context& ctx, const std::string& work, const std::string& base,
                 const std::string& found, const std::string& dir, const std::string& renamed_line,
                 const std::string& copied_line) {
    const std::string target = work + base + ".PDF";
    const std::string old = in_work(work, base + ".PDF");
    if (!old.empty() && old != found) fs::remove(old);
    if (found != target) fs::rename(found, target);
    ctx.list.add(renamed_line);
    if (is_file(target)) {
        copy_file(target, dir + base + ".PDF");
        ctx.list.add(copied_line);
    }
}
}  // namespace

std::string prepare_dir(Context& ctx) {
    std::string& par = ctx.op.ParGenerali;
    if (par.empty() || par.back() != ';') par += ';';
    const auto start = par.find("PREPARA:") + 8;
    const auto end = par.find(';', start);
    return paths::with_separator(paths::native(par.substr(start, end - start)));
}

void prepare_message(Context& ctx, const std::string& work, const std::string& base,
                     const std::string& last_line, int& step) {
    // 1.
    step = 21;
    const std::string dir = prepare_dir(ctx);
    // 2.
    ctx.list.add(" Valore dirprepara " + dir);
    // "PREPARA:;" names no folder: never hand the message to the file system's root.
    if (dir == "/") throw SpoolError(76, "Path not found " + dir);
    ctx.list.add(" Inizio le copie");
    // 3. Header and body.
    step = 23;
    const std::string header = in_work(work, base + ".H");
    if (header.empty()) throw SpoolError(53, "File not found " + work + base + ".H");
    copy_file(header, dir + base + ".H");
    ctx.list.add(" Copia h");
    step = 24;
    const std::string body = in_work(work, base + ".B");
    if (body.empty()) throw SpoolError(53, "File not found " + work + base + ".B");
    copy_file(body, dir + base + ".B");
    ctx.list.add(" Copia b");

    // 4. The PDF, or the attachment itself.
    step = 25;
    const std::string& n = last_line;
    const auto dot = n.find('.');
    std::string em_pdf, pdf;
    if (dot != std::string::npos && dot > 0) em_pdf = in_work(work, n.substr(0, dot) + ".PDF");
    if (em_pdf.empty()) pdf = in_work(work, n.substr(0, 6) + ".PDF");
    if (!em_pdf.empty()) {
        ctx.list.add(" Esiste il pdf da stampante EM");
        step = 26;
        hand_on_pdf(ctx, work, base, em_pdf, dir, " Rename pdf  EM", "  Copiato pdf EM ");
    } else if (!pdf.empty()) {
        ctx.list.add(" Esiste il pdf");
        step = 27;
        hand_on_pdf(ctx, work, base, pdf, dir, " Rename pdf ", "  Copiato pdf ");
    } else if (n != ".") {
        const std::string file = in_work(work, n);
        if (!file.empty()) {
            step = 28;
            copy_file(file, dir + base + ".0");
            ctx.list.add("  Copiato non pdf " + file + "in " + dir + base + ".0");
        }
    }

    // 5. The header again, as the trigger of the next stage.
    step = 29;
    copy_file(header, dir + base + ".T");
    ctx.list.add(" Copiato messaggio " + base + " in " + dir);
}

}  // namespace velarion::spool
