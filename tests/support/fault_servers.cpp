#include "support/fault_servers.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace velarion::testing {

namespace {
const char* const kPython = "/usr/bin/python3";

std::string script() { return std::string(VELARION_SOURCE_DIR) + "/tests/support/fault_servers.py"; }

bool aiosmtpd_installed() { return fs::exists("/usr/lib/python3/dist-packages/aiosmtpd") && fs::exists(kPython); }
}  // namespace

StallProxy::StallProxy(int target_port, std::string pattern, int times, bool cut_reply)
    : target_(target_port), pattern_(std::move(pattern)), times_(times), cut_reply_(cut_reply) {
    port_ = pick_free_port();
    if (!fs::exists(kPython)) skip_reason_ = "python3 is missing";
}

StallProxy::~StallProxy() { stop(); }

void StallProxy::start() {
    ServerProcess::start({kPython, script(), "proxy", "--listen", "127.0.0.1:" + std::to_string(port_), "--target",
                          std::to_string(target_), cut_reply_ ? "--cut-reply" : "--stall", pattern_, "--times",
                          std::to_string(times_), "--mark", dir_ / "stalled"},
                         {}, dir_ / "proxy.log");
}


bool StallProxy::wait_stalled(int timeout_ms) const {
    for (int waited = 0; waited <= timeout_ms; waited += 20) {
        if (fs::exists(dir_ / "stalled")) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int StallProxy::stalls() const {
    const std::string marks = read_file(dir_ / "stalled");
    return static_cast<int>(std::count(marks.begin(), marks.end(), '\n'));
}

TempFailSmtp::TempFailSmtp(const std::string& tempfail_prefix, const std::string& tempfail_while, bool dsn,
                           bool smtputf8, const std::string& busy_prefix) {
    if (!aiosmtpd_installed()) {
        skip_reason_ = "aiosmtpd is not installed (python3-aiosmtpd)";
        return;
    }
    port_ = pick_free_port();
    std::vector<std::string> argv{kPython,          script(),        "smtp",           "--listen",
                                  "127.0.0.1:" + std::to_string(port_), "--maildir", dir_ / "mail",
                                  "--tempfail-prefix", tempfail_prefix, "--tempfail-while", tempfail_while};
    if (dsn) argv.push_back("--dsn");
    if (smtputf8) argv.push_back("--smtputf8");
    if (!busy_prefix.empty()) argv.insert(argv.end(), {"--busy-prefix", busy_prefix});
    start(argv, {}, dir_ / "smtp.log");
}

TempFailSmtp::~TempFailSmtp() { stop(); }

std::vector<std::string> TempFailSmtp::messages(std::size_t count, int timeout_ms) const {
    std::vector<std::string> files;
    for (int waited = 0;; waited += 50) {
        files.clear();
        for (const char* sub : {"mail/new", "mail/cur"}) {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(dir_ / sub, ec))
                if (e.is_regular_file()) files.push_back(e.path().string());
        }
        if (files.size() >= count || waited >= timeout_ms) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> out;
    for (const auto& f : files) out.push_back(read_file(f));
    return out;
}

}  // namespace velarion::testing
