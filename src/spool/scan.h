// LEGGI_DIR: the spool directory scan run on every timer tick.
#pragma once

namespace velarion {

struct Context;

void LEGGI_DIR(Context& ctx);

}  // namespace velarion
