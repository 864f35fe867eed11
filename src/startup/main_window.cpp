#include "startup/main_window.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "common/run_log.h"
#include "common/version.h"
#include "platform/os/paths.h"
#include "platform/os/registry.h"
#include "platform/os/text_encoding.h"
#include "platform/os/user_dirs.h"
#include "startup/agent.h"
#include "startup/command_line.h"
#include "startup/component_check.h"
#include "startup/instance_guard.h"
#include "startup/queue_report.h"
#include "spool/queue_control.h"
#include "startup/user_params.h"

namespace fs = std::filesystem;

namespace velarion {

namespace {

const char* const kStarting =
    "Inizializzazione velarion in corso ,per disattivare il dispositivo , agire sulla casella";

// velarion.ini exists and can be opened for reading.
bool readable_file(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    return static_cast<bool>(in);
}

}  // namespace

WindowLayout resize_rule(bool minimised, int inner_width, int inner_height) {
    WindowLayout l;
    if (minimised) {
        l.hide = true;
        return l;
    }
    if (inner_height - 605 > 1000) {
        l.apply = true;
        l.label_top = inner_height - 605;
        l.label_width = inner_width - 300;
        l.list_height = inner_height - 1600;
        l.list_width = inner_width - 300;
    }
    return l;
}

Form1Logic::Form1Logic(Agent& a, std::vector<std::string> args, ScanHook scan)
    : a_(a), args_(std::move(args)), scan_(std::move(scan)), scanner_(a.rt, [this] { switch_off(); }), reports_(a.rt) {
    // The lines of each message reach the log file as soon as it is settled.
    scanner_.set_after_message([this] { flush_now(); });
    scanner_.set_save_log([this] { flush_now(); });
    // A close asked during a scan (SIGTERM) takes effect between messages.
    scanner_.set_closing([this] { return close_pending_; });
}

void Form1Logic::flush_now() {
    flush_log(a_.rt);
    last_flush_ = to_seconds(a_.clock.now());
}

void Form1Logic::flush_if_due() {
    if (closed_) return;
    const long long now = to_seconds(a_.clock.now());
    if (now - last_flush_ >= 60 || now < last_flush_) flush_now();
    if (now - last_report_ >= 60 || now < last_report_) report_state();
}

void Form1Logic::report_state() {
    last_report_ = to_seconds(a_.clock.now());
    const std::string trouble = report_queue_state(a_, scanner_.run_state());
    // A metrics file that cannot be written is said once, and again when that changes.
    if (trouble == metrics_trouble_) return;
    metrics_trouble_ = trouble;
    if (!trouble.empty()) a_.list.add(" Impossibile scrivere il file delle metriche " + trouble);
    else a_.list.add(" File delle metriche di nuovo scritto");
}

LoadResult Form1Logic::load() {
    View& view = a_.view;
    try {
        // Caption: the version.
        view.set_caption(kVersionText);

        // Start separator and host system.
        a_.list.add(" " + std::string(71, '*'));
        a_.list.add(" Sistema Operativo " + a_.settings.host.product_name + " System Root " + a_.settings.host.system_root);

        // PDF components and the caption pieces.
        controllo_dll(a_);
        std::string caption = view.caption();
        caption += a_.settings.pdf.xp_edition ? " - DLLNEW" : " - DLLOLD";
        if (a_.settings.sw.smtp_component) caption += " - CDO";
        if (a_.settings.host.condensed_font.value_or(false)) caption += " - Cond";
        view.set_caption(caption);

        // Window, tray icon, status.
        view.show_window();
        view.set_tray_icon(true, "Velarion");
        view.set_check(true);
        checked_ = true;
        view.set_status("Velarion disattivato");

        // Command line, configuration directory, operator and its settings.
        LoadResult r = continuation();
        if (r != LoadResult::Ready) return r;

        // Operator line and the first log flush.
        a_.list.add(" Operatore = " + a_.settings.sw.ope + " " + a_.settings.spool_key + " " + a_.settings.logo_key);
        flush_now();

        // Outlook version, mail client, timer, run at start.
        outlook_check();
        return LoadResult::Ready;
    } catch (const std::exception& e) {
        view.message_box(e.what());
        return LoadResult::Stopped;
    }
}

LoadResult Form1Logic::continuation() {
    View& view = a_.view;
    Switches& sw = a_.settings.sw;

    // Command line again: "ope:" to "int:".
    apply_load_switches(sw, args_, a_.settings.host.program_dir);

    // Personal work folder below the documents folder; failures are ignored.
    if (!a_.settings.host.documents_dir.empty()) {
        std::error_code ec;
        fs::create_directories(fs::path(a_.settings.host.documents_dir) / "Velarion" / "tempozip", ec);
    }

    // User name, at most 25 characters.
    a_.settings.host.user_name = user_dirs::login_name();
    if (a_.settings.host.user_name.size() > 25) a_.settings.host.user_name.resize(25);

    // Configuration directory given empty.
    if (sw.ini.empty()) {
        view.message_box("Non e' stato specificato nessuna directory dove posizionato il file velarion.ini (ini:dir)");
        return LoadResult::EndProcess;
    }
    // Debug trace.
    a_.rt.trace(sw.ini);
    // Trailing separator.
    sw.ini = paths::with_separator(sw.ini);

    // The file velarion.ini must exist and be readable.
    if (!readable_file(a_.settings.ini_path())) {
        view.message_box("Impossibile accedere al file " + sw.ini + "velarion.ini" + "\n" +
                         "Controllare il parametro ini:dir nella riga di comando");
        return LoadResult::EndProcess;
    }

    // Operator code length.
    if (sw.ope.size() >= 4 && sw.ope2.empty() && sw.ope != "TUTTI") {
        view.message_box(
            "Lunghezza Codice operatore maggiore di 3 incompatibile con la lunghezza degli operatori KORVANTECH");
        return LoadResult::EndProcess;
    }

    // Caption: the user name.
    view.set_caption(view.caption() + " - " + a_.settings.host.user_name);

    // Missing operator: ask for it.
    if (sw.ope.empty()) {
        const std::string answer = view.input_box("Inserire Sigla operatore\n\n\nInserire FINE per chiudere la procedura",
                                                  "Operatore non specificato nella riga di comando", "");
        if (answer.empty() || text::upper(answer) == "FINE") return LoadResult::EndProcess;
        sw.ope = answer;
    }

    // WINFAX PRO label.
    if (sw.fax_label) view.show_pro_label(true);

    // Operator label.
    view.set_operator_label("Operatore: " + sw.ope + " " + sw.ope2);

    // The operator's settings.
    Leggi_Param_Utenti(a_);
    if (!single_instance()) return LoadResult::EndProcess;
    if (a_.settings.styles_in_spool())
        a_.list.add(" Attenzione: gli stili (" + a_.settings.style_file +
                    ") sono nella cartella dello spool: chi scrive lo spool puo' cambiarli");
    return LoadResult::Ready;
}

bool Form1Logic::single_instance() {
    if (!guard_) return true;
    // One agent per operator and work folder: its lock lies in the work
    // folder, which the agent writes anyway, whatever the user's runtime folder.
    const Switches& sw = a_.settings.sw;
    const std::string name = instance_name(sw.ope);
    // A Windows drive ("C:") names no folder here.
    const bool work = a_.settings.has_work && !paths::is_drive_path(a_.settings.work_dir);
    const bool other = guard_->another_running(work ? a_.settings.work_dir : "", name);
    if (sw.second_instance) return true;
    if (other) {
        a_.view.message_box("Programma gia' in esecuzione");
        guard_->raise_other();
        return false;
    }
    // One agent per operator cannot be made sure of: said, rather than run unguarded.
    if (!guard_->trouble().empty()) {
        a_.view.message_box("Impossibile creare il file di blocco dell'istanza " + guard_->trouble() +
                            " (plus:y avvia comunque)");
        return false;
    }
    return true;
}

void Form1Logic::outlook_check() {
    const std::string& version = a_.settings.outlook_version;
    if (std::string("2003200720102013").find(version) == std::string::npos) {
        a_.view.message_box("Versione Outlook non supportata");
        check1_click(true);
        return;
    }
    // Version line.
    if (!version.empty()) {
        a_.list.add(" Outlook versione  " + version);
        a_.list.refresh();
    }
    // Mail client name.
    using registry::Hive;
    const std::string key = "Software\\Clients\\Mail";
    // The name configured in "MAPI" stands for the value of either hive.
    const auto read = [&](Hive hive) {
        const std::string& configured = a_.settings.mapi.client;
        return configured.empty() ? registry::read(hive, key, "", ".") : configured;
    };
    std::string client;
    if (a_.settings.mail_client_key == MailClientKey::current_user) client = read(Hive::CurrentUser);
    if (client.empty() || client == ".") client = read(Hive::LocalMachine);
    // Internal client mark.
    if (a_.settings.sw.internal_client) client += " (Int)";
    a_.view.set_mail_client_label(client);
    // The caption is the mail client's name the dispatcher goes by.
    a_.settings.host.mail_client = client;

    // Timer interval, timer off.
    // "Timing" as loaded with the operator's settings just before; one that
    // is missing or no whole number above 0 stops the load step.
    if (!a_.settings.timer_interval) throw std::runtime_error(a_.settings.timing_error);
    interval_ = *a_.settings.timer_interval;
    set_timer(false);

    // Run at start.
    if (a_.settings.sw.run_at_start) {
        a_.view.set_check(false);
        check1_click(false);
    }
    // The list's horizontal extent is the front end's (it scrolls long lines).
}

void Form1Logic::set_timer(bool enabled) {
    timer_enabled_ = enabled;
    a_.view.set_timer(interval_, enabled);
}

void Form1Logic::check1_click(bool checked) {
    a_.rt.trace("Check1_Click");
    checked_ = checked;
    if (checked) {
        a_.view.set_active_look(false, "Velarion disattivato ");
        set_timer(false);
        a_.view.set_status("Velarion disattivato");
    } else {
        set_timer(false);
        a_.view.set_status(kStarting);
        // Switched on by hand: delivery held after a refused logon or a server
        // that could not be reached is tried again at the next tick.
        scanner_.resume();
        // Without an interval (a load step cut short) the timer cannot run.
        set_timer(interval_ > 0);
        a_.view.set_active_look(true, "Velarion attivato ");
    }
}

void Form1Logic::switch_off() {
    a_.view.set_check(true);
    check1_click(true);
}

void Form1Logic::timer_tick() {
    // A tick that arrives while a scan runs (its waits let window events run) is skipped.
    if (in_tick_ || closed_) return;
    in_tick_ = true;
    try {
        // The status line.
        a_.view.set_status("Velarion attivato");
        // The spool scan, unless the agent is switched off.
        if (!checked_) {
            ++scans_;
            if (scan_)
                scan_(*this);
            else
                scanner_.LEGGI_DIR();
            // Delivery reports, once a minute.
            reports_.tick();
        }
        // Pending window events.
        a_.view.process_events();
        flush_if_due();
    } catch (const std::exception& e) {
        a_.list.add(std::string(" Errore ") + e.what() + " in Timer1_Timer");
    } catch (...) {
        a_.list.add(" Errore sconosciuto in Timer1_Timer");
    }
    in_tick_ = false;
    if (close_pending_) close_now();
}

void Form1Logic::tray_event(int code) {
    try {
        switch (code) {
            case 514:  // left button released
                a_.view.restore_window();
                break;
            case 515:  // left double click
                a_.view.restore_window();
                mPopRestore();
                break;
            case 517:  // right button released
                a_.view.popup_tray_menu();
                break;
            default:
                break;
        }
    } catch (...) {
        // Errors of the tray handler are ignored.
    }
}

void Form1Logic::mPopRestore() {
    a_.view.restore_window();
    a_.list.refresh();
}

void Form1Logic::mPopRetry() {
    try {
        if (a_.settings.spool_dir.empty()) return;
        std::vector<std::string> prefixes{a_.settings.sw.ope == "TUTTI" ? "*" : a_.settings.sw.ope};
        if (!a_.settings.sw.ope2.empty()) prefixes.push_back(a_.settings.sw.ope2);
        int due = 0;
        for (const auto& r : spool::retry_now(a_.settings.spool_dir, prefixes, "all")) due += r.ok;
        // This agent's own hold ends at once; the others see the flag at their next poll.
        scanner_.resume();
        a_.list.add(" Riprova ora: " + std::to_string(due) + " messaggi rinviati da inviare subito");
        report_state();
    } catch (const std::exception& e) {
        a_.list.add(std::string(" Errore ") + e.what() + " in Riprova ora");
    }
}

std::string Form1Logic::unsent_folder() const { return a_.settings.work_dir + "non_inviati"; }

void Form1Logic::mPopUnsent() {
    const std::string folder = unsent_folder();
    if (a_.settings.work_dir.empty() || !paths::is_folder(folder)) {
        a_.list.add(" Nessun messaggio non inviato: la cartella " + folder + " non esiste");
        return;
    }
    if (!a_.view.open_folder(folder)) a_.list.add(" Impossibile aprire la cartella " + folder);
}

void Form1Logic::request_close() {
    if (closed_) return;
    if (in_tick_) {
        close_pending_ = true;
        return;
    }
    close_now();
}

void Form1Logic::close_now() {
    close_pending_ = false;
    unload();
    terminate();
    closed_ = true;
    a_.view.close_window();
}

void Form1Logic::unload() {
    set_timer(false);
    a_.view.set_tray_icon(false, "");
    // A pass of the reports' mailbox under way is seen to its end.
    reports_.finish();
    a_.list.add(" Chiusura VELARION");
    flush_now();
    report_state();
}

void Form1Logic::terminate() {
    try {
        a_.view.set_tray_icon(false, "");
        flush_now();
    } catch (...) {
        // Errors at the end are ignored.
    }
}

void Form1Logic::chgoper() {
    const std::string answer = a_.view.input_box("Inserire Nuova sigla operatore", "Cambio Operatore", a_.settings.sw.ope);
    if (answer.empty() || answer.size() > 3) return;
    a_.settings.sw.ope = answer;
    a_.view.set_operator_label("Operatore: " + answer);
    Leggi_Param_Utenti(a_);
}

void Form1Logic::File_1() {
    if (dialogs_) dialogs_->show_setuputente(setup_context());
}

void Form1Logic::mailsertu() {
    if (dialogs_) dialogs_->exec_form3(a_.rt);
}

SetupContext Form1Logic::setup_context() {
    return SetupContext{a_.rt, a_.settings, [this] { Leggi_Param_Utenti(a_); }};
}

}  // namespace velarion
