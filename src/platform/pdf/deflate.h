// Deflate compression in the zlib format of PDF's FlateDecode streams, on
// ISA-L's igzip at its level 1. Measured on the page streams of the 10,000
// page reference listing (bench/deflate_bench, processor time of one core):
// igzip 1 about 390 MB/s at 2.67 MB per 1,000 pages, libdeflate 1 about
// 220 MB/s at 2.63 MB, zlib's default level (what libharu used) about
// 55 MB/s at 2.63 MB. Page contents are compressed at igzip's level 0 with
// Huffman codes made once per document from its first page (making a code
// for every 3 KB page was a third of the compression's time): on the
// reference listing 1% larger and some 40% less compression time. Used by
// the PDF writer only.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct isal_hufftables;

namespace velarion::pdfwriter {

class Deflater {
public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses `in` into `out` (its previous contents are replaced).
    // Throws PdfError when the library fails.
    void compress(std::string_view in, std::string& out);
    // The same for a page's content: with the codes made from the first
    // page of at least 1 KB this compressor was given (until then, as
    // compress does). One compressor per document.
    void compress_page(std::string_view in, std::string& out);

private:
    struct State;
    // The state of the last compressor the thread dropped, taken by its
    // next one: making it (its history window zeroed) cost more than
    // compressing a one-page invoice.
    static std::unique_ptr<State>& spare_state();
    void deflate(std::string_view in, std::string& out, const isal_hufftables* codes);
    std::unique_ptr<State> state_;
};

}  // namespace velarion::pdfwriter
