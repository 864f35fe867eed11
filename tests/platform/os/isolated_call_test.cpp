// Work run in a child process: its answer comes back, its crash or its
// memory limit ends the child only.
#include "platform/os/isolated_call.h"

#include <gtest/gtest.h>

#include <csignal>
#include <new>
#include <string>
#include <vector>

namespace velarion {
namespace {

TEST(IsolatedCall, AnswersCrashesAndTheMemoryLimitStayInTheChild) {
    int touched = 0;
    auto r = isolated_call::run(
        [&](int answer) {
            touched = 1;  // the child's copy: the caller's stays as it was
            return isolated_call::write_all(answer, std::string(200000, 'x'));
        },
        {});
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.answer.size(), 200000u);  // more than a pipe holds: read while the child writes
    EXPECT_EQ(touched, 0);

    r = isolated_call::run([](int) { return false; }, {});
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.crashed);

    r = isolated_call::run([](int) -> bool { std::raise(SIGSEGV); return true; }, {});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.crashed);

    r = isolated_call::run([](int) -> bool { throw std::runtime_error("no"); }, {});
    EXPECT_FALSE(r.ok);

#if !defined(__SANITIZE_ADDRESS__)
    // 1 GB asked for under a 256 MB limit: the allocation fails in the child.
    r = isolated_call::run(
        [](int) {
            std::vector<char> big(std::size_t{1} << 30, 'x');
            return big.back() == 'x';
        },
        {std::size_t{256} << 20});
    EXPECT_FALSE(r.ok);
#endif
}

}  // namespace
}  // namespace velarion
