#include "layout/logo.h"

#include <map>

#include "common/number_text.h"
#include "common/runtime.h"
#include "layout/overlay.h"
#include "layout/overlay_support.h"
#include "layout/style.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/pdf_document.h"
#include "platform/text_encoding.h"

namespace velarion {

namespace {

// The logo of one section: its picture and position, read once per import
// so that pages do not read loghi.ini again.
void import_section(const Runtime& rt, PdfDocument& doc, const std::string& section,
                    const std::string& picture, std::vector<LogoImage>& out) {
    std::map<std::string, std::string> v;
    for (auto& [k, val] : ini::read_section(section, rt.cfg.style_file)) v.emplace(text::lower(k), val);
    auto get = [&](const char* key) {
        auto it = v.find(key);
        return it == v.end() ? std::string() : NormalizeDecimal(rt, it->second);
    };
    const std::string& dir = rt.cfg.logo_dir;
    // Read only below the logo folder or a read folder ("" is no picture).
    const std::string path = overlay::StyleFilePath(rt, dir + paths::native(picture) + ".jpg");
    LogoImage logo;
    try {
        logo.resource = doc.ImportImageAsResource(path, 90);
    } catch (const std::exception& e) {
        rt.list.add(" Logo non trovato " + path + " " + e.what());
        return;
    }
    logo.section = section;
    logo.altezza = get("altezza");
    logo.larghezza = get("larghezza");
    logo.margsx = get("margsx");
    logo.margbasso = get("margbasso");
    out.push_back(std::move(logo));
}

}  // namespace

std::vector<LogoImage> ImportStyleLogos(const Runtime& rt, PdfDocument& doc, const std::string& section,
                                        const std::string& file, const std::string& second_section) {
    std::vector<LogoImage> logos;
    if (section.empty()) return logos;
    if (!file.empty()) import_section(rt, doc, section, file, logos);
    if (!second_section.empty()) {
        const std::string second = ini::read(second_section, "file", "", rt.cfg.style_file);
        if (!second.empty()) import_section(rt, doc, second_section, second, logos);
    }
    return logos;
}

std::vector<LogoImage> ImportLogos(const Runtime& rt, PdfDocument& doc, const StyleSettings& style) {
    return ImportStyleLogos(rt, doc, style.name, style.file, style.secondo_logo);
}

void DrawLogo(PdfDocument& doc, const LogoImage& logo) {
    if (logo.altezza.empty()) return;
    const double h = to_number(logo.altezza).value_or(0);
    const double w = to_number(logo.larghezza).value_or(0);
    const double x = to_number(logo.margsx).value_or(0);
    const double bottom = to_number(logo.margbasso).value_or(0);
    doc.DrawImageResource(logo.resource, x, bottom - h, w, h);
}

void DrawLogos(PdfDocument& doc, const std::vector<LogoImage>& logos) {
    for (const auto& logo : logos) DrawLogo(doc, logo);
}

}  // namespace velarion
