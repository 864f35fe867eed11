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

TEST(QueueMetrics, TextFormatWithEveryStateTheOperatorAndCounters) {
    AgentState agent;
    agent.operator_code = "AB";
    agent.transport_held = true;
    agent.since_start = {5, 1, 4, 0};
    const std::string text = metrics_text(sample(), 1600, agent);
    // Every line is a comment or "name{labels} value" as the textfile collector reads it.
    const std::regex sample_line(R"(^[a-zA-Z_:][a-zA-Z0-9_:]*\{operatore="AB"(,[a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*")?\} -?[0-9]+$)");
    const std::regex comment(R"(^# (HELP|TYPE) [a-zA-Z_:][a-zA-Z0-9_:]* .+$)");
    std::istringstream in(text);
    int samples = 0;
    for (std::string l; std::getline(in, l);) {
        EXPECT_TRUE(std::regex_match(l, sample_line) || std::regex_match(l, comment)) << l;
        samples += l[0] != '#';
    }
    EXPECT_EQ(samples, 10 + 1 + 4 + 4 + 1 + 2);
    EXPECT_NE(text.find("velarion_bounced_total{operatore=\"AB\"} 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_queue_messages{operatore=\"AB\",state=\"waiting\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_queue_messages{operatore=\"AB\",state=\"parked\"} 2\n"), std::string::npos);
    // Empty states are there with 0; the operator's hold is "on_hold", a side's hold its own state.
    EXPECT_NE(text.find("velarion_queue_messages{operatore=\"AB\",state=\"on_hold\"} 0\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_queue_messages{operatore=\"AB\",state=\"held_store\"} 0\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_oldest_waiting_seconds{operatore=\"AB\"} 1200\n"), std::string::npos) << text;
    EXPECT_NE(text.find("velarion_today_messages{operatore=\"AB\",outcome=\"delivered\"} 7\n"), std::string::npos);
    EXPECT_NE(text.find("# TYPE velarion_messages_total counter\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_messages_total{operatore=\"AB\",outcome=\"delivered\"} 5\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_messages_total{operatore=\"AB\",outcome=\"deferred\"} 4\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_transport_held{operatore=\"AB\"} 1\n"), std::string::npos);
    EXPECT_NE(text.find("velarion_store_held{operatore=\"AB\"} 0\n"), std::string::npos);
    // An empty queue: no age, and no hold.
    AgentState other;
    other.operator_code = "CD";
    const std::string empty = metrics_text(QueueReport{}, 1600, other);
    EXPECT_NE(empty.find("velarion_oldest_waiting_seconds{operatore=\"CD\"} 0\n"), std::string::npos);
    EXPECT_NE(empty.find("velarion_transport_held{operatore=\"CD\"} 0\n"), std::string::npos);
}

TEST(QueueMetrics, StatusLineWithAndWithoutHold) {
    EXPECT_EQ(status_text(sample(), false, ""), "2 in attesa, 1 rinviati, 2 non inviati; oggi 7 inviati");
    EXPECT_EQ(status_text(sample(), true, "server di posta non raggiungibile"),
              "2 in attesa, 1 rinviati, 2 non inviati; oggi 7 inviati; consegna sospesa: server di posta non "
              "raggiungibile");
}

}  // namespace
}  // namespace velarion::spool
