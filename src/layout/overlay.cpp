#include "layout/overlay.h"

#include "startup/context.h"

namespace velarion {

// Placeholder until the overlay language is built: draws nothing.
void Creafincature(Context&, PdfDocument&, std::string&, double, double) {}

std::string NormalizeDecimal(const Context& ctx, const std::string& text) {
    if (ctx.host.decimal_separator != ",") return text;
    std::string out = text;
    for (char& c : out)
        if (c == '.') c = ',';
    return out;
}

}  // namespace velarion
