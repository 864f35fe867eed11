#include "startup/queue_report.h"

#include <chrono>

#include "platform/os/atomic_file.h"
#include "platform/os/service_notify.h"
#include "platform/os/text_encoding.h"
#include "spool/queue_metrics.h"
#include "spool/queue_status.h"
#include "spool/run_state.h"
#include "startup/agent.h"

namespace velarion {

void report_queue_state(const Agent& a, const DeliveryHold& hold) {
    try {
        const Settings& s = a.settings;
        if (s.spool_dir.empty()) return;  // no operator loaded
        std::vector<std::string> prefixes{s.sw.ope == "TUTTI" ? "*" : s.sw.ope};
        if (!s.sw.ope2.empty()) prefixes.push_back(s.sw.ope2);
        const auto report = spool::read_queue(s.spool_dir, s.work_dir, prefixes, a.clock.now());
        service::status(text::cp1252_to_utf8(spool::status_text(report, hold.active(), hold.reason)));
        if (!s.metrics_file) return;
        const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
        // A scrape sees the old file or the new one; a lost file is made again in a minute.
        atomic_file::write(*s.metrics_file, spool::metrics_text(report, now, hold.active()),
                           atomic_file::Sync::work_file);
    } catch (...) {
        // Monitoring never stops the agent.
    }
}

}  // namespace velarion
