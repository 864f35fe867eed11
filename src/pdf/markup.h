// The rewrites of a print-file line and its split into pieces by the printer
// control characters it holds.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "layout/style.h"
#include "pdf/job_setup.h"

namespace velarion {

void replace_all(std::string& s, const std::string& from, const std::string& to);

// "<E>" to Chr(14), "</E>" to Chr(18).
void expand_tags(std::string& line);

// Applies the style's substitution rows (decoded by the style loader) in order.
void apply_substitutions(std::string& line, const std::vector<Substitution>& table);

// Runs of two or more "-" (and a "-" before "|") become long dashes (0x97).
void long_dashes(std::string& line);
// " 'e " becomes " € " (0x80).
void euro_sign(std::string& line);
void apply_markers(std::string& line, const MarkerSequences& m);

// "///L..." (also after a form feed) becomes "%logo:...%".
void rewrite_logo_directive(std::string& line);
// The style named by a "%logo:" directive (any case), or nullopt when none.
std::optional<std::string> logo_directive(const std::string& line);

// Inserts the entries for page row `row` before their columns.
void apply_format_table(std::string& line, const std::vector<FormatEntry>& table, int row);

struct Piece {
    std::string text;
    std::string style = "n";  // "n", "c", "e", "ec", "s", "p", "bc"
    std::string record;       // "p": the 18-character font record
    std::string section;      // "bc": the barcode section
    bool last = false;
};

// Splits a line into pieces (at least one). A "~%FINE-" marker sets stop_label.
std::vector<Piece> split_pieces(const std::string& line, std::string& stop_label);
// The same into `pieces`, whose first piece's buffers are used again for a
// line without control characters (the line loop's, once per line).
void split_pieces(const std::string& line, std::string& stop_label, std::vector<Piece>& pieces);

// True when the line holds nothing but characters below 32.
bool only_control_characters(const std::string& line);

}  // namespace velarion
