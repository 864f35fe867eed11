#include "pdf/save_pdf.h"

#include <strings.h>

#include <filesystem>
#include <random>

#include "common/runtime.h"
#include "common/version.h"
#include "common/work_folder.h"
#include "platform/os/atomic_file.h"
#include "platform/os/ini_file.h"
#include "platform/os/paths.h"
#include "platform/pdf/pdf_document.h"
#include "platform/os/process.h"
#include "platform/os/turn_lock.h"

namespace velarion {

namespace fs = std::filesystem;

std::string output_path_for(const std::string& input_path) {
    const std::string name = paths::file_name(input_path);
    if (name.size() > 2 && (name.ends_with(".b") || name.ends_with(".B")))
        return input_path.substr(0, input_path.size() - 2) + ".PDF";
    return input_path.substr(0, input_path.size() >= 4 ? input_path.size() - 4 : 0) + ".pdf";
}

std::string build_keywords(const std::string& print_type, int mono_font, const std::string& input_path) {
    std::string k = std::string(kVersionText) + " Tipostampa " + print_type;
    if (mono_font > 0) k += " Font Quil " + std::to_string(mono_font);
    return k + " Nome file origine: " + input_path;
}

std::string modification_password(const Runtime& rt, const std::string& output_path) {
    std::random_device rd;
    std::uniform_int_distribution<int> digit(0, 9);
    std::string pwd;
    for (int i = 0; i < 6; ++i) pwd.push_back(static_cast<char>('0' + digit(rd)));
    const DateTime t = rt.clock.now();
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", t.year, t.day, t.month);
    pwd += date;
    const std::string name = paths::file_name(output_path);
    for (std::size_t i = 0; i < name.size() && i < 6; i += 2) pwd.push_back(name[i]);
    return pwd;
}

Protection read_protection(const ini::IniContents& style_file, const std::string& path) {
    Protection p;
    const ini::IniSection* section = style_file.section("PDFCRIPT");
    if (!section) return p;
    for (const auto& e : section->entries) {
        if (strcasecmp(e.key.c_str(), "Password") == 0) p.password = e.value;
        if (strcasecmp(e.key.c_str(), "PasswordFISSA") == 0) p.fixed = e.value;
        if (strcasecmp(e.key.c_str(), "Cifratura") == 0) {
            p.aes256 = strcasecmp(e.value.c_str(), "AES256") == 0;
            if (!p.aes256 && !e.value.empty() && strcasecmp(e.value.c_str(), "RC4") != 0)
                p.problems.push_back({path, e.line,
                                      "[PDFCRIPT] " + e.key + ": '" + e.value + "' is not AES256 or RC4 (RC4 is used)"});
        }
    }
    return p;
}

void protect_pdf(Runtime& rt, const std::string& output_path, const Protection& protection) {
    // Protection needs the tool and a password of four characters or a fixed one.
    const std::string tool = rt.cfg.host.program_dir + "encryptpdf";
    std::error_code ec;
    if (!fs::exists(tool, ec)) return;
    if (!protection.wanted()) return;
    const std::string& fixed = protection.fixed;

    // Run the tool into the work file, which has the same name for every
    // agent of the work folder: one agent protects at a time, or one could
    // copy another's protected document over its own.
    rt.list.add(" Imposto pwd modifica ");
    const TurnLock turn(work_folder::intermediates_lock(rt.cfg.work_dir), [&] { rt.view.process_events(); });
    const std::string work = rt.cfg.work_dir + "cripato.pdf";
    fs::remove(work, ec);
    const std::string pwd = fixed.empty() ? modification_password(rt, output_path) : fixed;
    // The password reaches the tool on its standard input ("-w -"): a command
    // line can be read by every user of the machine, and the activity list
    // shows the command.
    const std::string bits = protection.aes256 ? "256" : "40";
    const std::vector<std::string> argv = {tool, "-i", output_path, "-o", work, "-w", "-",
                                           "-e", bits, "-p", "-c"};
    rt.list.add(" Cripto il file  CON IL COMANDO " + tool + " -i " + output_path + " -o " + work +
                " -w - -e " + bits + " -p -c");
    rt.list.add(" Cripto il file  " + output_path);
    process::run_and_wait(argv, pwd + "\n", [&] { rt.view.process_events(); });
    rt.list.add(" Inviato Comando per criptare ");

    // Wait up to 10 seconds for the work file.
    for (int waited = 0; !fs::exists(work, ec) && waited < 10000; waited += 100) {
        rt.view.process_events();
        rt.clock.sleep_ms(100);
    }
    if (!fs::exists(work, ec) || fs::file_size(work, ec) == 0) {
        rt.list.add(" Errore Cripto il file  " + output_path);
        rt.list.add(" Errore Cripto il file  NON TROVATO " + work);
        fs::remove(work, ec);
        return;
    }
    // The protected file replaces the plain one in a single step.
    if (!atomic_file::copy(work, output_path, atomic_file::Sync::work_file)) rt.list.add(" Errore Cripto il file  " + output_path);
    fs::remove(work, ec);
}

}  // namespace velarion
