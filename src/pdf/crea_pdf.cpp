#include "pdf/crea_pdf.h"

#include "startup/context.h"

namespace velarion {

// Placeholder until composition is built: every type is refused.
bool CreaPdf(Context& ctx, const std::string&, const std::string&, const std::string&) {
    ctx.layout.compose.created_pdf.clear();
    return true;
}

}  // namespace velarion
