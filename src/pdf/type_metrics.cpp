#include "pdf/type_metrics.h"

#include "layout/pre_analysis.h"
#include "layout/style.h"

namespace velarion {

namespace {

// One row of the type table; 0 in a piece column means "the base size".
struct Row {
    const char* type;
    double base, s, c, e, ec, pitch, width, height;
};

constexpr Row kTable[] = {
    {"14o", 14, 11.67, 8.2, 0, 0, 3, 210, 297},
    {"12v", 12, 10, 7, 16, 14, 4.1, 210, 297},
    {"12o", 12, 10, 7, 0, 0, 3.1, 297, 207},
    {"10v", 10.2, 8.5, 6, 13, 0, 4, 210, 297},
    {"10o-", 10, 8.5, 6, 0, 12, 2.8, 297, 207},
    {"10o", 10, 8.5, 6, 0, 0, 2.7, 297, 207},
    {"8v", 8.5, 7.08, 5, 10, 0, 3.9, 210, 297},
    {"9o", 9.35, 7.08, 5.5, 0, 0, 2.7, 297, 207},
    {"8o", 8.5, 7.08, 5, 0, 0, 2.7, 297, 207},
    {"7v", 7, 0, 4.1, 0, 0, 3.9, 210, 297},
    {"6v", 6.8, 5.67, 4, 0, 0, 3.9, 210, 297},
    {"6o", 6.8, 5.67, 4, 0, 0, 2.9, 297, 207},
    {"6o-", 6, 0, 0, 0, 0, 2.7, 297, 207},
};
constexpr Row kOther = {"altro", 5, 0, 0, 0, 0, 2.7, 297, 207};

// The style's value when it has one (the loader keeps only usable ones).
void override_with(double& value, const std::optional<double>& style_value) {
    if (style_value) value = *style_value;
}

}  // namespace

bool is_landscape(const std::string& print_type) {
    return print_type.find('o') != std::string::npos || print_type.find('v') == std::string::npos;
}

TypeMetrics type_metrics(const std::string& print_type, const StyleSettings& style) {
    const Row* row = &kOther;
    for (const auto& r : kTable)
        if (print_type == r.type) row = &r;
    auto or_base = [&](double v) { return v == 0 ? row->base : v; };
    TypeMetrics m;
    m.normal = row->base;
    m.semi = or_base(row->s);
    m.condensed = or_base(row->c);
    m.expanded = or_base(row->e);
    m.exp_cond = or_base(row->ec);
    m.pitch = row->pitch;
    if (print_type == "12v" && style.tipologo == TextOriginKind::page_corner) m.pitch = 4.2;
    m.width = row->width;
    m.height = row->height;

    override_with(m.normal, style.car_normale);
    override_with(m.condensed, style.car_compresso);
    override_with(m.expanded, style.car_espanso);
    override_with(m.exp_cond, style.car_espanso_compresso);
    override_with(m.semi, style.car_semicompresso);
    override_with(m.pitch, style.interlinea);
    override_with(m.height, style.altezzapag);
    return m;
}

double piece_size(const TypeMetrics& m, const std::string& piece_style) {
    if (piece_style == "s") return m.semi;
    if (piece_style == "c") return m.condensed;
    if (piece_style == "e") return m.expanded;
    if (piece_style == "ec") return m.exp_cond;
    return m.normal;
}

TextOrigin text_origin(const StyleSettings& style) {
    TextOrigin o;
    if (style.tipologo == TextOriginKind::above_margin) o.first_row_y = style.margbasso.value_or(0) + 10;
    if (style.tipologo == TextOriginKind::page_corner) {
        o.first_row_y = 0;
        o.column_x = 0;
    }
    if (style.riga) o.first_row_y = *style.riga;
    if (style.colonna) o.column_x = *style.colonna;
    return o;
}

int lines_per_page(const StyleSettings& style, const PreAnalysis& pre) {
    if (style.lunghpagina) return *style.lunghpagina;
    return pre.page_length == 66 ? 66 : 213;
}

}  // namespace velarion
