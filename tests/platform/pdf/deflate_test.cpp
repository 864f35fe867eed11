#include "platform/pdf/deflate.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/test_support.h"

namespace velarion::pdfwriter {
namespace {

// The zlib stream inflated again by python3's zlib, or "<failed>" when it is
// not a valid zlib stream.
std::string inflated(const std::string& packed) {
    testing::TempDir dir;
    testing::write_file(dir / "packed", packed);
    const auto r = testing::run_program(
        {"/usr/bin/python3", "-c",
         "import sys, zlib; sys.stdout.buffer.write(zlib.decompress(open(sys.argv[1], 'rb').read()))",
         dir / "packed"});
    return r.status == 0 ? r.out : "<failed>";
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
    EXPECT_EQ(inflated(packed), blank);
    // The first listing page makes the codes; the next pages use them.
    for (int page = 1; page <= 3; ++page) {
        const std::string content = listing_page(page);
        deflater.compress_page(content, packed);
        EXPECT_EQ(inflated(packed), content) << "page " << page;
        EXPECT_LT(packed.size(), content.size() / 2) << "page " << page;
    }
    // A page with bytes and repeats the first page never had still packs
    // exactly: every byte and length has a code.
    std::string odd;
    for (int i = 0; i < 4096; ++i) odd += static_cast<char>((i * 7) & 0xff);
    odd += std::string(3000, '\x97') + std::string(258 * 3, '\0');
    deflater.compress_page(odd, packed);
    EXPECT_EQ(inflated(packed), odd);
    // Other streams are packed as before, whatever the page codes.
    deflater.compress(odd, packed);
    EXPECT_EQ(inflated(packed), odd);
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
    EXPECT_EQ(inflated(packed), noise);
    deflater.compress_page(text, packed);
    EXPECT_EQ(inflated(packed), text);
}

// The next document's compressor takes the state the last one left: it
// makes its page codes from its own first page, as a fresh one does.
TEST(Deflate, ANewDocumentsPagesDoNotUseTheLastDocumentsCodes) {
    std::string noise;
    std::uint32_t x = 99;
    for (int i = 0; i < 5000; ++i) {
        x = x * 1664525u + 1013904223u;
        noise += static_cast<char>(x >> 24);
    }
    std::string fresh, packed;
    {
        Deflater first;
        first.compress_page(noise, packed);  // codes made from noise
        first.compress(listing_page(1), packed);
    }
    Deflater second;
    second.compress_page(listing_page(2), packed);
    {
        std::unique_ptr<Deflater> other = std::make_unique<Deflater>();  // a state of its own
        other->compress_page(listing_page(2), fresh);
    }
    EXPECT_EQ(packed, fresh);
    EXPECT_EQ(inflated(packed), listing_page(2));
    EXPECT_LT(packed.size(), listing_page(2).size() / 2);
}

}  // namespace
}  // namespace velarion::pdfwriter
