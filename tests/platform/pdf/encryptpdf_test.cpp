// The protection tool run as the composition runs it, checked with qpdf.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/pdf/pdf_document.h"
#include "platform/os/process.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;

const std::string kTool = std::string(VELARION_BIN_DIR) + "/encryptpdf";

void make_pdf(const std::string& path) {
    auto doc = make_pdf_document();
    doc->NewPDF("Stampa");
    doc->addpage();
    doc->TextOut("Fattura 12 \x80 100", 20, 20);
    doc->SavePDF(path);
}

int run(std::vector<std::string> args) {
    args.insert(args.begin(), kTool);
    return process::run_and_wait(args);
}

std::string encryption_of(const std::string& pdf, const std::string& password = "") {
    std::vector<std::string> argv = {"qpdf", "--show-encryption"};
    if (!password.empty()) argv.push_back("--password=" + password);
    argv.push_back(pdf);
    return process::run_capture(argv).value_or("");
}

TEST(EncryptPdf, OwnerPasswordWith40BitKeyAllowsPrintAndCopyOnly) {
    TempDir dir;
    make_pdf(dir / "in.pdf");
    ASSERT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "cripato.pdf", "-w", "12345620261207ab", "-e", "40",
                   "-p", "-c"}),
              0);

    const std::string enc = encryption_of(dir / "cripato.pdf");
    EXPECT_NE(enc.find("R = 2\n"), std::string::npos) << enc;  // 40-bit RC4
    EXPECT_NE(enc.find("User password = \n"), std::string::npos) << enc;
    EXPECT_NE(enc.find("print high resolution: allowed"), std::string::npos) << enc;
    EXPECT_NE(enc.find("extract for any purpose: allowed"), std::string::npos) << enc;
    EXPECT_NE(enc.find("modify anything: not allowed"), std::string::npos) << enc;
    EXPECT_NE(enc.find("modify annotations: not allowed"), std::string::npos) << enc;
    EXPECT_NE(encryption_of(dir / "cripato.pdf", "12345620261207ab").find("Supplied password is owner password"),
              std::string::npos);
    // Opens without a password, text intact.
    const std::string text = process::run_capture({"pdftotext", dir / "cripato.pdf", "-"}).value_or("");
    EXPECT_NE(text.find("Fattura 12 \u20AC 100"), std::string::npos) << text;
}

TEST(EncryptPdf, WithoutPermissionFlagsNothingIsAllowed) {
    TempDir dir;
    make_pdf(dir / "in.pdf");
    ASSERT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "out.pdf", "-w", "pass word", "-e", "128"}), 0);
    const std::string enc = encryption_of(dir / "out.pdf");
    EXPECT_NE(enc.find("R = 3\n"), std::string::npos) << enc;
    EXPECT_NE(enc.find("print low resolution: not allowed"), std::string::npos) << enc;
    EXPECT_NE(enc.find("extract for any purpose: not allowed"), std::string::npos) << enc;
    EXPECT_NE(encryption_of(dir / "out.pdf", "pass word").find("Supplied password is owner password"),
              std::string::npos);
}

TEST(EncryptPdf, Aes256KeepsThePermissionsAndOpensWithTheUserPasswordOnly) {
    TempDir dir;
    make_pdf(dir / "in.pdf");
    ASSERT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "aes.pdf", "-w", "owner-pw", "-u", "user-pw", "-e", "256",
                   "-p", "-c"}),
              0);
    const std::string enc = encryption_of(dir / "aes.pdf", "user-pw");
    EXPECT_NE(enc.find("R = 6\n"), std::string::npos) << enc;
    EXPECT_NE(enc.find("stream encryption method: AESv3"), std::string::npos) << enc;
    EXPECT_NE(enc.find("print high resolution: allowed"), std::string::npos) << enc;
    EXPECT_NE(enc.find("extract for any purpose: allowed"), std::string::npos) << enc;
    EXPECT_NE(enc.find("modify anything: not allowed"), std::string::npos) << enc;
    EXPECT_NE(encryption_of(dir / "aes.pdf", "owner-pw").find("Supplied password is owner password"),
              std::string::npos);
    // Without a password, or with a wrong one, it does not open.
    EXPECT_NE(process::run_and_wait({"qpdf", "--check", dir / "aes.pdf"}), 0);
    EXPECT_NE(process::run_and_wait({"qpdf", "--check", "--password=wrong", dir / "aes.pdf"}), 0);
    EXPECT_EQ(process::run_and_wait({"qpdf", "--check", "--password=user-pw", dir / "aes.pdf"}), 0);
}

TEST(EncryptPdf, BadArgumentsAndInputsFailWithoutOutput) {
    TempDir dir;
    make_pdf(dir / "in.pdf");
    testing::write_file(dir / "text.pdf", "not a pdf");
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-w", "x"}), 2);                               // no -o
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "a.pdf"}), 2);                      // no -w
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "a.pdf", "-w", "x", "-e", "64"}), 2);
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "a.pdf", "-w"}), 2);               // -w without value
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "a.pdf", "-w", "x", "-z"}), 2);
    EXPECT_EQ(run({"-i", dir / "missing.pdf", "-o", dir / "a.pdf", "-w", "x"}), 1);
    EXPECT_EQ(run({"-i", dir / "text.pdf", "-o", dir / "a.pdf", "-w", "x"}), 1);
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "no/folder/a.pdf", "-w", "x"}), 1);
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 2);  // in.pdf and text.pdf only
}

