// The PDF merging component: page counts and the concatenation of PDF files.
// Files that are not PDFs, are encrypted or are damaged count as unusable.
#pragma once

#include <string>
#include <vector>

namespace velarion::pdf_merge {

// True when the merging library can create a document.
bool available();

// Number of pages of a usable PDF file; 0 when the file is missing, not a
// PDF, encrypted, damaged or has no pages.
int GetNumberOfPages(const std::string& path);

// Writes output with the pages of the inputs in order (the first input's
// document information is kept). The file appears under the output name
// only when complete; false, with nothing written, when any input is not
// usable or the output cannot be written.
bool MERGE(const std::vector<std::string>& inputs, const std::string& output);

// The names of the fonts of a PDF's pages (and of the forms they draw) whose
// program is not in the file, each once; empty when every font is embedded
// or the file cannot be read.
std::vector<std::string> fonts_not_embedded(const std::string& path);

}  // namespace velarion::pdf_merge
