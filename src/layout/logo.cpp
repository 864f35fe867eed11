#include "layout/logo.h"

#include "common/runtime.h"
#include "layout/overlay_support.h"
#include "platform/os/paths.h"
#include "platform/pdf/pdf_document.h"

namespace velarion {

std::vector<LogoImage> ImportLogos(const Runtime& rt, PdfDocument& doc, const StyleSettings& style) {
    std::vector<LogoImage> logos;
    if (style.name.empty()) return logos;
    const std::string& dir = rt.cfg.logo_dir;
    for (const StyleLogo& l : style.logos) {
        // Read only below the logo folder or a read folder: opened once,
        // confined, and read from that descriptor.
        const overlay::FoundStyleFile found =
            overlay::FindAndOpenStyleFile(rt, dir + paths::native(l.picture) + ".jpg");
        const std::string& path = found.path;
        LogoImage logo;
        try {
            logo.resource = doc.ImportImage(path, [&] { return safe_path::read_whole(found.fd); }, 90);
        } catch (const PdfArchivalRefusal&) {
            // The picture is there: it is left out because of the PDF/A.
            rt.list.add(" Logo escluso dal PDF/A (immagine CMYK) " + path);
            continue;
        } catch (const std::exception& e) {
            rt.list.add(" Logo non trovato " + path + " " + e.what());
            continue;
        }
        logo.section = l.section;
        logo.placement = l.placement;
        logos.push_back(std::move(logo));
    }
    return logos;
}

void DrawLogo(PdfDocument& doc, const LogoImage& logo) {
    const LogoPlacement& p = logo.placement;
    if (!p.has_height) return;
    doc.DrawImageResource(logo.resource, p.x, p.bottom - p.height, p.width, p.height);
}

void DrawLogos(PdfDocument& doc, const std::vector<LogoImage>& logos) {
    for (const auto& logo : logos) DrawLogo(doc, logo);
}

}  // namespace velarion
