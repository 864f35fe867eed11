// Only the start-of-frame segment is read, so a few lines walking the
// marker segments do what a decoder library would do by decoding the picture.
#include "platform/pdf/jpeg_header.h"

namespace velarion::pdfwriter {

namespace {
int byte_at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }
int u16_at(std::string_view s, std::size_t i) { return byte_at(s, i) << 8 | byte_at(s, i + 1); }
}  // namespace

std::optional<JpegHeader> read_jpeg_header(std::string_view file) {
    if (file.size() < 4 || u16_at(file, 0) != 0xFFD8) return std::nullopt;
    std::size_t pos = 2;
    while (pos + 4 <= file.size()) {
        if (byte_at(file, pos) != 0xFF) return std::nullopt;  // lost the segment chain
        const int marker = byte_at(file, pos + 1);
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        const std::size_t length = static_cast<std::size_t>(u16_at(file, pos + 2));
        // Baseline, extended sequential, progressive and arithmetic sequential frames.
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9) {
            if (length < 8 || pos + 2 + length > file.size()) return std::nullopt;
            JpegHeader h;
            h.bits = byte_at(file, pos + 4);
            h.height = u16_at(file, pos + 5);
            h.width = u16_at(file, pos + 7);
            h.components = byte_at(file, pos + 9);
            if (h.width == 0 || h.height == 0) return std::nullopt;
            if (h.components != 1 && h.components != 3 && h.components != 4) return std::nullopt;
            return h;
        }
        if (marker == 0xD9 || marker == 0xDA || length < 2) return std::nullopt;  // no frame before the data
        pos += 2 + length;
    }
    return std::nullopt;
}

}  // namespace velarion::pdfwriter
