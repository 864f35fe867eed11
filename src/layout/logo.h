// Logo pictures of a style: import into the document and drawing on a page.
#pragma once

#include <string>
#include <vector>

#include "layout/style.h"

namespace velarion {

struct Runtime;
class PdfDocument;

// A logo picture imported into the current document, with its position.
struct LogoImage {
    std::string resource;
    std::string section;
    LogoPlacement placement;
};

// Imports the style's logos ("file" of its section and of its "2logo"
// section) into the document. A picture that cannot be imported gives an
// activity line and is left out. A style without a name has none.
std::vector<LogoImage> ImportLogos(const Runtime& rt, PdfDocument& doc, const StyleSettings& style);

// Draws one imported logo at its style's position; nothing without "altezza".
void DrawLogo(PdfDocument& doc, const LogoImage& logo);

// Draws every logo of the list on the current page.
void DrawLogos(PdfDocument& doc, const std::vector<LogoImage>& logos);

}  // namespace velarion
