// The service manager's notification socket (systemd's sd_notify): readiness,
// a status line, the watchdog and the stop. Outside a service (no
// NOTIFY_SOCKET) every call does nothing.
#pragma once

#include <chrono>
#include <string>

namespace velarion::service {

// The load step is done: the agent is working.
void ready(const std::string& status);
// A one-line status that `systemctl status` shows.
void status(const std::string& text);
// The agent is closing.
void stopping();

// The watchdog of the service: how often the main loop must pet it (half the
// manager's interval; zero when no watchdog is asked for), and the pet itself.
std::chrono::milliseconds watchdog_period();
void watchdog();

}  // namespace velarion::service
