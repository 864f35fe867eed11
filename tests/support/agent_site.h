// An installation of operator AB in a temporary folder, for the tests that
// run the whole program (build/bin/velarion): its folders, a style
// "TABULATO", velarion.ini, the command lines, plain messages, and what the
// installation holds afterwards.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velarion::testing {

struct AgentSite {
    TempDir root;
    std::string spool = root / "spool/", work = root / "tempozip/", cfg = root / "cfg/", posta = root / "posta";

    AgentSite();  // the folders and loghi/loghi.ini

    // velarion.ini: operator AB with its folders and `operator_keys`, then
    // "[GLOBAL]" with Timing=100 and `global`, then the further `sections`.
    void configure(const std::string& global, const std::string& sections,
                   const std::string& operator_keys = "EMailAddr=ab@example.com\n") const;

    std::vector<std::string> env(const std::vector<std::string>& extra = {}) const;
    // velarion --headless for the installation, then `extra`.
    std::vector<std::string> args(const std::vector<std::string>& extra = {}) const;
    ProcessResult once() const;  // one tick, to the end

    // A message without attachments from `from` to `to`; the trigger last.
    void message(const std::string& base, const std::string& to, const std::string& option,
                 const std::string& from = "ab@example.com") const;

    std::map<std::string, int> drafts() const;  // the drafts stored in posta, by recipient
    std::vector<std::string> parked() const;    // the folders below non_inviati/
    int waiting() const;                        // triggers still waiting, in the spool or its queue
    std::string log() const;                    // every day's log of the work folder
};

}  // namespace velarion::testing
