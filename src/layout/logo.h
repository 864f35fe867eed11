// Logo pictures of a style: import into the document and drawing on a page.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct Runtime;
struct StyleSettings;
class PdfDocument;

// A logo picture imported into the current document, with the position read
// once from its style section ("altezza", "larghezza", "margsx", "margbasso").
struct LogoImage {
    std::string resource;
    std::string section;
    std::string altezza, larghezza, margsx, margbasso;
};

// Imports the style's logo ("file") and the one of its "2logo" section into
// the document. A picture that cannot be imported gives an activity line and
// is left out.
std::vector<LogoImage> ImportLogos(const Runtime& rt, PdfDocument& doc, const StyleSettings& style);

// Imports the logos of any style section (a back-page style).
std::vector<LogoImage> ImportStyleLogos(const Runtime& rt, PdfDocument& doc, const std::string& section,
                                        const std::string& file, const std::string& second_section);

// Draws one imported logo at its style's position; nothing without "altezza".
void DrawLogo(PdfDocument& doc, const LogoImage& logo);

// Draws every logo of the list on the current page.
void DrawLogos(PdfDocument& doc, const std::vector<LogoImage>& logos);

}  // namespace velarion
