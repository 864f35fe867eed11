#include "pdf/mono_font.h"

#include "common/runtime.h"
#include "layout/overlay.h"
#include "platform/os/paths.h"
#include "platform/pdf/pdf_document.h"

namespace velarion {

namespace {

// Whether the condensed fonts may be used: as found at start-up, else looked
// for now, the first time a type needs them ("Mnc57__a.ttf" in the system
// root's "fonts" folder, the program's folder or the system's fonts; the
// run's font finder remembers the answer).
bool condensed_font_usable(const Runtime& rt) {
    const HostInfo& host = rt.cfg.host;
    if (host.condensed_font) return *host.condensed_font;
    const std::string name = "Mnc57__a.ttf";
    if (!host.system_root.empty() && paths::exists(paths::with_separator(host.system_root) + "fonts/" + name))
        return true;
    return !rt.fonts.find(name, host.program_dir).empty();
}

}  // namespace

MonoFont mono_font_for(const Runtime& rt, OverlayState& state, PdfDocument& doc, const std::string& print_type) {
    if (print_type != "12v" && print_type != "12o" && print_type != "7v") return {};
    if (!condensed_font_usable(rt)) return {};
    const bool small = print_type == "7v";
    struct Candidate {
        const char* name;
        const char* file;
        int width, small_width, number;
    };
    const Candidate candidates[] = {{"MonoCondensedATT Bold", "Mnc57__a.ttf", 418, 400, 1},
                                    {"MonoCondensed Bold", "MonoCondensed Bold.Ttf", 418, 425, 2}};
    for (const auto& c : candidates) {
        const bool usable = state.fonts.ensure(c.name, c.file, [&] {
            const std::string path = rt.fonts.find(c.file, rt.cfg.host.program_dir);
            return !path.empty() && doc.AddFontMONOSPACED(c.name, path, small ? c.small_width : c.width);
        });
        if (usable) return {c.name, c.number};
    }
    return {};
}

}  // namespace velarion
