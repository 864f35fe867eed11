// The protection tool run as the composition runs it, checked with qpdf.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/pdf_document.h"
#include "platform/process.h"
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

}  // namespace
}  // namespace velarion
