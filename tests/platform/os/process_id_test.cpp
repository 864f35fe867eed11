#include "platform/os/process_id.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velarion {
namespace {

// Temporary names carry the id: a child made by fork (the document merge)
// must not reuse its parent's, which it holds a copy of.
TEST(ProcessId, IsTheChildsOwnAfterAFork) {
    const pid_t parent = process_id();
    EXPECT_EQ(parent, ::getpid());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(process_id() == ::getpid() && process_id() != parent ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(process_id(), parent);
}

}  // namespace
}  // namespace velarion
