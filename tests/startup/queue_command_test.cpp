// The queue commands on the real program: what --queue shows of deferred and
// parked messages, --retry-now and --hold/--release beside a running agent,
// and their exit statuses.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "startup/service_env.h"
#include "support/background_process.h"
#include "support/fault_servers.h"
#include "support/mail_servers.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::BackgroundProcess;
using testing::count_of;
using testing::eventually;
using testing::run_program;
using testing::write_file;

const std::string kVelarion = std::string(VELARION_BIN_DIR) + "/velarion";

// Operator AB sending through `transport`, drafts in a maildir.
struct Office {
    testing::TempDir root;
    std::string spool = root / "spool/", work = root / "tempozip/", cfg = root / "cfg/";

    Office(const std::string& transport, const std::string& retry_delays) {
        fs::create_directories(spool);
        fs::create_directories(work);
        fs::create_directories(root / "run");
        write_file(cfg + "velarion.ini", "[AB]\nEMailAddr=ab@example.com\nPath=" + spool + "\nDir_Loghi=" +
                                             root / "loghi/" + "\ntempozip_dir=" + work +
                                             "\n[GLOBAL]\nTiming=100\nretry_delays=" + retry_delays +
                                             "\n[MAPI]\nclient=Posta\nstore=maildir://localhost" + root / "posta" +
                                             "\ntransport=" + transport + "\n");
    }
    std::vector<std::string> env() const {
        return {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run", "XDG_CONFIG_HOME=" + root / "config"};
    }
    testing::ProcessResult velarion(std::vector<std::string> args) const {
        args.insert(args.begin(), kVelarion);
        args.push_back("ini:" + cfg);
        args.push_back("ope:AB");
        return run_program(args, env());
    }
    // A message; `attachment` names a file that is not there when given.
    void message(const std::string& base, const std::string& to, const std::string& option,
                 const std::string& attachment = "") const {
        write_file(spool + base + ".h", "RF" + base + "\r\n\r\nab@example.com\r\n" + to + "\r\nOggetto " + base +
                                            "\r\n.\r\n" + option + "\r\n" + (attachment.empty() ? "" : attachment + "\r\n"));
        write_file(spool + base + ".b", "Testo\r\n");
        write_file(spool + base + ".T", "");
    }
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::string line_with(const std::string& text, const std::string& needle) {
    for (const auto& l : lines_of(text))
        if (l.find(needle) != std::string::npos) return l;
    return "";
}

TEST(QueueCommand, ListsDeferredAndParkedMessagesEachWithItsOwnNextAttempt) {
    testing::TempFailSmtp smtp("rinvia");
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    Office o(smtp.url(), "60s 600s");
    o.message("AB.1", "rinvia1@example.it", "SEND");
    o.message("AB.2", "due@example.it", "SAVE", "MANCA.PDF");
    ASSERT_EQ(o.velarion({"--headless", "--once"}).status, 0);
    // The second deferred message is written later: its next attempt is its own.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    o.message("AB.3", "rinvia3@example.it", "SEND");
    o.message("AB.4", "quattro@example.it", "SEND");
    ASSERT_EQ(o.velarion({"--headless", "--once"}).status, 0);
    EXPECT_EQ(smtp.messages(1).size(), 1u);  // AB.4 went; the others did not

    const auto r = o.velarion({"--queue", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string one = line_with(r.out, "\"base\":\"AB.1\"");
    const std::string three = line_with(r.out, "\"base\":\"AB.3\"");
    const std::string two = line_with(r.out, "\"base\":\"AB.2\"");
    EXPECT_NE(one.find("\"state\":\"deferred\",\"state_text\":\"rinviato\""), std::string::npos) << r.out;
    EXPECT_NE(one.find("\"to\":[\"rinvia1@example.it\"]"), std::string::npos) << one;
    EXPECT_NE(one.find("\"from\":\"ab@example.com\""), std::string::npos) << one;
    EXPECT_NE(one.find("\"subject\":\"Oggetto AB.1\""), std::string::npos) << one;
    EXPECT_NE(one.find("\"attempts\":1"), std::string::npos) << one;
    EXPECT_NE(one.find("Riprovare piu' tardi"), std::string::npos) << one;  // the server's answer is the reason
    const auto next = [](const std::string& l) { return l.substr(l.find("\"next_attempt\":") + 15, 21); };
    // RFC 3339 with the zone.
    EXPECT_TRUE(std::regex_search(one, std::regex(R"re("next_attempt":"20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(Z|[+-][0-9]{2}:[0-9]{2})")re"))) << one;
    EXPECT_TRUE(std::regex_search(one, std::regex(R"re("arrival":"20[0-9-]{8}T[0-9:]{8}(Z|[+-][0-9:]{5})")re"))) << one;
    EXPECT_LT(next(one), next(three)) << one << "\n" << three;
    EXPECT_NE(two.find("\"state\":\"parked\""), std::string::npos) << r.out;
    EXPECT_NE(two.find("\"reason\":\"") , std::string::npos);
    EXPECT_EQ(two.find("\"reason\":\"\""), std::string::npos) << two;
    EXPECT_EQ(line_with(r.out, "AB.4"), "");  // delivered: no longer held
    EXPECT_NE(lines_of(r.out).back().find("\"today\":{\"delivered\":1,\"saved\":0,\"deferred\":2,\"parked\":1,\"bounced\":0},\"messages\":3"),
              std::string::npos)
        << r.out;

    // The text form: one line each, and the day's counts.
    const auto text = o.velarion({"--queue"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(line_with(text.out, "AB.1  rinviato").find("prossimo: "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("oggi: 1 inviati, 0 salvati, 2 rinvii, 1 non inviati"), std::string::npos) << text.out;
}

TEST(QueueCommand, RetryNowDeliversAtOnceBesideARunningAgent) {
    testing::SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    // The sending server answers only once the gate in front of it opens.
    testing::StallProxy gate(smtp.port(), "", 0);
    Office o("smtp://127.0.0.1:" + std::to_string(gate.port()), "10min");
    o.message("AB.5", "cinque@example.it", "SEND");
    BackgroundProcess agent({kVelarion, "--headless", "ini:" + o.cfg, "ope:AB"}, o.env());
    ASSERT_TRUE(agent.wait_for(" Server di posta non raggiungibile: ", 10000)) << agent.out();
    gate.start();
    ASSERT_TRUE(gate.skip_reason().empty()) << gate.skip_reason();
    // Without the command the agent would wait ten minutes.
    const auto r = o.velarion({"--retry-now"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(smtp.messages(1, 10000).size(), 1u) << agent.out();
    EXPECT_TRUE(agent.wait_for(" Nuovo tentativo richiesto", 1000)) << agent.out();
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
}

TEST(QueueCommand, RetryNowEndsTheWaitEveryTimeItIsAsked) {
    const std::string closed = "127.0.0.1:" + std::to_string(testing::pick_free_port());
    Office o("smtp://" + closed, "10min");
    o.message("AB.7", "sette@example.it", "SEND");
    BackgroundProcess agent({kVelarion, "--headless", "ini:" + o.cfg, "ope:AB"}, o.env());
    const std::string down = " Server di posta non raggiungibile: ";
    ASSERT_TRUE(agent.wait_for(down, 10000)) << agent.out();
    // Three uses of the command and a touch of the flag by hand: each one a new try.
    for (int i = 0; i < 4; ++i) {
        if (i < 3) {
            EXPECT_EQ(o.velarion({"--retry-now"}).status, 0);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::ofstream(o.spool + "coda/riprova", std::ios::app).flush();
            fs::last_write_time(o.spool + "coda/riprova", fs::file_time_type::clock::now());
        }
        EXPECT_TRUE(eventually([&] { return count_of(agent.out(), down) >= i + 2; }, 10000))
            << "use " << i + 1 << "\n" << agent.out();
    }
    EXPECT_EQ(count_of(agent.out(), " Nuovo tentativo richiesto"), 4) << agent.out();
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
}

TEST(QueueCommand, HoldKeepsAMessageBackUntilReleased) {
    Office o("smtp://127.0.0.1:1", "60s");
    o.message("AB.6", "sei@example.it", "SAVE");
    auto r = o.velarion({"--hold", "AB.6"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "velarion: AB.6: sospeso\n");
    ASSERT_EQ(o.velarion({"--headless", "--once"}).status, 0);
    EXPECT_NE(o.velarion({"--queue"}).out.find("AB.6  sospeso"), std::string::npos);
    EXPECT_TRUE(fs::exists(o.spool + "AB.6.h"));  // untouched

    r = o.velarion({"--release", "AB.6"});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(o.velarion({"--headless", "--once"}).status, 0);
    EXPECT_FALSE(fs::exists(o.spool + "AB.6.h"));  // saved as a draft
    EXPECT_EQ(o.velarion({"--queue"}).out.find("AB.6"), std::string::npos);

    // Nothing of that name, and bad arguments.
    r = o.velarion({"--release", "AB.99"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "velarion: AB.99: messaggio non trovato\n");
    r = o.velarion({"--hold"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Usage: velarion --hold|--release|--delete BASE...|ALL"), std::string::npos) << r.err;
    EXPECT_EQ(run_program({kVelarion, "--queue"}, o.env()).status, 2);  // no operator
}

TEST(QueueCommand, AHoldOnTheSendingSideIsShownInEachMessageLine) {
    const std::string closed = "127.0.0.1:" + std::to_string(testing::pick_free_port());
    Office o("smtp://" + closed, "10min");
    o.message("AB.8", "otto@example.it; nove@example.it", "SEND");
    o.message("AB.9", "nove@example.it", "SEND");
    BackgroundProcess agent({kVelarion, "--headless", "ini:" + o.cfg, "ope:AB"}, o.env());
    ASSERT_TRUE(agent.wait_for(" Server di posta non raggiungibile: ", 10000)) << agent.out();
    // The agent notes its hold at the end of the scan.
    testing::ProcessResult r;
    ASSERT_TRUE(eventually([&] {
        r = o.velarion({"--queue"});
        return count_of(r.out, "in attesa (invio)") == 2;
    }, 10000)) << r.out << agent.out();
    const std::string eight = line_with(r.out, "AB.8  ");
    EXPECT_NE(eight.find("motivo: server di posta non raggiungibile dalle "), std::string::npos) << eight;
    EXPECT_NE(eight.find("tentativi: 1"), std::string::npos) << eight;
    EXPECT_NE(eight.find("prossimo: "), std::string::npos) << eight;
    EXPECT_NE(eight.find("da: ab@example.com"), std::string::npos) << eight;
    EXPECT_NE(eight.find("arrivo: "), std::string::npos) << eight;
    EXPECT_TRUE(std::regex_search(eight, std::regex("  [0-9]+ byte  "))) << eight;

    const auto j = o.velarion({"--queue", "--json"});
    const std::string json = line_with(j.out, "\"base\":\"AB.8\"");
    EXPECT_NE(json.find("\"state\":\"held_transport\",\"state_text\":\"in attesa (invio)\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"to\":[\"otto@example.it\",\"nove@example.it\"]"), std::string::npos) << json;
    EXPECT_EQ(json.find("\"next_attempt\":null"), std::string::npos) << json;
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
    // The agent gone, its hold is no longer shown.
    EXPECT_EQ(count_of(o.velarion({"--queue"}).out, "in attesa (invio)"), 0);
}

TEST(QueueCommand, SpoolTextIsShownEscapedOneMessagePerLine) {
    Office o("smtp://127.0.0.1:1", "60s");
    // ESC, OSC 52, BEL, CR and a line feed in the subject, recipients and reference.
    write_file(o.spool + "AB.10.h", "R\x1b]0;titolo\x07" "EF\r\n\r\nab@example.com\r\nx@example.it\rAB.11  sospeso\r\n"
                                     "Oggetto \x1b]52;c;ZWNobyBoaQ==\x07 fine\x1b[2J\r\n.\r\nSEND\r\n");
    write_file(o.spool + "AB.10.T", "");
    const auto r = o.velarion({"--queue"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x07'), std::string::npos);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(lines_of(r.out).size(), 2u) << r.out;  // the message and the summary
    EXPECT_NE(r.out.find("oggetto: Oggetto \\x1b]52;c;ZWNobyBoaQ==\\x07 fine\\x1b[2J"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a: x@example.it\\x0dAB.11  sospeso"), std::string::npos) << r.out;
    // The JSON form stays valid and exact.
    const auto j = o.velarion({"--queue", "--json"});
    EXPECT_NE(j.out.find("\"subject\":\"Oggetto \\u001b]52;c;ZWNobyBoaQ==\\u0007 fine\\u001b[2J\""), std::string::npos) << j.out;
}

TEST(QueueCommand, TheReportReadsNoMoreThanMessageProcessingWhateverTheFilesHold) {
    Office o("smtp://127.0.0.1:1", "60s");
    // A header of 30 MB of empty lines, a deferred message with a 400 MB
    // record, and a parked one with a 400 MB motivo.txt (sparse files).
    write_file(o.spool + "AB.20.h", "R20\r\n\r\nab@example.com\r\nventi@example.it\r\nVenti\r\n.\r\nSEND\r\n" +
                                        std::string(30u << 20, '\n'));
    write_file(o.spool + "AB.20.T", "");
    fs::create_directories(o.spool + "coda");
    write_file(o.spool + "coda/AB.21.T@rinvio", "");
    write_file(o.spool + "coda/AB.21.T.stato", "tentativi=2\nmotivo=pieno\n");
    fs::resize_file(o.spool + "coda/AB.21.T.stato", 400u << 20);
    const std::string parked = o.work + "non_inviati/AB.22_261209171600/";
    fs::create_directories(parked + "originale");
    write_file(parked + "originale/AB.22.T", "");
    write_file(parked + "motivo.txt", "spool=" + o.spool + "\nmotivo=Allegato non trovato\n");
    fs::resize_file(parked + "motivo.txt", 400u << 20);
    for (const bool json : {false, true}) {
        // The peak resident memory of the program alone, as GNU time measures it.
        std::vector<std::string> args{"/usr/bin/time", "-f", "picco %M", kVelarion, "--queue"};
        if (json) args.push_back("--json");
        args.push_back("ini:" + o.cfg);
        args.push_back("ope:AB");
        const auto r = run_program(args, o.env());
        ASSERT_EQ(r.status, 0) << r.err;
        const auto at = r.err.rfind("picco ");
        ASSERT_NE(at, std::string::npos) << r.err;
        EXPECT_LT(std::stol(r.err.substr(at + 6)), 64 * 1024) << "--queue" << (json ? " --json" : "");
        EXPECT_NE(r.out.find("venti@example.it"), std::string::npos) << r.out.substr(0, 2000);
        EXPECT_NE(r.out.find("pieno"), std::string::npos);
        EXPECT_NE(r.out.find("Allegato non trovato"), std::string::npos);
    }
}

TEST(QueueCommand, HoldReleaseAndDeleteTakeSeveralNamesAndAll) {
    Office o("smtp://127.0.0.1:1", "60s");
    for (const char* b : {"AB.30", "AB.31", "AB.32"}) o.message(b, "x@example.it", "SEND");
    o.message("CD.33", "x@example.it", "SEND");  // another operator's
    auto r = o.velarion({"--hold", "AB.30", "AB.31"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(o.velarion({"--queue"}).out, "  sospeso  "), 2);
    r = o.velarion({"--hold", "ALL"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(o.velarion({"--queue"}).out, "  sospeso  "), 3);
    EXPECT_TRUE(fs::exists(o.spool + "CD.33.T"));
    r = o.velarion({"--release", "ALL"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(o.velarion({"--queue"}).out, "  sospeso  "), 0);

    // --delete keeps what it removes, with its reason, and --resubmit hands it back.
    r = o.velarion({"--delete", "AB.30"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(o.spool + "AB.30.T"));
    EXPECT_FALSE(fs::exists(o.spool + "AB.30.h"));
    const auto q = o.velarion({"--queue"});
    EXPECT_NE(line_with(q.out, "AB.30  non inviato").find("motivo: rimosso dall'operatore"), std::string::npos) << q.out;
    r = o.velarion({"--delete", "ALL"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(o.velarion({"--queue"}).out, "motivo: rimosso dall'operatore"), 3);
    EXPECT_TRUE(fs::exists(o.spool + "CD.33.T"));
    EXPECT_EQ(o.velarion({"--resubmit", "AB.31"}).status, 0);
    EXPECT_TRUE(fs::exists(o.spool + "AB.31.T"));
    EXPECT_TRUE(fs::exists(o.spool + "AB.31.h"));
    // Bad arguments: no name.
    EXPECT_EQ(o.velarion({"--delete"}).status, 2);
    EXPECT_EQ(o.velarion({"--release"}).status, 2);
    EXPECT_EQ(o.velarion({"--delete", "AB.99"}).status, 1);
}

TEST(QueueCommand, WithoutIniTheServicesInstallationIsFound) {
    Office o("smtp://127.0.0.1:1", "60s");
    o.message("AB.40", "x@example.it", "SEND");
    // No ini: and no velarion.ini in the program's folder: the service's environment file names it.
    EXPECT_EQ(run_program({kVelarion, "--queue", "ope:AB"}, o.env()).status, 1);
    write_file(o.root / "config/velarion/AB.env", "# the service of AB\nVELARION_INI=\"" + o.cfg + "\"\n");
    const auto r = run_program({kVelarion, "--queue", "ope:AB"}, o.env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("AB.40  in attesa"), std::string::npos) << r.out;
    EXPECT_EQ(service_env::ini_of("VELARION_INI=/a\nVELARION_INI = '/b c'\nVELARION_ARGS=x\n"), "/b c");
}

}  // namespace
}  // namespace velarion
