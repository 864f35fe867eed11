// Reading a message's text files: a file swapped for a link or a FIFO after
// it was looked at is not read through and does not stop the agent.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

#include "spool/spool_files.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

int error_number(const std::function<void()>& read) {
    try {
        read();
    } catch (const NumberedError& e) {
        return e.number();
    }
    return 0;
}

TEST(SpoolFiles, TextIsReadFromAPlainFileOnlyNeverThroughALinkOrAFifo) {
    TempDir dir;
    write_file(dir / "M1.h", "uno\r\ndue\n");
    EXPECT_EQ(spool::read_lines(dir / "M1.h"), (std::vector<std::string>{"uno", "due"}));
    EXPECT_EQ(spool::read_header_lines(dir / "M1.h"), (std::vector<std::string>{"uno", "due"}));

    write_file(dir / "fuori.txt", "segreto\r\n");
    fs::create_symlink(dir / "fuori.txt", dir / "M2.h");
    ASSERT_EQ(::mkfifo((dir / "M3.b").c_str(), 0600), 0);  // no writer: opening it must not wait
    for (const std::string& path : {dir / "M2.h", dir / "M3.b", dir / "M4.h"}) {
        EXPECT_EQ(error_number([&] { spool::read_lines(path); }), 53) << path;
        EXPECT_EQ(error_number([&] { spool::read_header_lines(path); }), 53) << path;
        EXPECT_EQ(error_number([&] { spool::read_body_lines(path); }), 53) << path;
    }
}

}  // namespace
}  // namespace velarion::testing
