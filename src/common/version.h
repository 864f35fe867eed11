// The program's version: the number of the build (VELARION_VERSION, from the
// project version of the build files) and the version text made from it, the
// window's first caption and the start of the "Keywords" of every composed PDF.
#pragma once

#ifndef VELARION_VERSION
#error "VELARION_VERSION must be defined by the build"
#endif

namespace velarion {

inline constexpr const char* kVersionNumber = VELARION_VERSION;
inline constexpr const char* kVersionText = "Velarion Ver. " VELARION_VERSION "(09/03/16) ";

}  // namespace velarion
