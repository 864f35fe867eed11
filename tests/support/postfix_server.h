// Debian's Postfix on a loopback port, started by a test with a configuration
// folder of its own (never the system's): mail for the domain velarion.test
// is delivered to maildirs of the given users in the test's folder, other
// addresses of the domain are accepted and then bounced (5.1.1) with real
// RFC 3464 reports to their sender. Starting its master needs root; where
// it cannot start, skip_reason() says why.
#pragma once

#include <string>
#include <vector>

#include "support/test_support.h"

namespace velarion::testing {

class PostfixServer {
public:
    explicit PostfixServer(const std::vector<std::string>& users);
    ~PostfixServer();
    PostfixServer(const PostfixServer&) = delete;
    PostfixServer& operator=(const PostfixServer&) = delete;

    const std::string& skip_reason() const { return skip_reason_; }
    int port() const { return port_; }
    std::string url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }
    // The maildir of user@velarion.test (with its trailing "/").
    std::string maildir(const std::string& user) const { return dir_ / ("mail/" + user + "/"); }
    // Messages in a user's maildir (new/ and cur/).
    std::size_t count(const std::string& user) const;
    std::string log() const;

private:
    TempDir dir_;
    std::string skip_reason_;
    int port_ = 0;
    bool started_ = false;
};

}  // namespace velarion::testing
