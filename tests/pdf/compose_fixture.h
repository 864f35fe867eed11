// Composition tests: a context with a work and a logo directory, the print
// type sequence of message processing, and the PDF tools that check results.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "layout/overlay_fake_doc.h"
#include "layout/pre_analysis.h"
#include "pdf/crea_pdf.h"
#include "support/layout_context.h"
#include "support/test_support.h"

namespace velarion::testing {

// A word of `pdftotext -bbox`: its box in points from the page's top left.
struct Word {
    int page = 0;
    double x_min = 0, y_min = 0, x_max = 0, y_max = 0;
    std::string text;
};

inline std::vector<Word> pdf_words(const std::string& pdf) {
    auto r = run_program({"/usr/bin/pdftotext", "-bbox", pdf, "-"});
    std::vector<Word> words;
    std::istringstream in(r.out);
    int page = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("<page ") != std::string::npos) ++page;
        const auto w = line.find("<word ");
        if (w == std::string::npos) continue;
        auto attr = [&](const char* name) {
            const auto p = line.find(std::string(name) + "=\"");
            return std::atof(line.c_str() + p + std::string(name).size() + 2);
        };
        Word word;
        word.page = page;
        word.x_min = attr("xMin");
        word.y_min = attr("yMin");
        word.x_max = attr("xMax");
        word.y_max = attr("yMax");
        const auto gt = line.find('>', w);
        word.text = line.substr(gt + 1, line.find("</word>") - gt - 1);
        words.push_back(word);
    }
    return words;
}

inline const Word* find_word(const std::vector<Word>& words, const std::string& text, int page = 0) {
    for (const auto& w : words)
        if (w.text == text && (page == 0 || w.page == page)) return &w;
    return nullptr;
}

// "Key: value" lines of pdfinfo (all pages' sizes with -l).
inline std::string pdfinfo(const std::string& pdf, bool all_pages = false) {
    if (all_pages) return run_program({"/usr/bin/pdfinfo", "-f", "1", "-l", "999", pdf}).out;
    return run_program({"/usr/bin/pdfinfo", pdf}).out;
}
inline int pdf_pages(const std::string& pdf) {
    const std::string info = pdfinfo(pdf);
    const auto p = info.find("Pages:");
    return p == std::string::npos ? -1 : std::atoi(info.c_str() + p + 6);
}
// The value of a pdfinfo field ("Author", "Page    2 size", ...), blanks trimmed.
inline std::string info_value(const std::string& info, const std::string& key) {
    const auto p = info.find(key + ":");
    if (p == std::string::npos) return "<none>";
    auto from = info.find_first_not_of(' ', p + key.size() + 1);
    return info.substr(from, info.find('\n', from) - from);
}
// Width and height in points of a page (1-based).
inline std::pair<double, double> page_size(const std::string& pdf, int page) {
    char key[32];
    std::snprintf(key, sizeof key, "Page %4d size", page);
    const std::string v = info_value(pdfinfo(pdf, true), key);
    return {std::atof(v.c_str()), std::atof(v.c_str() + v.find('x') + 1)};
}

inline std::string pdf_text(const std::string& pdf) {
    return run_program({"/usr/bin/pdftotext", "-layout", pdf, "-"}).out;
}

// A recording drawing object that hands its calls over when it is released.
struct KeptDoc : RecordingDoc {
    explicit KeptDoc(std::vector<std::string>* out) : out_(out) {}
    ~KeptDoc() override { *out_ = calls; }
    void addpage() override { calls.push_back("addpage"); }

private:
    std::vector<std::string>* out_;
};

// mm in PDF points.
inline double pt(double mm) { return mm * 72.0 / 25.4; }

struct ComposeTest : ::testing::Test {
    LayoutContext t;
    TempDir dir;
    Settings& cfg = t.cfg;
    ActivityList& list = t.list;
    RecordingView& view = t.view;
    Runtime& rt = t.rt;
    LayoutState& layout = t.layout;  // the message's layout state
    PreAnalysis pre;                  // of the print file last analysed

    void SetUp() override {
        cfg.op.tempozip_dir = dir / "tempozip/";
        cfg.op.Dir_Loghi = dir / "loghi/";
        cfg.derive();
        cfg.host.program_dir = dir / "bin/";  // no protection tool unless a test puts one
        cfg.pdf.xp_edition = true;
        write_file(dir / "loghi/loghi.ini", "");
        settle(dir / "loghi/loghi.ini");
        write_file(dir / "tempozip/note.txt", "");
    }
    void styles(const std::string& ini) {
        write_file(dir / "loghi/loghi.ini", ini);
        settle(dir / "loghi/loghi.ini");
    }
    std::string print_file(const std::string& name, const std::string& text) {
        write_file(dir / ("tempozip/" + name), text);
        return dir / ("tempozip/" + name);
    }
    // The type sequence of message processing; "" when no type fits.
    std::string compose(const std::string& path) {
        pre = AnalizzaTXT(rt, path);
        for (const char* type : kPrintTypes)
            if (CreaPdf(rt, layout, pre, path, type, paths_name(path)).fitted()) return type;
        return "";
    }
    static std::string paths_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }
    bool logged(const std::string& text) const {
        for (const auto& l : list.lines())
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
};

// A listing of `pages` pages of 132 columns separated by form feeds.
inline std::string listing(int pages, int rows = 60) {
    std::string out;
    for (int p = 1; p <= pages; ++p) {
        for (int r = 1; r <= rows; ++r) {
            std::string line = (p > 1 && r == 1 ? "\x0c" : "") + std::string("P") + std::to_string(p) + "R" +
                               std::to_string(r);
            line.resize(line[0] == '\x0c' ? 132 : 131, '.');
            line += "|";
            out += line + "\r\n";
        }
    }
    return out;
}

}  // namespace velarion::testing
