// Print job set-up of CreaPdf: the refusal rules, the marker sequences of
// "SEQBARCODE" and the formatting table.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "common/file_problem.h"
#include "platform/os/ini_file.h"

namespace velarion {

struct Runtime;
struct StyleSettings;
struct PreAnalysis;

// True when the style's "forzatura" or the pre-analysis refuses the type;
// writes the rule's trace or activity line.
bool refuses_print_type(const Runtime& rt, const StyleSettings& style, const PreAnalysis& pre,
                        const std::string& print_type);

// Up to three start/end marker pairs with their replacements (1-based).
struct MarkerSequences {
    std::array<std::string, 4> start, start_repl, end, end_repl;
};
// From the section "SEQBARCODE" of the style file as read.
MarkerSequences read_marker_sequences(const ini::IniContents& style_file);

// One row of the formatting table: control text to insert before `column`
// on page row `row`.
struct FormatEntry {
    int row = 0;
    int column = 1;
    std::string control;
};

// Parses the formatting table (TAB-separated fields, at most 40 rows). A line
// that cannot be used is left out and, with problems given, is one of them
// (path names the file).
std::vector<FormatEntry> parse_format_table(const std::string& file_text, const std::string& path = "",
                                            std::vector<FileProblem>* problems = nullptr);
// Loads the style's "formattatesto" file from the logo directory; an activity
// line and an empty table when it cannot be read (a problem too, with problems given).
std::vector<FormatEntry> load_format_table(const Runtime& rt, const std::string& file_name,
                                           std::vector<FileProblem>* problems = nullptr);

// The formatting tables of one message, each read once while its file does
// not change: a document tries up to 13 print types, and its directives may
// set the style up again within one of them. A table that is not found is
// looked for again (with its activity line) each time.
class FormatTables {
public:
    // As load_format_table; the problems of a table are added each time it is asked for.
    const std::vector<FormatEntry>& get(const Runtime& rt, const std::string& file_name,
                                        std::vector<FileProblem>& problems);
    // Times a table file was read (for tests).
    int reads() const { return reads_; }

private:
    struct Table {
        std::string path;
        ini::FileStamp stamp;
        std::vector<FormatEntry> rows;
        std::vector<FileProblem> problems;
    };
    std::map<std::string, Table> tables_;  // by the name the style gives
    std::vector<FormatEntry> none_;
    int reads_ = 0;
};

}  // namespace velarion
