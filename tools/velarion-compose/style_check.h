// The style checker of velarion-compose: every file a style names, read as
// the agent reads it, with what it cannot use listed with file and line.
#pragma once

#include <string>
#include <vector>

#include "common/file_problem.h"

namespace velarion {
struct Runtime;
struct LayoutState;
}  // namespace velarion

namespace velarion::compose {

// Loads the style `name` and the styles it leads to ("retro", "logodiverso",
// "2logo"), draws each overlay they name on a page of a scratch document (the
// layout's overlay state in checking mode), loads their formatting tables and
// looks for their logo pictures and barcode files. What it finds is kept in
// the layout's problems; the files it could not find are returned.
std::vector<FileProblem> check_style(Runtime& rt, LayoutState& layout, const std::string& name);

}  // namespace velarion::compose
