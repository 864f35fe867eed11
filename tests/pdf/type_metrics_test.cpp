#include "pdf/type_metrics.h"

#include <gtest/gtest.h>

#include "layout/pre_analysis.h"
#include "layout/style.h"

namespace velarion {
namespace {

TEST(TypeMetrics, TableValues) {
    StyleSettings s;
    auto m = type_metrics("10o-", s);
    EXPECT_DOUBLE_EQ(m.normal, 10);
    EXPECT_DOUBLE_EQ(m.exp_cond, 12);
    EXPECT_DOUBLE_EQ(m.expanded, 10);  // empty cell: the base size
    EXPECT_DOUBLE_EQ(m.pitch, 2.8);
    EXPECT_DOUBLE_EQ(m.width, 297);
    EXPECT_DOUBLE_EQ(m.height, 207);

    auto big = type_metrics("14o", s);  // landscape page, portrait layout size
    EXPECT_DOUBLE_EQ(big.width, 210);
    EXPECT_DOUBLE_EQ(big.height, 297);
    EXPECT_TRUE(is_landscape("14o"));

    auto v = type_metrics("12v", s);
    EXPECT_DOUBLE_EQ(v.pitch, 4.1);
    s.tipologo = TextOriginKind::page_corner;
    EXPECT_DOUBLE_EQ(type_metrics("12v", s).pitch, 4.2);

    auto other = type_metrics("altro", StyleSettings{});
    EXPECT_DOUBLE_EQ(other.normal, 5);
    EXPECT_DOUBLE_EQ(other.condensed, 5);
    EXPECT_TRUE(is_landscape("altro"));
    EXPECT_FALSE(is_landscape("8v"));
    EXPECT_DOUBLE_EQ(type_metrics("9o", StyleSettings{}).normal, 9.35);
}

TEST(TypeMetrics, StyleOverrides) {
    StyleSettings s;
    s.car_normale = 9.5;
    s.car_compresso = 6.01;
    s.interlinea = 3.3;
    s.altezzapag = 190;
    auto m = type_metrics("8o", s);
    EXPECT_DOUBLE_EQ(m.normal, 9.5);
    EXPECT_DOUBLE_EQ(m.condensed, 6.01);
    EXPECT_DOUBLE_EQ(m.semi, 7.08);
    EXPECT_DOUBLE_EQ(m.pitch, 3.3);
    EXPECT_DOUBLE_EQ(m.height, 190);
    EXPECT_DOUBLE_EQ(piece_size(m, "c"), 6.01);
    EXPECT_DOUBLE_EQ(piece_size(m, "p"), 9.5);

    // Values the loader could not use (nullopt) keep the table values.
    s.car_normale.reset();
    s.car_compresso.reset();
    s.interlinea.reset();
    m = type_metrics("8o", s);
    EXPECT_DOUBLE_EQ(m.normal, 8.5);
    EXPECT_DOUBLE_EQ(m.condensed, 5);
    EXPECT_DOUBLE_EQ(m.pitch, 2.7);
}

TEST(TypeMetrics, OriginAndLinesPerPage) {
    StyleSettings s;
    EXPECT_DOUBLE_EQ(text_origin(s).first_row_y, 4.2);
    EXPECT_DOUBLE_EQ(text_origin(s).column_x, 5);
    s.tipologo = TextOriginKind::above_margin;
    s.margbasso = 20;
    EXPECT_DOUBLE_EQ(text_origin(s).first_row_y, 30);
    s.tipologo = TextOriginKind::page_corner;
    EXPECT_DOUBLE_EQ(text_origin(s).first_row_y, 0);
    EXPECT_DOUBLE_EQ(text_origin(s).column_x, 0);
    s.riga = 12.5;
    s.colonna = 7;
    EXPECT_DOUBLE_EQ(text_origin(s).first_row_y, 12.5);
    EXPECT_DOUBLE_EQ(text_origin(s).column_x, 7);

    PreAnalysis pre;
    pre.page_length = 66;
    EXPECT_EQ(lines_per_page(StyleSettings{}, pre), 66);
    pre.page_length = 72;
    EXPECT_EQ(lines_per_page(StyleSettings{}, pre), 213);
    StyleSettings l;
    l.lunghpagina = 40;
    EXPECT_EQ(lines_per_page(l, pre), 40);
    EXPECT_FALSE(to_number("12a"));
    EXPECT_FALSE(to_number(""));
}

}  // namespace
}  // namespace velarion