TEST(EncryptPdf, InputAndOutputMayBeTheSameFile) {
    TempDir dir;
    make_pdf(dir / "doc.pdf");
    ASSERT_EQ(run({"-i", dir / "doc.pdf", "-o", dir / "doc.pdf", "-w", "secret", "-e", "40", "-p", "-c"}), 0);
    EXPECT_NE(encryption_of(dir / "doc.pdf").find("R = 2\n"), std::string::npos);
}

// encryptpdf started with a pipe in place of its descriptor `fd`: the test
// reads the running program's command line, then writes the password.
class PipedRun {
public:
    PipedRun(std::vector<std::string> args, int fd) {
        args.insert(args.begin(), kTool);
        int p[2];
        if (::pipe(p) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, p[1]);
        posix_spawn_file_actions_adddup2(&actions, p[0], fd);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, kTool.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(p[0]);
        write_end_ = p[1];
    }
    ~PipedRun() {
        close_pipe();
        if (pid_ > 0) wait();
    }
    PipedRun(const PipedRun&) = delete;
    PipedRun& operator=(const PipedRun&) = delete;

    bool started() const { return pid_ > 0; }
    // The arguments as every user of the machine sees them, NUL-separated.
    // posix_spawn returns while the kernel may still be loading the program,
    // before its arguments are in place: read again until they are (the tool
    // then waits for its password, so they stay).
    std::string cmdline() const {
        for (int attempt = 0; attempt < 10000; ++attempt) {
            std::ifstream in("/proc/" + std::to_string(pid_) + "/cmdline", std::ios::binary);
            std::string text(std::istreambuf_iterator<char>(in), {});
            if (!text.empty()) return text;
            ::usleep(1000);
        }
        return "";
    }
    void send(const std::string& text) {
        EXPECT_EQ(::write(write_end_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close_pipe();
    }
    int wait() {
        close_pipe();
        int status = 0;
        const pid_t pid = pid_;
        pid_ = -1;
        if (::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    void close_pipe() {
        if (write_end_ >= 0) ::close(write_end_);
        write_end_ = -1;
    }
    pid_t pid_ = -1;
    int write_end_ = -1;
};

TEST(EncryptPdf, PasswordFromADescriptorOrStandardInputIsNeverOnTheCommandLine) {
    TempDir dir;
    make_pdf(dir / "in.pdf");
    const std::string password = "98765420261207ab";
    {
        PipedRun tool({"-i", dir / "in.pdf", "-o", dir / "fd.pdf", "--password-fd", "3", "-e", "40", "-p", "-c"},
                      3);
        ASSERT_TRUE(tool.started());
        // The tool waits for its password: its command line is complete and readable now.
        const std::string cmdline = tool.cmdline();
        EXPECT_NE(cmdline.find(std::string("--password-fd\0" "3", 16)), std::string::npos);
        EXPECT_EQ(cmdline.find(password), std::string::npos);
        tool.send(password + "\n");
        EXPECT_EQ(tool.wait(), 0);
    }
    EXPECT_NE(encryption_of(dir / "fd.pdf", password).find("Supplied password is owner password"),
              std::string::npos);
    EXPECT_NE(encryption_of(dir / "fd.pdf").find("R = 2\n"), std::string::npos);
    {
        // "-w -": standard input; a Windows line end is not part of the password.
        PipedRun tool({"-i", dir / "in.pdf", "-o", dir / "stdin.pdf", "-w", "-", "-e", "128"}, 0);
        ASSERT_TRUE(tool.started());
        EXPECT_EQ(tool.cmdline().find(password), std::string::npos);
        tool.send(password + "\r\nnext line");
        EXPECT_EQ(tool.wait(), 0);
    }
    EXPECT_NE(encryption_of(dir / "stdin.pdf", password).find("Supplied password is owner password"),
              std::string::npos);
    EXPECT_NE(encryption_of(dir / "stdin.pdf").find("R = 3\n"), std::string::npos);
}

TEST(EncryptPdf, PasswordThatCannotBeReadIsABadArgument) {
    TempDir dir;
    make_pdf(dir / "in.pdf");
    {
        PipedRun tool({"-i", dir / "in.pdf", "-o", dir / "a.pdf", "-w", "-"}, 0);
        tool.send("");  // end of input at once
        EXPECT_EQ(tool.wait(), 2);
    }
    {
        PipedRun tool({"-i", dir / "in.pdf", "-o", dir / "a.pdf", "--password-fd", "3"}, 3);
        tool.send("\n");  // an empty line
        EXPECT_EQ(tool.wait(), 2);
    }
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "a.pdf", "--password-fd", "57"}), 2);  // not open
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "a.pdf", "--password-fd", "3x"}), 2);
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "a.pdf", "--password-fd"}), 2);
    EXPECT_EQ(run({"-i", dir / "in.pdf", "-o", dir / "a.pdf", "-w", "x", "--password-fd", "0"}), 2);  // twice
    EXPECT_FALSE(std::filesystem::exists(dir / "a.pdf"));
}

TEST(EncryptPdf, HelpAndVersionComeBeforeTheOtherArguments) {
    const auto help = process::run_capture({kTool, "-i", "missing.pdf", "--help", "-z"});
    ASSERT_TRUE(help);
    EXPECT_EQ(help->rfind("Usage: encryptpdf -i INPUT.pdf -o OUTPUT.pdf", 0), 0u) << *help;
    EXPECT_NE(help->find("--password-fd N"), std::string::npos);
    EXPECT_NE(help->find("UNSAFE"), std::string::npos);  // -w PASSWORD
    const auto version = process::run_capture({kTool, "--version"});
    ASSERT_TRUE(version);
    EXPECT_EQ(*version, "encryptpdf (Velarion) " VELARION_VERSION "\n");
}

}  // namespace
}  // namespace velarion
