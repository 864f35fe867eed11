#include "spool/group_copy.h"

#include <filesystem>

#include "common/runtime.h"
#include "spool/spool_files.h"
#include "spool/size_guard.h"
#include "spool/spool_listing.h"
#include "spool/staged_copy.h"
#include "spool/work_copy.h"

namespace velarion::spool {

namespace {

constexpr char kSuffixes[] = "hb01234567";  // the ten suffixes moved, in order

// What is read of a header or body into memory: beyond this it cannot be
// processed anyway (spool_files.h), and it is copied as it is.
constexpr std::size_t kMaxTextRead = 2 * (kMaxHeader > kMaxBody ? kMaxHeader : kMaxBody);

GroupText::File read_text(const SpoolListing& listing, const std::string& name) {
    GroupText::File f;
    f.found = listing.look(name);
    if (f.found.kind != file_kind::Kind::plain) return f;
    try {
        const SpoolSource source = open_source(f.found.path, f.found.path);
        f.bytes = read_source(source, kMaxTextRead);
    } catch (const std::exception&) {
        // Gone or changed since the look: its copy tells.
    }
    return f;
}

// A spool file copied into the work folder under `file`, and its dated backup.
void copy_with_backup(WorkCopies& copies, const GroupText::File* text, const std::string& spool_path,
                      const std::string& file, const std::string& backup) {
    if (text && text->bytes && text->found.path == spool_path) {
        copies.write(file, *text->bytes, spool_path);
        copies.write(backup, *text->bytes, copies.path(file));
        return;
    }
    const SpoolSource source = open_source(spool_path, copies.path(file));
    const safe_path::Fd copy = copies.copy(file, source.fd, spool_path);
    copies.copy(backup, copy, copies.path(file));
}

// The ".0": its copy (made now, or `copy` made before) kept only when the
// spool file is, two seconds after the copy, as it was when the copy began
// and the copy is as large as it; otherwise copied again and checked again.
void checked_copy(Runtime& rt, SizeGuard& guard, CopyStage& stage, StagedCopy copy, const std::string& spool_path,
                  WorkCopies& copies, const std::string& work, const std::string& work_name) {
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
            copies.copy_within(work_name, work_name + "_" + stamp_seconds(rt.clock.now()));
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

GroupText read_group_text(const SpoolListing& listing, const std::string& base) {
    return {read_text(listing, base + ".h"), read_text(listing, base + ".b")};
}

std::vector<std::string> copy_group(Runtime& rt, SizeGuard& guard, CopyStage& stage, StagedCopy staged,
                                    const SpoolListing& listing, const GroupText& text, const std::string& work,
                                    const std::string& base, int& step, std::vector<std::string>& links) {
    std::vector<std::string> taken;
    WorkCopies copies(work);
    for (const char* s = kSuffixes; *s; ++s) {
        const std::string file = base + "." + *s;
        const GroupText::File* read = *s == 'h' ? &text.header : *s == 'b' ? &text.body : nullptr;
        const SpoolListing::Found found = read ? read->found : listing.look(file);
        const std::string& spool_path = found.path;
        if (spool_path.empty()) continue;
        // A spool file that is no plain file is set aside, never opened.
        step = 15;
        if (const std::string kind = refused_kind(found.kind); !kind.empty()) {
            rt.list.add(" File di spool non ammesso, " + kind + ": " + spool_path);
            links.push_back(spool_path);
            continue;
        }
        if (*s == '0') {
            if (staged && staged.from() != spool_path) staged = {};
            checked_copy(rt, guard, stage, std::move(staged), spool_path, copies, work, file);
        } else {
            copy_with_backup(copies, read, spool_path, file, file + "_" + stamp_seconds(rt.clock.now()));
        }
        taken.push_back(spool_path);
    }
    return taken;
}

}  // namespace velarion::spool
