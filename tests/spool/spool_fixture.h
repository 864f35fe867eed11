// A spool installation in a temporary folder: spool and work directories, a
// velarion.ini, operator AB, and a recorded delivery in place of the mail layer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "delivery/delivery_request.h"
#include "spool/scan.h"
#include "support/test_support.h"

namespace velarion::testing {

// A recording view that can run a hook when the core lets events run.
class HookView : public RecordingView {
public:
    std::function<void()> on_events;
    std::string warning;  // the warning look's text; "" while there is none
    void set_warning(const std::string& t) override { warning = t; }
    void process_events() override {
        RecordingView::process_events();
        if (on_events) on_events();
    }
};

// The name of attachment k (from 1) of a request; "" when it has fewer.
inline std::string attachment_name(const DeliveryRequest& r, std::size_t k) {
    return k >= 1 && k <= r.attachments.size() ? r.attachments[k - 1].name : "";
}

class SpoolFixture : public ::testing::Test {
protected:
    SpoolFixture() : clock(make_datetime(2026, 12, 7, 10, 30, 0)), agent(clock, view) {
        spool = root / "spool/";
        work = root / "tempozip/";
        std::filesystem::create_directories(spool);
        std::filesystem::create_directories(work);
        write_file(root / "velarion.ini", "[AB]\nPath=x\n[GLOBAL]\nTiming=2000\nfax_gateway=fax\n");
        cfg.sw.ini = root.path();
        cfg.sw.ope = "AB";
        cfg.op.Path = spool;
        cfg.op.tempozip_dir = work;
        cfg.op.tipoinvio = "PER MESSAGGIO";
        cfg.derive();
        scanner.set_deliver([this](const DeliveryRequest& r) {
            delivered.push_back(r);
            fax_marks.push_back(r.fax);
            return deliver_result ? DeliveryOutcome{Delivered::yes}
                                  : DeliveryOutcome{Delivered::failed, "rifiutato dalla prova"};
        });
    }

    // Writes a message group: header lines, body, attachment contents (.0 ...)
    // and last the trigger.
    void write_message(const std::string& base, const std::vector<std::string>& header,
                       const std::string& body, const std::vector<std::string>& contents = {},
                       const std::string& trigger = "") {
        std::string h;
        for (const auto& l : header) h += l + "\r\n";
        write_file(spool + base + ".h", h);
        write_file(spool + base + ".b", body);
        for (std::size_t i = 0; i < contents.size(); ++i)
            write_file(spool + base + "." + std::to_string(i), contents[i]);
        write_file(spool + base + ".T", trigger);
    }

    // A standard header: reference, copy, sender, to, subject, layout, option, attachments.
    static std::vector<std::string> header(const std::string& ref, const std::string& to,
                                           const std::vector<std::string>& attachments = {},
                                           const std::string& option = "SEND") {
        std::vector<std::string> h = {ref, "", "ab@example.com", to, "Fattura", ".", option};
        h.insert(h.end(), attachments.begin(), attachments.end());
        return h;
    }

    void scan() { scanner.LEGGI_DIR(); }

    std::vector<std::string> files_in(const std::string& dir) const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            names.push_back(e.path().filename().string() +
                            (e.is_directory() ? "/" : ""));
        std::sort(names.begin(), names.end());
        return names;
    }

    // What the queue folder holds but the spare records the agent keeps for
    // its next messages (".<agent>.<n>.stato.part").
    std::vector<std::string> queue_files() const {
        std::vector<std::string> names = files_in(spool + "coda");
        std::erase_if(names, [](const std::string& n) { return n[0] == '.' && n.ends_with(".stato.part"); });
        return names;
    }

    std::string stamp() const { return format_timestamp(clock.now()); }

    // True when the activity list holds exactly this line.
    bool has_line(const std::string& line) const {
        const auto& l = list.lines();
        return std::find(l.begin(), l.end(), line) != l.end();
    }
    // True when some activity line contains the text.
    bool has_text(const std::string& text) const {
        for (const auto& l : list.lines())
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    std::string dump() const {
        std::string out;
        for (const auto& l : list.lines()) out += l + "\n";
        return out;
    }

    // Folders below non_inviati.
    std::vector<std::string> unsent() const {
        const std::string dir = work + "non_inviati";
        if (!std::filesystem::exists(dir)) return {};
        return files_in(dir);
    }

    TempDir root;
    FixedClock clock;
    HookView view;
    Agent agent;
    Settings& cfg = agent.settings;
    ActivityList& list = agent.list;
    Runtime& rt = agent.rt;
    SpoolScanner scanner{rt, [this] { ++switched_off; }};
    std::string spool, work;
    int switched_off = 0;
    bool deliver_result = true;
    std::vector<DeliveryRequest> delivered;
    std::vector<bool> fax_marks;
};

}  // namespace velarion::testing
