// One-page invoice benchmark: the sample installation's invoice (an overlay
// form with a JPEG picture, two barcodes, the FATTURA style) composed
// through the pre-analysis and CreaPdf with the whole type sequence, as
// message processing does. Prints the time of the first document after
// start-up and the median and best of the following ones, for the invoice
// alone and with the sample's conditions appended (a PDF merged by qpdf).
//
// Usage: invoice_bench [SOURCE_DIR] [documents] [hpdf|alone]
//        (SOURCE_DIR: the project folder holding examples/demo; "hpdf": the
//        libharu writer instead of the streaming one; "alone": the invoice
//        alone, without the run with the appended conditions, for profiles)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/null_view.h"
#include "layout/pre_analysis.h"
#include "pdf/crea_pdf.h"
#include "pdf/layout_state.h"
#include "platform/pdf/pdf_document.h"
#include "startup/agent.h"
#include "support/reference_writer/hpdf_document.h"

namespace {

using namespace velarion;
namespace fs = std::filesystem;

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

// Composes the print file `documents` times in the FATTURA style.
bool measure(Agent& agent, const std::string& input, int documents, const char* label, bool hpdf) {
    using Clock = std::chrono::steady_clock;
    const std::string name = fs::path(input).filename().string();
    std::vector<double> ms;
    std::string chosen, pdf;
    for (int i = 0; i < documents; ++i) {
        const auto start = Clock::now();
        LayoutState layout;  // the layout state of one message
        layout.style.name = "FATTURA";
        if (hpdf) layout.compose.make_document = [] { return make_hpdf_document(); };
        const PreAnalysis pre = AnalizzaTXT(agent.rt, input);
        chosen.clear();
        for (const char* type : kPrintTypes)
            if (CreaPdf(agent.rt, layout, pre, input, type, name).fitted()) {
                chosen = type;
                break;
            }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (chosen.empty()) {
            std::fprintf(stderr, "invoice_bench: the invoice was not composed\n");
            return false;
        }
        pdf = layout.compose.created_pdf;
        if (agent.list.lines().size() > 1000) agent.list.clear();
    }
    const double first = ms.front();
    std::vector<double> rest(ms.begin() + 1, ms.end());
    std::sort(rest.begin(), rest.end());
    const double median = rest.empty() ? first : rest[rest.size() / 2];
    const double best = rest.empty() ? first : rest.front();
    std::error_code ec;
    const auto size = fs::file_size(pdf, ec);
    // The last document kept where INVOICE_BENCH_KEEP says, to compare builds.
    if (const char* keep = std::getenv("INVOICE_BENCH_KEEP"))
        fs::copy_file(pdf, std::string(keep) + "-" + name + ".pdf", fs::copy_options::overwrite_existing, ec);
    std::printf("%s (type %s, %.1f KB): first after start-up %.2f ms, then median %.2f ms, best %.2f ms "
                "over %d documents\n",
                label, chosen.c_str(), size / 1024.0, first, median, best, documents - 1);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path source = argc > 1 ? fs::path(argv[1]) : fs::current_path();
    const int documents = argc > 2 ? std::atoi(argv[2]) : 200;
    const bool hpdf = argc > 3 && std::string(argv[3]) == "hpdf";
    const bool alone_only = argc > 3 && std::string(argv[3]) == "alone";
    const fs::path demo = source / "examples/demo";
    if (!fs::exists(demo / "spool/AB.903.0")) {
        std::fprintf(stderr, "invoice_bench: no %s\n", (demo / "spool/AB.903.0").c_str());
        return 2;
    }
    const fs::path dir = fs::temp_directory_path() / ("invoice_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir / "loghi");
    fs::create_directories(dir / "tempozip");
    fs::create_directories(dir / "run/copie");
    for (const auto& e : fs::directory_iterator(demo / "loghi")) {
        std::string text = read_file(e.path());
        for (std::size_t p; (p = text.find("@RUN@")) != std::string::npos;) text.replace(p, 5, (dir / "run").string());
        write_file(dir / "loghi" / e.path().filename(), text);
    }
    fs::copy(demo / "unione", dir / "unione");
    // An installation's style files are not written seconds before a
    // message: dated an hour back, they are kept as the agent keeps them
    // (a file modified in the last seconds is read again at each use).
    for (const auto& e : fs::directory_iterator(dir / "loghi"))
        fs::last_write_time(e.path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
    const std::string invoice = read_file(demo / "spool/AB.903.0");
    std::string alone = invoice;
    const auto merge = alone.find("///M");
    if (merge != std::string::npos) alone.erase(merge, alone.find('\n', merge) + 1 - merge);

    SystemClock clock;
    NullView view;
    Agent agent(clock, view);
    Settings& cfg = agent.settings;
    cfg.op.tempozip_dir = (dir / "tempozip").string() + "/";
    cfg.op.Dir_Loghi = (dir / "loghi").string() + "/";
    cfg.op.unione_DIR = (dir / "unione").string() + "/";
    cfg.derive();
    cfg.pdf.xp_edition = true;
    cfg.pdf.merge = true;
    cfg.host.decimal_separator = ".";

    write_file(dir / "tempozip/FATT01.txt", alone);
    write_file(dir / "tempozip/FATT02.txt", invoice);
    const bool ok = measure(agent, (dir / "tempozip/FATT01.txt").string(), documents, "invoice", hpdf) &&
                    (alone_only || measure(agent, (dir / "tempozip/FATT02.txt").string(), documents,
                            "invoice with appended conditions", hpdf));
    std::error_code ec;
    fs::remove_all(dir, ec);
    return ok ? 0 : 1;
}
