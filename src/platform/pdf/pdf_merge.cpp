// The merging component on qpdf. qpdf reports failures as exceptions (its
// own QPDFExc, and std::logic_error for misuse); none leaves the child
// process the work runs in.
#include "platform/pdf/pdf_merge.h"

// qpdf 11: use std::shared_ptr in its interfaces, without the transition warning.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <list>
#include <memory>
#include <set>
#include <utility>

#include "platform/os/atomic_file.h"
#include "platform/os/isolated_call.h"
#include "platform/os/safe_path.h"
#include "platform/pdf/archival_claim.h"

namespace velarion::pdf_merge {
namespace {

// What a child reading PDFs may map: a merge of large files fits, a file
// made to exhaust memory ends the child.
constexpr std::size_t kChildAddressSpace = std::size_t{3} << 30;

// True when the page tree, walked without recursion, is no deeper than
// kMaxPageTreeDepth and has no loop: qpdf's own walk recurses once per level.
bool page_tree_bounded(QPDF& pdf) {
    std::vector<std::pair<QPDFObjectHandle, int>> stack{{pdf.getRoot().getKey("/Pages"), 0}};
    std::set<QPDFObjGen> seen;
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        if (depth > kMaxPageTreeDepth) return false;
        if (node.isIndirect() && !seen.insert(node.getObjGen()).second) return false;
        QPDFObjectHandle kids = node.isDictionary() ? node.getKey("/Kids") : QPDFObjectHandle::newNull();
        if (!kids.isArray()) continue;
        for (int i = 0; i < kids.getArrayNItems(); ++i) stack.emplace_back(kids.getArrayItem(i), depth + 1);
    }
    return true;
}

// Opens a PDF from the caller's descriptor, refusing what could not be used
// safely: a non-PDF or unreadable file (exception), an encrypted file, a
// page tree too deep, and a damaged one that qpdf would have to reconstruct
// or warns about.
std::unique_ptr<QPDF> open_usable(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    const int copy = ::dup(fd);
    if (copy < 0) return nullptr;
    FILE* file = ::fdopen(copy, "rb");
    if (!file) {
        ::close(copy);
        return nullptr;
    }
    std::rewind(file);
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(false);
    pdf->processFile("merged PDF", file, true);  // qpdf closes the file with the document
    if (pdf->isEncrypted()) return nullptr;
    if (!page_tree_bounded(*pdf)) return nullptr;
    // Walking the page tree resolves every page object.
    if (QPDFPageDocumentHelper(*pdf).getAllPages().empty()) return nullptr;
    if (pdf->anyWarnings()) return nullptr;
    return pdf;
}

// The merge itself, in the child: the result goes to out_fd, the PDF/A report to answer_fd.
bool merge_in_child(const std::vector<int>& inputs, std::size_t checked_from, int out_fd, int answer_fd) {
    // Every source stays open until the result is written: the copied
    // pages read their streams from them.
    std::list<std::unique_ptr<QPDF>> sources;
    for (const int fd : inputs) {
        sources.push_back(open_usable(fd));
        if (!sources.back()) return false;
    }
    QPDF& base = *sources.front();
    QPDFPageDocumentHelper pages(base);
    std::vector<QPDFObjectHandle> checked;
    if (checked_from == 0)
        for (QPDFPageObjectHelper& page : pages.getAllPages()) checked.push_back(page.getObjectHandle());
    std::size_t index = 1;
    for (auto it = std::next(sources.begin()); it != sources.end(); ++it, ++index) {
        const std::size_t before = base.getAllPages().size();
        for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(**it).getAllPages()) pages.addPage(page, false);
        // The copies in the result: a change for the PDF/A is made to them.
        if (index < checked_from) continue;
        const std::vector<QPDFObjectHandle>& all = base.getAllPages();
        checked.insert(checked.end(), all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    }
    archival_pages::Report report;
    if (checked_from < inputs.size()) {
        archival_pages::check(base, checked, report);
        // Pages that do not conform make the whole document no PDF/A: it must not say it is one.
        if (!report.conforms()) archival_claim::remove(base);
    }
    const int out_copy = ::dup(out_fd);
    FILE* out = out_copy < 0 ? nullptr : ::fdopen(out_copy, "wb");
    if (!out) return false;
    QPDFWriter writer(base);
    writer.setOutputFile("merge", out, true);
    writer.setPreserveEncryption(false);
    // A line end before "endstream" on every stream, as a PDF/A requires.
    writer.setNewlineBeforeEndstream(true);
    writer.write();
    return isolated_call::write_all(answer_fd, report.to_text());
}

}  // namespace

bool available() {
    try {
        QPDF pdf;
        pdf.emptyPDF();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int GetNumberOfPages(int fd) {
    const auto r = isolated_call::run(
        [fd](int answer) {
            auto pdf = open_usable(fd);
            return pdf && isolated_call::write_all(
                              answer, std::to_string(QPDFPageDocumentHelper(*pdf).getAllPages().size()));
        },
        {kChildAddressSpace});
    return r.ok ? std::atoi(r.answer.c_str()) : 0;
}

int GetNumberOfPages(const std::string& path) {
    const safe_path::Fd fd = safe_path::open_nofollow(path);
    return fd.valid() ? GetNumberOfPages(fd.get()) : 0;
}

MergeResult MERGE(const std::vector<int>& inputs, const std::string& output, std::size_t checked_from) {
    MergeResult result;
    if (inputs.empty()) return result;
    // Written to a temporary beside the output, renamed when complete
    // (a work file: merges are made in the work folder).
    atomic_file::Replacement out(output);
    if (!out.ok()) return result;
    const int out_fd = out.fd();
    const auto r = isolated_call::run(
        [&](int answer) { return merge_in_child(inputs, checked_from, out_fd, answer); }, {kChildAddressSpace});
    if (!r.ok) return result;
    result.archival = archival_pages::Report::from_text(r.answer);
    result.written = out.commit(atomic_file::Sync::work_file);
    return result;
}

bool MERGE(const std::vector<std::string>& inputs, const std::string& output) {
    std::vector<safe_path::Fd> open;
    std::vector<int> fds;
    for (const std::string& input : inputs) {
        open.push_back(safe_path::open_nofollow(input));
        if (!open.back().valid()) return false;
        fds.push_back(open.back().get());
    }
    return MERGE(fds, output, inputs.size()).written;
}

}  // namespace velarion::pdf_merge
