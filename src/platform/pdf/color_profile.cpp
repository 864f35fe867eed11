#include "platform/pdf/color_profile.h"

#include <fstream>

namespace velarion::color_profile {

bool is_rgb_profile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char header[128] = {};
    if (!in.read(header, sizeof header)) return false;
    // The colour space at byte 16, the signature "acsp" at byte 36.
    return std::string(header + 16, 4) == "RGB " && std::string(header + 36, 4) == "acsp";
}

std::string srgb() {
    for (const char* path : {"/usr/share/color/icc/sRGB.icc", "/usr/share/color/icc/colord/sRGB.icc",
                             "/usr/share/color/icc/ghostscript/srgb.icc"})
        if (is_rgb_profile(path)) return path;
    return "";
}

}  // namespace velarion::color_profile
