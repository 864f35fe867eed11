// Pictures of a PDF's pages: each page rendered to a PNG file with poppler.
#pragma once

#include <string>
#include <vector>

namespace velarion::compose {

// Renders every page of `pdf` at `dpi` to `folder`/`stem`-<page>.png (pages
// from 1), on white, with anti-aliased text and lines. Returns the files
// written; throws std::runtime_error when the PDF cannot be read or a picture
// cannot be written.
std::vector<std::string> render_pages(const std::string& pdf, const std::string& folder,
                                      const std::string& stem, int dpi);

}  // namespace velarion::compose
