#include "pdf/archival.h"

#include "common/runtime.h"
#include "platform/pdf/color_profile.h"
#include "platform/pdf/font_files.h"

namespace velarion {

const BaseFontFile kBaseFontFiles[12] = {
    {"Courier", "LiberationMono-Regular.ttf"},
    {"Courier-Bold", "LiberationMono-Bold.ttf"},
    {"Courier-Oblique", "LiberationMono-Italic.ttf"},
    {"Courier-BoldOblique", "LiberationMono-BoldItalic.ttf"},
    {"Helvetica", "LiberationSans-Regular.ttf"},
    {"Helvetica-Bold", "LiberationSans-Bold.ttf"},
    {"Helvetica-Oblique", "LiberationSans-Italic.ttf"},
    {"Helvetica-BoldOblique", "LiberationSans-BoldItalic.ttf"},
    {"Times-Roman", "LiberationSerif-Regular.ttf"},
    {"Times-Bold", "LiberationSerif-Bold.ttf"},
    {"Times-Italic", "LiberationSerif-Italic.ttf"},
    {"Times-BoldItalic", "LiberationSerif-BoldItalic.ttf"},
};

PdfArchival archival_settings(Runtime& rt, int part) {
    PdfArchival a;
    a.part = part;
    a.icc_profile = color_profile::srgb();
    for (const BaseFontFile& f : kBaseFontFiles) {
        const std::string path = rt.fonts.find(f.file, rt.cfg.host.program_dir);
        if (!path.empty()) a.base_fonts.emplace(f.base, path);
    }
    return a;
}

std::vector<std::string> archival_obstacles(Runtime& rt) {
    std::vector<std::string> out;
    for (const BaseFontFile& f : kBaseFontFiles)
        if (rt.fonts.find(f.file, rt.cfg.host.program_dir).empty())
            out.push_back(std::string("the font ") + f.base + " cannot be embedded: " + f.file +
                          " (fonts-liberation) not found");
    if (color_profile::srgb().empty()) out.push_back("no sRGB colour profile (icc-profiles-free) for the output intent");
    return out;
}

std::string conformance_name(int part) { return part ? "PDF/A-" + std::to_string(part) + "b" : ""; }

}  // namespace velarion
