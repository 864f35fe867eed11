// What monitoring sees of an installation: the queue and today's counts as a
// Prometheus text file (the node exporter's textfile collector reads it), and
// the one-line status the service manager shows.
#pragma once

#include <string>

#include "spool/queue_status.h"

namespace velarion::spool {

// The metrics text: velarion_queue_messages{state="..."} for every state,
// velarion_oldest_waiting_seconds (of the messages not yet settled, 0 when
// none), velarion_today_messages{outcome="..."}, velarion_transport_held (1
// while a hold on delivery is on). now_epoch: seconds since 1970, UTC.
std::string metrics_text(const QueueReport& report, long long now_epoch, bool transport_held);

// "N in attesa, M rinviati, K non inviati; oggi X inviati", followed by
// "; consegna sospesa: <reason>" while a hold on delivery is on.
std::string status_text(const QueueReport& report, bool transport_held, const std::string& hold_reason);

}  // namespace velarion::spool
