// controllo_dll: checks the PDF drawing and merging components and records
// which editions are usable (ctx.pdf) with their activity lines.
#pragma once

namespace velarion {

struct Context;

void controllo_dll(Context& ctx);

}  // namespace velarion
