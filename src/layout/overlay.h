// Overlay forms (Creafincature) and their helpers.
#pragma once

#include <string>

namespace velarion {

struct Context;
class PdfDocument;

// State of the overlay language that lasts for one document.
struct OverlayState {
    std::string stop_label;  // from the print file's "~%FINE-" marker
};

void Creafincature(Context& ctx, PdfDocument& doc, std::string& overlay_file, double left_override,
                   double top_override);

std::string NormalizeDecimal(const Context& ctx, const std::string& text);

}  // namespace velarion
