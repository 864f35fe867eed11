// Drawing component throughput: pages of 66 lines of 132 columns written with
// TextOut in Courier, as a landscape listing is composed, then saved.
// Usage: drawing_bench [pages...]   (default 10 1000 10000)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/pdf/pdf_document.h"

namespace {

// A listing row: page and row numbers, a customer code, a description and
// amounts that change from row to row, as an accounting listing does.
std::string listing_line(unsigned& seed, int row) {
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFFFF; };
    static const char* const words[] = {"FATTURA", "NOTA CREDITO", "BONIFICO", "RIBA", "CONTANTI",
                                        "ACCONTO", "SALDO", "STORNO"};
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  "000000 %02d C%07u %-14s %-20s %02u/%02u/2026 %12u,%02u %12u,%02u %10u,%02u %-8s",
                  row, next() % 10000000u, words[next() % 8], words[next() % 8], next() % 28 + 1,
                  next() % 12 + 1, next() % 1000000u, next() % 100u, next() % 1000000u, next() % 100u,
                  next() % 100000u, next() % 100u, next() % 2 ? "APERTA" : "CHIUSA");
    std::string line = buf;
    line.resize(132, ' ');
    return line;
}

// Processor time of this process (user + system), less disturbed than wall
// time on a busy machine.
double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10, 1000, 10000};
    const auto out = std::filesystem::temp_directory_path() / "drawing_bench.pdf";

    // Sixteen pages of rows are generated once and used in turn, each page
    // with its own page number: the benchmark times drawing, not formatting.
    std::vector<std::vector<std::string>> sample(16);
    unsigned seed = 7;
    for (auto& page : sample)
        for (int row = 0; row < 66; ++row) page.push_back(listing_line(seed, row + 1));

    for (int pages : sizes) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = cpu_seconds();
        auto pdf = velarion::make_pdf_document();
        pdf->NewPDF("Stampa");
        pdf->SetPageDimensions(297, 210);
        pdf->SetFontName("Courier");
        pdf->SetFONTHEIGHT(6.2);
        for (int p = 0; p < pages; ++p) {
            pdf->addpage();
            char number[12];
            std::snprintf(number, sizeof number, "%06d", p);
            double y = 10;
            for (std::string& line : sample[p % sample.size()]) {
                line.replace(0, 6, number);
                pdf->TextOut(line, 8, y);
                y += 2.9;
            }
        }
        const auto drawn = std::chrono::steady_clock::now();
        pdf->SavePDF(out.string());
        pdf.reset();
        const auto end = std::chrono::steady_clock::now();
        const double cpu = cpu_seconds() - cpu_start;
        const double total = std::chrono::duration<double>(end - start).count();
        const double draw = std::chrono::duration<double>(drawn - start).count();
        const double mb = std::filesystem::file_size(out) / 1048576.0;
        std::printf("%6d pages: %.3f s (draw %.3f s, save %.3f s) = %.0f pages/s, CPU %.3f s = "
                    "%.0f pages/s; %.2f MB = %.2f MB per 1000 pages; peak RSS %.1f MB\n",
                    pages, total, draw, total - draw, pages / total, cpu, pages / cpu, mb,
                    mb * 1000.0 / pages, peak_rss_kb() / 1024.0);
    }
    std::filesystem::remove(out);
    return 0;
}
