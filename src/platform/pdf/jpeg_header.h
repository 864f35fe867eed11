// The frame header of a JPEG file: what a PDF image object that passes the
// file through as it is (DCTDecode) must state. Used by the PDF writer only.
#pragma once

#include <optional>
#include <string_view>

namespace velarion::pdfwriter {

struct JpegHeader {
    int width = 0, height = 0;
    int bits = 8;        // bits per component
    int components = 0;  // 1 grey, 3 colour, 4 CMYK
};

// The header of a baseline, extended or progressive JPEG; nullopt for
// anything else.
std::optional<JpegHeader> read_jpeg_header(std::string_view file);

}  // namespace velarion::pdfwriter
