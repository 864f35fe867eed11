#include "platform/pdf/pdf_font_names.h"

#include <unordered_map>

#include "platform/pdf/pdf_document.h"

namespace velarion {

const char* font_table_name(int number) {
    static constexpr const char* kFontTable[12] = {
        "Courier",         "Helvetica",           "Times-Roman",           "Courier-Bold",
        "Helvetica-Bold",  "Times-Bold",          "Courier-Oblique",       "Helvetica-Oblique",
        "Times-Italic",    "Courier-BoldOblique", "Helvetica-BoldOblique", "Times-BoldItalic"};
    return number >= 0 && number < 12 ? kFontTable[number] : kFontTable[0];
}

namespace pdfwriter {

const char* standard_font(std::string_view name) {
    if (name.size() >= 3 && name.size() <= 4 && name[0] == '/' && name[1] == 'F') {
        int n = 0;
        for (std::size_t i = 2; i < name.size(); ++i) {
            if (name[i] < '0' || name[i] > '9') return nullptr;
            n = n * 10 + (name[i] - '0');
        }
        return n < 12 ? font_table_name(n) : nullptr;
    }
    static const std::unordered_map<std::string_view, const char*> names = {
        {"Courier", "Courier"},
        {"Courier-Bold", "Courier-Bold"},
        {"Courier-Oblique", "Courier-Oblique"},
        {"Courier-BoldOblique", "Courier-BoldOblique"},
        {"Helvetica", "Helvetica"},
        {"Helvetica-Bold", "Helvetica-Bold"},
        {"Helvetica-Oblique", "Helvetica-Oblique"},
        {"Helvetica-BoldOblique", "Helvetica-BoldOblique"},
        {"Times-Roman", "Times-Roman"},
        {"Times-Bold", "Times-Bold"},
        {"Times-Italic", "Times-Italic"},
        {"Times-BoldItalic", "Times-BoldItalic"},
        {"Symbol", "Symbol"},
        {"ZapfDingbats", "ZapfDingbats"},
        {"Arial", "Helvetica"},
        {"Arial-Bold", "Helvetica-Bold"},
        {"Arial-Italic", "Helvetica-Oblique"},
        {"Arial-BoldItalic", "Helvetica-BoldOblique"},
        {"Times", "Times-Roman"},
        {"Times-Oblique", "Times-Italic"},
        {"Times-BoldOblique", "Times-BoldItalic"},
        {"Courier New", "Courier"},
    };
    auto it = names.find(name);
    return it == names.end() ? nullptr : it->second;
}

}  // namespace pdfwriter
}  // namespace velarion
