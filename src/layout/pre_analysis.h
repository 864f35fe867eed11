// Pre-analysis of a print file (AnalizzaTXT): facts the composition uses to
// choose the print type and the page length.
#pragma once

#include <string>

namespace velarion {

struct Runtime;

struct PreAnalysis {
    long line_count = 0;
    int page_length = 213;              // 66 or 213
    bool condensed = false;             // starts condensed, ends its condensing on the last line
    long page_section_end = 9999999;    // "/PAGE" section end
    std::string last_line;
    std::string line_before_last;
    std::string invoice_xml;  // the attachment a "///X" line names ("" none): a Factur-X invoice
};

// One pass over the print file. page_section_end is the "/PAGE" section end
// found so far for the message; the result carries it on.
PreAnalysis AnalizzaTXT(Runtime& rt, const std::string& path, long page_section_end = 9999999);

}  // namespace velarion
