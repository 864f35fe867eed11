// Every minute and at close: the queue's state for monitoring, as the
// Prometheus text file of "metriche" ([GLOBAL]) and the service's status line.
#pragma once

namespace velarion {

struct Agent;
struct DeliveryHold;

// Reads the operator's queue and today's counts, replaces the metrics file
// (when one is configured) and sets the status line. Never throws: a file that
// cannot be written is skipped until the next minute.
void report_queue_state(const Agent& a, const DeliveryHold& hold);

}  // namespace velarion
