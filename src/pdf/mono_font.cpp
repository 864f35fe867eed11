#include "pdf/mono_font.h"

#include "common/runtime.h"
#include "layout/overlay.h"
#include "platform/pdf/pdf_document.h"

namespace velarion {

MonoFont mono_font_for(const Runtime& rt, OverlayState& state, PdfDocument& doc, const std::string& print_type) {
    if (!rt.cfg.host.condensed_font) return {};
    if (print_type != "12v" && print_type != "12o" && print_type != "7v") return {};
    const bool small = print_type == "7v";
    struct Candidate {
        const char* name;
        const char* file;
        int width, small_width, number;
    };
    const Candidate candidates[] = {{"MonoCondensedATT Bold", "Mnc57__a.ttf", 418, 400, 1},
                                    {"MonoCondensed Bold", "MonoCondensed Bold.Ttf", 418, 425, 2}};
    for (const auto& c : candidates) {
        const bool usable = state.fonts.ensure(c.name, [&] {
            const std::string path = rt.fonts.find(c.file, rt.cfg.host.program_dir);
            return !path.empty() && doc.AddFontMONOSPACED(c.name, path, small ? c.small_width : c.width);
        });
        if (usable) return {c.name, c.number};
    }
    return {};
}

}  // namespace velarion
