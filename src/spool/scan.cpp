#include "spool/scan.h"

#include "startup/context.h"

namespace velarion {

// Placeholder until the spool scan is built: the tick finds nothing to do.
void LEGGI_DIR(Context&) {}

}  // namespace velarion
