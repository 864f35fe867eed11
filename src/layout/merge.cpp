#include "layout/merge.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "common/runtime.h"
#include "common/work_folder.h"
#include "platform/os/atomic_file.h"
#include "platform/os/paths.h"
#include "platform/pdf/pdf_merge.h"
#include "platform/os/safe_path.h"
#include "platform/os/text_encoding.h"
#include "platform/os/turn_lock.h"

namespace velarion {
namespace {

constexpr int kEntries = 11;  // the document and ten files to append

// Removes "MERGE_1.PDF" to "MERGE_10.PDF" in the work directory, whatever
// the case of their names, in one listing of the folder (it holds every
// message's copies until the clean-up).
void delete_intermediates(const std::string& work_dir) noexcept {
    try {
        std::vector<std::filesystem::path> found;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(work_dir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = text::upper(it->path().filename().string());
            if (!name.starts_with("MERGE_")) continue;
            for (int n = 1; n <= 10; ++n)
                if (name == "MERGE_" + std::to_string(n) + ".PDF") found.push_back(it->path());
        }
        for (const auto& p : found) std::filesystem::remove(p, ec);
    } catch (const std::exception&) {
        // Left for the next merge, which deletes them first.
    }
}

// Adds one merge's PDF/A report to the document's.
void add_report(archival_pages::Report& to, const archival_pages::Report& from) {
    auto names = [](std::vector<std::string>& a, const std::vector<std::string>& b) {
        for (const auto& n : b)
            if (std::find(a.begin(), a.end(), n) == a.end()) a.push_back(n);
    };
    names(to.fonts_not_embedded, from.fonts_not_embedded);
    names(to.wrong_widths, from.wrong_widths);
    names(to.missing_glyphs, from.missing_glyphs);
    to.device_cmyk |= from.device_cmyk;
    to.no_appearance |= from.no_appearance;
    to.too_deep |= from.too_deep;
    to.unreadable |= from.unreadable;
    to.actions_removed += from.actions_removed;
    to.annotations_removed += from.annotations_removed;
    to.flags_set += from.flags_set;
}

}  // namespace

MergeOutcome AGGIUNGIFONDOPDF(const Runtime& rt, const std::string& document_path,
                              const std::vector<std::string>& merge_list, bool archival) {
    MergeOutcome outcome;
    const std::string& work_dir = rt.cfg.work_dir;
    try {
        // The intermediates have the same names for every agent of the work
        // folder: one agent merges at a time, or one could delete another's
        // MERGE_1.PDF or copy it over its own document.
        const TurnLock turn(work_folder::intermediates_lock(work_dir), [&] { rt.view.process_events(); });

        // No intermediate file of an earlier merge is left.
        delete_intermediates(work_dir);

        // Entry 0 is the document; the merging component must be usable.
        if (!pdf_merge::available()) {
            rt.list.add(" AGGIUNGIFONDOPDF -1 libreria di unione PDF non disponibile");
            return outcome;
        }
        std::vector<std::string> entries(kEntries);
        entries[0] = document_path;
        for (size_t i = 0; i < merge_list.size() && i + 1 < entries.size(); ++i)
            entries[i + 1] = merge_list[i];

        // Check every entry; an unusable file is left out. Each file is
        // opened here once and read from that descriptor from then on: a
        // name swapped for a link after the check leads nowhere.
        std::vector<safe_path::Fd> files(kEntries);
        const std::string& merge_dir = rt.cfg.merge_dir;
        for (int i = 0; i < kEntries; ++i) {
            // Files to append lie in the merge directory.
            if (i > 0 && !entries[i].empty()) entries[i] = merge_dir + paths::native(entries[i]);
            if (entries[i].empty()) continue;
            const std::string given = entries[i];
            rt.list.add(" Controllo per Accodare PDF " + given);
            // The file must exist and be a usable PDF with pages.
            std::string found = paths::resolve(given);
            // The name comes from the print file: "..", or a link, must not
            // lead out of the installation's folders.
            if (i > 0 && !found.empty() && !safe_path::readable_below(found, rt.cfg.read_roots)) {
                rt.list.add(" File da accodare fuori dalle cartelle ammesse " + given);
                found.clear();
            }
            if (i == 0 && !found.empty()) files[i] = safe_path::open_nofollow(found);  // the document, in the work folder
            if (i > 0 && !found.empty()) files[i] = std::move(safe_path::open_below(found, rt.cfg.read_roots).fd);
            const int pages = files[i].valid() ? pdf_merge::GetNumberOfPages(files[i].get()) : 0;
            entries[i] = pages > 0 ? found : "";
            if (pages > 0)
                rt.list.add(" Controllo positivo per Accodare PDF " + given + " pagine: " +
                             std::to_string(pages));
            else
                rt.list.add(" Controllo negativo per Accodare PDF " + given);
        }

        // The first usable entry is what the others are appended to.
        std::string current;
        int first = 0;
        while (first < kEntries && entries[first].empty()) ++first;
        if (first < kEntries) current = entries[first];
        safe_path::Fd current_file = first < kEntries ? std::move(files[first]) : safe_path::Fd();

        // Append one file at a time: merge_1.pdf, merge_2.pdf, ... For a
        // PDF/A the appended pages are checked; so are the first file's when
        // it is a merged file (the document itself was unusable).
        int k = 1;
        std::string last_output;
        bool all_merged = true;
        for (int i = first + 1; i < kEntries; ++i) {
            if (entries[i].empty()) continue;
            last_output = "merge_" + std::to_string(k) + ".pdf";
            const std::string output = work_dir + last_output;
            rt.list.add(" Invio comando PDF " + current + "|" + entries[i] + "|" + output);
            const std::size_t checked_from = !archival ? 2 : (k == 1 && first > 0) ? 0 : 1;
            const pdf_merge::MergeResult r = pdf_merge::MERGE({current_file.get(), files[i].get()}, output, checked_from);
            all_merged = all_merged && r.written;
            add_report(outcome.archival, r.archival);
            current = output;
            // A failure leaves no output: the merges after it fail too.
            current_file = r.written ? safe_path::open_nofollow(output) : safe_path::Fd();
            ++k;
        }

        // The last result takes the document's place, only when it was written.
        rt.list.add(" Invio comando copia PDF finale " + work_dir + last_output + " " + document_path);
        // The copy goes through a temporary beside the document: it is either the
        // old document or the complete new one.
        if (!last_output.empty())
            outcome.merged = all_merged && atomic_file::copy(work_dir + last_output, document_path, atomic_file::Sync::work_file);

        // No intermediate file is left behind.
        delete_intermediates(work_dir);
    } catch (const std::exception& e) {
        rt.list.add(std::string(" AGGIUNGIFONDOPDF ") + e.what());
        delete_intermediates(work_dir);
    }
    return outcome;
}

}  // namespace velarion
