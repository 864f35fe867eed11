// PDFs made to break a reader: a page tree thousands of levels deep, a
// chain of actions as long.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace velarion::testing {

// A PDF of one page whose page tree is `depth` levels deep, each level an
// object of its own; with action_chain, the page tree is flat and the page's
// link carries a chain of `depth` actions (/Next) instead.
inline std::string deep_pdf(int depth, bool action_chain) {
    std::string body = "%PDF-1.7\n";
    std::vector<std::size_t> offsets;
    auto object = [&](const std::string& text) {
        offsets.push_back(body.size());
        body += std::to_string(offsets.size()) + " 0 obj\n" + text + "\nendobj\n";
    };
    const int levels = action_chain ? 1 : depth;
    const int first_action = levels + 3;
    object("<< /Type /Catalog /Pages 2 0 R >>");
    for (int level = 0; level < levels; ++level) {
        const int self = 2 + level, kid = level + 1 < levels ? self + 1 : levels + 2;
        object("<< /Type /Pages /Kids [" + std::to_string(kid) + " 0 R] /Count 1" +
               (level ? " /Parent " + std::to_string(self - 1) + " 0 R" : "") + " >>");
    }
    object("<< /Type /Page /Parent " + std::to_string(levels + 1) + " 0 R /MediaBox [0 0 200 200]" +
           (action_chain ? " /Annots [<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A " +
                               std::to_string(first_action) + " 0 R >>]"
                         : "") +
           " >>");
    if (action_chain)
        for (int i = 0; i < depth; ++i)
            object("<< /S /URI /URI (x)" +
                   (i + 1 < depth ? " /Next " + std::to_string(first_action + i + 1) + " 0 R" : std::string()) + " >>");
    const std::size_t xref = body.size();
    body += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    char line[32];
    for (const std::size_t o : offsets) {
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        body += line;
    }
    body += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
            std::to_string(xref) + "\n%%EOF\n";
    return body;
}

}  // namespace velarion::testing
