#include "platform/os/service_notify.h"

#include <systemd/sd-daemon.h>

namespace velarion::service {

namespace {
// Status lines are cut and freed of line breaks: the protocol is one line per field.
std::string one_line(const std::string& text) {
    std::string out = text.substr(0, 200);
    for (char& c : out)
        if (c == '\n' || c == '\r') c = ' ';
    return out;
}
}  // namespace

void ready(const std::string& text) { sd_notify(0, ("READY=1\nSTATUS=" + one_line(text)).c_str()); }

void status(const std::string& text) { sd_notify(0, ("STATUS=" + one_line(text)).c_str()); }

void stopping() { sd_notify(0, "STOPPING=1"); }

std::chrono::milliseconds watchdog_period() {
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0) return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(usec / 2000);
}

void watchdog() { sd_notify(0, "WATCHDOG=1"); }

}  // namespace velarion::service
