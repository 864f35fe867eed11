#include "platform/pdf/deflate.h"

#include <isa-l/igzip_lib.h>

#include <gtest/gtest.h>

#include <string>

namespace velarion::pdfwriter {
namespace {

// The zlib stream inflated again (by the library's own inflater), or
// "<failed>" when it is not a valid zlib stream.
std::string inflated(const std::string& packed, std::size_t size) {
    std::string out(size + 64, '\0');
    inflate_state state{};
    isal_inflate_init(&state);
    state.crc_flag = ISAL_ZLIB;
    state.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(packed.data()));
    state.avail_in = static_cast<std::uint32_t>(packed.size());
    state.next_out = reinterpret_cast<std::uint8_t*>(out.data());
    state.avail_out = static_cast<std::uint32_t>(out.size());
    if (isal_inflate_stateless(&state) != ISAL_DECOMP_OK) return "<failed>";
    out.resize(state.total_out);
    return out;
}

// A page's content as the writer makes it for a listing.
std::string listing_page(int page) {
    std::string s = "BT\n/F1 10 Tf\n28.346 566.929 Td\n";
    for (int row = 1; row <= 66; ++row)
        s += "0 -7.937 Td\n(" + std::to_string(page * 1000 + row) + " ARTICOLO VITE M8X40 ZINCATA QTA " +
             std::to_string(row * 7) + " IMPORTO " + std::to_string(page * 3 + row) + ",50) Tj\n";
    return s + "ET\n";
}

TEST(Deflate, PagesKeepTheirBytesWithTheCodesOfTheFirstPage) {
    Deflater deflater;
    std::string packed;
    // A first page too short to make codes from is packed as any stream.
    const std::string blank = "BT\nET\n";
    deflater.compress_page(blank, packed);
    EXPECT_EQ(inflated(packed, blank.size()), blank);
    // The first listing page makes the codes; the next pages use them.
    for (int page = 1; page <= 3; ++page) {
        const std::string content = listing_page(page);
        deflater.compress_page(content, packed);
        EXPECT_EQ(inflated(packed, content.size()), content) << "page " << page;
        EXPECT_LT(packed.size(), content.size() / 2) << "page " << page;
    }
    // A page with bytes and repeats the first page never had still packs
    // exactly: every byte and length has a code.
    std::string odd;
    for (int i = 0; i < 4096; ++i) odd += static_cast<char>((i * 7) & 0xff);
    odd += std::string(3000, '\x97') + std::string(258 * 3, '\0');
    deflater.compress_page(odd, packed);
    EXPECT_EQ(inflated(packed, odd.size()), odd);
    // Other streams are packed as before, whatever the page codes.
    deflater.compress(odd, packed);
    EXPECT_EQ(inflated(packed, odd.size()), odd);
}

TEST(Deflate, NoiseAfterTextCodesStillPacksExactly) {
    // Codes made from text give noise longer codes than its bytes: the
    // output outgrows the first buffer.
    Deflater deflater;
    std::string packed;
    const std::string text = listing_page(1);
    deflater.compress_page(text, packed);
    std::string noise;
    std::uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) {
        x = x * 1664525u + 1013904223u;
        noise += static_cast<char>(x >> 24);
    }
    deflater.compress_page(noise, packed);
    EXPECT_EQ(inflated(packed, noise.size()), noise);
    deflater.compress_page(text, packed);
    EXPECT_EQ(inflated(packed, text.size()), text);
}

}  // namespace
}  // namespace velarion::pdfwriter
