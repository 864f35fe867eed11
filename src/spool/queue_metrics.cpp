#include "spool/queue_metrics.h"

#include <algorithm>

namespace velarion::spool {

namespace {

// The label of a state in the metrics (English, stable for queries).
const char* metric_state(QueueState s) {
    switch (s) {
        case QueueState::waiting: return "waiting";
        case QueueState::timing: return "timing";
        case QueueState::in_progress: return "in_progress";
        case QueueState::interrupted: return "interrupted";
        case QueueState::deferred: return "deferred";
        case QueueState::held: return "held";
        case QueueState::concluding: return "concluding";
        case QueueState::parked: return "parked";
    }
    return "unknown";
}

constexpr QueueState kStates[] = {QueueState::waiting,  QueueState::timing, QueueState::in_progress,
                                  QueueState::interrupted, QueueState::deferred, QueueState::held,
                                  QueueState::concluding,  QueueState::parked};

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

std::string metrics_text(const QueueReport& report, long long now_epoch, bool transport_held) {
    std::string out;
    metric(out, "velarion_queue_messages", "gauge", "Messages the installation holds, by state.");
    for (QueueState s : kStates) {
        int n = 0;
        for (const auto& m : report.messages) n += m.state == s;
        out += std::string("velarion_queue_messages{state=\"") + metric_state(s) + "\"} " + std::to_string(n) + "\n";
    }
    long long oldest = 0;
    for (const auto& m : report.messages)
        if (unsettled(m.state) && m.written > 0) oldest = std::max(oldest, now_epoch - m.written);
    metric(out, "velarion_oldest_waiting_seconds", "gauge", "Age of the oldest message not yet delivered.");
    out += "velarion_oldest_waiting_seconds " + std::to_string(std::max(0LL, oldest)) + "\n";
    metric(out, "velarion_today_messages", "gauge", "Messages settled today by every agent, by outcome.");
    const auto& t = report.today;
    const std::pair<const char*, int> outcomes[] = {
        {"delivered", t.delivered}, {"saved", t.saved}, {"deferred", t.deferred}, {"parked", t.parked}};
    for (const auto& [name, n] : outcomes)
        out += std::string("velarion_today_messages{outcome=\"") + name + "\"} " + std::to_string(n) + "\n";
    metric(out, "velarion_bounced_total", "counter", "Recipients' bounces read today from delivery reports.");
    out += "velarion_bounced_total " + std::to_string(t.bounced) + "\n";
    metric(out, "velarion_transport_held", "gauge", "1 while delivery is held after a server failure.");
    out += std::string("velarion_transport_held ") + (transport_held ? "1" : "0") + "\n";
    return out;
}

std::string status_text(const QueueReport& report, bool transport_held, const std::string& hold_reason) {
    const int waiting = count(report, [](QueueState s) {
        return unsettled(s) && s != QueueState::deferred && s != QueueState::held;
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
