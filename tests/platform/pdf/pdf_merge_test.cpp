// The merging component on real PDFs, checked with pdfinfo and pdftotext.
#include "platform/pdf/pdf_merge.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "platform/pdf/pdf_document.h"
#include "platform/os/process.h"
#include "platform/os/safe_path.h"
#include "support/hostile_pdf.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;

// A PDF whose pages carry "<label> page <n>".
void make_pdf(const std::string& path, const std::string& label, int pages) {
    auto doc = make_pdf_document();
    doc->NewPDF(label);
    doc->SetKeywords("keywords of " + label);
    for (int p = 1; p <= pages; ++p) {
        doc->addpage();
        doc->TextOut(label + " page " + std::to_string(p), 20, 20);
    }
    doc->SavePDF(path);
}

std::string text_of(const std::string& pdf) {
    return process::run_capture({"pdftotext", pdf, "-"}).value_or("");
}

TEST(PdfMerge, CountsPagesOfUsablePdfsOnly) {
    TempDir dir;
    make_pdf(dir / "three.pdf", "three", 3);
    testing::write_file(dir / "notes.pdf", "plain text, not a PDF\n");
    // Cut in the middle, as a file still being written.
    const std::string whole = testing::read_file(dir / "three.pdf");
    testing::write_file(dir / "cut.pdf", whole.substr(0, whole.size() / 2));
    ASSERT_EQ(process::run_and_wait({"qpdf", "--encrypt", "", "owner", "256", "--",
                                     dir / "three.pdf", dir / "locked.pdf"}),
              0);

    EXPECT_TRUE(pdf_merge::available());
    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir / "three.pdf"), 3);
    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir / "missing.pdf"), 0);
    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir / "notes.pdf"), 0);
    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir / "cut.pdf"), 0);
    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir / "locked.pdf"), 0);
    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir.path()), 0);
}

TEST(PdfMerge, AppendsPagesInOrderKeepingTheFirstDocumentsInformation) {
    TempDir dir;
    make_pdf(dir / "a.pdf", "alpha", 2);
    make_pdf(dir / "b.pdf", "beta", 1);
    make_pdf(dir / "c.pdf", "gamma", 3);
    ASSERT_TRUE(pdf_merge::MERGE({dir / "a.pdf", dir / "b.pdf", dir / "c.pdf"}, dir / "out.pdf"));

    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir / "out.pdf"), 6);
    const std::string text = text_of(dir / "out.pdf");
    const size_t a2 = text.find("alpha page 2"), b1 = text.find("beta page 1"), c3 = text.find("gamma page 3");
    ASSERT_NE(a2, std::string::npos) << text;
    ASSERT_NE(b1, std::string::npos) << text;
    ASSERT_NE(c3, std::string::npos) << text;
    EXPECT_LT(a2, b1);
    EXPECT_LT(b1, c3);
    const std::string info = process::run_capture({"pdfinfo", dir / "out.pdf"}).value_or("");
    EXPECT_NE(info.find("Keywords:        keywords of alpha"), std::string::npos) << info;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf.part" + std::to_string(::getpid())));
}

TEST(PdfMerge, WritesNothingWhenAnInputIsUnusable) {
    TempDir dir;
    make_pdf(dir / "a.pdf", "alpha", 2);
    testing::write_file(dir / "bad.pdf", "%PDF-1.4\nrubbish\n");
    testing::write_file(dir / "out.pdf", "previous");
    EXPECT_FALSE(pdf_merge::MERGE({dir / "a.pdf", dir / "bad.pdf"}, dir / "out.pdf"));
    EXPECT_EQ(testing::read_file(dir / "out.pdf"), "previous");
    EXPECT_FALSE(pdf_merge::MERGE({dir / "a.pdf", dir / "a.pdf"}, dir / "no/such/folder/out.pdf"));
    EXPECT_FALSE(pdf_merge::MERGE({}, dir / "out2.pdf"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out2.pdf"));
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 3);  // a.pdf, bad.pdf, out.pdf: no leftovers
}

// A page tree 50,000 levels deep would overflow the reader's stack: it is
// refused before qpdf walks it. A structure that takes the reader down
// anyway (a chain of actions the copy follows) ends only the child process
// the reading runs in. Either way the file is unusable and this process goes on.
TEST(PdfMerge, HostileFilesEndTheReadingNotTheCaller) {
    TempDir dir;
    make_pdf(dir / "a.pdf", "alpha", 1);
    testing::write_file(dir / "tree.pdf", testing::deep_pdf(50000, false));
    testing::write_file(dir / "shallow.pdf", testing::deep_pdf(20, false));
    testing::write_file(dir / "chain.pdf", testing::deep_pdf(200000, true));
    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir / "tree.pdf"), 0);
    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir / "shallow.pdf"), 1);  // an ordinary deep tree is fine
    EXPECT_FALSE(pdf_merge::MERGE({dir / "a.pdf", dir / "tree.pdf"}, dir / "out.pdf"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
    // The chain: merged or refused, but this process is still here to tell.
    const bool merged = pdf_merge::MERGE({dir / "a.pdf", dir / "chain.pdf"}, dir / "out2.pdf");
    EXPECT_EQ(merged, std::filesystem::exists(dir / "out2.pdf"));
    EXPECT_TRUE(pdf_merge::MERGE({dir / "a.pdf", dir / "shallow.pdf"}, dir / "out3.pdf"));
    EXPECT_EQ(pdf_merge::GetNumberOfPages(dir / "out3.pdf"), 2);
}

// The files are read from the descriptors given: a name swapped for another
// file after it was opened changes nothing.
TEST(PdfMerge, ReadsTheFilesOpenedNotTheirNames) {
    TempDir dir;
    make_pdf(dir / "a.pdf", "alpha", 1);
    make_pdf(dir / "b.pdf", "beta", 2);
    make_pdf(dir / "other.pdf", "outsider", 3);
    const safe_path::Fd a = safe_path::open_nofollow(dir / "a.pdf"), b = safe_path::open_nofollow(dir / "b.pdf");
    ASSERT_TRUE(a.valid() && b.valid());
    EXPECT_EQ(pdf_merge::GetNumberOfPages(b.get()), 2);
    std::filesystem::remove(dir / "b.pdf");
    std::filesystem::create_symlink(dir / "other.pdf", dir / "b.pdf");
    const pdf_merge::MergeResult r = pdf_merge::MERGE({a.get(), b.get()}, dir / "out.pdf", 2);
    ASSERT_TRUE(r.written);
    const std::string text = text_of(dir / "out.pdf");
    EXPECT_NE(text.find("beta page 2"), std::string::npos) << text;
    EXPECT_EQ(text.find("outsider"), std::string::npos) << text;
    // Every stream of the result ends with a line end before "endstream".
    const std::string bytes = testing::read_file(dir / "out.pdf");
    std::size_t streams = 0;
    for (std::size_t at = bytes.find("endstream"); at != std::string::npos; at = bytes.find("endstream", at + 1)) {
        ++streams;
        EXPECT_TRUE(bytes[at - 1] == '\n' || bytes[at - 1] == '\r') << "at " << at;
    }
    EXPECT_GE(streams, 3u);
}

}  // namespace
}  // namespace velarion
