// Messages with a Factur-X invoice: the print file's "///X" line names an
// XML attachment of the same message, which the PDF carries; an invoice
// that cannot go out keeps the whole message.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os/paths.h"
#include "spool/spool_fixture.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

using InvoiceMessage = SpoolFixture;

const std::string kInvoice =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<rsm:CrossIndustryInvoice xmlns:rsm=\"urn:un:unece:uncefact:data:standard:CrossIndustryInvoice:100\"\n"
    " xmlns:ram=\"urn:un:unece:uncefact:data:standard:ReusableAggregateBusinessInformationEntity:100\">\n"
    "<rsm:ExchangedDocumentContext><ram:GuidelineSpecifiedDocumentContextParameter>\n"
    "<ram:ID>urn:cen.eu:en16931:2017#compliant#urn:factur-x.eu:1p0:basic</ram:ID>\n"
    "</ram:GuidelineSpecifiedDocumentContextParameter></rsm:ExchangedDocumentContext>\n"
    "</rsm:CrossIndustryInvoice>\n";

TEST_F(InvoiceMessage, TheXmlAttachmentListedAfterThePrintFileIsEmbedded) {
    write_message("AB.40", header("R40", "a@x.it", {"FATT01.txt", "FATT01.xml"}), "b",
                  {"///XFATT01.xml\r\nFattura FT-12\r\n", kInvoice});
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    ASSERT_EQ(delivered[0].attachments.size(), 2u);
    EXPECT_EQ(delivered[0].attachments[1].name, "FATT01.xml");  // the XML travels as well
    const std::string pdf = paths::resolve(work + "FATT01.pdf");
    ASSERT_FALSE(pdf.empty()) << dump();
    EXPECT_TRUE(has_text(" Fattura elettronica Factur-X BASIC da FATT01.xml")) << dump();
    ASSERT_EQ(run_program({"/usr/bin/pdfdetach", "-save", "1", "-o", root / "out.xml", pdf}).status, 0);
    EXPECT_EQ(read_file(root / "out.xml"), kInvoice);
}

TEST_F(InvoiceMessage, AMalformedInvoiceKeepsTheMessageWithItsReason) {
    write_message("AB.41", header("R41", "a@x.it", {"FATT02.xml", "FATT02.txt"}), "b",
                  {kInvoice.substr(0, 120), "///X FATT02.xml\r\nFattura FT-13\r\n"});
    scan();
    EXPECT_TRUE(delivered.empty()) << dump();
    EXPECT_TRUE(has_text(" Fattura elettronica rifiutata: ///X FATT02.xml: the XML is not well-formed")) << dump();
    ASSERT_EQ(unsent().size(), 1u) << dump();
    // Kept with its attachments and the reason.
    const std::string kept = work + "non_inviati/" + unsent()[0];
    EXPECT_EQ(read_file(kept + "FATT02.xml"), kInvoice.substr(0, 120));
    EXPECT_NE(read_file(kept + "motivo.txt").find("Fattura elettronica rifiutata: ///X FATT02.xml"), std::string::npos)
        << read_file(kept + "motivo.txt");
    EXPECT_FALSE(fs::exists(paths::resolve(work + "FATT02.pdf")));
}

}  // namespace
}  // namespace velarion::testing
