// What a PDF/A needs from pages the writer did not draw (merged PDFs): the
// pages are walked with everything they draw (forms, tiling patterns, Type 3
// glyphs, soft masks, annotation appearances); what can be made to conform
// without changing what a page shows is changed (actions removed, print
// flags set), the rest is reported.
#pragma once

#include <string>
#include <vector>

class QPDF;
class QPDFObjectHandle;

namespace velarion::archival_pages {

// Forms inside forms (and patterns, appearances) deeper than this are not
// walked: the page is reported instead.
inline constexpr int kMaxDepth = 32;

struct Report {
    // What keeps the document from being a PDF/A.
    std::vector<std::string> fonts_not_embedded;  // font names, each once
    std::vector<std::string> wrong_widths;        // fonts whose widths differ from their program
    std::vector<std::string> missing_glyphs;      // fonts whose text draws the missing glyph
    bool device_cmyk = false;    // DeviceCMYK colour without a CMYK output intent
    bool no_appearance = false;  // an annotation without its appearance
    bool too_deep = false;       // drawing nested beyond kMaxDepth
    bool unreadable = false;     // a content stream that cannot be read
    // What was changed to conform.
    int actions_removed = 0;      // JavaScript, Launch and the other actions a PDF/A may not hold
    int annotations_removed = 0;  // sound, movie, screen and 3D annotations, hidden annotations
    int flags_set = 0;            // annotations given the print flag

    bool conforms() const;
    // One text per line, and back: the report crosses from the process that reads the pages.
    std::string to_text() const;
    static Report from_text(const std::string& text);
};

// Checks the given pages of pdf (page objects of that document) and changes
// them where they can be made to conform; adds to report.
void check(QPDF& pdf, const std::vector<QPDFObjectHandle>& pages, Report& report);

}  // namespace velarion::archival_pages
