// Spool scan and delivery benchmark: a spool directory holding 10,000 files of
// other operators and 200 ready messages without attachments, scanned once
// and delivered as drafts to a local maildir. Prints messages per second and
// the peak resident memory.
//   spool_bench [messages] [other-files] [scan-only]
// With "scan-only" the messages are handed to a function that accepts them
// instead of the mail layer, which measures the scan and message processing
// alone.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/null_view.h"
#include "common/view.h"
#include "delivery/delivery_request.h"
#include "platform/os/clock.h"
#include "platform/os/ini_file.h"
#include "spool/scan.h"
#include "startup/agent.h"

namespace fs = std::filesystem;
using namespace velarion;

namespace {

// No window: message boxes go to standard error.
class QuietView final : public NullView {
public:
    void show_message_box(const std::string& text) override { std::fprintf(stderr, "box: %s\n", text.c_str()); }
};

void write(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

long peak_rss_kib() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const int messages = argc > 1 ? std::atoi(argv[1]) : 200;
    const int others = argc > 2 ? std::atoi(argv[2]) : 10000;
    const bool scan_only = argc > 3 && std::string(argv[3]) == "scan-only";

    std::string tmpl = (fs::temp_directory_path() / "velarion-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return 1;
    const fs::path root = tmpl;
    const fs::path spool = root / "spool", work = root / "tempozip", posta = root / "posta";
    fs::create_directories(spool);
    fs::create_directories(work);
    fs::create_directories(posta);
    write(root / "velarion.ini",
          "[AB]\nPath=" + spool.string() + "/\ntempozip_dir=" + work.string() +
              "/\n[GLOBAL]\nTiming=2000\n[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" +
              posta.string() + "\ndrafts=Drafts\n");

    // Groups of other operators: header, body and trigger each.
    for (int i = 0; i < others; ++i) {
        const std::string base = "XY." + std::to_string(100000 + i / 3);
        const char* suffix[] = {".h", ".b", ".T"};
        write(spool / (base + suffix[i % 3]), "altro operatore\r\n");
    }
    for (int i = 0; i < messages; ++i) {
        const std::string base = "AB." + std::to_string(500000 + i);
        write(spool / (base + ".h"), "REF" + std::to_string(i) +
                                         "\r\n\r\nab@example.com\r\ncliente" + std::to_string(i) +
                                         "@example.com\r\nFattura " + std::to_string(i) +
                                         "\r\n.\r\nSAVE\r\n");
        write(spool / (base + ".b"), "Gentile cliente,\r\nin allegato la fattura.\r\n\r\nSaluti\r\n");
        write(spool / (base + ".T"), "");
    }

    SystemClock clock;
    QuietView view;
    Agent agent(clock, view);
    Settings& cfg = agent.settings;
    bool off = false;
    SpoolScanner scanner(agent.rt, [&] { off = true; });
    cfg.sw.ini = root.string() + "/";
    cfg.sw.ope = "AB";
    cfg.op.Path = spool.string() + "/";
    cfg.op.tempozip_dir = work.string() + "/";
    cfg.op.EMailAddr = "ab@example.com";
    cfg.op.tipoinvio = "PER MESSAGGIO";
    cfg.load_shared_keys(ini::read_all(cfg.ini_path()));
    cfg.host.documents_dir = root.string();
    int accepted = 0;
    if (scan_only) {
        scanner.set_deliver([&](const DeliveryRequest&) {
            ++accepted;
            return DeliveryOutcome{Delivered::yes};
        });
    }

    const auto start = std::chrono::steady_clock::now();
    scanner.LEGGI_DIR();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int drafts = 0;
    for (const auto& e : fs::recursive_directory_iterator(posta))
        if (e.is_regular_file() && e.path().parent_path().filename() != "tmp") ++drafts;
    int left = 0;
    for (const auto& e : fs::directory_iterator(spool)) left += e.path().filename().string()[0] == 'A';
    int kept = fs::exists(work / "non_inviati")
                   ? static_cast<int>(std::distance(fs::directory_iterator(work / "non_inviati"),
                                                    fs::directory_iterator()))
                   : 0;

    std::printf("spool files: %d other, %d messages\n", others, messages);
    if (scan_only) std::printf("accepted without mail layer: %d\n", accepted);
    std::printf("drafts in maildir: %d, kept in non_inviati: %d, left in spool: %d%s\n", drafts,
                kept, left, off ? ", agent switched off" : "");
    std::printf("scan and delivery: %.3f s, %.1f messages/s\n", seconds, messages / seconds);
    std::printf("peak memory (max RSS): %ld KiB\n", peak_rss_kib());
    if (std::getenv("VELARION_BENCH_KEEP") == nullptr) fs::remove_all(root);
    return (scan_only ? accepted : drafts) == messages ? 0 : 1;
}
