#include "spool/scan.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "spool/message.h"
#include "spool/spool_files.h"
#include "spool/spool_listing.h"
#include "spool/timing.h"
#include "startup/context.h"

namespace fs = std::filesystem;

namespace velarion {

namespace {

constexpr char kSuffixes[] = "hb01234567";  // the ten suffixes moved, in order
constexpr int kSizeCheckMs = 2000;
constexpr int kSizeCheckSlices = 2;  // the wait lets window events run once a second

// Ends the scan before any work: message box, and the agent is switched off.
void refuse(Context& ctx, const std::string& text) {
    ctx.view.message_box(text);
    if (ctx.switch_off) ctx.switch_off();
}

// The size check's pause: the clock's wait, letting window events run.
void size_check_wait(Context& ctx) {
    for (int i = 0; i < kSizeCheckSlices; ++i) {
        ctx.clock.sleep_ms(kSizeCheckMs / kSizeCheckSlices);
        ctx.view.process_events();
    }
}

// Deletes every file of the work directory except "note.txt"; folders stay.
void clean_work_dir(Context& ctx, const std::string& work) {
    ctx.trace_line(" Pulizia della directory d'appoggio " + work);
    std::vector<fs::path> doomed;
    for (const auto& entry : fs::directory_iterator(work)) {
        std::error_code ec;
        if (entry.is_directory(ec)) continue;
        if (text::lower(entry.path().filename().string()) == "note.txt") continue;
        doomed.push_back(entry.path());
    }
    for (const auto& p : doomed) fs::remove(p);
    ctx.trace_line(" Pulizia terminata, file cancellati " + std::to_string(doomed.size()));
}

// Steps 7.1 to 7.4 for one suffix: copy, dated backup and, for ".0", the size
// check repeated until the spool file, its size a moment later and the work
// copy agree.
void copy_group_file(Context& ctx, const std::string& spool_path, const std::string& work,
                     const std::string& work_name, bool size_check) {
    for (;;) {
        std::uintmax_t initial = 0;
        if (size_check) {
            initial = spool::file_size(spool_path);
            ctx.list.add(" Dimensione iniziale " + spool_path + " " + std::to_string(initial));
        }
        spool::copy_file(spool_path, work + work_name);
        spool::copy_file(work + work_name,
                         work + work_name + "_" + spool::stamp_seconds(ctx.clock.now()));
        if (!size_check) return;

        size_check_wait(ctx);
        const std::uintmax_t control = spool::file_size(spool_path);
        ctx.list.add(" Dimensione di controllo " + spool_path + " " + std::to_string(control));
        const std::uintmax_t copied = spool::file_size(work + work_name);
        if (control == initial && copied == control) return;
        ctx.list.add(
            " Dimensione File allegato differente da file originale di Quil Effettuo nuovamente "
            "la copia");
    }
}

struct Scan {
    Context& ctx;
    std::string spool;
    std::string work;
    int step = 0;

    bool aix() const { return ctx.sw.so == "AIX"; }

    // One pass with a name prefix ("*" for every file).
    void pass(const std::string& prefix) {
        step = 10;
        spool::SpoolListing listing(spool);
        for (const auto& name : listing.names()) {
            step = 11;
            // 2. Trigger files of the operator only.
            const std::string upper = text::upper(name);
            if (upper.size() < 2 || upper.compare(upper.size() - 2, 2, ".T") != 0) continue;
            if (prefix != "*" && upper.rfind(prefix + ".", 0) != 0) continue;
            take(listing, name);
        }
    }

