#include "support/pdf_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <vector>

#include "platform/os/process.h"
#include "support/test_support.h"

namespace velarion::testing {

namespace {

constexpr double kMaxShare = 0.001;
constexpr int kSlack = 8;          // of 255: a sliver of an edge
constexpr int kMaxInkMoved = 128;  // half a pixel (255) within a 3x3 neighbourhood
constexpr double kMaxWordShift = 0.01;

struct Image {
    int width = 0, height = 0;
    std::string rgb;
    int at(int x, int y, int c) const {
        return static_cast<unsigned char>(rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c]);
    }
};

bool read_ppm(const std::string& path, Image& out) {
    const std::string data = read_file(path);
    int max = 0, consumed = 0;
    if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &out.width, &out.height, &max, &consumed) != 3) return false;
    const std::size_t offset = static_cast<std::size_t>(consumed) + 1;
    const std::size_t size = static_cast<std::size_t>(out.width) * out.height * 3;
    if (data.size() < offset + size) return false;
    out.rgb = data.substr(offset, size);
    return true;
}

// Every page of pdf as prefix-N.ppm, in page order.
std::vector<std::string> render(const std::string& pdf, const std::string& prefix) {
    std::vector<std::string> pages;
    if (process::run_and_wait({"pdftoppm", "-r", "100", pdf, prefix}) != 0) return pages;
    namespace fs = std::filesystem;
    const fs::path base(prefix);
    for (const auto& e : fs::directory_iterator(base.parent_path()))
        if (e.path().filename().string().rfind(base.filename().string() + "-", 0) == 0)
            pages.push_back(e.path().string());
    // prefix-1.ppm, or prefix-01.ppm when there are ten pages or more: all of one width.
    std::sort(pages.begin(), pages.end());
    return pages;
}

// Whether value v of channel c at (x, y) lies within the neighbourhood of (x, y) in other.
bool within_neighbours(const Image& other, int x, int y, int c, int v) {
    int lo = 255, hi = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= other.width || ny >= other.height) continue;
            const int o = other.at(nx, ny, c);
            lo = std::min(lo, o);
            hi = std::max(hi, o);
        }
    return v >= lo - kSlack && v <= hi + kSlack;
}

// Whether the two renderings put the same ink around (x, y): a thin stroke
// placed a fraction of a pixel apart spreads the same ink over its pixels
// differently.
bool same_ink(const Image& a, const Image& b, int x, int y, int c) {
    int ink = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= a.width || ny >= a.height) continue;
            ink += b.at(nx, ny, c) - a.at(nx, ny, c);
        }
    return std::abs(ink) <= kMaxInkMoved;
}

// A differing value that anti-aliasing explains: an edge moved by less than a pixel.
bool explained(const Image& a, const Image& b, int x, int y, int c) {
    return (within_neighbours(b, x, y, c, a.at(x, y, c)) && within_neighbours(a, x, y, c, b.at(x, y, c))) ||
           same_ink(a, b, x, y, c);
}

struct Word {
    std::string text;
    double box[4];
};

std::vector<Word> words(const std::string& pdf) {
    const std::string html = process::run_capture({"pdftotext", "-bbox", pdf, "-"}).value_or("");
    static const std::regex re(
        R"re(<word xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="([-0-9.]+)" yMax="([-0-9.]+)">([^<]*)</word>)re");
    std::vector<Word> out;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back({(*it)[5], {std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])}});
    return out;
}

}  // namespace

PdfComparison compare_pdfs(const std::string& a, const std::string& b, const std::string& work) {
    PdfComparison r;
    namespace fs = std::filesystem;
    fs::create_directories(work);
    const auto text_a = process::run_capture({"pdftotext", a, "-"});
    const auto text_b = process::run_capture({"pdftotext", b, "-"});
    if (!text_a || !text_b) {
        r.problem = "pdftotext failed";
        return r;
    }
    if (*text_a != *text_b) {
        r.problem = "text differs:\n" + *text_a + "\n---\n" + *text_b;
        return r;
    }
    const auto words_a = words(a), words_b = words(b);
    if (words_a.size() != words_b.size()) {
        r.problem = "word counts differ";
        return r;
    }
    for (std::size_t i = 0; i < words_a.size(); ++i) {
        if (words_a[i].text != words_b[i].text) {
            r.problem = "word " + words_a[i].text + " against " + words_b[i].text;
            return r;
        }
        for (int k = 0; k < 4; ++k)
            r.max_word_shift = std::max(r.max_word_shift, std::abs(words_a[i].box[k] - words_b[i].box[k]));
    }
    if (r.max_word_shift > kMaxWordShift) {
        r.problem = "a word moved by " + std::to_string(r.max_word_shift) + " pt";
        return r;
    }

    const auto pages_a = render(a, work + "/a"), pages_b = render(b, work + "/b");
    r.pages = static_cast<int>(pages_a.size());
    if (pages_a.empty() || pages_a.size() != pages_b.size()) {
        r.problem = "page counts differ: " + std::to_string(pages_a.size()) + " and " + std::to_string(pages_b.size());
        return r;
    }
    for (std::size_t p = 0; p < pages_a.size(); ++p) {
        Image ia, ib;
        if (!read_ppm(pages_a[p], ia) || !read_ppm(pages_b[p], ib)) {
            r.problem = "unreadable rendering of page " + std::to_string(p + 1);
            return r;
        }
        if (ia.width != ib.width || ia.height != ib.height) {
            r.problem = "page " + std::to_string(p + 1) + " sizes differ";
            return r;
        }
        long differing = 0;
        for (int y = 0; y < ia.height; ++y)
            for (int x = 0; x < ia.width; ++x) {
                bool differs = false, ok = true;
                for (int c = 0; c < 3; ++c) {
                    const int va = ia.at(x, y, c), vb = ib.at(x, y, c);
                    if (va == vb) continue;
                    differs = true;
                    r.max_delta = std::max(r.max_delta, std::abs(va - vb));
                    if (!explained(ia, ib, x, y, c)) ok = false;
                }
                differing += differs;
                if (!ok && r.unexplained++ == 0)
                    r.problem = "page " + std::to_string(p + 1) + " pixel " + std::to_string(x) + "," +
                                std::to_string(y) + " differs beyond anti-aliasing";
            }
        const double share = static_cast<double>(differing) / (static_cast<double>(ia.width) * ia.height);
        r.differing_share = std::max(r.differing_share, share);
        if (share > kMaxShare && r.problem.empty())
            r.problem = "page " + std::to_string(p + 1) + ": " + std::to_string(100 * share) + " % of the pixels differ";
        fs::remove(pages_a[p]);
        fs::remove(pages_b[p]);
    }
    return r;
}

}  // namespace velarion::testing
