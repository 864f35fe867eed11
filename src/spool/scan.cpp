#include "spool/scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "common/runtime.h"
#include "platform/os/file_kind.h"
#include "platform/os/paths.h"
#include "platform/os/text_encoding.h"
#include "spool/agent_note.h"
#include "spool/accepted.h"
#include "spool/group_copy.h"
#include "spool/installation.h"
#include "spool/message.h"
#include "spool/message_identity.h"
#include "spool/message_turns.h"
#include "spool/day_counts.h"
#include "spool/message_rules.h"
#include "spool/queue.h"
#include "spool/recovery.h"
#include "spool/sent_note.h"
#include "spool/settle.h"
#include "spool/size_guard.h"
#include "spool/spool_files.h"
#include "spool/spool_listing.h"
#include "spool/staged_copy.h"
#include "spool/timing.h"
#include "spool/unsent.h"
#include "spool/work_claims.h"
#include "spool/work_cleanup.h"

namespace fs = std::filesystem;

namespace velarion {

namespace {

// The activity line of an error that ends the scan (or, unattended, one message).
std::string scan_error_line(const ErrorInfo& err, int step) {
    if (err.number == 52)
        return " Controllare l'esistenza della directory della creazione messaggi e la directory "
               "d'appoggio nei parametri utente Step " +
               std::to_string(step);
    return " " + err.description + " Leggi_dir " + std::to_string(err.number) + " step " + std::to_string(step);
}

// The operator prefixes of the passes: the operator ("*" for TUTTI), then the second operator.
std::vector<std::string> pass_prefixes(const Settings& cfg) {
    std::vector<std::string> p{cfg.sw.ope == "TUTTI" ? "*" : cfg.sw.ope};
    if (!cfg.sw.ope2.empty()) p.push_back(cfg.sw.ope2);
    return p;
}

// What a message will use in the work folder, for other agents' clean-ups:
// every name that begins with its base name, the merge and protection
// intermediates, and each attachment line of its header (and of the header
// lines its body adds) with the outputs made from it.
std::vector<std::string> names_in_use(const spool::GroupText& text, const std::string& base) {
    std::vector<std::string> names{base + ".*", "MERGE_*", "cripato.pdf"};
    std::vector<std::string> lines;
    try {
        // A spool file that is no plain file is never read.
        if (text.header.bytes) lines = spool::header_lines(*text.header.bytes);
        if (text.body.bytes)
            for (const auto& l : spool::body_lines(*text.body.bytes))
                if (l.rfind(".///A", 0) == 0) lines.push_back(l.substr(5));
    } catch (const std::exception&) {
        // an unreadable header names nothing more
    }
    for (std::size_t i = 7; i < lines.size(); ++i) {
        const std::string& name = lines[i];
        if (!spool::is_safe_file_name(name)) continue;
        names.push_back(name);
        const auto dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0) names.push_back(name.substr(0, dot) + ".*");
    }
    return names;
}

// The side of the mail service a message is expected to need, from its
// header's delivery option (line 7, as message processing reads it): a draft
// is kept in the store, anything else goes to the transport. An unreadable
// header says the transport; processing will tell.
Target expected_side(const Runtime& rt, const spool::SpoolListing& listing, const std::string& base) {
    try {
        const std::string h = listing.find(base + ".h");
        if (h.empty() || !spool::refused_kind(h).empty()) return Target::transport;
        const auto lines = spool::read_header_lines(h);
        if (lines.size() < 7) return Target::transport;
        DeliveryRequest r;
        r.lsSend = spool::delivery_option(rt, lines[6], lines[3]);
        return r.save() ? Target::store : Target::transport;
    } catch (const std::exception&) {
        return Target::transport;
    }
}

// A folder by its path, links followed.
bool folder_at(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

struct SpoolScanner::Scan {
    SpoolScanner& s;
    Runtime& rt;
    MessageDelivery deliver;
    std::string spool;
    std::string work;
    // The stage named in the scan's error line ("Leggi_dir ... step").
    int step = 0;
    std::optional<spool::SizeGuard> guard;  // once the queue, where its stamp lies, is open
    std::optional<spool::CopyStage> stage;  // this agent's print-file copies not yet checked

    spool::SettleContext context() { return {rt, s.run_, *s.queue_, work, s.save_log_, &s.batch_}; }
    bool held(Target side) const { return spool::delivery_held(s.run_, side, rt.clock.monotonic_ms()); }
    bool all_held() const { return held(Target::store) && held(Target::transport); }

    // Before each message: the concluding renames this run keeps in memory
    // are tried again, and pending events run (a stop signal, the service
    // watchdog). False, for the rest of the scan, when no further message is
    // to be taken: the agent is closing, or a delivered message is not yet
    // recorded (the spool's file system takes nothing).
    bool stopped = false;
    bool next_message() {
        if (stopped) return false;
        spool::SettleContext c = context();
        stopped = !spool::conclude_unrecorded(c);
        rt.view.process_events();
        if (s.closing_ && s.closing_()) stopped = true;
        return !stopped;
    }

    // A message whose side of the mail service is held stays where it is,
    // untouched, until the hold's time comes; the others go on. The side is
    // the one it last waited for, else the one its header asks for.
    bool waits_for_hold(const spool::SpoolListing& listing, const std::string& trigger) const {
        if (!held(Target::store) && !held(Target::transport)) return false;
        const auto known = s.run_.held_for.find(trigger);
        if (known != s.run_.held_for.end()) return held(known->second);
        return held(expected_side(rt, listing, trigger.substr(0, trigger.size() - 2)));
    }

    // The warning look and the agent's note on its lock file, as the holds are now.
    void show_state() {
        spool::SettleContext c = context();
        spool::show_hold(c);
        spool::AgentNote note;
        note.prefixes = pass_prefixes(rt.cfg);
        for (Target side : {Target::transport, Target::store}) {
            const DeliveryHold& h = s.run_.hold(side);
            if (h.active()) note.holds.push_back({side, h.kind, h.since, h.next_try, h.failures, h.reason});
        }
        const std::string text = spool::format_note(note);
        if (text != s.run_.noted && s.queue_->note(text)) s.run_.noted = text;
    }

    // Messages that wait for a try whose time has come.
    void deferred() {
        step = 9;
        const auto prefixes = pass_prefixes(rt.cfg);
        std::vector<std::string> due_now;
        for (const auto& e : s.queue_->entries_now(rt.clock.monotonic_ms())) {
            if (e.owner != spool::SpoolQueue::kDeferred || !spool::operator_trigger(e.name, prefixes)) continue;
            if (spool::retry_due(context(), e.name, s.queue_->record(e.name))) due_now.push_back(e.name);
        }
        if (due_now.empty()) return;
        spool_touched = true;
        const spool::SpoolListing listing(spool);
        notice_marker(listing);
        std::size_t next = 0;
        take_in_turn(
            listing,
            [&]() -> std::optional<std::string> {
                while (next < due_now.size()) {
                    const std::string& name = due_now[next++];
                    if (!waits_for_hold(listing, name)) return name;
                }
                return std::nullopt;
            },
            [&](const std::string& name, spool::StagedCopy copy) {
                if (waits_for_hold(listing, name) || !s.queue_->claim_deferred(name)) return;
                process(listing, name, std::move(copy));
            });
    }

    // The marker file of an AIX host, in any case, sets that host type for
    // the rest of the run.
    void notice_marker(const spool::SpoolListing& listing) {
        if (!s.run_.aix && !listing.find("Aix.Velarion.txt").empty()) s.run_.aix = true;
    }

    // True once something before the passes may have put a trigger back in
    // the spool folder (a message taken over and released, a deferred one).
    bool spool_touched = false;

    // True once a pass's listing held a trigger of its operator: the spool is
    // then listed again at the next tick, whatever its status says (the
    // trigger may wait for its directive's time, its print file or a hold).
    bool triggers_seen = false;

    // One pass with a name prefix ("*" for every file).
    void pass(const std::string& prefix) {
        step = 10;
        const spool::SpoolListing listing(spool);
        notice_marker(listing);
        const auto& names = listing.names();
        if (!triggers_seen)
            triggers_seen = std::any_of(names.begin(), names.end(),
                                        [&](const std::string& n) { return spool::operator_trigger(n, {prefix}); });
        std::size_t next = 0;
        take_in_turn(
            listing,
            [&]() -> std::optional<std::string> {
                while (next < names.size()) {
                    const std::string& name = names[next++];
                    step = 11;
                    // Trigger files of the operator only.
                    if (spool::operator_trigger(name, {prefix}) && due(listing, name)) return name;
                }
                return std::nullopt;
            },
            [&](const std::string& name, spool::StagedCopy copy) {
                if (due(listing, name)) claim_and_process(listing, name, std::move(copy));
            });
    }

    // Takes the messages `next` yields, each by `take` at its turn: a message
    // whose print file has not yet been unchanged for two seconds waits while
    // the others go, and a print file that has is copied ahead of its turn,
    // so that the two seconds before its control pass meanwhile
    // (message_turns.h). While the mail service cannot be reached, the
    // messages stay where they are.
    void take_in_turn(const spool::SpoolListing& listing, const std::function<std::optional<std::string>()>& next,
                      const std::function<void(const std::string&, spool::StagedCopy)>& take) {
        spool::MessageTurns::Hooks hooks;
        hooks.go_on = [this] { return !all_held() && next_message(); };
        hooks.take = take;
        hooks.before_pause = [this] {
            spool::SettleContext c = context();
            spool::finish_batch(c);
        };
        spool::MessageTurns turns(*guard, *stage, rt.cfg.size_check_limit * 1000, std::move(hooks));
        turns.run([&]() -> std::optional<spool::FoundMessage> {
            std::optional<std::string> name = next();
            if (!name) return std::nullopt;
            spool::FoundMessage f{*name, "", ""};
            const std::string base = name->substr(0, name->size() - 2);
            // Only a plain print file of a message whose name the agent can use is copied ahead.
            const spool::SpoolListing::Found content = listing.look(base + ".0");
            if (content.kind == file_kind::Kind::plain && spool::odd_message_name(base).empty()) {
                f.content = content.path;
                f.content_name = base + ".0";
            }
            return f;
        });
    }

    // True when the trigger `name` is to be taken now: still there, not held
    // by its scheduling directive or by a hold on its side of the mail service.
    bool due(const spool::SpoolListing& listing, const std::string& name) {
        // An earlier pass, or another agent, may have taken this message already.
        // One look tells whether it is still there and whether it is a plain
        // file; an empty trigger holds no directive to read.
        struct stat st {};
        if (::lstat((spool + name).c_str(), &st) != 0) return false;

        // Scheduling directive in the first 500 characters (a trigger
        // that is no plain file is not read: its message is parked).
        step = 12;
        if (S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_size > 0 &&
            spool::held_by_timing(spool::read_head(spool + name, 500), rt.clock.now()))
            return false;

        return !waits_for_hold(listing, name);
    }

    void claim_and_process(const spool::SpoolListing& listing, const std::string& name, spool::StagedCopy copy) {
        // The trigger is taken for this agent by one rename: of several
        // agents on this spool, only the one whose rename succeeds goes on.
        step = 13;
        if (s.queue_->name_too_long(name)) {
            park_long_name(listing, name);
            return;
        }
        if (!s.queue_->claim(name)) return;
        process(listing, name, std::move(copy));
    }

    // A trigger whose entry in the queue would be longer than a file name
    // can be: it is taken into this agent's own hidden folder instead and
    // parked with all its files, and the scan goes on with the next one.
    void park_long_name(const spool::SpoolListing& listing, const std::string& name) {
        if (!s.queue_->claim_long(name)) return;
        spool::Claimed m;
        m.trigger = name;
        m.base = name.substr(0, name.size() - 2);
        const std::string reason = "Nome di messaggio troppo lungo (" + std::to_string(name.size()) + " caratteri)";
        rt.list.add(" " + reason + ", messaggio non inviato: " + m.base);
        for (const auto& p : spool::group_files(listing, m.base))
            (spool::refused_kind(p).empty() ? m.spool_files : m.links).push_back(p);
        spool::ParkRequest r;
        r.work = work;
        r.spool_dir = spool;
        r.trigger_path = s.queue_->long_claim_path(name);
        r.trigger_name = name;
        r.base = m.base;
        r.agent = s.queue_->agent();
        r.reason = reason;
        r.spool_files = m.spool_files;
        if (s.save_log_) s.save_log_();
        const spool::Parked kept = spool::park_copy(rt, r);
        if (!kept.complete) {
            // Nothing is parked: the trigger goes back, to be parked at a later tick.
            s.queue_->return_long(name);
            return;
        }
        std::vector<std::string> going = kept.spool_files;
        going.insert(going.end(), m.links.begin(), m.links.end());
        for (const auto& p : going) {
            try {
                spool::remove_or_mark_done(p, s.run_.aix);
            } catch (const std::exception& e) {
                rt.list.add(" Impossibile rimuovere il file di spool " + p + " " + e.what());
            }
        }
        s.queue_->drop_long(name);
        const DateTime t = rt.clock.now();
        spool::count_today(work, t.year * 10000 + t.month * 100 + t.day, spool::Counted::parked);
        if (s.after_message_) s.after_message_();
    }

    // A message this agent holds: copied, processed, and settled by its outcome.
    // `copy`: its print file's copy made ahead of its turn, if any.
    void process(const spool::SpoolListing& listing, const std::string& name, spool::StagedCopy copy) {
        spool::Claimed m;
        m.trigger = name;
        // Base name: the trigger's name without ".T".
        m.base = name.substr(0, name.size() - 2);
        DeliveryOutcome outcome;
        std::optional<spool::SentNote> sent;
        std::exception_ptr error;
        ErrorInfo error_info;
        if (const std::string why = spool::odd_message_name(m.base); !why.empty()) {
            // No file the agent would make from this name would be the one
            // meant: the message is parked with all its files, as they are.
            rt.list.add(" Nome di messaggio non ammesso (" + why + "), messaggio non inviato: " + m.base);
            for (const auto& p : spool::group_files(listing, m.base))
                (spool::refused_kind(p).empty() ? m.spool_files : m.links).push_back(p);
            settle_safely(m, {Delivered::failed, "Nome di messaggio non ammesso (" + why + ")"});
            return;
        }
        try {
            // On the first message of the run and of each day: empty the
            // work directory (note.txt, folders and other agents' messages stay).
            step = 13;
            const DateTime today = rt.clock.now();
            if (spool::clean_up_due(s.run_, today)) {
                spool::clean_work_dir(rt, work, [this] { return s.work_claims_->others_in_use(); },
                                      rt.cfg.retry.retention_days);
                spool::mark_cleaned(s.run_, today);
            }
            // Its header and body are read once, here: for its names, its work
            // copies and its processing. Its names in the work folder are
            // published: no other agent's clean-up removes them.
            step = 14;
            const spool::GroupText text = spool::read_group_text(listing, m.base);
            s.work_claims_->publish(names_in_use(text, m.base));

            // Copy the group into the work directory, each file with its dated
            // backup and the first attachment's size check; the
            // spool files stay until the message's outcome is recorded.
            std::string refused = spool::refused_kind(s.queue_->claimed_file(name));
            if (!refused.empty()) rt.list.add(" File di spool non ammesso, " + refused + ": " + spool + name);
            m.spool_files =
                spool::copy_group(rt, *guard, *stage, std::move(copy), listing, text, work, m.base, step, m.links);
            if (refused.empty() && !m.links.empty()) refused = spool::refused_kind(m.links.front());

            // Parked when a spool file is no plain file, else processed.
            step = 18;
            if (!refused.empty()) {
                // A link could lead anywhere, a hard link be a file outside
                // the spool, a FIFO stop the agent: the message is parked with
                // what it has of its own, and these leave the spool.
                outcome = {Delivered::failed, "File di spool non ammesso, " + refused};
            } else {
                // Process the message; its own errors are handled there. Its
                // layout state lives and ends with it.
                // The queue's record says when the end of its data has gone
                // to the transport, for an agent that takes it over after a
                // crash, and it is concluded the moment the server accepts it.
                // Every try of the message carries the same Message-ID.
                spool::SettleContext c = context();
                const MessageDelivery marked = [&](const DeliveryRequest& r) {
                    // A draft's Message-ID is in the record before it is stored; a
                    // sent message's goes there with the mark of its data's end.
                    const spool::MessageIdentity id =
                        spool::message_identity(*s.queue_, m.trigger, m.base, r.save());
                    DeliveryRequest hooked = r;
                    hooked.message_id = id.message_id;
                    hooked.maybe_stored = id.maybe_stored;
                    hooked.on_data_end = [&] { spool::mark_delivering(c, m, id.unwritten ? id.message_id : ""); };
                    hooked.on_accepted = [&] {
                        m.accepted = true;
                        spool::record_accepted(c, m);
                    };
                    DeliveryOutcome o = deliver(hooked);
                    if (o.delivered() && o.target == Target::transport) sent = spool::sent_message(hooked, o, m.base);
                    return o;
                };
                MessageText read;
                if (text.header.bytes) read.header = &*text.header.bytes;
                if (text.body.bytes) read.body = &*text.body.bytes;
                read.no_body = text.body.found.path.empty();
                MessageOutcome r = leggi_file_messaggio(rt, marked, m.base, read);
                m.attachment_names = std::move(r.attachment_names);
                m.option = std::move(r.option);
                outcome = std::move(r.delivery);
            }
        } catch (const spool::StillChanging& e) {
            // A file still being written: the message waits in the spool for
            // a later tick, and the scan goes on with the next one.
            rt.list.add(" File ancora in scrittura dopo " + std::to_string(rt.cfg.size_check_limit) +
                        " secondi, messaggio lasciato nello spool per un giro successivo: " + e.path);
            rt.list.refresh();
            try {
                s.queue_->release(name);
            } catch (...) {
                // it stays in the queue, and the next scan puts it back
            }
            return;
        } catch (...) {
            error = std::current_exception();
            error_info = current_error();
        }
        // Whatever came after its server accepted it, the message is delivered.
        if (m.accepted && outcome.result != Delivered::yes) {
            error = nullptr;
            outcome = {Delivered::yes, ""};
        }
        // A file system without room or a folder of the agent's own gone is
        // no fault of the message: it waits in the queue and is tried again.
        if (error || outcome.result == Delivered::failed) {
            const std::string trouble = spool::installation_trouble(
                spool, work, spool::group_files(listing, m.base), error ? error_info.description : outcome.reason);
            if (!trouble.empty()) {
                try {
                    spool::SettleContext c = context();
                    spool::wait_for_installation(c, m, trouble);
                } catch (...) {
                    rt.list.add(" Impossibile registrare l'esito del messaggio " + m.base + " " +
                                current_error().description);
                }
                if (s.after_message_) s.after_message_();
                return;
            }
        }
        if (error) {
            if (!rt.cfg.host.unattended) {
                // The scan ends on the error; the message waits in the spool for a later tick.
                try {
                    s.queue_->release(name);
                } catch (...) {
                    // it stays in the queue, and the next scan puts it back
                }
                std::rethrow_exception(error);
            }
            // Unattended: the error concerns this message, which is parked;
            // the scan goes on with the next ones.
            const std::string line = scan_error_line(error_info, step);
            rt.list.add(line);
            rt.list.refresh();
            m.spool_files = spool::group_files(listing, m.base);
            outcome = {Delivered::failed, line.substr(1)};
        }
        // The message settled by its outcome.
        step = 19;
        settle_safely(m, outcome);
        // What was sent is recorded once the message's place is settled.
        if (sent && outcome.delivered()) {
            sent->record.time = to_seconds(rt.clock.now());
            spool::note_sent(rt, s.run_, work, *sent);
        }
    }

    void settle_safely(const spool::Claimed& m, const DeliveryOutcome& outcome) {
        try {
            spool::SettleContext c = context();
            spool::settle(c, m, outcome);
        } catch (...) {
            // The message was handled; only its record in the queue failed
            // (the spool folder gone, say). The next scan finds it there.
            rt.list.add(" Impossibile registrare l'esito del messaggio " + m.base + " " +
                        current_error().description);
        }
        if (s.after_message_) s.after_message_();
    }
};

SpoolScanner::SpoolScanner(Runtime& rt, std::function<void()> switch_off)
    : rt_(rt), switch_off_(std::move(switch_off)), dispatcher_(rt, switch_off_) {
    run_.aix = rt.cfg.sw.aix;
}

SpoolScanner::~SpoolScanner() = default;

void SpoolScanner::resume() {
    // A hold stays on until a try succeeds (the warning says since when);
    // its wait ends now, and the outcome of the next try is said.
    for (DeliveryHold* h : {&run_.store_hold, &run_.transport_hold}) {
        if (!h->active()) continue;
        h->until_ms = 0;
        h->asked = true;
    }
}

void SpoolScanner::refuse(const std::string& text) {
    if (!rt_.cfg.host.unattended) {
        // Ends the scan before any work: message box, and the agent is switched off.
        rt_.view.message_box(text);
        if (switch_off_) switch_off_();
        return;
    }
    // Unattended the agent stays on and looks again at the next tick; the
    // refusal is said once, not at every tick.
    if (run_.refusal == text) return;
    run_.refusal = text;
    rt_.view.message_box(text);
    rt_.list.add(" " + text);
    rt_.list.refresh();
}

bool SpoolScanner::checks_pass(const std::string& spool, const std::string& work, const spool::FolderLook& spool_look,
                               bool claims_intact) {
    if (work != work_named_) {
        if (work.size() < 9 || text::lower(work.substr(work.size() - 9)) != "tempozip/") {
            refuse("Il path della directory temporanea per i file deve terminare con TEMPOZIP");
            return false;
        }
        work_named_ = work;
    }
    if (!rt_.cfg.has_spool || !spool_look.folder) {
        refuse("Non riesco ad accedere alla directory creazione messaggi " + spool);
        return false;
    }
    // This agent's lock below the work folder, reached, shows it a folder.
    if (!claims_intact && !folder_at(work)) {
        refuse("Non riesco ad accedere alla directory d'appoggio " + work);
        return false;
    }
    return true;
}

void SpoolScanner::open_queue(const std::string& spool, const std::string& work, const spool::FolderLook& spool_look,
                              bool claims_intact) {
    // A folder of the agent's own removed under it is made again, with its lock.
    std::vector<std::string> remade;
    if (queue_ && queue_->spool() == spool && !queue_->intact(spool_look.st)) {
        std::error_code ec;
        remade.push_back(spool + (fs::is_directory(spool + "coda", ec) ? "coda/agenti/" : "coda/"));
        queue_.reset();
    }
    if (work_claims_ && work_claims_->work() == work && !claims_intact) {
        const auto missing = spool::missing_work_folders(work);
        remade.push_back(missing.empty() ? work + "in_lavorazione/" : missing.front());
        work_claims_.reset();
    }
    if (!queue_ || queue_->spool() != spool) {
        queue_.reset();
        queue_ = std::make_unique<spool::SpoolQueue>(spool);
        run_.noted.clear();           // a new lock file says nothing yet
        run_.liveness_due_ms = 0;     // the other agents are looked at in its first scan
    }
    if (!work_claims_ || work_claims_->work() != work) {
        work_claims_.reset();
        work_claims_ = std::make_unique<spool::WorkClaims>(work);
    }
    for (const auto& folder : remade) rt_.list.add(" Cartella mancante " + folder + ": ricreata");
    if (!run_.partial_parkings_checked) {
        spool::remove_partial_parkings(rt_, work, spool,
                                       [this](const std::string& agent) { return !work_claims_->live(agent); });
        run_.partial_parkings_checked = true;
    }
}

void SpoolScanner::scan_error(int number, const std::string& line, bool listing_failed) {
    if (rt_.cfg.host.unattended) {
        // The agent stays on; the same error at every tick is said once.
        if (run_.refusal == line) return;
        run_.refusal = line;
        rt_.list.add(line);
        rt_.list.refresh();
        return;
    }
    rt_.list.add(line);
    rt_.list.refresh();
    // A spool directory that could not be listed (gone during the scan)
    // leaves the agent polling: the next tick's checks decide.
    if (!rt_.cfg.prepara && !listing_failed) {
        if (switch_off_) switch_off_();
    }
    (void)number;
}

void SpoolScanner::LEGGI_DIR() {
    Runtime& rt = rt_;
    const MessageDelivery deliver = [this](const DeliveryRequest& r) {
        return deliver_ ? deliver_(r) : dispatcher_.sendmail(r);
    };
    Scan scan{*this, rt, deliver, "", "", 0, std::nullopt, std::nullopt};
    const BatchEnd batch_end(dispatcher_);  // the scan's messages share their mail connections
    int& step = scan.step;
    try {
        // Spool directory, and the marker file of an AIX host.
        step = 1;
        scan.spool = rt.cfg.spool_dir;
        if (rt.cfg.sw.aix) run_.aix = true;
        // The marker file ("Aix.Velarion.txt", any case) is looked for in the
        // pass's own listing of the spool (notice_marker), before any of its
        // messages: a case-blind look here would list the spool twice a tick.
        // Work directory (the logo directory is derived with the settings).
        step = 2;
        scan.work = rt.cfg.work_dir;
        rt.trace("SONO NELLA LEGGI DIR");
        // The work folder must end in "tempozip" and both folders be reachable.
        // One look at the spool folder serves the checks, the queue's and
        // whether the spool is to be listed; one at this agent's lock in the
        // work folder the check of that folder and of its claims.
        step = 5;
        const spool::FolderLook spool_look = spool::FolderLook::at(scan.spool);
        const bool claims_intact = work_claims_ && work_claims_->work() == scan.work && work_claims_->intact();
        if (!checks_pass(scan.spool, scan.work, spool_look, claims_intact)) return;

        // The queue of the spool folder and this agent's place in the work folder.
        step = 6;
        try {
            open_queue(scan.spool, scan.work, spool_look, claims_intact);
        } catch (const spool::UnsafeQueueFolder& e) {
            // Nothing of the queue is used, nothing removed: said once, looked at again at every tick.
            queue_.reset();
            if (run_.refusal != e.what()) {
                run_.refusal = e.what();
                rt.list.add(std::string(" ") + e.what());
                rt.list.refresh();
            }
            return;
        }
        scan.guard.emplace(rt, queue_->stamp());
        scan.stage.emplace(work_claims_->copies());
        // A record's temporary left by a kill: at the first scan, then once a minute.
        if (rt.clock.monotonic_ms() >= run_.temporaries_due_ms) {
            queue_->remove_stale_temporaries();
            run_.temporaries_due_ms = rt.clock.monotonic_ms() + 60000;
        }
        if (!run_.refusal.empty()) {
            run_.refusal.clear();
            rt.list.add(" Directory accessibili: elaborazione ripresa");
        }

        // velarion --retry-now: a hold on delivery ends, and the waits this
        // run keeps give way to the records, where the command made the
        // messages it named due now.
        if (queue_->retry_requested(rt.clock.monotonic_ms())) {
            if (run_.store_hold.active() || run_.transport_hold.active()) rt.list.add(" Nuovo tentativo richiesto: riprendo l'invio dei messaggi");
            resume();
            for (auto& [trigger, wait] : run_.put_off) wait.due_ms = 0;
        }
        // Before anything else, the messages of agents that ended while
        // working on them (this operator's own earlier run among them).
        // The other agents' locks are looked at once every kLivenessMs (an
        // idle agent need not look at them twice a second); this agent's own
        // leftovers are taken care of at every scan.
        step = 7;
        spool::SettleContext c = scan.context();
        const auto prefixes = pass_prefixes(rt.cfg);
        const long long now = rt.clock.monotonic_ms();
        const auto entries = queue_->entries_now(now);
        const bool liveness_due = now >= run_.liveness_due_ms;
        if (liveness_due || spool::own_claims_left(entries, prefixes, queue_->agent())) {
            spool::recover_claims(c, prefixes, entries);
            scan.spool_touched = true;
        }
        if (liveness_due) {
            queue_->return_gone_long_claims();
            run_.liveness_due_ms = now + spool::kLivenessMs;
        }
        // Delivered messages whose concluding rename failed before: no
        // message is taken while one of them is still not recorded.
        if (!spool::conclude_unrecorded(c)) scan.stopped = true;

        // While both sides of delivery are held, no message is taken.
        step = 8;
        if (scan.all_held()) {
            scan.show_state();
            return;
        }
        scan.deferred();

        // Passes: the operator ("*" for TUTTI), then the second operator. A
        // spool folder unchanged since a listing that held none of the
        // operators' triggers is not listed again (folder_watch.h).
        if (prefixes != spool_prefixes_) spool_watch_.forget();
        spool_prefixes_ = prefixes;
        // The look at the start of the scan serves unless a trigger may have
        // been put back in the spool since.
        const spool::FolderLook pass_look = scan.spool_touched ? spool::FolderLook::at(scan.spool) : spool_look;
        if (!spool_watch_.quiet(pass_look, scan.spool, rt.clock.monotonic_ms())) {
            for (const auto& prefix : prefixes) scan.pass(prefix);
            if (scan.triggers_seen)
                spool_watch_.forget();
            else
                spool_watch_.listed(rt.clock.monotonic_ms());
        }
        scan.show_state();
    } catch (...) {
        spool_watch_.forget();
        const ErrorInfo err = current_error();
        scan_error(err.number, scan_error_line(err, step), err.number == 52 && step == 10);
    }
    // The delivered messages of this scan: one sync for the last batch, then their spool files go.
    if (!batch_.messages.empty() && queue_) {
        try {
            spool::SettleContext c = scan.context();
            spool::conclude_unrecorded(c);
            spool::finish_batch(c);
        } catch (...) {
            // They stay concluded in the queue; the next scan removes their files.
            batch_.messages.clear();
        }
    }
}

}  // namespace velarion
