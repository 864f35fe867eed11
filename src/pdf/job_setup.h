// Print job set-up of CreaPdf: the refusal rules, the marker sequences of
// "SEQBARCODE" and the formatting table.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace velarion {

struct Runtime;
struct StyleSettings;
struct PreAnalysis;
struct FileProblem;
namespace ini {
struct IniContents;
}

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

}  // namespace velarion
