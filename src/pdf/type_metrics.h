// Print types: base size, piece sizes, line pitch and layout size, the text
// origin and the lines per page, with the style's overrides applied.
#pragma once

#include <string>

#include "common/number_text.h"
#include "layout/style.h"

namespace velarion {

struct PreAnalysis;

struct TypeMetrics {
    double normal = 5;      // "n" pieces (base size)
    double semi = 5;        // "s" semi-condensed
    double condensed = 5;   // "c"
    double expanded = 5;    // "e"
    double exp_cond = 5;    // "ec"
    double pitch = 2.7;     // line pitch (mm)
    double width = 297;     // layout width (mm)
    double height = 207;    // layout height (mm)
};

// True for the landscape types ("o" in the code) and "altro".
bool is_landscape(const std::string& print_type);

// The table values of the type, then the style's sizes, "interlinea" and "altezzapag".
TypeMetrics type_metrics(const std::string& print_type, const StyleSettings& style);

// Size for a piece style ("n", "s", "c", "e", "ec"; anything else is normal).
double piece_size(const TypeMetrics& m, const std::string& piece_style);

struct TextOrigin {
    double first_row_y = 4.2;
    double column_x = 5;
};
TextOrigin text_origin(const StyleSettings& style);

// "lunghpagina" when set; else 66 when the pre-analysis found 66, otherwise 213.
int lines_per_page(const StyleSettings& style, const PreAnalysis& pre);

}  // namespace velarion
