// Widths of the standard (base-14) PDF fonts, which are never embedded: the
// writer measures text with them. Used by the PDF writer only.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace velarion::pdfwriter {

// Advance of each byte code in thousandths of the font size.
using Widths = std::array<std::uint16_t, 256>;

// The table of a standard font by its PDF name ("Helvetica-Bold",
// "Times-Italic", "Symbol", ...); nullptr for the Courier faces (600 for
// every glyph) and for names that are no standard font.
const Widths* base14_widths(std::string_view base_font);

}  // namespace velarion::pdfwriter
