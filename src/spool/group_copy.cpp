#include "spool/group_copy.h"

#include <filesystem>

#include "common/runtime.h"
#include "spool/spool_files.h"
#include "spool/size_guard.h"
#include "spool/spool_listing.h"
#include "spool/staged_copy.h"

namespace velarion::spool {

namespace {

constexpr char kSuffixes[] = "hb01234567";  // the ten suffixes moved, in order

// The ".0": its copy (made now, or `copy` made before) kept only when the
// spool file is, two seconds after the copy, as it was when the copy began
// and the copy is as large as it; otherwise copied again and checked again.
void checked_copy(Runtime& rt, SizeGuard& guard, CopyStage& stage, StagedCopy copy, const std::string& spool_path,
                  const std::string& work, const std::string& work_name) {
    // The time is counted in waits, not read from the clock, so a clock step
    // neither ends the check early nor makes it last for ever.
    long long waited_ms = 0;
    for (;;) {
        if (!copy) {
            try {
                copy = stage.copy(guard, spool_path, work_name);
            } catch (const std::filesystem::filesystem_error& e) {
                // Said as a copy to the work directory: where it waits for its control is the agent's own affair.
                throw std::filesystem::filesystem_error("copy_file", spool_path, work + work_name, e.code());
            }
        }
        rt.list.add(" Dimensione iniziale " + spool_path + " " + std::to_string(copy.source().size));
        // Copies made ahead of their turn have mostly had their two seconds.
        for (long long wait = guard.remaining_after(copy.made()); wait > 0; wait = guard.remaining_after(copy.made())) {
            guard.pause(wait);
            waited_ms += wait;
        }
        const SizeGuard::Look control = guard.seen(spool_path);
        rt.list.add(" Dimensione di controllo " + spool_path + " " + std::to_string(control.size));
        // Written to since the copy began (also during the copy) though its size came back: copied again.
        if (control.present && SizeGuard::same(copy.source(), control) &&
            copy.size() == static_cast<long long>(control.size)) {
            copy.place(work + work_name);
            // Work copies: made again from the spool files after a crash, so not synced.
            copy_file(work + work_name, work + work_name + "_" + stamp_seconds(rt.clock.now()),
                      atomic_file::Sync::work_file);
            return;
        }
        if (waited_ms >= rt.cfg.size_check_limit * 1000) throw StillChanging(spool_path);
        rt.list.add(
            " Dimensione File allegato differente da file originale di Quil Effettuo nuovamente "
            "la copia");
        copy = {};
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

std::vector<std::string> copy_group(Runtime& rt, SizeGuard& guard, CopyStage& stage, StagedCopy staged,
                                    const SpoolListing& listing, const std::string& work, const std::string& base,
                                    int& step, std::vector<std::string>& links) {
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
        if (*s == '0') {
            if (staged && staged.from() != spool_path) staged = {};
            checked_copy(rt, guard, stage, std::move(staged), spool_path, work, file);
        } else {
            // Work copies: made again from the spool files after a crash, so not synced.
            copy_file(spool_path, work + file, atomic_file::Sync::work_file);
            copy_file(work + file, work + file + "_" + stamp_seconds(rt.clock.now()), atomic_file::Sync::work_file);
        }
        taken.push_back(spool_path);
    }
    return taken;
}

}  // namespace velarion::spool
