#include "pdf/mono_font.h"

#include <algorithm>

#include "platform/font_files.h"
#include "platform/pdf_document.h"
#include "startup/context.h"

namespace velarion {

MonoFont mono_font_for(Context& ctx, PdfDocument& doc, const std::string& print_type) {
    if (!ctx.host.condensed_font) return {};
    if (print_type != "12v" && print_type != "12o" && print_type != "7v") return {};
    const bool small = print_type == "7v";
    struct Candidate {
        const char* name;
        const char* file;
        int width, small_width, number;
    };
    const Candidate candidates[] = {{"MonoCondensedATT Bold", "Mnc57__a.ttf", 418, 400, 1},
                                    {"MonoCondensed Bold", "MonoCondensed Bold.Ttf", 418, 425, 2}};
    auto& registered = ctx.layout.compose.registered_fonts;
    for (const auto& c : candidates) {
        if (std::find(registered.begin(), registered.end(), c.name) != registered.end())
            return {c.name, c.number};
        const std::string path = font_files::find(c.file, ctx.host.program_dir);
        if (path.empty()) continue;
        if (!doc.AddFontMONOSPACED(c.name, path, small ? c.small_width : c.width)) continue;
        registered.push_back(c.name);
        return {c.name, c.number};
    }
    return {};
}

}  // namespace velarion
