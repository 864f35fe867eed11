// The retry limit's exact edge: a message tried again one second before the
// limit waits for its next try; one tried again when the limit is reached
// is parked.
#include <gtest/gtest.h>

#include <filesystem>

#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

class RetryLimit : public SpoolFixture {
protected:
    // Every try fails for a reason that may pass; tries at 10:30:00, then
    // one minute later, then five minutes after that (10:36:00, 360 s after
    // the first failure).
    explicit RetryLimit(long long limit) {
        cfg.retry.delays = {60, 300};
        cfg.retry.limit = limit;
        scanner.set_deliver([this](const DeliveryRequest& r) {
            delivered.push_back(r);
            return DeliveryOutcome{Delivered::later, "451 riprovare"};
        });
        write_message("AB.1", header("R1", "a@x.it"), "b");
        for (int minute : {30, 31, 36}) {
            clock.set(make_datetime(2026, 12, 7, 10, minute, 0));
            scan();
        }
    }
};

struct JustBelowTheLimit : RetryLimit {
    JustBelowTheLimit() : RetryLimit(361) {}
};

struct AtTheLimit : RetryLimit {
    AtTheLimit() : RetryLimit(360) {}
};

TEST_F(JustBelowTheLimit, TheThirdTryWaitsForTheNext) {
    ASSERT_EQ(delivered.size(), 3u) << dump();
    EXPECT_TRUE(has_line("07/12/2026 10:36:00 Messaggio rinviato AB.1 tentativo 3: 451 riprovare - prossimo "
                         "tentativo 07/12/2026 10:41:00"))
        << dump();
    EXPECT_TRUE(fs::exists(spool + "coda/AB.1.T@rinvio"));
    EXPECT_TRUE(fs::exists(spool + "AB.1.h"));
    EXPECT_TRUE(unsent().empty());
}

TEST_F(AtTheLimit, TheThirdTryParksTheMessage) {
    ASSERT_EQ(delivered.size(), 3u) << dump();
    EXPECT_TRUE(has_line("07/12/2026 10:36:00 Messaggio AB.1 non inviato dopo 3 tentativi: 451 riprovare")) << dump();
    EXPECT_FALSE(has_text("tentativo 3:")) << dump();
    EXPECT_EQ(unsent(), std::vector<std::string>{"AB.1_261207103600/"});
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
}

}  // namespace
}  // namespace velarion::testing
