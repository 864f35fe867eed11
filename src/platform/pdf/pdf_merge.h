// The PDF merging component: page counts and the concatenation of PDF files.
// Files that are not PDFs, are encrypted or are damaged count as unusable.
// Every file is read from a descriptor the caller opened, once, and qpdf
// reads it in a child process of its own: a file made to crash the reader
// (a page tree thousands of levels deep) or to exhaust memory ends that
// child, never the agent, and counts as unusable.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/pdf/archival_pages.h"

namespace velarion::pdf_merge {

// Page trees deeper than this are refused before qpdf walks them.
inline constexpr int kMaxPageTreeDepth = 256;

// True when the merging library can create a document.
bool available();

// Number of pages of a usable PDF read from fd (an open regular file; the
// descriptor stays the caller's); 0 when it is not a PDF, encrypted, damaged
// or has no pages.
int GetNumberOfPages(int fd);
// The same for a file opened by name, never through a symbolic link.
int GetNumberOfPages(const std::string& path);

struct MergeResult {
    bool written = false;
    // The PDF/A check of the pages from the input `checked_from` on; when
    // they do not conform, the output carries no PDF/A claim.
    archival_pages::Report archival;
};

// Writes output with the pages of the inputs (open descriptors) in order;
// the first input's document information and catalogue are kept. Streams end
// with a line end before "endstream". The pages of inputs from index
// checked_from on are checked (and changed) for a PDF/A; checked_from at
// inputs.size() or beyond checks nothing. The file appears under the output
// name only when complete; nothing is written when any input is not usable
// or the output cannot be written.
MergeResult MERGE(const std::vector<int>& inputs, const std::string& output, std::size_t checked_from);

// The same with files opened by name (never through a symbolic link), no check.
bool MERGE(const std::vector<std::string>& inputs, const std::string& output);

}  // namespace velarion::pdf_merge
