#include "spool/scan.h"

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "common/runtime.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "spool/message.h"
#include "spool/spool_files.h"
#include "spool/spool_listing.h"
#include "spool/timing.h"
#include "spool/unsent.h"

namespace fs = std::filesystem;

namespace velarion {

namespace {

constexpr char kSuffixes[] = "hb01234567";  // the ten suffixes moved, in order
constexpr int kSizeCheckMs = 2000;
constexpr int kSizeCheckSlices = 2;  // the wait lets window events run once a second

// Ends the scan before any work: message box, and the agent is switched off.
void refuse(Runtime& rt, const std::function<void()>& switch_off, const std::string& text) {
    rt.view.message_box(text);
    if (switch_off) switch_off();
}

// The size check's pause: the clock's wait, letting window events run.
void size_check_wait(Runtime& rt) {
    for (int i = 0; i < kSizeCheckSlices; ++i) {
        rt.clock.sleep_ms(kSizeCheckMs / kSizeCheckSlices);
        rt.view.process_events();
    }
}

// Deletes every file of the work directory except "note.txt"; folders stay.
// Symbolic links go too, whatever they point to (a folder, or "note.txt"
// itself): removing a link never touches its target, and no later write
// into the work directory can follow one.
void clean_work_dir(Runtime& rt, const std::string& work) {
    rt.trace_line(" Pulizia della directory d'appoggio " + work);
    std::vector<fs::path> doomed;
    for (const auto& entry : fs::directory_iterator(work)) {
        std::error_code ec;
        const fs::file_status st = entry.symlink_status(ec);
        if (fs::is_directory(st)) continue;
        if (fs::is_regular_file(st) && text::lower(entry.path().filename().string()) == "note.txt") continue;
        doomed.push_back(entry.path());
    }
    for (const auto& p : doomed) fs::remove(p);
    rt.trace_line(" Pulizia terminata, file cancellati " + std::to_string(doomed.size()));
}

// Steps 7.1 to 7.4 for one suffix: copy, dated backup and, for ".0", the size
// check repeated until the spool file, its size a moment later and the work
// copy agree.
void copy_group_file(Runtime& rt, const std::string& spool_path, const std::string& work,
                     const std::string& work_name, bool size_check) {
    for (;;) {
        std::uintmax_t initial = 0;
        if (size_check) {
            initial = spool::file_size(spool_path);
            rt.list.add(" Dimensione iniziale " + spool_path + " " + std::to_string(initial));
        }
        spool::copy_file(spool_path, work + work_name);
        spool::copy_file(work + work_name,
                         work + work_name + "_" + spool::stamp_seconds(rt.clock.now()));
        if (!size_check) return;

        size_check_wait(rt);
        const std::uintmax_t control = spool::file_size(spool_path);
        rt.list.add(" Dimensione di controllo " + spool_path + " " + std::to_string(control));
        const std::uintmax_t copied = spool::file_size(work + work_name);
        if (control == initial && copied == control) return;
        rt.list.add(
            " Dimensione File allegato differente da file originale di Quil Effettuo nuovamente "
            "la copia");
    }
}

struct Scan {
    Runtime& rt;
    RunState& run;
    const MessageDelivery& deliver;
    std::string spool;
    std::string work;
    int step = 0;

    bool aix() const { return run.aix; }

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
        // Spool files that are symbolic links could lead anywhere: they are
        // never read, and their message is kept, not processed.
        std::vector<std::string> links;
        if (spool::is_link(trigger)) links.push_back(trigger);

        // 3. Scheduling directive in the first 500 characters.
        step = 12;
        if (links.empty() && spool::held_by_timing(spool::read_head(trigger, 500), rt.clock.now())) return;

        // 4. Once per run: empty the work directory (note.txt and folders stay).
        step = 13;
        if (!run.work_dir_cleaned) {
            clean_work_dir(rt, work);
            run.work_dir_cleaned = true;
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
            if (spool::is_link(spool_path)) {
                links.push_back(spool_path);
            } else {
                copy_group_file(rt, spool_path, work, file, *s == '0');
            }
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
                rt.list.add(" Impossibile rimuovere il file di spool " + p + " " + e.what());
            }
        }

        // 8. Process the message; its own errors are handled there. Its
        // layout state lives and ends with it (9.).
        step = 18;
        if (!links.empty()) {
            spool::keep_refused(rt, work, base, links);
            return;
        }
        leggi_file_messaggio(rt, deliver, base);
    }
};

}  // namespace

SpoolScanner::SpoolScanner(Runtime& rt, std::function<void()> switch_off)
    : rt_(rt), switch_off_(std::move(switch_off)), dispatcher_(rt, switch_off_) {
    run_.aix = rt.cfg.sw.so == "AIX";
}

void SpoolScanner::LEGGI_DIR() {
    Runtime& rt = rt_;
    const MessageDelivery deliver = [this](const DeliveryRequest& r) {
        return deliver_ ? deliver_(r) : dispatcher_.sendmail(r);
    };
    Scan scan{rt, run_, deliver, "", ""};
    int& step = scan.step;
    try {
        // 1. Spool directory, and the marker file of an AIX host.
        step = 1;
        const bool no_spool = rt.cfg.op.Path.empty();
        scan.spool = rt.cfg.spool_dir;
        if (rt.cfg.sw.so == "AIX") run_.aix = true;
        if (!no_spool && paths::exists(scan.spool + "Aix.Velarion.txt")) run_.aix = true;
        // 2. Work directory; 3. the logo directory is derived with the settings.
        step = 2;
        scan.work = rt.cfg.work_dir;
        // 4.
        rt.trace("SONO NELLA LEGGI DIR");
        // 5. Checks.
        step = 5;
        const std::string& work = scan.work;
        if (work.size() < 9 || text::lower(work.substr(work.size() - 9)) != "tempozip/") {
            refuse(rt, switch_off_, "Il path della directory temporanea per i file deve terminare con TEMPOZIP");
            return;
        }
        std::error_code ec;
        if (no_spool || !fs::is_directory(scan.spool, ec)) {
            refuse(rt, switch_off_, "Non riesco ad accedere alla directory creazione messaggi " + scan.spool);
            return;
        }
        if (!fs::is_directory(work, ec)) {
            refuse(rt, switch_off_, "Non riesco ad accedere alla directory d'appoggio " + work);
            return;
        }

        // Passes: the operator ("*" for TUTTI), then the second operator.
        scan.pass(rt.cfg.sw.ope == "TUTTI" ? "*" : rt.cfg.sw.ope);
        if (!rt.cfg.sw.ope2.empty()) scan.pass(rt.cfg.sw.ope2);
    } catch (...) {
        const ErrorInfo err = current_error();
        if (err.number == 52) {
            rt.list.add(
                " Controllare l'esistenza della directory della creazione messaggi e la directory "
                "d'appoggio nei parametri utente Step " +
                std::to_string(step));
        } else {
            rt.list.add(" " + err.description + " Leggi_dir " + std::to_string(err.number) +
                         " step " + std::to_string(step));
        }
        rt.list.refresh();
        // A spool directory that could not be listed (gone during the scan)
        // leaves the agent polling: the next tick's checks decide.
        const bool listing_failed = err.number == 52 && step == 10;
        if (!rt.cfg.prepara && !listing_failed) {
            if (switch_off_) switch_off_();
        }
    }
}

}  // namespace velarion
