// One interpretation of an overlay file: its offsets, text positions and the
// commands that draw on the page.
#pragma once

#include <optional>
#include <string>

#include "layout/overlay.h"

namespace velarion {

struct Runtime;
class PdfDocument;

namespace overlay {

class OverlayRun {
public:
    OverlayRun(const Runtime& rt, OverlayState& state, PdfDocument& doc, double left_override,
               double top_override)
        : rt_(rt), state_(state), doc_(doc), left_override_(left_override), top_override_(top_override) {}

    // Carries out the command of one split line; throws NumberedError or
    // PdfError. numbers: the fields already read as numbers, when they were.
    void execute(const TabFields& f, const FieldNumbers* numbers = nullptr);
    bool ended() const { return ended_; }
    // True for the keywords of the language (others are ignored).
    static bool is_command(const std::string& keyword);
    // After a failure: puts back what a half-done text left set.
    void undo_paragraph();

private:
    // Line operations with the offsets added; "w" and "col" of the command.
    void begin_lines(const TabFields& f);
    void line(double xa, double ya, double xb, double yb);
    double num(const std::string& field) const;
    // The field read as a number, from the line's numbers when it is one of its fields.
    std::optional<double> try_num(const std::string& field) const;

    void font(const TabFields& f);
    void rett(const TabFields& f);
    void retn(const TabFields& f);
    void retf(const TabFields& f);
    void linvet(const TabFields& f);
    void linort(const TabFields& f);
    void rets(const TabFields& f);
    void image(const TabFields& f);
    void testo(const TabFields& f);
    void select_font(const std::string& tag);
    std::string stretch(const std::string& text, const std::string& layout);

    const Runtime& rt_;
    OverlayState& state_;
    PdfDocument& doc_;
    double left_override_, top_override_;

    const TabFields* fields_ = nullptr;       // the line being carried out
    const FieldNumbers* numbers_ = nullptr;  // its fields as numbers, when read before
    double left_ = 0, top_ = 0;  // MARGSX / MARGSUP offsets
    bool ended_ = false;
    std::string font_tag_ = "F0";
    double previous_end_ = 0;
    bool have_previous_ = false;  // a TESTO was written in this call
    double accumulated_ = 0;
    bool continuation_ = false;
    bool paragraph_full_ = false;  // a "g" text is being written
    double line_width_ = 0;
};

}  // namespace overlay
}  // namespace velarion
