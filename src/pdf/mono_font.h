// The monospaced condensed fonts some print types use, registered once per document.
#pragma once

#include <string>

namespace velarion {

struct Runtime;
struct OverlayState;
class PdfDocument;

struct MonoFont {
    std::string name;  // "" when the type uses no monospaced font
    int number = 0;    // 1 "MonoCondensedATT Bold", 2 "MonoCondensed Bold"
};

// For "12v", "12o" and "7v", when the condensed fonts may be used: the font
// registered in doc (registering it on first use, in the document's font list).
MonoFont mono_font_for(const Runtime& rt, OverlayState& state, PdfDocument& doc, const std::string& print_type);

}  // namespace velarion
