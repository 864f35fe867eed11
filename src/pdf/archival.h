// PDF/A: what an archival document needs from the system (the fonts that
// stand in for the base-14 ones, the sRGB profile) and what stands in its way.
#pragma once

#include <string>
#include <vector>

#include "platform/pdf/pdf_document.h"

namespace velarion {

struct Runtime;

// The base-14 fonts of the font table and the fonts-liberation files drawn
// in their place: the same widths, so every line stays where it was.
struct BaseFontFile {
    const char* base;  // "Courier-Bold"
    const char* file;  // "LiberationMono-Bold.ttf"
};
extern const BaseFontFile kBaseFontFiles[12];

// The archival settings of PDF/A part 2 or 3: each base-14 font found
// through the font finder, the system's sRGB profile.
PdfArchival archival_settings(Runtime& rt, int part);

// What prevents a PDF/A on this system: a base-14 font without its file,
// no sRGB profile. Empty when nothing does.
std::vector<std::string> archival_obstacles(Runtime& rt);

// "PDF/A-2b", "PDF/A-3b"; "" for part 0.
std::string conformance_name(int part);

}  // namespace velarion
