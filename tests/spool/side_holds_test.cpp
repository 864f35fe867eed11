// The store and the transport are held each on its own: with one side out
// of reach, the messages that need the other still go, and those that need
// it wait in the spool, untouched, until its next try.
#include <gtest/gtest.h>

#include <filesystem>

#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

class SideHolds : public SpoolFixture {
protected:
    SideHolds() {
        cfg.retry.delays = {60, 300};
        cfg.retry.limit = 20 * 60;
        // A fake mail service: a side that is down answers every message that needs it.
        scanner.set_deliver([this](const DeliveryRequest& r) {
            delivered.push_back(r);
            const Target side = r.save() ? Target::store : Target::transport;
            DeliveryOutcome o{Delivered::yes};
            if (side == Target::store ? store_down : transport_down)
                o = {Delivered::server_down, side == Target::store ? "archivio chiuso" : "smtp chiuso"};
            o.target = side;
            return o;
        });
    }
    void at(int hour, int minute) { clock.set(make_datetime(2026, 12, 7, hour, minute, 0)); }
    int tries_of(const std::string& ref) const {
        int n = 0;
        for (const auto& r : delivered) n += r.lsNumRef == ref;
        return n;
    }
    bool store_down = false;
    bool transport_down = false;
};

TEST_F(SideHolds, WithTheTransportDownDraftsAreStillSavedAndSendsWaitUntouched) {
    transport_down = true;
    write_message("AB.1", header("S1", "a@x.it"), "b");
    write_message("AB.2", header("D1", "a@x.it", {}, "SAVE"), "b");
    write_message("AB.3", header("S2", "a@x.it"), "b");
    scan();
    // One send tried, the draft saved, the other send not even composed.
    EXPECT_EQ(tries_of("S1"), 1) << dump();
    EXPECT_EQ(tries_of("D1"), 1);
    EXPECT_EQ(tries_of("S2"), 0);
    EXPECT_TRUE(has_line(stamp() + " Server di posta non raggiungibile: smtp chiuso - nuovi tentativi automatici (invio)"))
        << dump();
    EXPECT_FALSE(fs::exists(spool + "AB.2.T"));
    EXPECT_TRUE(fs::exists(spool + "AB.1.T"));
    EXPECT_TRUE(fs::exists(spool + "AB.3.T"));

    // A draft written while the transport is held goes at the next tick; the sends stay.
    write_message("AB.4", header("D2", "a@x.it", {}, "SAVE"), "b");
    scan();
    EXPECT_EQ(tries_of("D2"), 1);
    EXPECT_EQ(tries_of("S1"), 1);
    EXPECT_EQ(tries_of("S2"), 0);

    // The hold's time comes and the transport is back: the sends go, one line says so.
    transport_down = false;
    at(10, 31);
    scan();
    EXPECT_EQ(tries_of("S1"), 2);
    EXPECT_EQ(tries_of("S2"), 1);
    EXPECT_TRUE(has_text(" Consegna di nuovo possibile: riprendo l'invio dei messaggi (invio)")) << dump();
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
}

TEST_F(SideHolds, WithTheStoreDownSendsStillGoAndTheWarningStaysWhileEitherSideIsHeld) {
    store_down = true;
    write_message("AB.5", header("D3", "a@x.it", {}, "SAVE"), "b");
    write_message("AB.6", header("D4", "a@x.it", {}, "SAVE"), "b");
    write_message("AB.7", header("S3", "a@x.it"), "b");
    scan();
    EXPECT_EQ(tries_of("D3"), 1) << dump();
    EXPECT_EQ(tries_of("D4"), 0);
    EXPECT_EQ(tries_of("S3"), 1);
    EXPECT_FALSE(fs::exists(spool + "AB.7.T"));
    EXPECT_TRUE(has_text("nuovi tentativi automatici (archivio)")) << dump();

    // Now the transport fails too: both sides held, nothing is taken.
    transport_down = true;
    write_message("AB.8", header("S4", "a@x.it"), "b");
    scan();
    EXPECT_EQ(tries_of("S4"), 1);
    const std::size_t tries = delivered.size();
    scan();
    EXPECT_EQ(delivered.size(), tries);

    // The store is back at its next try; the transport stays held, so the warning stays.
    store_down = false;
    at(10, 31);
    scan();
    EXPECT_EQ(tries_of("D3"), 2) << dump();
    EXPECT_EQ(tries_of("D4"), 1);
    EXPECT_TRUE(has_text("riprendo l'invio dei messaggi (archivio)"));
    EXPECT_FALSE(view.warning.empty());
    EXPECT_TRUE(fs::exists(spool + "AB.8.T"));
}

TEST_F(SideHolds, RetryNowEndsBothHolds) {
    transport_down = true;
    store_down = true;
    write_message("AB.9", header("S5", "a@x.it"), "b");
    write_message("AB.0", header("D5", "a@x.it", {}, "SAVE"), "b");
    scan();
    EXPECT_EQ(delivered.size(), 2u);
    transport_down = store_down = false;
    scanner.resume();
    scan();
    EXPECT_EQ(tries_of("S5"), 2);
    EXPECT_EQ(tries_of("D5"), 2);
}

}  // namespace
}  // namespace velarion::testing
