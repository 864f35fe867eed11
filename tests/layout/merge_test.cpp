// AGGIUNGIFONDOPDF on real files in a work and a merge directory.
#include "layout/merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/pdf/pdf_document.h"
#include "platform/pdf/pdf_merge.h"
#include "platform/os/process.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr const char* kStamp = "07/12/2026 10:30:00";

void make_pdf(const std::string& path, const std::string& label, int pages) {
    auto doc = make_pdf_document();
    doc->NewPDF(label);
    for (int p = 1; p <= pages; ++p) {
        doc->addpage();
        doc->TextOut(label + " page " + std::to_string(p), 20, 20);
    }
    doc->SavePDF(path);
}

class MergeTest : public ::testing::Test {
protected:
    MergeTest() {
        fs::create_directories(work());
        fs::create_directories(merge_dir());
        t.cfg.op.tempozip_dir = work();
        t.cfg.op.unione_DIR = merge_dir();
        t.cfg.derive();
        doc = work() + "ab12345678.pdf";
    }
    std::string work() const { return root / "tempozip/"; }
    std::string merge_dir() const { return root / "unione/"; }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const std::string& l : t.list.lines()) out.push_back(l.substr(std::string(kStamp).size()));
        return out;
    }
    std::vector<std::string> work_files() const {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(work())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string text_of(const std::string& pdf) const {
        return process::run_capture({"pdftotext", pdf, "-"}).value_or("");
    }

    TempDir root;
    testing::TestContext t;
    std::string doc;
};

TEST_F(MergeTest, AppendsEachFileInTurnAndReplacesTheDocument) {
    make_pdf(doc, "doc", 2);
    make_pdf(merge_dir() + "a.pdf", "alpha", 1);
    make_pdf(merge_dir() + "b.pdf", "beta", 3);
    testing::write_file(work() + "MERGE_3.PDF", "left by an earlier run");

    AGGIUNGIFONDOPDF(t.rt, doc, {"a.pdf", "b.pdf"});

    EXPECT_EQ(pdf_merge::GetNumberOfPages(doc), 6);
    const std::string text = text_of(doc);
    EXPECT_LT(text.find("doc page 2"), text.find("alpha page 1"));
    EXPECT_LT(text.find("alpha page 1"), text.find("beta page 3"));
    EXPECT_NE(text.find("beta page 3"), std::string::npos);
    const std::string a = merge_dir() + "a.pdf", b = merge_dir() + "b.pdf";
    const std::vector<std::string> expected = {
        " Controllo per Accodare PDF " + doc,
        " Controllo positivo per Accodare PDF " + doc + " pagine: 2",
        " Controllo per Accodare PDF " + a,
        " Controllo positivo per Accodare PDF " + a + " pagine: 1",
        " Controllo per Accodare PDF " + b,
        " Controllo positivo per Accodare PDF " + b + " pagine: 3",
        " Invio comando PDF " + doc + "|" + a + "|" + work() + "merge_1.pdf",
        " Invio comando PDF " + work() + "merge_1.pdf|" + b + "|" + work() + "merge_2.pdf",
        " Invio comando copia PDF finale " + work() + "merge_2.pdf " + doc,
    };
    EXPECT_EQ(lines(), expected);
    EXPECT_EQ(work_files(), std::vector<std::string>{"ab12345678.pdf"});
}

