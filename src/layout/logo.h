// Logo pictures of a style: import into the document and drawing on a page.
#pragma once

#include <string>
#include <vector>

#include "pdf/compose_state.h"

namespace velarion {

struct Context;
class PdfDocument;

// Imports the current style's logo ("file") and the one of its "2logo"
// section into the document, replacing ctx.layout.compose.logos. A picture
// that cannot be imported gives an activity line and is left out.
void ImportLogos(Context& ctx, PdfDocument& doc);

// Imports the logos of any style section (a back-page style) without
// touching the current style's list.
std::vector<LogoImage> ImportStyleLogos(Context& ctx, PdfDocument& doc, const std::string& section,
                                        const std::string& file, const std::string& second_section);

// Draws one imported logo at its style's position; nothing without "altezza".
void DrawLogo(const Context& ctx, PdfDocument& doc, const LogoImage& logo);

// Draws every imported logo of the current style on the current page.
void DrawLogos(const Context& ctx, PdfDocument& doc);
void DrawLogos(const Context& ctx, PdfDocument& doc, const std::vector<LogoImage>& logos);

}  // namespace velarion
