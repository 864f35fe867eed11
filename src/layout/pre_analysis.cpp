#include "layout/pre_analysis.h"

#include "startup/context.h"

namespace velarion {

// Placeholder until the pre-analysis is built: results keep their start values.
void AnalizzaTXT(Context& ctx, const std::string& path) { ctx.pre = PreAnalysis{}; }

}  // namespace velarion
