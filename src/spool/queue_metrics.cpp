#include "spool/queue_metrics.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace velarion::spool {

namespace {

// Still to be delivered: what the oldest-message age and "in attesa" count.
bool unsettled(QueueState s) { return s != QueueState::parked && s != QueueState::concluding; }

int count(const QueueReport& r, bool (*pick)(QueueState)) {
    return static_cast<int>(
        std::count_if(r.messages.begin(), r.messages.end(), [&](const QueuedMessage& m) { return pick(m.state); }));
}

void metric(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

std::string metrics_text(const QueueReport& report, long long now_epoch, const AgentState& agent) {
    // Label values escape "\" and '"' as the text format asks; an operator code is letters and digits.
    std::string op;
    for (char c : agent.operator_code) {
        if (c == '\\' || c == '"') op += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) op += c;
    }
    const std::string who = "operatore=\"" + op + "\"";
    std::string out;
    metric(out, "velarion_queue_messages", "gauge", "Messages the installation holds, by state.");
    for (QueueState s : kQueueStates) {
        int n = 0;
        for (const auto& m : report.messages) n += m.state == s;
        out += "velarion_queue_messages{" + who + ",state=\"" + state_key(s) + "\"} " + std::to_string(n) + "\n";
    }
    long long oldest = 0;
    for (const auto& m : report.messages)
        if (unsettled(m.state) && m.written > 0) oldest = std::max(oldest, now_epoch - m.written);
    metric(out, "velarion_oldest_waiting_seconds", "gauge", "Age of the oldest message not yet delivered.");
    out += "velarion_oldest_waiting_seconds{" + who + "} " + std::to_string(std::max(0LL, oldest)) + "\n";
    const auto outcomes = [](const DayCounts& t) {
        return std::vector<std::pair<const char*, int>>{
            {"delivered", t.delivered}, {"saved", t.saved}, {"deferred", t.deferred}, {"parked", t.parked}};
    };
    metric(out, "velarion_today_messages", "gauge", "Messages settled today by every agent of the work folder, by outcome.");
    for (const auto& [name, n] : outcomes(report.today))
        out += "velarion_today_messages{" + who + ",outcome=\"" + name + "\"} " + std::to_string(n) + "\n";
    metric(out, "velarion_messages_total", "counter", "Messages this agent settled since it started, by outcome.");
    for (const auto& [name, n] : outcomes(agent.since_start))
        out += "velarion_messages_total{" + who + ",outcome=\"" + name + "\"} " + std::to_string(n) + "\n";
    metric(out, "velarion_bounced_total", "counter", "Recipients' bounces read today from delivery reports.");
    out += "velarion_bounced_total{" + who + "} " + std::to_string(report.today.bounced) + "\n";
    metric(out, "velarion_transport_held", "gauge", "1 while sends are held after a failure of the sending server.");
    out += "velarion_transport_held{" + who + "} " + (agent.transport_held ? "1" : "0") + "\n";
    metric(out, "velarion_store_held", "gauge", "1 while drafts are held after a failure of the mail store.");
    out += "velarion_store_held{" + who + "} " + (agent.store_held ? "1" : "0") + "\n";
    return out;
}

std::string status_text(const QueueReport& report, bool transport_held, const std::string& hold_reason) {
    const int waiting = count(report, [](QueueState s) {
        return unsettled(s) && s != QueueState::deferred && s != QueueState::on_hold;
    });
    const int deferred = count(report, [](QueueState s) { return s == QueueState::deferred; });
    const int parked = count(report, [](QueueState s) { return s == QueueState::parked; });
    std::string out = std::to_string(waiting) + " in attesa, " + std::to_string(deferred) + " rinviati, " +
                      std::to_string(parked) + " non inviati; oggi " + std::to_string(report.today.delivered) +
                      " inviati";
    if (transport_held) out += "; consegna sospesa" + (hold_reason.empty() ? "" : ": " + hold_reason);
    return out;
}

}  // namespace velarion::spool
