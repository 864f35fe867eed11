#include "spool/group_copy.h"

#include "common/runtime.h"
#include "spool/spool_files.h"
#include "spool/spool_listing.h"

namespace velarion::spool {

namespace {

constexpr char kSuffixes[] = "hb01234567";  // the ten suffixes moved, in order
constexpr int kSizeCheckMs = 2000;
constexpr int kSizeCheckSlices = 2;  // the wait lets window events run once a second

// The size check's pause: the clock's wait, letting window events run.
void size_check_wait(Runtime& rt) {
    for (int i = 0; i < kSizeCheckSlices; ++i) {
        rt.clock.sleep_ms(kSizeCheckMs / kSizeCheckSlices);
        rt.view.process_events();
    }
}

// Steps 7.1 to 7.4 for one suffix: copy, dated backup and, for ".0", the size
// check repeated until the spool file, its size a moment later and the work
// copy agree.
void copy_group_file(Runtime& rt, const std::string& spool_path, const std::string& work,
                     const std::string& work_name, bool size_check) {
    // The time is counted in waits, not read from the clock, so a clock step
    // neither ends the check early nor makes it last for ever.
    long long waited_ms = 0;
    for (;;) {
        std::uintmax_t initial = 0;
        if (size_check) {
            initial = file_size(spool_path);
            rt.list.add(" Dimensione iniziale " + spool_path + " " + std::to_string(initial));
        }
        copy_file(spool_path, work + work_name);
        copy_file(work + work_name, work + work_name + "_" + stamp_seconds(rt.clock.now()));
        if (!size_check) return;

        size_check_wait(rt);
        waited_ms += kSizeCheckMs;
        const std::uintmax_t control = file_size(spool_path);
        rt.list.add(" Dimensione di controllo " + spool_path + " " + std::to_string(control));
        const std::uintmax_t copied = file_size(work + work_name);
        if (control == initial && copied == control) return;
        if (waited_ms >= rt.cfg.size_check_limit * 1000) throw StillChanging(spool_path);
        rt.list.add(
            " Dimensione File allegato differente da file originale di Quil Effettuo nuovamente "
            "la copia");
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

std::vector<std::string> copy_group(Runtime& rt, const SpoolListing& listing, const std::string& work,
                                    const std::string& base, int& step, std::vector<std::string>& links) {
    std::vector<std::string> taken;
    for (const char* s = kSuffixes; *s; ++s) {
        const std::string file = base + "." + *s;
        const std::string spool_path = listing.find(file);
        if (spool_path.empty()) continue;
        step = 15;
        if (const std::string kind = refused_kind(spool_path); !kind.empty()) {
            rt.list.add(" File di spool non ammesso, " + kind + ": " + spool_path);
            links.push_back(spool_path);
            continue;
        }
        copy_group_file(rt, spool_path, work, file, *s == '0');
        taken.push_back(spool_path);
    }
    return taken;
}

}  // namespace velarion::spool
