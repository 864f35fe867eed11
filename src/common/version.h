// The program's version text: the window's first caption and the start of the
// "Keywords" of every composed PDF.
#pragma once

namespace velarion {

inline constexpr const char* kVersionText = "Velarion Ver. 9.0.2(09/03/16) ";

}  // namespace velarion
