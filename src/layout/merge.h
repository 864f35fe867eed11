// Appending listed PDFs to a composed document (AGGIUNGIFONDOPDF).
#pragma once

#include <string>
#include <vector>

#include "platform/pdf/archival_pages.h"

namespace velarion {

struct Runtime;

// What a merge came to.
struct MergeOutcome {
    bool merged = false;  // the document now holds the appended pages
    // With `archival`: the PDF/A check of the appended pages (and what was
    // changed on them). A document whose pages do not conform has lost its claim.
    archival_pages::Report archival;
};

// Appends the listed files of the merge folder to the document. Each file is
// opened once, confined to the read folders, and read from that descriptor.
MergeOutcome AGGIUNGIFONDOPDF(const Runtime& rt, const std::string& document_path,
                              const std::vector<std::string>& merge_list, bool archival = false);

}  // namespace velarion
