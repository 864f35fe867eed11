// The velarion.ini loader: the input is the file; operator AB's keys, the
// shared sections and the values derived from them are loaded as the agent
// loads them at start-up, and each problem names a line of the file.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "startup/user_params.h"

using namespace velarion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::Context c;
    c.reset();
    const std::string cfg = fuzz::work_root() + "cfg/";
    fuzz::empty_folder(cfg);
    fuzz::write_bytes(cfg + "velarion.ini", std::string(reinterpret_cast<const char*>(data), size));
    c.cfg.sw.ini = cfg;
    c.cfg.sw.ope = "AB";
    Leggi_Param_Utenti(c.agent);
    // Lines counted from 1; a key's problem names the line it is on.
    long lines = 1;
    for (std::size_t i = 0; i < size; ++i) lines += data[i] == '\n' || data[i] == '\r';
    for (const auto& p : c.cfg.problems)
        if (p.line < 0 || p.line > lines) std::abort();
    if (c.cfg.max_pages < 1 || c.cfg.invoice_max_bytes < 1 || c.cfg.message_max_bytes < 1) std::abort();
    c.report();
    return 0;
}
