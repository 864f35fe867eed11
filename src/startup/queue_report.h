// Every minute and at close: the queue's state for monitoring, as the
// Prometheus text file of "metriche" ([GLOBAL]) and the service's status line.
#pragma once

#include <string>

namespace velarion {

struct Agent;
struct RunState;

// Where the metrics of operator `op` go: `metriche` itself when it names a
// file, "velarion_<op>.prom" in it when it names a folder (ends in "/" or is
// one), so that the operators of one velarion.ini write files of their own.
std::string metrics_path(const std::string& metriche, const std::string& op);

// Reads the operator's queue and today's counts, replaces the metrics file
// (when one is configured; readable by everyone, for the exporter's user)
// and sets the status line. Never throws. Returns "" when the file was
// written or none is configured, else what failed.
std::string report_queue_state(const Agent& a, const RunState& run);

}  // namespace velarion
