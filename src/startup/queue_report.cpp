#include "startup/queue_report.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/os/atomic_file.h"
#include "platform/os/paths.h"
#include "platform/os/service_notify.h"
#include "platform/os/text_encoding.h"
#include "spool/message_rules.h"
#include "spool/queue_metrics.h"
#include "spool/queue_status.h"
#include "spool/run_state.h"
#include "startup/agent.h"

namespace velarion {

std::string metrics_path(const std::string& metriche, const std::string& op) {
    if (metriche.empty() || metriche.back() == '/' || paths::is_folder(metriche))
        return metriche + (metriche.empty() || metriche.back() == '/' ? "" : "/") + "velarion_" + op + ".prom";
    return metriche;
}

std::string report_queue_state(const Agent& a, const RunState& run) {
    try {
        const Settings& s = a.settings;
        if (s.spool_dir.empty()) return "";  // no operator loaded
        std::vector<std::string> prefixes{s.sw.ope == "TUTTI" ? "*" : s.sw.ope};
        if (!s.sw.ope2.empty()) prefixes.push_back(s.sw.ope2);
        const auto report = spool::read_queue(s.spool_dir, s.work_dir, prefixes, a.clock.now(),
                                              [&a](const std::string& option, const std::string& to) {
                                                  return text::upper(spool::delivery_option(a.rt, option, to)) == "SAVE";
                                              });
        // The sending side's hold when there is one, else the drafts store's.
        const DeliveryHold& hold = run.transport_hold.active() ? run.transport_hold : run.store_hold;
        service::status(text::cp1252_to_utf8(spool::status_text(report, hold.active(), hold.reason)));
        if (!s.metrics_file) return "";
        const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
        spool::AgentState agent;
        agent.operator_code = s.sw.ope;
        agent.transport_held = run.transport_hold.active();
        agent.store_held = run.store_hold.active();
        agent.since_start = run.settled;
        // A scrape sees the old file or the new one; a lost file is made again in a minute.
        const std::string path = metrics_path(*s.metrics_file, s.sw.ope);
        atomic_file::Replacement file(path);
        // Readable by the exporter's user whatever the agent's umask (the
        // counts of messages are no secret; their texts are not in it).
        if (file.ok() && ::fchmod(file.fd(), 0644) != 0) return path + ": " + std::strerror(errno);
        if (!file.write(spool::metrics_text(report, now, agent)) || !file.commit(atomic_file::Sync::work_file))
            return path + ": " + std::strerror(errno ? errno : EIO);
        return "";
    } catch (const std::exception& e) {
        // Monitoring never stops the agent.
        return e.what();
    } catch (...) {
        return "errore sconosciuto";
    }
}

}  // namespace velarion
