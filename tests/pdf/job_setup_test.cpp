#include "pdf/job_setup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/file_problem.h"
#include "layout/pre_analysis.h"
#include "platform/os/ini_file.h"
#include "support/layout_context.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;
using testing::LayoutContext;

bool refused(LayoutContext& t, const std::string& forced, const std::string& type, bool condensed = false) {
    t.layout.style.forzatura = forced;
    PreAnalysis pre;
    pre.condensed = condensed;
    return refuses_print_type(t.rt, t.layout.style, pre, type);
}

TEST(RefusalRules, WithoutForcedType) {
    LayoutContext t;
    EXPECT_TRUE(refused(t, "", "14o"));
    EXPECT_TRUE(refused(t, "", "12o"));
    EXPECT_TRUE(refused(t, "", "10o"));
    EXPECT_FALSE(refused(t, "", "12v"));
    EXPECT_FALSE(refused(t, "", "10o-"));
    EXPECT_FALSE(refused(t, "", "altro"));
    // A condensed listing may use the large landscape types; "10o" stays refused.
    EXPECT_FALSE(refused(t, "", "14o", true));
    EXPECT_FALSE(refused(t, "", "12o", true));
    EXPECT_TRUE(refused(t, "", "10o", true));
}

TEST(RefusalRules, ForcedOrientationAndType) {
    LayoutContext t;
    // "o": the first landscape type no rule refuses is "10o-".
    std::string first;
    for (const char* type : {"14o", "12v", "12o", "10v", "10o-"})
        if (first.empty() && !refused(t, "o", type)) first = type;
    EXPECT_EQ(first, "10o-");
    EXPECT_TRUE(refused(t, "v", "altro"));
    EXPECT_FALSE(refused(t, "v", "8v"));
    // A forced type admits only itself.
    EXPECT_TRUE(refused(t, "10o", "10o-"));
    EXPECT_FALSE(refused(t, "10o", "10o"));
    EXPECT_FALSE(refused(t, "12o", "12o"));
    EXPECT_TRUE(t.list.lines().empty());  // rule 6 is logged in debug mode only

    t.cfg.sw.debug_traces = true;
    t.cfg.derive();
    EXPECT_TRUE(refused(t, "8o", "6o"));
    ASSERT_FALSE(t.list.lines().empty());
    EXPECT_NE(t.list.lines().back().find(" ESCO: forzatura 8o diversa dal tipo stampa attuale 6o"),
              std::string::npos);
    EXPECT_TRUE(refused(t, "", "14o"));
    ASSERT_FALSE(t.view.boxes.empty());
    EXPECT_EQ(t.view.boxes.back(), " ESCO il tipo stampa 14o puo' esistere solo se forzato");
}

TEST(MarkerSequencesFile, ReadOnlyWhileEachPairIsSet) {
    LayoutContext t;
    TempDir dir;
    t.cfg.op.Dir_Loghi = dir.path();
    t.cfg.derive();
    testing::write_file(dir / "loghi.ini",
                        "[SEQBARCODE]\nSEQ1INIZIO=<<\nSEQ1INIZIOREPL=~%\nSEQ1FINE=>>\nSEQ1FINEREPL=~%FINE-\n"
                        "SEQ3INIZIO=never\n");
    auto m = read_marker_sequences(ini::read_all(t.cfg.style_file));
    EXPECT_EQ(m.start[1], "<<");
    EXPECT_EQ(m.start_repl[1], "~%");
    EXPECT_EQ(m.end_repl[1], "~%FINE-");
    EXPECT_EQ(m.start[3], "");  // SEQ2INIZIO empty: the third pair is not read
}

TEST(FormattingTableFile, MissingFileGivesActivityLineAndEmptyTable) {
    LayoutContext t;
    TempDir dir;
    t.cfg.op.Dir_Loghi = dir.path();
    t.cfg.derive();
    std::vector<FileProblem> problems;
    EXPECT_TRUE(load_format_table(t.rt, "nessuno.txt", &problems).empty());
    ASSERT_EQ(t.list.size(), 1u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].message(), dir.path() + "nessuno.txt: formatting table not found");
    testing::write_file(dir / "tab.txt", "1\tC\t3\r\n");
    auto table = load_format_table(t.rt, "TAB.TXT");
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].column, 3);
}

// A message's formatting table is read once while it is unchanged; a table
// not found is looked for (and its line written) each time.
TEST(FormattingTableFile, ReadOncePerMessageUntilItChanges) {
    LayoutContext t;
    TempDir dir;
    t.cfg.op.Dir_Loghi = dir.path();
    t.cfg.derive();
    testing::write_file(dir / "tab.txt", "1\tC\t3\nx\tN\t1\n");
    FormatTables tables;
    for (int i = 0; i < 13; ++i) {
        std::vector<FileProblem> problems;
        ASSERT_EQ(tables.get(t.rt, "tab.txt", problems).size(), 1u);
        ASSERT_EQ(problems.size(), 1u);  // its problem each time it is asked for
        EXPECT_EQ(problems[0].line, 2);
    }
    EXPECT_EQ(tables.reads(), 1);
    testing::write_file(dir / "tab.txt", "1\tC\t3\n2\tN\t4\n3\tC\t5\n");
    std::vector<FileProblem> problems;
    EXPECT_EQ(tables.get(t.rt, "tab.txt", problems).size(), 3u);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(tables.reads(), 2);

    std::filesystem::remove(dir / "tab.txt");
    EXPECT_TRUE(tables.get(t.rt, "tab.txt", problems).empty());
    EXPECT_TRUE(tables.get(t.rt, "tab.txt", problems).empty());
    EXPECT_EQ(problems.size(), 2u);
    EXPECT_EQ(t.list.size(), 2u);  // " Crea Pdf tabella di formattazione non trovata tab.txt", each time
}

// Rows the table cannot use are left out as before, each named with its line.
TEST(FormattingTableFile, RowsLeftOutAreProblemsWithTheirLines) {
    std::vector<FileProblem> problems;
    const auto table = parse_format_table("1\tC\t3\n\nx\tN\t4\n2\tZ\t1\n3\tN\n4\tN\t2\n", "tab.txt", &problems);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].row, 4);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].message(), "tab.txt:3 'x' is not a whole number (row ignored)");
    EXPECT_EQ(problems[1].message(), "tab.txt:4 'Z' is not N, C, EC or P (row ignored)");
    EXPECT_EQ(problems[2].message(), "tab.txt:5 '3\tN' has fewer than 3 TAB-separated fields (ignored)");
}

}  // namespace
}  // namespace velarion
