// --check-config on the real program: a sound installation reports nothing,
// each fault of velarion.ini and loghi.ini comes as its own line, and the
// exit statuses.
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::run_program;
using testing::write_file;

const std::string kVelarion = std::string(VELARION_BIN_DIR) + "/velarion";

struct Installation {
    testing::TempDir root;
    std::string spool = root / "spool/", work = root / "tempozip/", logos = root / "loghi/", cfg = root / "cfg/";

    Installation() {
        for (const auto& d : {spool, work, logos, cfg}) fs::create_directories(d);
    }
    void ini(const std::string& operator_keys, const std::string& more) const {
        write_file(cfg + "velarion.ini", "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\nDir_Loghi=" + logos +
                                             "\ntempozip_dir=" + work + "\n" + operator_keys + "\n" + more);
    }
    testing::ProcessResult check(std::vector<std::string> args = {"ini:", "ope:AB"}) const {
        std::vector<std::string> argv{kVelarion, "--check-config"};
        for (const auto& a : args) argv.push_back(a == "ini:" ? "ini:" + cfg : a);
        return run_program(argv, {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run",
                                  "XDG_CONFIG_HOME=" + root / "config"});
    }
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST(CheckConfig, SoundInstallationReportsNothing) {
    Installation i;
    i.ini("", "[GLOBAL]\nTiming=2000\nretry_delays=1,5,15\nretry_limit=24h\numask=027\n"
              "[MAPI]\nstore=maildir://localhost" + i.root / "posta" + "\ntransport=smtp://mail.example.com:587\n");
    write_file(i.logos + "loghi.ini", "[FATTURA]\nmargbasso=12\ncolonna=3\n");
    const auto r = i.check();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
}

// Without "Timing" the agent cannot start: the check says so in the words of
// the start-up.
TEST(CheckConfig, AMissingTimingIsNamed) {
    Installation i;
    i.ini("", "[MAPI]\nstore=maildir://localhost" + i.root / "posta" + "\n");
    write_file(i.logos + "loghi.ini", "[FATTURA]\nmargbasso=12\n");
    const auto r = i.check();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, i.cfg + "velarion.ini: [GLOBAL] Timing: Tipo non corrispondente (GLOBAL Timing=\"\")\n");
}

