// A claim lost to another agent takes nothing: when the trigger is gone
// between the listing and this agent's rename, the message is neither
// processed nor removed, and the other agent's claim stays as it is.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os/agent_identity.h"
#include "platform/os/file_lock.h"
#include "spool/queue.h"
#include "spool/spool_fixture.h"
#include "spool/spool_listing.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using ClaimRace = SpoolFixture;

const std::string kOther = "altrohost-4242-0badf00d";

TEST_F(ClaimRace, ATriggerTakenAfterTheListingIsNotClaimed) {
    write_message("AB.1", header("R1", "a@x.it"), "b");
    spool::SpoolQueue queue(spool);
    const spool::SpoolListing listing(spool);
    ASSERT_EQ(listing.find("AB.1.T"), spool + "AB.1.T");
    // Another agent renames the trigger first.
    fs::rename(spool + "AB.1.T", spool + "coda/AB.1.T@" + kOther);
    EXPECT_FALSE(queue.claim("AB.1.T"));
    EXPECT_FALSE(fs::exists(queue.claimed_path("AB.1.T")));
    EXPECT_TRUE(fs::exists(spool + "coda/AB.1.T@" + kOther));
    EXPECT_TRUE(fs::exists(spool + "AB.1.h"));
}

// Two messages wait for their next try; while this agent delivers the first,
// another agent takes the second from the queue. This agent's rename of the
// second then finds it gone: nothing is delivered, copied, parked or removed.
TEST_F(ClaimRace, ADeferredMessageTakenMeanwhileIsLeftToTheOtherAgent) {
    fs::create_directories(spool + "coda/agenti");
    const auto other = FileLock::create(spool + "coda/agenti/" + kOther);
    ASSERT_TRUE(other);
    int calls = 0;
    std::string taken;  // the message the other agent took
    scanner.set_deliver([&](const DeliveryRequest& r) {
        delivered.push_back(r);
        if (++calls <= 2) return DeliveryOutcome{Delivered::later, "451 riprovare"};
        const std::string base = r.lsNumRef == "R1" ? "AB.2" : "AB.1";
        taken = base;
        fs::rename(spool + "coda/" + base + ".T@rinvio", spool + "coda/" + base + ".T@" + kOther);
        return DeliveryOutcome{Delivered::yes};
    });
    write_message("AB.1", header("R1", "a@x.it"), "b");
    write_message("AB.2", header("R2", "a@x.it"), "b");
    scan();
    ASSERT_EQ(delivered.size(), 2u) << dump();
    ASSERT_TRUE(fs::exists(spool + "coda/AB.1.T@rinvio"));
    ASSERT_TRUE(fs::exists(spool + "coda/AB.2.T@rinvio"));

    clock.set(make_datetime(2026, 12, 7, 10, 31, 0));
    scan();
    ASSERT_EQ(delivered.size(), 3u) << dump();
    ASSERT_FALSE(taken.empty());
    EXPECT_TRUE(fs::exists(spool + "coda/" + taken + ".T@" + kOther));
    EXPECT_FALSE(fs::exists(spool + "coda/" + taken + ".T@" + agent_identity()));
    for (const char* ext : {".h", ".b"}) EXPECT_TRUE(fs::exists(spool + taken + ext)) << ext;
    EXPECT_TRUE(unsent().empty());
    EXPECT_FALSE(has_text("Leggi_dir")) << dump();
}

}  // namespace
}  // namespace velarion::testing
