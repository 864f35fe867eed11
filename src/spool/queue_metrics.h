// What monitoring sees of an installation: the queue and today's counts as a
// Prometheus text file (the node exporter's textfile collector reads it), and
// the one-line status the service manager shows.
#pragma once

#include <string>

#include "spool/queue_status.h"

namespace velarion::spool {

// What the agent itself knows beside the queue.
struct AgentState {
    std::string operator_code;  // the "operatore" label of every series
    bool transport_held = false;
    bool store_held = false;
    DayCounts since_start;      // what this agent settled since it started
};

// The metrics text, every series labelled operatore="<OP>":
// velarion_queue_messages{state="..."} for every state (0 when empty),
// velarion_oldest_waiting_seconds (of the messages not yet settled, 0 when
// none), velarion_today_messages{outcome="..."} (gauges, the day's counts of
// every agent), velarion_messages_total{outcome="..."} (counters of this
// agent since its start), velarion_transport_held and velarion_store_held (1
// while that side of delivery is held). now_epoch: seconds since 1970, UTC.
std::string metrics_text(const QueueReport& report, long long now_epoch, const AgentState& agent);

// "N in attesa, M rinviati, K non inviati; oggi X inviati", followed by
// "; consegna sospesa: <reason>" while a hold on delivery is on.
std::string status_text(const QueueReport& report, bool transport_held, const std::string& hold_reason);

}  // namespace velarion::spool
