// Records in the queue folder written without making a file per message: a
// concluded message's record is kept as a spare and becomes the next
// message's record, holding only what that one says; a record already there
// is appended to, never replaced; a spare that went meanwhile (removed as an
// old temporary) is no loss; the spares go with the agent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/os/agent_identity.h"
#include "spool/queue.h"
#include "spool/queue_record.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using SpareRecords = SpoolFixture;

ino_t inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::vector<std::string> hidden_in(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string()[0] == '.') out.push_back(e.path().filename().string());
    return out;
}

TEST_F(SpareRecords, AConcludedRecordBecomesTheNextOneWithOnlyItsOwnKeys) {
    for (const char* base : {"AB.1", "AB.2", "AB.3"}) write_message(base, header("R", "a@x.it"), "b");
    const std::string coda = spool + "coda/";
    {
        spool::SpoolQueue q(spool);
        ASSERT_TRUE(q.claim("AB.1.T"));
        spool::QueueRecord old;
        old.tries = 3;
        old.reason = "451 una ragione lunga quanto basta per lasciare una coda";
        q.write_record("AB.1.T", old);
        ASSERT_TRUE(q.append_record("AB.1.T", spool::delivering_lines("")));
        const ino_t first = inode(coda + "AB.1.T.stato");
        q.conclude_in_batch("AB.1.T");
        ASSERT_TRUE(q.sync());
        q.forget("AB.1.T", false);
        EXPECT_FALSE(fs::exists(coda + "AB.1.T.stato"));
        EXPECT_FALSE(fs::exists(coda + "AB.1.T@concluso." + agent_identity()));
        ASSERT_EQ(hidden_in(coda).size(), 1u);
        // The spare is no entry of the queue.
        for (const auto& e : q.entries()) EXPECT_NE(e.name[0], '.') << e.name;

        // The next message's first record is that file, with nothing of the old one.
        ASSERT_TRUE(q.claim("AB.2.T"));
        ASSERT_TRUE(q.append_record("AB.2.T", spool::delivering_lines("AB.2.abc@h")));
        EXPECT_EQ(inode(coda + "AB.2.T.stato"), first);
        EXPECT_EQ(read_file(coda + "AB.2.T.stato"), "\nin_consegna=1\nmessage_id=AB.2.abc@h\n");
        const spool::QueueRecord now = q.record("AB.2.T");
        EXPECT_TRUE(now.delivering);
        EXPECT_EQ(now.tries, 0);
        EXPECT_EQ(now.message_id, "AB.2.abc@h");
        EXPECT_TRUE(hidden_in(coda).empty());

        // A record that is there (a message tried before) keeps its keys.
        q.conclude_in_batch("AB.2.T");
        q.forget("AB.2.T", false);
        ASSERT_TRUE(q.claim("AB.3.T"));
        q.write_record("AB.3.T", old);
        ASSERT_TRUE(q.append_record("AB.3.T", spool::delivering_lines("AB.3.def@h")));
        const spool::QueueRecord again = q.record("AB.3.T");
        EXPECT_EQ(again.tries, 3);
        EXPECT_EQ(again.reason, old.reason);
        EXPECT_TRUE(again.delivering);
        EXPECT_EQ(again.message_id, "AB.3.def@h");
        EXPECT_EQ(hidden_in(coda).size(), 1u);  // the spare is still there
    }
    // An agent that ends takes its spares with it.
    EXPECT_TRUE(hidden_in(coda).empty());
}

TEST_F(SpareRecords, ASpareRemovedMeanwhileIsNoLoss) {
    for (const char* base : {"AB.1", "AB.2"}) write_message(base, header("R", "a@x.it"), "b");
    const std::string coda = spool + "coda/";
    spool::SpoolQueue q(spool);
    ASSERT_TRUE(q.claim("AB.1.T"));
    ASSERT_TRUE(q.append_record("AB.1.T", spool::delivering_lines("")));
    q.conclude_in_batch("AB.1.T");
    q.forget("AB.1.T", false);
    // Another agent's clean-up of old temporaries takes it.
    for (const auto& name : hidden_in(coda)) fs::remove(coda + name);
    ASSERT_TRUE(q.claim("AB.2.T"));
    ASSERT_TRUE(q.append_record("AB.2.T", spool::delivering_lines("AB.2.abc@h")));
    EXPECT_TRUE(q.record("AB.2.T").delivering);
    EXPECT_EQ(q.record("AB.2.T").message_id, "AB.2.abc@h");
}

}  // namespace
}  // namespace velarion::testing
