// The sRGB colour profile of the system, for the output intent of a PDF/A.
#pragma once

#include <string>

namespace velarion::color_profile {

// Path of an sRGB ICC profile installed by a Debian package (icc-profiles-free,
// colord-data), "" when there is none. Only a file that is an RGB display
// profile counts.
std::string srgb();

// True when the file at `path` is an ICC profile of the RGB colour space.
bool is_rgb_profile(const std::string& path);

}  // namespace velarion::color_profile
