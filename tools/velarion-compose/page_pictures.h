// Pictures of a PDF's pages: each page rendered to a PNG file with poppler,
// by the module velarion-compose-pictures.so beside the program, loaded the
// first time pictures are asked for (a composition alone loads no poppler).
#pragma once

#include <string>
#include <vector>

namespace velarion::compose {

// The renderer module's file name (in the program's folder) and its entry.
inline constexpr const char* kPicturesModule = "velarion-compose-pictures.so";
inline constexpr const char* kRenderEntry = "velarion_render_pages";

// Renders every page of `pdf` at `dpi` to `folder`/`stem`-<page>.png (pages
// from 1), on white, with anti-aliased text and lines. Returns the files
// written; throws std::runtime_error when the module cannot be loaded, the
// PDF cannot be read or a picture cannot be written.
std::vector<std::string> render_pages(const std::string& pdf, const std::string& folder,
                                      const std::string& stem, int dpi);

}  // namespace velarion::compose
