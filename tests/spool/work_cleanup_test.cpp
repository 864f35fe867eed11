// The clean-up of a work folder another agent shares: a copy that agent
// makes while the clean-up runs, under a name the clean-up listed as an old
// file, is never removed.
#include <gtest/gtest.h>

#include <filesystem>

#include "spool/spool_fixture.h"
#include "spool/work_claims.h"
#include "spool/work_cleanup.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using WorkCleanUp = SpoolFixture;

TEST_F(WorkCleanUp, ACopyAnotherAgentMakesMeanwhileStays) {
    // Old files of an earlier run, one under the name of a message about to be claimed again.
    for (const char* f : {"AB.362.h", "AB.362.b", "vecchio.pdf", "zz.pdf"}) write_file(work + f, "vecchio");
    std::vector<std::string> names;
    int asked = 0;
    const auto in_use = [&] {
        // At the first look, another agent claims AB.362: it names the
        // message's files, then copies them over the old ones.
        if (++asked == 1) {
            names = {"AB.362.*"};
            write_file(work + "nuovo.tmp", "nuovo");
            fs::rename(work + "nuovo.tmp", work + "AB.362.h");
        }
        return names;
    };
    spool::clean_work_dir(rt, work, in_use, 7);
    EXPECT_EQ(read_file(work + "AB.362.h"), "nuovo");
    EXPECT_TRUE(fs::exists(work + "AB.362.b"));
    EXPECT_FALSE(fs::exists(work + "vecchio.pdf"));
    EXPECT_FALSE(fs::exists(work + "zz.pdf"));
}

TEST_F(WorkCleanUp, AFileMadeAgainUnderAListedNameStays) {
    write_file(work + "000001.pdf", "vecchio");
    write_file(work + "000002.pdf", "vecchio");
    bool made = false;
    // Nothing is named, but a file listed is replaced before it goes: it is another file.
    spool::clean_work_dir(rt, work, [&] {
        if (!made) {
            made = true;
            // Made beside it and renamed over it, as copies are.
            for (const char* f : {"000001.pdf", "000002.pdf"}) {
                write_file(work + "nuovo.tmp", "nuovo");
                fs::rename(work + "nuovo.tmp", work + f);
            }
        }
        return std::vector<std::string>{};
    }, 7);
    EXPECT_EQ(read_file(work + "000001.pdf"), "nuovo");
    EXPECT_EQ(read_file(work + "000002.pdf"), "nuovo");
}

}  // namespace
}  // namespace velarion::testing
