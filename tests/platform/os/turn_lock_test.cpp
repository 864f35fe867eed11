#include "platform/os/turn_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;

TEST(TurnLock, SecondHolderWaitsForTheFirstAndAnUnwritableFolderLocksNothing) {
    TempDir dir;
    const std::string path = dir / ".turn.lock";
    std::atomic<bool> second_has_it{false};
    std::atomic<int> waits{0};
    std::thread second;
    {
        TurnLock first(path, {});
        ASSERT_TRUE(first.held());
        // A lock on its own open file conflicts even within one process, as
        // it does between agents.
        second = std::thread([&] {
            TurnLock lock(path, [&] { ++waits; });
            second_has_it = lock.held();
        });
        while (waits < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_FALSE(second_has_it);
    }
    second.join();
    EXPECT_TRUE(second_has_it);

    TurnLock nowhere(dir / "missing/folder/.turn.lock", {});
    EXPECT_FALSE(nowhere.held());
}

}  // namespace
}  // namespace velarion
