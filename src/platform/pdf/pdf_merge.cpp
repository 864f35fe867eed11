// The merging component on qpdf. qpdf reports failures as exceptions (its
// own QPDFExc, and std::logic_error for misuse); none leaves this file.
#include "platform/pdf/pdf_merge.h"

// qpdf 11: use std::shared_ptr in its interfaces, without the transition warning.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <filesystem>
#include <list>
#include <memory>
#include <unistd.h>

#include "platform/os/atomic_file.h"

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

bool has_font_program(QPDFObjectHandle font) {
    if (font.getKey("/Subtype").isNameAndEquals("/Type3")) return true;  // glyphs drawn by the file itself
    if (font.getKey("/Subtype").isNameAndEquals("/Type0")) {
        QPDFObjectHandle descendants = font.getKey("/DescendantFonts");
        if (!descendants.isArray() || descendants.getArrayNItems() < 1) return false;
        font = descendants.getArrayItem(0);
    }
    QPDFObjectHandle d = font.getKey("/FontDescriptor");
    return d.isDictionary() && (d.hasKey("/FontFile") || d.hasKey("/FontFile2") || d.hasKey("/FontFile3"));
}

// The fonts of `resources` and of the forms they name, to `depth` levels of forms.
void collect_missing(QPDFObjectHandle resources, int depth, std::vector<std::string>& missing) {
    if (!resources.isDictionary()) return;
    QPDFObjectHandle fonts = resources.getKey("/Font");
    if (fonts.isDictionary())
        for (const std::string& key : fonts.getKeys()) {
            QPDFObjectHandle font = fonts.getKey(key);
            if (!font.isDictionary() || has_font_program(font)) continue;
            QPDFObjectHandle base = font.getKey("/BaseFont");
            std::string name = base.isName() ? base.getName().substr(1) : key.substr(1);
            if (std::find(missing.begin(), missing.end(), name) == missing.end()) missing.push_back(name);
        }
    QPDFObjectHandle xobjects = resources.getKey("/XObject");
    if (depth <= 0 || !xobjects.isDictionary()) return;
    for (const std::string& key : xobjects.getKeys()) {
        QPDFObjectHandle x = xobjects.getKey(key);
        if (x.isStream() && x.getDict().getKey("/Subtype").isNameAndEquals("/Form"))
            collect_missing(x.getDict().getKey("/Resources"), depth - 1, missing);
    }
}

}  // namespace

std::vector<std::string> fonts_not_embedded(const std::string& path) {
    std::vector<std::string> missing;
    try {
        auto pdf = open_usable(path);
        if (!pdf) return missing;
        for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(*pdf).getAllPages())
            collect_missing(page.getAttribute("/Resources", false), 3, missing);
    } catch (const std::exception&) {
    }
    return missing;
}

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
