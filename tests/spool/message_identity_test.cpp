// A message's identity across its tries, and a full drafts store: the same
// Message-ID at every try (kept in the queue's record), a try after an
// uncertain one told so, and a full store waiting like a full disk: never
// counted towards the retry limit, one line when it fills and one when it
// has room again.
#include <gtest/gtest.h>

#include <filesystem>

#include "spool/queue_record.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

int lines_with(const ActivityList& list, const std::string& text) {
    int n = 0;
    for (const auto& l : list.lines()) n += l.find(text) != std::string::npos;
    return n;
}

struct FullStore : SpoolFixture {
    FullStore() {
        cfg.retry.delays = {60};
        cfg.retry.limit = 120;  // far less than the time the store stays full
        scanner.set_deliver([this](const DeliveryRequest& r) {
            delivered.push_back(r);
            if (delivered.size() <= 4) {
                DeliveryOutcome full{Delivered::no_room, "NO [OVERQUOTA] Quota exceeded"};
                full.target = Target::store;
                return full;
            }
            DeliveryOutcome done{Delivered::yes};
            done.target = Target::store;
            return done;
        });
        write_message("AB.1", header("R1", "a@x.it", {}, "SAVE"), "b");
        for (int minute = 0; minute <= 10; ++minute) {
            clock.set(make_datetime(2026, 12, 7, 10, minute * 2, 0));
            scan();
        }
    }
};

TEST_F(FullStore, WaitsWithoutCountingAndSaysSoOncePerChange) {
    ASSERT_EQ(delivered.size(), 5u) << dump();
    EXPECT_TRUE(unsent().empty()) << dump();
    EXPECT_EQ(lines_with(list, " Archivio delle bozze pieno: NO [OVERQUOTA] Quota exceeded - i messaggi restano "
                               "nella spool e saranno ritentati"),
              1)
        << dump();
    EXPECT_EQ(lines_with(list, " Archivio delle bozze di nuovo disponibile"), 1) << dump();
    EXPECT_EQ(lines_with(list, "Messaggio rinviato"), 0) << dump();
    // Every try carried the same Message-ID; none was uncertain.
    for (const auto& r : delivered) {
        EXPECT_EQ(r.message_id, delivered[0].message_id);
        EXPECT_FALSE(r.maybe_stored);
    }
    EXPECT_EQ(delivered[0].message_id.rfind("AB.1.", 0), 0u) << delivered[0].message_id;
    EXPECT_NE(delivered[0].message_id.find('@'), std::string::npos);
}

struct LostAnswer : SpoolFixture {
    LostAnswer() {
        cfg.retry.delays = {60};
        scanner.set_deliver([this](const DeliveryRequest& r) {
            delivered.push_back(r);
            if (delivered.size() == 1) return DeliveryOutcome{Delivered::later, "connessione persa"};
            return DeliveryOutcome{Delivered::yes};
        });
        write_message("AB.2", header("R2", "a@x.it", {}, "SAVE"), "b");
        clock.set(make_datetime(2026, 12, 7, 10, 0, 0));
        scan();
        clock.set(make_datetime(2026, 12, 7, 10, 5, 0));
        scan();
    }
};

TEST_F(LostAnswer, TheNextTryLooksForTheDraftFirst) {
    ASSERT_EQ(delivered.size(), 2u) << dump();
    EXPECT_FALSE(delivered[0].maybe_stored);
    EXPECT_TRUE(delivered[1].maybe_stored);
    EXPECT_EQ(delivered[0].message_id, delivered[1].message_id);
}

// A sent message's Message-ID goes into its record with the mark that the end
// of its data went out: a try refused before that leaves none, the next try
// makes its own; one that reached the end keeps it for every later try.
struct SentTries : SpoolFixture {
    SentTries() {
        cfg.retry.delays = {60};
        scanner.set_deliver([this](const DeliveryRequest& r) {
            delivered.push_back(r);
            records.push_back(read_record());
            if (delivered.size() == 1) return DeliveryOutcome{Delivered::later, "450 casella occupata"};
            r.data_end();
            records.push_back(read_record());
            if (delivered.size() == 2) return DeliveryOutcome{Delivered::maybe_delivered, "nessuna risposta"};
            return DeliveryOutcome{Delivered::yes};
        });
        write_message("AB.3", header("R3", "a@x.it"), "b");
        for (int minute : {0, 5, 70}) {
            clock.set(make_datetime(2026, 12, 7, 10, minute, 0));
            scan();
        }
    }
    std::string read_record() const {
        const std::string path = spool + "coda/AB.3.T.stato";
        return fs::exists(path) ? read_file(path) : "";
    }
    std::vector<std::string> records;  // the record at each try, and after each end of data
};

TEST_F(SentTries, TheMessageIdIsRecordedWithTheEndOfTheData) {
    ASSERT_EQ(delivered.size(), 3u) << dump();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].find("message_id="), std::string::npos) << records[0];
    EXPECT_EQ(records[1].find("message_id="), std::string::npos) << records[1];  // refused before the data
    EXPECT_NE(records[2].find("message_id=" + delivered[1].message_id + "\n"), std::string::npos) << records[2];
    EXPECT_NE(records[2].find("in_consegna=1"), std::string::npos) << records[2];
    // The try after an uncertain end sends the same Message-ID.
    EXPECT_EQ(delivered[2].message_id, delivered[1].message_id);
    EXPECT_NE(delivered[0].message_id, delivered[1].message_id);
}

}  // namespace
}  // namespace velarion::testing
