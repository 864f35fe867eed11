// Deflate compression in the zlib format of PDF's FlateDecode streams, on
// ISA-L's igzip at its level 1. Measured on the page streams of the 10,000
// page reference listing (bench/deflate_bench, processor time of one core):
// igzip 1 about 390 MB/s at 2.67 MB per 1,000 pages, libdeflate 1 about
// 220 MB/s at 2.63 MB, zlib's default level (what libharu used) about
// 55 MB/s at 2.63 MB. Used by the PDF writer only.
#pragma once

#include <memory>
#include <string>
#include <string_view>

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

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace velarion::pdfwriter
