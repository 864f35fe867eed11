// Overlay forms (Creafincature): a small file of drawing commands, one per
// line, drawn on the current page; and the helpers of its language.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/file_problem.h"

#include "common/registered_fonts.h"

namespace velarion {

struct Runtime;
class PdfDocument;

// State of the overlay language and the font registration that lasts for
// one document (the stop label is kept by the line loop across pages).
struct OverlayState {
    std::string stop_label;  // the three characters after the print file's "~%FINE-"

    std::string last_font_file;                 // last file registered by FONT without a width
    std::array<std::string, 21> image_slots{};  // IMAGE slots 0-20: imported resource names
    RegisteredFonts fonts;                      // barcode and monospaced fonts of the document

    // The style checker sets `checking`: then a line that fails or names no
    // command is a problem (file and line) and the file goes on with its next
    // line, where the agent ends the file at its first failing line. Problems
    // are kept across documents, each once.
    bool checking = false;
    std::vector<FileProblem> problems;

    // Empties what lives for one document: called when a document starts.
    // The stop label is left alone.
    void reset_document() {
        last_font_file.clear();
        image_slots.fill(std::string());
        fonts.clear();
    }
};

// Reads one overlay file and draws it on the current page. A name without a
// folder is taken from the logo directory, and overlay_file receives the
// completed path. left_override / top_override replace the MARGSX / MARGSUP
// values when not 0. Failures end the file with one activity line (see
// OverlayState::checking for the style checker).
void Creafincature(const Runtime& rt, OverlayState& state, PdfDocument& doc, std::string& overlay_file, double left_override,
                   double top_override);

// The text with "." turned into "," when the system's decimal separator is ",".
std::string NormalizeDecimal(const Runtime& rt, const std::string& text);

// The fields of an overlay line split at TAB: field[1] to field[15] (field[0]
// unused; a field the line lacks is empty); count excludes an empty last field.
struct TabFields {
    std::array<std::string, 16> field{};
    int count = 0;
    const std::string& operator[](int n) const { return field[n]; }
};
TabFields SplitTabFields(const std::string& line);
// The fields of a line read as numbers once (field[0] unused).
using FieldNumbers = std::array<std::optional<double>, 16>;

// Splits text into words, each keeping the one space that followed it (a run
// of spaces gives one-space words); a last word without a space is kept when
// not empty. Returns the number of words minus 1. More than 100 words throw
// NumberedError (9 "Subscript out of range").
using WordTable = std::array<std::string, 100>;
int SplitWords(const std::string& text, WordTable& words);

}  // namespace velarion
