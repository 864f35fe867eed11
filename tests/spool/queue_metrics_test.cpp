// The metrics text and the status line made from a queue report.
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "spool/queue_metrics.h"

namespace velarion::spool {
namespace {

QueueReport sample() {
    QueueReport r;
    const auto add = [&](QueueState s, long long written) {
        QueuedMessage m;
        m.state = s;
        m.written = written;
        r.messages.push_back(m);
    };
    add(QueueState::waiting, 1000);
    add(QueueState::timing, 1500);
    add(QueueState::deferred, 400);   // the oldest still to go
    add(QueueState::parked, 10);      // parked: settled, not counted in the age
    add(QueueState::parked, 0);
    r.today = {7, 2, 3, 2};
    return r;
}

TEST(QueueMetrics, TextFormatWithEveryStateAndTheOldestAge) {
    const std::string text = metrics_text(sample(), 1600, true);
    // Every line is a comment or "name{labels} value" as the textfile collector reads it.
    const std::regex sample_line(R"(^[a-zA-Z_:][a-zA-Z0-9_:]*(\{[a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*"\})? -?[0-9]+(\.[0-9]+)?$)");
    const std::regex comment(R"(^# (HELP|TYPE) [a-zA-Z_:][a-zA-Z0-9_:]* .+$)");
    std::istringstream in(text);
    int samples = 0;
    for (std::string l; std::getline(in, l);) {
        EXPECT_TRUE(std::regex_match(l, sample_line) || std::regex_match(l, comment)) << l;
        samples += l[0] != '#';
    }
    EXPECT_EQ(samples, 8 + 1 + 4 + 1 + 1);
    EXPECT_NE(text.find("velarion_bounced_total 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_queue_messages{state=\"waiting\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_queue_messages{state=\"parked\"} 2\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_queue_messages{state=\"held\"} 0\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_oldest_waiting_seconds 1200\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_today_messages{outcome=\"delivered\"} 7\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_today_messages{outcome=\"parked\"} 2\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_transport_held 1\n"), std::string::npos);
    // An empty queue: no age, and no hold.
    const std::string empty = metrics_text(QueueReport{}, 1600, false);
    EXPECT_NE(empty.find("velarion_oldest_waiting_seconds 0\n"), std::string::npos);
    EXPECT_NE(empty.find("velarion_transport_held 0\n"), std::string::npos);
}

TEST(QueueMetrics, StatusLineWithAndWithoutHold) {
    EXPECT_EQ(status_text(sample(), false, ""), "2 in attesa, 1 rinviati, 2 non inviati; oggi 7 inviati");
    EXPECT_EQ(status_text(sample(), true, "server di posta non raggiungibile"),
              "2 in attesa, 1 rinviati, 2 non inviati; oggi 7 inviati; consegna sospesa: server di posta non "
              "raggiungibile");
}

}  // namespace
}  // namespace velarion::spool
