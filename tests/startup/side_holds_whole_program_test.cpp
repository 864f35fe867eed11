// The whole program (build/bin/velarion) with the sending server out of
// reach: drafts are still saved, and the sends wait for it.
#include <filesystem>

#include <gtest/gtest.h>

#include "support/agent_site.h"
#include "support/mail_servers.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

// A temporary installation of operator AB whose client saves drafts in the store.
struct Site : testing::AgentSite {
    void configure(const std::string& store, const std::string& transport) const {
        AgentSite::configure("", "[MAPI]\nclient=Microsoft Outlook\nstore=" + store + "\ntransport=" + transport + "\n");
    }
    void message(const std::string& base, const std::string& option) const {
        AgentSite::message(base, "uno@example.it", option);
    }
    // The message's trigger still waits: in the spool folder or in its queue.
    bool waits(const std::string& base) const {
        std::error_code ec;
        if (fs::exists(spool + base + ".T")) return true;
        for (const auto& e : fs::directory_iterator(spool + "coda", ec))
            if (e.path().filename().string().rfind(base + ".T@", 0) == 0) return true;
        return false;
    }
    int drafts() const {
        int n = 0;
        std::error_code ec;
        for (const char* sub : {"cur", "new"})
            for (const auto& e : fs::directory_iterator(root / "posta/Drafts/" + std::string(sub), ec)) n += e.is_regular_file();
        return n;
    }
};

TEST(SideHoldsWholeProgram, WithTheSendingServerDownADraftIsSavedWhileASendWaits) {
    Site s;
    const std::string closed = "127.0.0.1:" + std::to_string(testing::pick_free_port());
    s.configure("maildir://localhost" + s.root / "posta", "smtp://" + closed);
    s.message("AB.1", "SEND");
    s.message("AB.2", "SAVE");
    auto r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" Server di posta non raggiungibile: "), std::string::npos) << r.out;
    EXPECT_EQ(s.drafts(), 1) << r.out;
    EXPECT_FALSE(s.waits("AB.2"));
    EXPECT_TRUE(s.waits("AB.1"));

    // The transport back: the send that waited goes.
    testing::SmtpServer smtp;
    if (!smtp.skip_reason().empty()) GTEST_SKIP() << smtp.skip_reason();
    s.configure("maildir://localhost" + s.root / "posta", smtp.url());
    r = s.once();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(smtp.messages(1).size(), 1u) << r.out;
    EXPECT_FALSE(s.waits("AB.1")) << r.out;
    EXPECT_EQ(s.drafts(), 1);
    EXPECT_FALSE(fs::exists(s.work + "non_inviati") && !fs::is_empty(s.work + "non_inviati"));
}

}  // namespace
}  // namespace velarion
