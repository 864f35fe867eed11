#include "startup/headless.h"

#include <cstdlib>

#include <signal.h>
#include <unistd.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

#include "common/null_view.h"
#include "common/work_folder.h"
#include "platform/os/clock.h"
#include "platform/os/instance_lock.h"
#include "platform/os/service_notify.h"
#include "platform/os/text_encoding.h"
#include "startup/agent.h"
#include "startup/command_line.h"
#include "startup/instance_guard.h"
#include "startup/main_window.h"
#include "startup/sub_main.h"

namespace velarion {

namespace {

volatile sig_atomic_t g_stop = 0;
void on_stop_signal(int) { g_stop = 1; }

// Writes the line and its line feed to the descriptor with one write(2)
// (no copy into a stdio buffer, no flush): the journal or a pipe gets each
// activity line whole, as it is added, and a trace of the agent's writes to
// standard output sees one write a line. A write cut short goes on from
// where it stopped; one that fails (nobody reads any more) is dropped, as
// stdio would.
void write_line(int fd, const std::string& text) {
    // Plain ASCII is the same in both encodings: most lines need no conversion.
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    std::string out;
    if (ascii) {
        out.reserve(text.size() + 1);
        out += text;
    } else {
        out = text::cp1252_to_utf8(text);
    }
    out += '\n';
    std::size_t written = 0;
    while (written < out.size()) {
        const ssize_t n = ::write(fd, out.data() + written, out.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        written += static_cast<std::size_t>(n);
    }
}

class HeadlessView final : public NullView {
public:
    void attach(Form1Logic* logic) { logic_ = logic; }
    bool closed() const { return closed_; }

    void set_timer(int interval_ms, bool enabled) override {
        interval_ms_ = interval_ms;
        if (enabled && !timer_on_) next_tick_ = Steady::now() + std::chrono::milliseconds(interval_ms);
        timer_on_ = enabled && interval_ms > 0;
    }
    void show_message_box(const std::string& text) override { write_line(STDERR_FILENO, "velarion: " + text); }
    std::string input_box(const std::string&, const std::string& title, const std::string&) override {
        write_line(STDERR_FILENO, "velarion: " + title);
        return "";
    }
    // Pending events: the service watchdog, a close signal, a due timer
    // tick. The scan runs them between messages and in its long waits (the
    // size check, a long composition), so a long scan is no hang to the
    // service manager, and a stop takes effect after the message in flight.
    void process_events() override {
        pet_watchdog();
        if (!logic_) return;
        if (g_stop) {
            if (!stopping_said_) service::stopping();
            stopping_said_ = true;
            logic_->request_close();
        }
        if (timer_due()) fire_tick();
        logic_->flush_if_due();
    }
    void pet_watchdog() {
        if (pet_every_.count() <= 0 || Steady::now() < next_pet_) return;
        service::watchdog();
        next_pet_ = Steady::now() + pet_every_;
    }
    void close_window() override { closed_ = true; }

    bool timer_due() const { return timer_on_ && Steady::now() >= next_tick_; }
    // Sleeps until the next tick or watchdog pet, at most a second (the log
    // is flushed once a minute); a stop signal ends the sleep at once. An
    // idle agent so wakes up only when it has something to do.
    void sleep_until_due() const {
        const auto now = Steady::now();
        auto until = now + std::chrono::seconds(1);
        if (timer_on_ && next_tick_ < until) until = next_tick_;
        if (pet_every_.count() > 0 && next_pet_ < until) until = next_pet_;
        if (until <= now || g_stop) return;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(until - now).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        ::nanosleep(&wait, nullptr);  // EINTR: a signal came, the loop looks at it
    }
    void fire_tick() {
        next_tick_ = Steady::now() + std::chrono::milliseconds(interval_ms_);
        logic_->timer_tick();
    }

private:
    using Steady = std::chrono::steady_clock;
    Form1Logic* logic_ = nullptr;
    bool closed_ = false;
    bool timer_on_ = false;
    int interval_ms_ = 0;
    Steady::time_point next_tick_{};
    const std::chrono::milliseconds pet_every_ = service::watchdog_period();
    Steady::time_point next_pet_{};
    bool stopping_said_ = false;
};

// The operator's instance lock in the work folder; the running instance is
// woken on its socket. Without a lock nobody can be sure of one agent per
// operator: the trouble is said and the start refused (plus:y runs anyway).
class LockGuard final : public InstanceGuard {
public:
    bool another_running(const std::string& work_dir, const std::string& name) override {
        name_ = name;
        const std::string file = work_folder::instance_lock(work_dir, name);
        if (work_dir.empty()) {
            trouble_ = file + ": nessuna cartella di lavoro (tempozip_dir)";
            return false;
        }
        lock_ = InstanceLock::try_acquire(file, &trouble_);
        return !lock_.has_value();
    }
    void raise_other() override { InstanceLock::request_raise(name_); }
    std::string trouble() const override { return trouble_; }

private:
    std::optional<InstanceLock> lock_;
    std::string name_;
    std::string trouble_;
};

}  // namespace

int run_headless(const std::string& command_line, bool once) {
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;  // the work under way goes on; the close comes after it
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    // No windows at all: without a display the mail layer stores a message the
    // user was to finish as a draft instead of opening the compose window.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    SystemClock clock;
    HeadlessView view;
    Agent a(clock, view);
    // Nobody sees a window: nothing switches the agent off, errors are retried.
    a.settings.host.unattended = true;
    // The service's status is the queue's summary, set every minute by the window logic.
    a.list.set_on_add([](const std::string& line) { write_line(STDOUT_FILENO, line); });

    const std::vector<std::string> args = getcommandline(command_line, 10);
    Sub_Main(a, args);

    LockGuard guard;
    Form1Logic logic(a, args);
    logic.set_instance_guard(&guard);
    view.attach(&logic);
    switch (logic.load()) {
        case LoadResult::Ready:
            break;
        case LoadResult::EndProcess:
            return 1;
        case LoadResult::Stopped:
            // Nobody can switch the agent on without a window: close and report it.
            logic.request_close();
            return 1;
    }

    if (!logic.timer_enabled()) {
        // Switched off at start ("run:" not "y", an Outlook version that is not
        // supported): without a window nobody could switch it on.
        view.message_box("Velarion disattivato");
        logic.request_close();
        return 1;
    }
    if (once) {
        view.fire_tick();
        logic.request_close();
        return 0;
    }
    // Ready after the load step; the watchdog is petted between ticks and
    // between the messages of a scan, so a message that never ends gets the
    // agent restarted by the service manager.
    service::ready("Velarion attivato, operatore " + a.settings.sw.ope);
    while (!view.closed()) {
        if (g_stop) {
            view.process_events();  // says the stop to the service manager
            logic.request_close();
            break;
        }
        view.pet_watchdog();
        if (view.timer_due()) view.fire_tick();
        logic.flush_if_due();
        view.sleep_until_due();
    }
    return 0;
}

}  // namespace velarion
