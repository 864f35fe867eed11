// Two PDFs compared as a reader sees them: each page rendered by pdftoppm
// at 100 dpi, the text of pdftotext, and the place of every word.
//
// Pages are equivalent when they have the same size and every pixel either
// agrees or differs only as anti-aliasing does when an edge moves by less
// than a pixel: its value lies within the values of its 3x3 neighbourhood in
// the other rendering (give or take 8 of 255), or that neighbourhood holds
// the same ink in both (within half a pixel's); such pixels are at most
// 0.1 % of the page. Text must be identical, and each word's box within 0.01 pt.
#pragma once

#include <string>

namespace velarion::testing {

struct PdfComparison {
    int pages = 0;
    int max_delta = 0;           // largest channel difference of any pixel
    double differing_share = 0;  // share of differing pixels, worst page
    long unexplained = 0;        // pixels that anti-aliasing does not explain
    double max_word_shift = 0;   // points
    std::string problem;         // the first difference that is not allowed
    bool equivalent() const { return problem.empty(); }
};

// `work` is a folder for the rendered pages.
PdfComparison compare_pdfs(const std::string& a, const std::string& b, const std::string& work);

}  // namespace velarion::testing
