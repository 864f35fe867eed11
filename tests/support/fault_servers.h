// Servers that misbehave on purpose (tests/support/fault_servers.py): a
// proxy that hangs a connection at a chosen point, and an SMTP server that
// answers 451 to some recipients. Each runs on a free loopback port.
#pragma once

#include <string>
#include <vector>

#include "support/mail_servers.h"

namespace velarion::testing {

// Forwards connections to a server on this machine. In the first `times`
// connections the client's bytes stop being forwarded once they hold
// `pattern` (escapes as in Python: "\\r\\n.\\r\\n"); later ones pass through.
// With cut_reply, the server's bytes are watched instead: the first `times`
// replies holding `pattern` are dropped with the connection (a server that
// did the work and died before answering).
class StallProxy : public ServerProcess {
public:
    // Chooses its port now; start() starts it (until then the port is closed).
    StallProxy(int target_port, std::string pattern, int times, bool cut_reply = false);
    ~StallProxy();
    void start();
    // True once a connection has hung (waits up to timeout_ms).
    bool wait_stalled(int timeout_ms) const;
    // How many connections have hung so far.
    int stalls() const;

private:
    TempDir dir_;
    int target_;
    std::string pattern_;
    int times_;
    bool cut_reply_ = false;
};

// aiosmtpd into a maildir; recipients beginning with tempfail_prefix get 451,
// and every recipient while the file tempfail_while exists. With dsn, DSN is
// offered and each message received carries the MAIL and RCPT parameters
// in the headers X-MailOptions and X-RcptOptions. With smtputf8, SMTPUTF8
// is offered too.
class TempFailSmtp : public ServerProcess {
public:
    explicit TempFailSmtp(const std::string& tempfail_prefix, const std::string& tempfail_while = "",
                          bool dsn = false, bool smtputf8 = false, const std::string& busy_prefix = "");
    ~TempFailSmtp();
    std::string url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }
    // The messages received (waits up to timeout_ms for count of them).
    std::vector<std::string> messages(std::size_t count = 0, int timeout_ms = 5000) const;

private:
    TempDir dir_;
};

}  // namespace velarion::testing
