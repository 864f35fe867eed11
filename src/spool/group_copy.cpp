#include "spool/group_copy.h"

#include "common/runtime.h"
#include "spool/spool_files.h"
#include "spool/size_guard.h"
#include "spool/spool_listing.h"

namespace velarion::spool {

namespace {

constexpr char kSuffixes[] = "hb01234567";  // the ten suffixes moved, in order

// One spool file: its copy, its dated backup and, for ".0", the size
// check repeated until the spool file has been unchanged for two seconds and
// the work copy agrees with it. A file the file system's clock shows
// unchanged for two seconds already is not waited for.
void copy_group_file(Runtime& rt, SizeGuard& guard, const std::string& spool_path, const std::string& work,
                     const std::string& work_name, bool size_check) {
    // The time is counted in waits, not read from the clock, so a clock step
    // neither ends the check early nor makes it last for ever.
    long long waited_ms = 0;
    bool repeat = false;
    for (;;) {
        std::uintmax_t initial = 0;
        SizeGuard::Look first;
        if (size_check) {
            first = guard.look(spool_path);
            initial = file_size(spool_path);
            rt.list.add(" Dimensione iniziale " + spool_path + " " + std::to_string(initial));
        }
        // Work copies: made again from the spool files after a crash, so not synced.
        copy_file(spool_path, work + work_name, atomic_file::Sync::work_file);
        copy_file(work + work_name, work + work_name + "_" + stamp_seconds(rt.clock.now()),
                  atomic_file::Sync::work_file);
        if (!size_check) return;

        // Without the file system's clock, the local clock's two seconds.
        const bool judged = SizeGuard::judged(first);
        long long wait = judged ? SizeGuard::remaining_ms(first, first) : SizeGuard::kUnchangedMs;
        // A copy that did not agree is never made again without a pause.
        if (repeat && wait == 0) wait = SizeGuard::kUnchangedMs;
        while (wait > 0) {
            guard.pause(wait);
            waited_ms += wait;
            if (!judged) break;
            const SizeGuard::Look later = guard.look(spool_path);
            // A change is for the control below to see; a file system whose
            // clock is lost meanwhile has had the two seconds of this one.
            if (!SizeGuard::same(first, later) || !SizeGuard::judged(later)) break;
            wait = SizeGuard::remaining_ms(first, later);
            if (waited_ms >= rt.cfg.size_check_limit * 1000) break;
        }
        const std::uintmax_t control = file_size(spool_path);
        rt.list.add(" Dimensione di controllo " + spool_path + " " + std::to_string(control));
        const std::uintmax_t copied = file_size(work + work_name);
        // Written to in between (also during the copy) though its size came back: copied again.
        const bool untouched = !judged || SizeGuard::same(first, guard.seen(spool_path));
        if (control == initial && copied == control && untouched) return;
        if (waited_ms >= rt.cfg.size_check_limit * 1000) throw StillChanging(spool_path);
        rt.list.add(
            " Dimensione File allegato differente da file originale di Quil Effettuo nuovamente "
            "la copia");
        repeat = true;
    }
}

}  // namespace

std::vector<std::string> group_files(const SpoolListing& listing, const std::string& base) {
    std::vector<std::string> out;
    for (const char* s = kSuffixes; *s; ++s) {
        const std::string path = listing.find(base + "." + *s);
        if (!path.empty()) out.push_back(path);
    }
    return out;
}

std::vector<std::string> copy_group(Runtime& rt, SizeGuard& guard, const SpoolListing& listing,
                                    const std::string& work, const std::string& base, int& step,
                                    std::vector<std::string>& links) {
    std::vector<std::string> taken;
    for (const char* s = kSuffixes; *s; ++s) {
        const std::string file = base + "." + *s;
        const std::string spool_path = listing.find(file);
        if (spool_path.empty()) continue;
        // A spool file that is no plain file is set aside, never opened.
        step = 15;
        if (const std::string kind = refused_kind(spool_path); !kind.empty()) {
            rt.list.add(" File di spool non ammesso, " + kind + ": " + spool_path);
            links.push_back(spool_path);
            continue;
        }
        copy_group_file(rt, guard, spool_path, work, file, *s == '0');
        taken.push_back(spool_path);
    }
    return taken;
}

}  // namespace velarion::spool
