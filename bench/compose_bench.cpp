// Composition benchmark: generated 132-column listings of 10, 1,000 and
// 10,000 pages (66 lines per page) through the pre-analysis and CreaPdf with
// the whole sequence of print types, as message processing runs them.
// Prints pages per second, output size per 1,000 pages, peak memory and the
// share of time spent in refused and failed types.
//
// Usage: compose_bench               (each size in a process of its own)
//        compose_bench PAGES [null|hpdf]  (one size; "null": no drawing
//                                     component, "hpdf": the libharu writer)
//        compose_bench FILE [null|hpdf]  (a given print file, e.g. the reference
//                                     listing of shared/bench/gen_listing.py)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/null_view.h"
#include "layout/pre_analysis.h"
#include "pdf/crea_pdf.h"
#include "pdf/layout_state.h"
#include "platform/pdf/pdf_document.h"
#include "startup/agent.h"
#include "support/reference_writer/hpdf_document.h"

extern char** environ;

namespace {

using namespace velarion;
namespace fs = std::filesystem;

using QuietView = NullView;

// User and system time of this process: the machine may be shared.
double cpu_seconds() {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A drawing object that draws nothing: with "null" on the command line the
// figures show the cost of the composition logic alone.
class NullDocument final : public PdfDocument {
public:
    void NewPDF(const std::string&) override {}
    void SetViewMode(int) override {}
    void SetPageDimensions(double, double) override {}
    void addpage() override { ++pages_; }
    int page_count() const override { return pages_; }
    void SetFontName(const std::string& n) override { font_ = n; }
    std::string FontName() const override { return font_; }
    void SetFONTHEIGHT(double p) override { size_ = p; }
    double FONTHEIGHT() const override { return size_; }
    void SetParagraphAlignment(const std::string&) override {}
    void SetParagraphLeading(double) override {}
    void SetParagraphWidth(double) override {}
    bool AddFont(const std::string&, const std::string&) override { return false; }
    bool AddFontMONOSPACED(const std::string&, const std::string&, int) override { return false; }
    std::string ImportImageAsResource(const std::string&, int) override { return "/Im1"; }
    void DrawImageResource(const std::string&, double, double, double, double) override {}
    void TextOut(const std::string&, double, double) override {}
    double GetTextBoxWidth(const std::string& t) override { return t.size() * size_ * 0.6 * 25.4 / 72; }
    void SetTextInclinationDegrees(double) override {}
    void SetFillColor(int, int, int) override {}
    void SetLineColor(int, int, int) override {}
    void SetLineWidthHiPrec(double) override {}
    void DrawLine(double, double, double, double, double) override {}
    void DrawLineHiPrec(double, double, double, double) override {}
    void DrawRect(double, double, double, double, bool, bool, double) override {}
    void SetAUTHOR(const std::string&) override {}
    std::string Keywords() const override { return {}; }
    void SetKeywords(const std::string&) override {}
    void SavePDF(const std::string& path) override { std::ofstream(path) << "%PDF-1.3\n"; }

private:
    int pages_ = 0;
    std::string font_ = "Courier";
    double size_ = 10;
};

void write_listing(const std::string& path, long pages) {
    std::ofstream out(path, std::ios::binary);
    std::string line(132, ' ');
    for (long p = 1; p <= pages; ++p) {
        for (int r = 1; r <= 66; ++r) {
            std::snprintf(line.data(), line.size() + 1,
                          "%06ld %02d ARTICOLO %-20s QTA %8ld PREZZO %10.2f IMPORTO %12.2f CLIENTE %-24s",
                          p, r, "VITE M8X40 ZINCATA", p * 7 + r, (p % 97) * 1.25 + r,
                          (p % 113) * 3.5 + r * 2.0, "ROSSI SRL");
            line.resize(132, ' ');
            line[131] = '|';
            out << line << "\r\n";
        }
    }
}

// Pages of a given print file: its form feeds, or 66 lines a page.
long count_pages(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    long lines = 0, feeds = 0;
    std::string line;
    while (std::getline(in, line)) {
        ++lines;
        if (line.find('\f') != std::string::npos) ++feeds;
    }
    return feeds > 0 ? feeds + 1 : (lines + 65) / 66;
}

int run_one(const std::string& source, const std::string& writer) {
    const std::string dir = (fs::temp_directory_path() / ("compose_bench_" + std::to_string(::getpid()))).string() + "/";
    fs::create_directories(dir + "loghi");
    const std::string input = dir + "LISTA1.txt";
    long pages = 0;
    if (!source.empty() && source.find_first_not_of("0123456789") == std::string::npos) {
        pages = std::atol(source.c_str());
        write_listing(input, pages);
    } else {
        // The given file, by a link: the PDF is written beside the link.
        fs::create_symlink(fs::absolute(source), input);
        pages = count_pages(source);
    }

    SystemClock clock;
    QuietView view;
    Agent agent(clock, view);
    Settings& cfg = agent.settings;
    LayoutState layout;
    cfg.op.tempozip_dir = dir;
    cfg.op.Dir_Loghi = dir + "loghi/";
    cfg.derive();
    cfg.pdf.xp_edition = true;
    if (writer == "null") layout.compose.make_document = [] { return std::make_unique<NullDocument>(); };
    if (writer == "hpdf") layout.compose.make_document = [] { return make_hpdf_document(); };

    using Clock = std::chrono::steady_clock;
    const double cpu_start = cpu_seconds();
    const auto start = Clock::now();
    const PreAnalysis pre = AnalizzaTXT(agent.rt, input);
    const auto analysed = Clock::now();
    double other_types = 0;
    std::string chosen;
    for (const char* type : kPrintTypes) {
        const auto t0 = Clock::now();
        const bool fitted = CreaPdf(agent.rt, layout, pre, input, type, "LISTA1.txt").fitted();
        const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
        if (fitted) {
            chosen = type;
            break;
        }
        other_types += secs;
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    const double analysis = std::chrono::duration<double>(analysed - start).count();
    const double cpu = cpu_seconds() - cpu_start;

    const std::string pdf = layout.compose.created_pdf;
    std::error_code ec;
    const double mb = pdf.empty() ? 0 : static_cast<double>(fs::file_size(pdf, ec)) / (1024.0 * 1024.0);
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%6ld pages  type %-5s  %7.3f s  %6.0f pages/s  (CPU %7.3f s, %6.0f pages/s)"
                "  %5.2f MB/1000 pages  peak %6.1f MB  refused/failed types %4.1f%%  pre-analysis %4.1f%%\n",
                pages, chosen.c_str(), total, pages / total, cpu, pages / cpu, mb * 1000.0 / pages,
                ru.ru_maxrss / 1024.0, 100.0 * other_types / total, 100.0 * analysis / total);
    fs::remove_all(dir, ec);
    return chosen.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) return run_one(argv[1], argc > 2 ? argv[2] : "");
    int status = 0;
    for (const char* pages : {"10", "1000", "10000"}) {
        char* args[] = {argv[0], const_cast<char*>(pages), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args, environ) != 0) return 1;
        int ws = 0;
        waitpid(pid, &ws, 0);
        if (!WIFEXITED(ws) || WEXITSTATUS(ws) != 0) status = 1;
    }
    return status;
}