    void take(const spool::SpoolListing& listing, const std::string& name) {
        const std::string trigger = spool + name;
        // An earlier pass may have taken this message already.
        if (!spool::is_file(trigger)) return;

        // 3. Scheduling directive in the first 500 characters.
        step = 12;
        if (spool::held_by_timing(spool::read_head(trigger, 500), ctx.clock.now())) return;

        // 4. Once per run: empty the work directory (note.txt and folders stay).
        step = 13;
        if (!ctx.run.work_dir_cleaned) {
            clean_work_dir(ctx, work);
            ctx.run.work_dir_cleaned = true;
        }

        // 6. Base name: the trigger's name without ".T".
        const std::string base = name.substr(0, name.size() - 2);

        // 7. Copy the group into the work directory (7.1 to 7.4).
        step = 14;
        std::vector<std::string> taken;
        for (const char* s = kSuffixes; *s; ++s) {
            const std::string file = base + "." + *s;
            const std::string spool_path = listing.find(file);
            if (spool_path.empty()) continue;
            step = 15;
            copy_group_file(ctx, spool_path, work, file, *s == '0');
            taken.push_back(spool_path);
        }

        // 5. The trigger goes only now that the whole group is in the work
        // directory: a copy that failed above leaves the message to a later tick.
        step = 16;
        spool::remove_or_mark_done(trigger, aix());

        // 7.5 Remove the group's spool files. The message is safe in the work
        // directory, so a file that cannot be removed is reported and left.
        step = 17;
        for (const auto& p : taken) {
            try {
                spool::remove_or_mark_done(p, aix());
            } catch (const std::exception& e) {
                ctx.list.add(" Impossibile rimuovere il file di spool " + p + " " + e.what());
            }
        }

        // 8. Process the message; its own errors are handled there.
        step = 18;
        leggi_file_messaggio(ctx, base);

        // 9. Per-message layout state back to empty.
        step = 19;
        ctx.layout = LayoutState{};
    }
};

}  // namespace

void LEGGI_DIR(Context& ctx) {
    Scan scan{ctx, "", ""};
    int& step = scan.step;
    try {
        // 1. Spool directory, and the marker file of an AIX host.
        step = 1;
        const bool no_spool = ctx.op.Path.empty();
        scan.spool = paths::with_separator(paths::native(ctx.op.Path));
        if (!no_spool && paths::exists(scan.spool + "Aix.Velarion.txt")) ctx.sw.so = "AIX";
        // 2. Work directory.
        step = 2;
        scan.work = paths::with_separator(paths::native(ctx.op.tempozip_dir));
        // 3. Logo directory of this scan.
        step = 3;
        ctx.run.logo_dir = ctx.op.Dir_Loghi.empty()
                               ? scan.spool + "loghi/"
                               : paths::with_separator(paths::native(ctx.op.Dir_Loghi));
        // 4.
        ctx.trace("SONO NELLA LEGGI DIR");
        // 5. Checks.
        step = 5;
        const std::string& work = scan.work;
        if (work.size() < 9 || text::lower(work.substr(work.size() - 9)) != "tempozip/") {
            refuse(ctx, "Il path della directory temporanea per i file deve terminare con TEMPOZIP");
            return;
        }
        std::error_code ec;
        if (no_spool || !fs::is_directory(scan.spool, ec)) {
            refuse(ctx, "Non riesco ad accedere alla directory creazione messaggi " + scan.spool);
            return;
        }
        if (!fs::is_directory(work, ec)) {
            refuse(ctx, "Non riesco ad accedere alla directory d'appoggio " + work);
            return;
        }

        // Passes: the operator ("*" for TUTTI), then the second operator.
        scan.pass(ctx.sw.ope == "TUTTI" ? "*" : ctx.sw.ope);
        if (!ctx.sw.ope2.empty()) scan.pass(ctx.sw.ope2);
    } catch (...) {
        const spool::ErrorInfo err = spool::current_error();
        if (err.number == 52) {
            ctx.list.add(
                " Controllare l'esistenza della directory della creazione messaggi e la directory "
                "d'appoggio nei parametri utente Step " +
                std::to_string(step));
        } else {
            ctx.list.add(" " + err.description + " Leggi_dir " + std::to_string(err.number) +
                         " step " + std::to_string(step));
        }
        ctx.list.refresh();
        // A spool directory that could not be listed (gone during the scan)
        // leaves the agent polling: the next tick's checks decide.
        const bool listing_failed = err.number == 52 && step == 10;
        if (ctx.op.ParGenerali.find("PREPARA:") == std::string::npos && !listing_failed) {
            if (ctx.switch_off) ctx.switch_off();
        }
    }
}

}  // namespace velarion
