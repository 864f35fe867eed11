// The merging component on qpdf. qpdf reports failures as exceptions (its
// own QPDFExc, and std::logic_error for misuse); none leaves this file.
#include "platform/pdf_merge.h"

// qpdf 11: use std::shared_ptr in its interfaces, without the transition warning.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <filesystem>
#include <list>
#include <memory>
#include <unistd.h>

#include "platform/atomic_file.h"

namespace velarion::pdf_merge {
namespace {

// Opens a file for reading, refusing what could not be used safely: a
// non-PDF or unreadable file (exception), an encrypted file, and a damaged
// one that qpdf would have to reconstruct or warns about.
std::unique_ptr<QPDF> open_usable(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(false);
    pdf->processFile(path.c_str());
    if (pdf->isEncrypted()) return nullptr;
    // Walking the page tree resolves every page object.
    if (QPDFPageDocumentHelper(*pdf).getAllPages().empty()) return nullptr;
    if (pdf->anyWarnings()) return nullptr;
    return pdf;
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

int GetNumberOfPages(const std::string& path) {
    try {
        auto pdf = open_usable(path);
        return pdf ? static_cast<int>(QPDFPageDocumentHelper(*pdf).getAllPages().size()) : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

bool MERGE(const std::vector<std::string>& inputs, const std::string& output) {
    namespace fs = std::filesystem;
    if (inputs.empty()) return false;
    try {
        // Every source stays open until the result is written: the copied
        // pages read their streams from them.
        std::list<std::unique_ptr<QPDF>> sources;
        for (const std::string& input : inputs) {
            sources.push_back(open_usable(input));
            if (!sources.back()) return false;
        }
        QPDF& base = *sources.front();
        QPDFPageDocumentHelper pages(base);
        for (auto it = std::next(sources.begin()); it != sources.end(); ++it)
            for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(**it).getAllPages())
                pages.addPage(page, false);
        // Written to a temporary beside the output, renamed when complete
        // (a work file: merges are made in the work folder).
        atomic_file::Replacement out(output);
        if (!out.ok()) return false;
        QPDFWriter writer(base);
        writer.setOutputMemory();
        writer.setPreserveEncryption(false);
        writer.write();
        std::shared_ptr<Buffer> bytes = writer.getBufferSharedPointer();
        return out.write(std::string_view(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize())) &&
               out.commit(atomic_file::Sync::work_file);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace velarion::pdf_merge
