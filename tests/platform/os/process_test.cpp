// Programs the agent starts get the default action of SIGPIPE back, although
// the agent ignores it.
#include "platform/os/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace velarion {
namespace {

TEST(Process, AChildDoesNotInheritTheIgnoredSigpipe) {
    const auto before = std::signal(SIGPIPE, SIG_IGN);
    const auto status = process::run_capture({"/bin/sh", "-c", "grep SigIgn /proc/self/status"});
    // A program that gets SIGPIPE ends by it (no exit status) instead of going on.
    const int killed = process::run_and_wait({"/bin/sh", "-c", "kill -PIPE $$; exit 0"});
    std::signal(SIGPIPE, before);
    EXPECT_EQ(killed, -1);
    ASSERT_TRUE(status.has_value());
    const auto colon = status->find(':');
    ASSERT_NE(colon, std::string::npos) << *status;
    const unsigned long long ignored = std::stoull(status->substr(colon + 1), nullptr, 16);
    EXPECT_EQ(ignored & (1ULL << (SIGPIPE - 1)), 0ULL) << *status;
}

}  // namespace
}  // namespace velarion
