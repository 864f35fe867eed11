// The whole agent and print files written to after their copy: a writer that
// resumes right after the agent copied the file is caught by the control two
// seconds later, and the message leaves with the whole file; and a burst of
// messages has its print files copied ahead, before the first one leaves, so
// that their two seconds after the copy pass together.
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/agent_site.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::write_file;

const std::string kCopyAgain =
    " Dimensione File allegato differente da file originale di Quil Effettuo nuovamente la copia";

struct Site : testing::AgentSite {
    Site() { configure("", "[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" + posta + "\n"); }

    // A draft to `to` with the attachment DATI.CSV holding `content` (its ".0"); the trigger last.
    void message(const std::string& base, const std::string& to, const std::string& content) const {
        write_file(spool + base + ".h", "RF" + base + "\r\n\r\nab@example.com\r\n" + to + "\r\nMessaggio " + base +
                                            "\r\n.\r\nSAVE\r\nDATI.CSV\r\n");
        write_file(spool + base + ".b", "Testo di " + base + "\r\n");
        write_file(spool + base + ".0", content);
        write_file(spool + base + ".T", "");
    }

    // The attachments of every draft stored, decoded.
    std::vector<std::string> attachments() const {
        const auto py = run_program({"/usr/bin/python3", "-c",
                                     "import email,os,sys\n"
                                     "for d,_,fs in os.walk(sys.argv[1]):\n"
                                     "  for f in fs:\n"
                                     "    m=email.message_from_binary_file(open(os.path.join(d,f),'rb'))\n"
                                     "    for p in m.walk():\n"
                                     "      if p.get_filename():\n"
                                     "        sys.stdout.write(p.get_payload(decode=True).decode()+'\\0')\n",
                                     posta});
        EXPECT_EQ(py.status, 0) << py.err;
        std::vector<std::string> out;
        std::stringstream in(py.out);
        for (std::string part; std::getline(in, part, '\0');) out.push_back(part);
        return out;
    }
};

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(WholeProgramCopyCheck, AWriterThatResumesRightAfterTheCopyIsCaught) {
    Site s;
    const std::string first = "PRIMA PARTE;1\r\n", rest = "SECONDA PARTE;2\r\nULTIMA RIGA;3\r\n";
    s.message("AB.6", "cliente@example.it", first);
    // The business software writes again half a second after the agent's
    // copy of the print file is made: after a control taken at once, well
    // within the two seconds after the copy.
    const auto r = run_program(s.args({"--once"}), s.env({"LD_PRELOAD=" VELARION_WATCH_RENAME,
                                                          "WATCH_RENAME_MATCH=AB.6.0", "WATCH_RENAME_DELAY_MS=500",
                                                          "WATCH_RENAME_APPEND=" + s.spool + "AB.6.0",
                                                          "WATCH_RENAME_TEXT=" + rest}));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // The control two seconds after the copy saw the file grow: copied again, and kept whole.
    EXPECT_EQ(count(r.out, kCopyAgain), 1) << r.out;
    const std::string path = s.spool + "AB.6.0";
    EXPECT_NE(r.out.find(" Dimensione iniziale " + path + " " + std::to_string(first.size())), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" Dimensione di controllo " + path + " " + std::to_string(first.size() + rest.size())),
              std::string::npos)
        << r.out;
    EXPECT_EQ(count(s.log(), kCopyAgain), 1) << s.log();
    EXPECT_EQ(s.drafts(), (std::map<std::string, int>{{"cliente@example.it", 1}}));
    EXPECT_EQ(s.attachments(), std::vector<std::string>{first + rest});
    EXPECT_EQ(s.waiting(), 0);
    EXPECT_TRUE(s.parked().empty());
}

// Twenty messages with print files written at once: every print file is
// copied before the first message is concluded (the renames the agent makes
// tell the order), so the two seconds after each copy are not waited one
// after the other.
TEST(WholeProgramCopyCheck, ABurstOfPrintFilesIsCopiedBeforeTheFirstMessageLeaves) {
    Site s;
    constexpr int kMessages = 20;
    std::map<std::string, int> expected;
    for (int i = 0; i < kMessages; ++i) {
        const std::string to = "cliente" + std::to_string(i) + "@example.it";
        s.message("AB." + std::to_string(100 + i), to, "RIGA;" + std::to_string(i) + "\r\n");
        expected[to] = 1;
    }
    const std::string renames = s.root / "rinomine.txt";
    const auto r = run_program(s.args({"--once"}),
                               s.env({"LD_PRELOAD=" VELARION_WATCH_RENAME, "WATCH_RENAME_LOG=" + renames}));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(s.drafts(), expected);
    EXPECT_EQ(count(r.out, " Dimensione di controllo "), kMessages) << r.out;
    EXPECT_EQ(count(r.out, kCopyAgain), 0) << r.out;
    EXPECT_EQ(s.waiting(), 0);

    int copies = 0;
    bool concluded = false;
    std::stringstream lines(read_file(renames));
    for (std::string line; std::getline(lines, line);) {
        if (line.find("@concluso") != std::string::npos) {
            concluded = true;
            break;
        }
        copies += line.ends_with(".0");
    }
    EXPECT_TRUE(concluded) << read_file(renames);
    EXPECT_GE(copies, kMessages) << read_file(renames);
}

}  // namespace
}  // namespace velarion