TEST_F(MergeTest, SkipsMissingDamagedEncryptedAndForeignFiles) {
    make_pdf(doc, "doc", 1);
    make_pdf(merge_dir() + "a.pdf", "alpha", 2);
    make_pdf(merge_dir() + "Z.PDF", "zeta", 1);
    const std::string whole = testing::read_file(merge_dir() + "a.pdf");
    testing::write_file(merge_dir() + "cut.pdf", whole.substr(0, whole.size() * 2 / 3));
    testing::write_file(merge_dir() + "text.pdf", "Totale fattura\n");
    ASSERT_EQ(process::run_and_wait({"qpdf", "--encrypt", "", "owner", "256", "--", merge_dir() + "a.pdf",
                                     merge_dir() + "locked.pdf"}),
              0);

    // "z.pdf" finds "Z.PDF".
    AGGIUNGIFONDOPDF(t.rt, doc, {"missing.pdf", "cut.pdf", "text.pdf", "locked.pdf", "a.pdf", "z.pdf"});

    EXPECT_EQ(pdf_merge::GetNumberOfPages(doc), 4);
    const std::string text = text_of(doc);
    EXPECT_LT(text.find("alpha page 2"), text.find("zeta page 1"));
    EXPECT_NE(text.find("zeta page 1"), std::string::npos);
    const auto got = lines();
    for (const char* bad : {"missing.pdf", "cut.pdf", "text.pdf", "locked.pdf"}) {
        const std::string line = " Controllo negativo per Accodare PDF " + merge_dir() + bad;
        EXPECT_NE(std::find(got.begin(), got.end(), line), got.end()) << line;
    }
    EXPECT_EQ(lines().back(), " Invio comando copia PDF finale " + work() + "merge_2.pdf " + doc);
    EXPECT_EQ(work_files(), std::vector<std::string>{"ab12345678.pdf"});
}

TEST_F(MergeTest, DocumentStaysAsItWasWhenNothingCanBeAppended) {
    make_pdf(doc, "doc", 2);
    const std::string before = testing::read_file(doc);
    testing::write_file(merge_dir() + "text.pdf", "not a pdf");

    AGGIUNGIFONDOPDF(t.rt, doc, {"text.pdf", "gone.pdf"});

    EXPECT_EQ(testing::read_file(doc), before);
    EXPECT_EQ(lines().back(), " Invio comando copia PDF finale " + work() + " " + doc);
    EXPECT_EQ(work_files(), std::vector<std::string>{"ab12345678.pdf"});
}

TEST_F(MergeTest, WithoutADocumentTheListedFilesMakeIt) {
    // No text was written: the document does not exist yet.
    make_pdf(merge_dir() + "a.pdf", "alpha", 1);
    make_pdf(merge_dir() + "b.pdf", "beta", 2);

    AGGIUNGIFONDOPDF(t.rt, doc, {"a.pdf", "b.pdf"});

    EXPECT_EQ(lines()[1], " Controllo negativo per Accodare PDF " + doc);
    EXPECT_EQ(pdf_merge::GetNumberOfPages(doc), 3);
    EXPECT_EQ(work_files(), std::vector<std::string>{"ab12345678.pdf"});
}

TEST_F(MergeTest, AnEntryOutsideTheReadFoldersIsRefusedWithItsLinesAndTheOthersGo) {
    make_pdf(doc, "doc", 1);
    make_pdf(merge_dir() + "a.pdf", "alpha", 1);
    fs::create_directories(root / "fuori");
    make_pdf(root / "fuori/segreto.pdf", "segreto", 1);
    fs::create_symlink(root / "fuori/segreto.pdf", merge_dir() + "link.pdf");

    AGGIUNGIFONDOPDF(t.rt, doc, {"../fuori/segreto.pdf", "link.pdf", "a.pdf", root / "fuori/segreto.pdf"});

    EXPECT_EQ(pdf_merge::GetNumberOfPages(doc), 2);
    EXPECT_EQ(text_of(doc).find("segreto"), std::string::npos);
    const auto got = lines();
    for (const std::string& entry : std::vector<std::string>{"../fuori/segreto.pdf", "link.pdf"}) {
        const std::string given = merge_dir() + entry;
        const auto refusal = std::find(got.begin(), got.end(), " File da accodare fuori dalle cartelle ammesse " + given);
        std::string all;
        for (const auto& l : got) all += l + "\n";
        ASSERT_NE(refusal, got.end()) << given << "\n" << all;
        ASSERT_NE(refusal + 1, got.end());
        EXPECT_EQ(*(refusal + 1), " Controllo negativo per Accodare PDF " + given);
    }
    // An absolute name counts from the merge folder too: a file that is not there.
    const std::string absolute = " Controllo negativo per Accodare PDF " + merge_dir() + root / "fuori/segreto.pdf";
    EXPECT_NE(std::find(got.begin(), got.end(), absolute), got.end());
}

}  // namespace
}  // namespace velarion