TEST(CheckConfig, EachProblemOnItsOwnLine) {
    Installation i;
    fs::remove(i.work);
    i.ini("send_dir=" + i.root / "manca/",
          "[PERCORSI]\ncartelle_copia=" + i.root / "copie/" + "\n"
          "[GLOBAL]\nretry_delays=1,poi,15\nretry_limit=domani\numask=999\nTiming=1000\n"
          "[MAPI]\ntransport=ftp://mail.example.com\nstore=maildir://localhost" + i.root / "posta" + "\n");
    write_file(i.logos + "loghi.ini", "[FATTURA]\nmargbasso=abc\n[BOLLA]\ncolonna=3\n");
    const auto r = i.check();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const auto lines = lines_of(r.out);
    const auto has = [&](const std::string& a, const std::string& b) {
        for (const auto& l : lines)
            if (l.find(a) != std::string::npos && l.find(b) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(has("[AB] tempozip_dir", "non esiste")) << r.out;
    EXPECT_TRUE(has("[AB] send_dir", "manca")) << r.out;
    EXPECT_TRUE(has("[PERCORSI] cartelle_copia", "copie")) << r.out;
    EXPECT_TRUE(has("[GLOBAL] retry_delays", "'poi'")) << r.out;
    EXPECT_TRUE(has("[GLOBAL] retry_limit", "'domani'")) << r.out;
    EXPECT_TRUE(has("[GLOBAL] umask", "'999'")) << r.out;
    // A key the loader cannot use is named as the style checker names one: file, line, key.
    EXPECT_TRUE(has(i.cfg + "velarion.ini:12 [GLOBAL] umask: '999' is not an octal mode", "")) << r.out;
    EXPECT_TRUE(has(i.cfg + "velarion.ini:10 [GLOBAL] retry_delays: 'poi'", "")) << r.out;
    EXPECT_TRUE(has("[MAPI] transport", "ftp")) << r.out;
    // The style's problem names the file, its line and the key.
    EXPECT_TRUE(has(i.logos + "loghi.ini:2", "margbasso")) << r.out;
    EXPECT_EQ(lines.size(), 8u) << r.out;  // one line each, nothing about the sound BOLLA
}

TEST(CheckConfig, MailKeysAreNamedWithTheirLines) {
    Installation i;
    i.ini("", "[GLOBAL]\nTiming=1000\nsmtp_attesa_dati=dieci\n[TLS]\nin_chiaro=forse\n[CDO]\ntimeout=90\n");
    write_file(i.logos + "loghi.ini", "[FATTURA]\nmargbasso=12\n");
    const auto r = i.check();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const std::string ini = i.cfg + "velarion.ini";
    EXPECT_EQ(lines_of(r.out),
              (std::vector<std::string>{
                  ini + ":9 [GLOBAL] smtp_attesa_dati: 'dieci' is not a whole number of seconds from 1 to 86400 (600 "
                        "are used)",
                  ini + ":11 [TLS] in_chiaro: 'forse' is not Y or N (read as N)"}));
}

TEST(CheckConfig, FoldersUrlsLogosMetricsAndOperatorsAreNamedWhereTheyAre) {
    Installation i;
    i.ini("send_dir=" + i.root / "manca/",
          "[GLOBAL]\nTiming=1000\nmetriche=velarion.prom\n[MAPI]\ntransport=ftp://mail.example.com\n");
    write_file(i.logos + "loghi.ini", "[FATTURA]\nmargbasso=12\nfile=intestazione\n");
    auto r = i.check();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const std::string ini = i.cfg + "velarion.ini";
    const auto lines = lines_of(r.out);
    const auto has = [&](const std::string& start) {
        for (const auto& l : lines)
            if (l.rfind(start, 0) == 0) return true;
        return false;
    };
    EXPECT_TRUE(has(ini + ":6 [AB] send_dir: la cartella " + i.root / "manca/" + " non esiste")) << r.out;
    EXPECT_TRUE(has(ini + ":9 [GLOBAL] metriche: velarion.prom: il percorso deve essere assoluto")) << r.out;
    EXPECT_TRUE(has(ini + ":11 [MAPI] transport: ftp://mail.example.com")) << r.out;
    EXPECT_TRUE(has(i.logos + "loghi.ini:3 [FATTURA] file: logo picture " + i.logos + "intestazione.jpg not found")) << r.out;
    EXPECT_EQ(lines.size(), 4u) << r.out;

    // A metrics path where a folder stands in place of the file.
    fs::create_directories(i.root / "metriche/velarion.prom");
    i.ini("", "[GLOBAL]\nTiming=1000\nmetriche=" + i.root / "metriche/velarion.prom" + "/x.prom/\n");
    fs::create_directories(i.root / "metriche/velarion.prom/x.prom/velarion_AB.prom");
    write_file(i.logos + "loghi.ini", "[FATTURA]\nmargbasso=12\n");
    r = i.check();
    EXPECT_NE(r.out.find("[GLOBAL] metriche: " + i.root / "metriche/velarion.prom/x.prom/velarion_AB.prom non e' un file"),
              std::string::npos) << r.out;

    // An operator velarion.ini has no section for: said so, and nothing else.
    r = i.check({"ini:", "ope:ZZ"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, ini + ": [ZZ]: l'operatore ZZ non ha una sezione in velarion.ini\n");
}

TEST(CheckConfig, MissingFilesAndBadArguments) {
    Installation i;
    // No velarion.ini: one line, exit 1.
    auto r = i.check();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("velarion.ini"), std::string::npos) << r.out;
    // No loghi.ini is a problem too.
    i.ini("", "");
    r = i.check();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("loghi.ini"), std::string::npos) << r.out;
    // No operator, or an unknown option: bad arguments.
    EXPECT_EQ(i.check({"ini:"}).status, 2);
    r = i.check({"--chek", "ini:", "ope:AB"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--chek"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace velarion
