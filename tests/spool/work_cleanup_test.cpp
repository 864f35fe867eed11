// The clean-up of a work folder another agent shares: a copy that agent
// makes while the clean-up runs, under a name the clean-up listed as an old
// file, is never removed; the print-file copies a killed agent had made
// ahead of their turn go, those of a live agent stay; an agent's list of
// names is written over in place.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os/agent_identity.h"
#include "platform/os/error.h"
#include "platform/os/file_lock.h"
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

TEST_F(WorkCleanUp, CopiesMadeAheadByAKilledAgentGoLiveOnesStay) {
    const std::string agents = work + "in_lavorazione/";
    fs::create_directories(agents + "ucciso-1-aa.copie");
    fs::create_directories(agents + "vivo-2-bb.copie");
    write_file(agents + "ucciso-1-aa.copie/1.AB.1.0", "copia");
    write_file(agents + "ucciso-1-aa.lock", "");  // its lock, no longer held
    write_file(agents + "vivo-2-bb.copie/1.AB.2.0", "copia");
    std::optional<FileLock> live = FileLock::create(agents + "vivo-2-bb.lock");
    ASSERT_TRUE(live);
    {
        // An agent starting on the folder.
        spool::WorkClaims claims(work);
        EXPECT_FALSE(fs::exists(agents + "ucciso-1-aa.copie"));
        EXPECT_TRUE(fs::exists(agents + "vivo-2-bb.copie/1.AB.2.0"));
        fs::create_directories(claims.copies());
        write_file(claims.copies() + "1.AB.3.0", "copia");
        // The live agent is killed: the next clean-up's look at the others removes its copies.
        live->remove();
        live.reset();
        claims.others_in_use();
        EXPECT_FALSE(fs::exists(agents + "vivo-2-bb.copie"));
        EXPECT_TRUE(fs::exists(claims.copies() + "1.AB.3.0"));
    }
    // An agent that ends removes its own.
    EXPECT_FALSE(fs::exists(agents + "vivo-2-bb.copie"));
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(agents, ec))
        EXPECT_FALSE(e.path().filename().string().ends_with(".copie")) << e.path();
}

TEST_F(WorkCleanUp, AnAgentsListIsWrittenOverInPlaceAndMadeAgainWhenRemoved) {
    const std::string list = work + "in_lavorazione/" + agent_identity() + ".elenco";
    spool::WorkClaims claims(work);
    claims.publish({"AB.1000.*", "FATTURA_LUNGA.txt", "FATTURA_LUNGA.*", "MERGE_*"});
    const std::string first = read_file(list);
    // A shorter list leaves no tail of the longer one.
    claims.publish({"AB.2.*"});
    EXPECT_EQ(read_file(list), "AB.2.*\n");
    claims.publish({"AB.30.*", "MERGE_*"});
    EXPECT_EQ(read_file(list), "AB.30.*\nMERGE_*\n");
    EXPECT_NE(first.find("FATTURA_LUNGA.txt\n"), std::string::npos);
    // Removed under the agent: the next message's names are there again.
    fs::remove(list);
    claims.publish({"AB.4.*"});
    EXPECT_EQ(read_file(list), "AB.4.*\n");
    // The folder gone with it: the message cannot name its files, and says so.
    fs::remove_all(work + "in_lavorazione");
    EXPECT_THROW(claims.publish({"AB.5.*"}), NumberedError);
}

}  // namespace
}  // namespace velarion::testing
