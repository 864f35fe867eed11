// The metrics file of "metriche" on the real program: after a --once run it
// holds the queue and the day's counts in the textfile collector's format.
#include <filesystem>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "support/mail_servers.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::run_program;
using testing::write_file;

const std::string kVelarion = std::string(VELARION_BIN_DIR) + "/velarion";

TEST(MetricsFile, WrittenInTextfileFormatAfterAOnceRun) {
    testing::TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", cfg = root / "cfg/";
    const std::string metrics = root / "metriche/velarion.prom";
    for (const auto& d : {spool, work, cfg, root / "run", root / "metriche"}) fs::create_directories(d);
    write_file(cfg + "velarion.ini", "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\nDir_Loghi=" +
                                         root / "loghi/" + "\ntempozip_dir=" + work +
                                         "\n[GLOBAL]\nTiming=100\nmetriche=" + metrics +
                                         "\n[MAPI]\nclient=Posta\nstore=maildir://localhost" + root / "posta" + "\n");
    // One draft to save, and one held back by its TIMING: directive.
    write_file(spool + "AB.1.h", "RF1\r\n\r\nab@example.com\r\nuno@example.it\r\nOggetto\r\n.\r\nSAVE\r\n");
    write_file(spool + "AB.1.b", "Testo\r\n");
    write_file(spool + "AB.1.T", "");
    write_file(spool + "AB.2.h", "RF2\r\n\r\nab@example.com\r\ndue@example.it\r\nOggetto\r\n.\r\nSAVE\r\n");
    write_file(spool + "AB.2.b", "Testo\r\n");
    write_file(spool + "AB.2.T", "TIMING:D9912312359\r\n");
    const auto r = run_program({kVelarion, "--headless", "--once", "ini:" + cfg, "ope:AB"},
                               {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run",
                                "XDG_CONFIG_HOME=" + root / "config"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_TRUE(fs::exists(metrics)) << r.out;
    const std::string text = testing::read_file(metrics);
    const std::regex sample(R"(^[a-zA-Z_:][a-zA-Z0-9_:]*\{operatore="AB"(,[a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*")?\} -?[0-9]+$)");
    const std::regex comment(R"(^# (HELP|TYPE) [a-zA-Z_:][a-zA-Z0-9_:]* .+$)");
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        EXPECT_TRUE(std::regex_match(l, sample) || std::regex_match(l, comment)) << l;
    EXPECT_NE(text.find("velarion_today_messages{operatore=\"AB\",outcome=\"saved\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_messages_total{operatore=\"AB\",outcome=\"saved\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_queue_messages{operatore=\"AB\",state=\"timing\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_transport_held{operatore=\"AB\"} 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_store_held{operatore=\"AB\"} 0\n"), std::string::npos) << text;
    // Readable by the exporter's user although the agent's files are private.
    EXPECT_EQ(fs::status(metrics).permissions() & fs::perms::all, fs::perms(0644));
    // No temporary is left beside it.
    int files = 0;
    for (const auto& e : fs::directory_iterator(root / "metriche")) files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST(MetricsFile, AFileThatCannotBeWrittenIsSaidOnce) {
    testing::TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", cfg = root / "cfg/";
    for (const auto& d : {spool, work, cfg, root / "run"}) fs::create_directories(d);
    write_file(cfg + "velarion.ini", "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\nDir_Loghi=" + root / "loghi/" +
                                         "\ntempozip_dir=" + work + "\n[GLOBAL]\nTiming=100\nmetriche=" +
                                         root / "manca/velarion.prom" + "\n");
    const auto r = run_program({kVelarion, "--headless", "--once", "ini:" + cfg, "ope:AB"},
                               {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run",
                                "XDG_CONFIG_HOME=" + root / "config"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(testing::count_of(r.out, " Impossibile scrivere il file delle metriche " + root / "manca/velarion.prom: "), 1)
        << r.out;
}

TEST(MetricsFile, AFolderGetsOneFilePerOperator) {
    testing::TempDir root;
    const std::string spool = root / "spool/", work = root / "tempozip/", cfg = root / "cfg/";
    for (const auto& d : {spool, work, cfg, root / "run", root / "metriche"}) fs::create_directories(d);
    write_file(cfg + "velarion.ini", "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\nDir_Loghi=" + root / "loghi/" +
                                         "\ntempozip_dir=" + work + "\n[CD]\nEMailAddr=cd@example.com\nPath=" + spool +
                                         "\nDir_Loghi=" + root / "loghi/" + "\ntempozip_dir=" + work +
                                         "\n[GLOBAL]\nTiming=100\nmetriche=" + root / "metriche/" + "\n");
    for (const char* op : {"AB", "CD"}) {
        const auto r = run_program({kVelarion, "--headless", "--once", "ini:" + cfg, std::string("ope:") + op},
                                   {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run",
                                    "XDG_CONFIG_HOME=" + root / "config"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    // Two files whose series differ by their label: no collision in the collector.
    EXPECT_NE(testing::read_file(root / "metriche/velarion_AB.prom").find("{operatore=\"AB\"}"), std::string::npos);
    EXPECT_NE(testing::read_file(root / "metriche/velarion_CD.prom").find("{operatore=\"CD\"}"), std::string::npos);
    // The text format's own parser (python3-prometheus-client) reads both, as
    // the textfile collector would, and finds no series twice.
    const std::string parse =
        "import sys\n"
        "from prometheus_client.parser import text_string_to_metric_families as families\n"
        "seen = set(); types = {}\n"
        "for path in sys.argv[1:]:\n"
        "    for f in families(open(path).read()):\n"
        "        types[f.name] = f.type\n"
        "        for s in f.samples:\n"
        "            key = (s.name, tuple(sorted(s.labels.items())))\n"
        "            assert key not in seen, key\n"
        "            seen.add(key)\n"
        "assert types['velarion_messages'] == 'counter', types\n"
        "assert types['velarion_store_held'] == 'gauge', types\n"
        "print(len(seen))\n";
    const auto parsed = run_program({"/usr/bin/python3", "-c", parse, root / "metriche/velarion_AB.prom",
                                     root / "metriche/velarion_CD.prom"});
    if (parsed.err.find("No module named 'prometheus_client'") != std::string::npos)
        GTEST_SKIP() << "python3-prometheus-client is not installed";
    EXPECT_EQ(parsed.status, 0) << parsed.err;
    EXPECT_EQ(parsed.out, "44\n") << parsed.err;  // 22 series each
}

}  // namespace
}  // namespace velarion
