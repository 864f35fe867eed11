// The queue commands on the real program: what --queue shows of deferred and
// parked messages, --retry-now and --hold/--release beside a running agent,
// and their exit statuses.
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "support/background_process.h"
#include "support/fault_servers.h"
#include "support/mail_servers.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::BackgroundProcess;
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
    EXPECT_NE(one.find("\"state\":\"rinviato\""), std::string::npos) << r.out;
    EXPECT_NE(one.find("\"to\":\"rinvia1@example.it\""), std::string::npos) << one;
    EXPECT_NE(one.find("\"subject\":\"Oggetto AB.1\""), std::string::npos) << one;
    EXPECT_NE(one.find("\"attempts\":1"), std::string::npos) << one;
    EXPECT_NE(one.find("Riprovare piu' tardi"), std::string::npos) << one;  // the server's answer is the reason
    const auto next = [](const std::string& l) { return l.substr(l.find("\"next_attempt\":") + 15, 21); };
    EXPECT_NE(next(one).find("T"), std::string::npos) << one;
    EXPECT_LT(next(one), next(three)) << one << "\n" << three;
    EXPECT_NE(two.find("\"state\":\"non inviato\""), std::string::npos) << r.out;
    EXPECT_NE(two.find("\"reason\":\"") , std::string::npos);
    EXPECT_EQ(two.find("\"reason\":\"\""), std::string::npos) << two;
    EXPECT_EQ(line_with(r.out, "AB.4"), "");  // delivered: no longer held
    EXPECT_NE(lines_of(r.out).back().find("\"today\":{\"delivered\":1,\"saved\":0,\"deferred\":2,\"parked\":1,\"bounced\":0}"),
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
    EXPECT_EQ(o.velarion({"--hold"}).status, 2);
    EXPECT_EQ(run_program({kVelarion, "--queue"}, o.env()).status, 2);  // no operator
}

}  // namespace
}  // namespace velarion
