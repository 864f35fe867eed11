#include "layout/merge.h"

#include "startup/context.h"

namespace velarion {

// Placeholder until merging is built: the document stays as it is.
void AGGIUNGIFONDOPDF(Context&, const std::string&, const std::vector<std::string>&) {}

}  // namespace velarion
