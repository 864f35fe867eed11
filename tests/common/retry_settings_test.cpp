#include "common/retry_settings.h"

#include <gtest/gtest.h>

namespace velarion {
namespace {

TEST(RetrySettings, DurationsInMinutesOrWithTheirUnit) {
    const RetrySettings d = parse_retry_settings("", "", "");
    EXPECT_EQ(d.delays, (std::vector<long long>{60, 300, 900, 3600}));
    EXPECT_EQ(d.limit, 24 * 3600);
    EXPECT_EQ(d.retention_days, 7);
    // The last delay repeats: hourly after an hour.
    EXPECT_EQ(d.delay_after(1), 60);
    EXPECT_EQ(d.delay_after(4), 3600);
    EXPECT_EQ(d.delay_after(40), 3600);

    const RetrySettings s = parse_retry_settings(" 2s, 3 s ,1m,1h ", "48h", "30");
    EXPECT_EQ(s.delays, (std::vector<long long>{2, 3, 60, 3600}));
    EXPECT_EQ(s.limit, 48 * 3600);
    EXPECT_EQ(s.retention_days, 30);
    EXPECT_EQ(parse_retry_settings("5", "90", "0").limit, 90 * 60);

    // A value that is not one keeps its default, whole.
    const RetrySettings bad = parse_retry_settings("1,x,5", "domani", "-3");
    EXPECT_EQ(bad.delays, d.delays);
    EXPECT_EQ(bad.limit, d.limit);
    EXPECT_EQ(bad.retention_days, 7);
    EXPECT_EQ(parse_retry_settings("0,5", "", "").delays, d.delays);
    EXPECT_EQ(parse_duration("1e3"), -1);
}

}  // namespace
}  // namespace velarion
