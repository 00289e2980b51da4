// Edits to a packet's text change the chosen values and no other byte; the
// toolkit's reading of both packets (PacketDifference) is the judge of meaning.
#include "metadata/xmp_packet_edit.h"

#include <gtest/gtest.h>

#include <exempi/xmpconsts.h>

namespace {

const PacketProperty kRating{NS_XAP, "Rating", "5"};
const PacketProperty kLabel{NS_XAP, "Label", "private"};
const PacketProperty kTurn{NS_TIFF, "Orientation", "6"};

std::string Padding(int lines) { return std::string(static_cast<std::size_t>(lines) * 100, ' ') + "\n"; }

// As a photo manager writes it: one description in attribute form, a title in
// two languages, Exif dates held in XMP, a keyword hierarchy, a comment after
// the metadata and padding.
const std::string kLightroom = std::string(
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"Adobe XMP Core 7.0-c000 1.000000, 0000/00/00-00:00:00\">\n"
    " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    "  <rdf:Description rdf:about=\"\"\n"
    "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
    "    xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
    "    xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\"\n"
    "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
    "    xmlns:lr=\"http://ns.adobe.com/lightroom/1.0/\"\n"
    "   xmp:CreateDate=\"2019-07-14T10:11:00.35\"\n"
    "   xmp:Rating=\"2\"\n"
    "   xmp:Label=\"Red\"\n"
    "   exif:DateTimeDigitized=\"2019-07-14T10:11:00.35\"\n"
    "   tiff:Orientation=\"1\">\n"
    "   <dc:title>\n"
    "    <rdf:Alt>\n"
    "     <rdf:li xml:lang=\"x-default\">Harbour at dusk</rdf:li>\n"
    "     <rdf:li xml:lang=\"de-DE\">Hafen in der D\xC3\xA4mmerung</rdf:li>\n"
    "    </rdf:Alt>\n"
    "   </dc:title>\n"
    "   <lr:hierarchicalSubject>\n"
    "    <rdf:Bag>\n"
    "     <rdf:li>Places|Harbour</rdf:li>\n"
    "     <rdf:li>Boats|Sail &amp; oar</rdf:li>\n"
    "    </rdf:Bag>\n"
    "   </lr:hierarchicalSubject>\n"
    "  </rdf:Description>\n"
    " </rdf:RDF>\n"
    "</x:xmpmeta>\n"
    "<!-- edited in a photo manager -->\n") + Padding(2) + "<?xpacket end=\"w\"?>";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(XmpPacketEditTest, RatingLabelAndTurnChangeOnlyTheirValuesWithThePaddingKeepingTheLength) {
    const std::vector<PacketProperty> chosen = {kRating, kLabel, kTurn};
    const std::string edited = EditPacket(kLightroom, chosen, true);
    EXPECT_EQ(PacketDifference(kLightroom, edited, chosen), "");
    std::string expected = Replaced(kLightroom, "xmp:Rating=\"2\"", "xmp:Rating=\"5\"");
    expected = Replaced(expected, "xmp:Label=\"Red\"", "xmp:Label=\"private\"");
    expected = Replaced(expected, "tiff:Orientation=\"1\"", "tiff:Orientation=\"6\"");
    EXPECT_EQ(edited, expected.erase(expected.rfind("\n<?xpacket") - 4, 4));

    // A shorter value gives the padding back; without keepSize nothing does.
    const std::vector<PacketProperty> cleared = {{NS_XAP, "Label", ""}};
    EXPECT_EQ(EditPacket(edited, cleared, true).size(), kLightroom.size());
    EXPECT_EQ(EditPacket(kLightroom, cleared, false), Replaced(kLightroom, "xmp:Label=\"Red\"", "xmp:Label=\"\""));
    // What the padding cannot take leaves it whole.
    const std::string tight = Replaced(kLightroom, Padding(2), "  ");
    EXPECT_EQ(EditPacket(tight, chosen, true).size(), tight.size() + 4);
    EXPECT_NE(EditPacket(tight, chosen, true).find("-->\n  <?xpacket"), std::string::npos);
}

// Older writers: element form, one description per schema, another prefix.
TEST(XmpPacketEditTest, ElementFormIsEditedInPlaceAndAPropertyJoinsTheDescriptionOfItsNamespace) {
    const std::string packet =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
        " <rdf:Description rdf:about='' xmlns:tiff='http://ns.adobe.com/tiff/1.0/'>\n"
        "  <tiff:Orientation>1</tiff:Orientation>\n"
        " </rdf:Description>\n"
        " <rdf:Description rdf:about='' xmlns:xap='http://ns.adobe.com/xap/1.0/'>\n"
        "  <xap:Rating>2</xap:Rating>\n"
        "  <xap:Nickname/>\n"
        " </rdf:Description>\n"
        "</rdf:RDF></x:xmpmeta>";
    const std::vector<PacketProperty> chosen = {kRating, {NS_XAP, "Label", "Red & \"<Blue>\" 'tag'"}, kTurn,
                                                {NS_XAP, "Nickname", "x"}};
    const std::string edited = EditPacket(packet, chosen, true);
    EXPECT_EQ(PacketDifference(packet, edited, chosen), "");
    std::string expected = Replaced(packet, "<xap:Rating>2<", "<xap:Rating>5<");
    expected = Replaced(expected, "<tiff:Orientation>1<", "<tiff:Orientation>6<");
    expected = Replaced(expected, "<xap:Nickname/>", "<xap:Nickname>x</xap:Nickname>");
    EXPECT_EQ(edited, Replaced(expected, "xmlns:xap='http://ns.adobe.com/xap/1.0/'",
                               "xmlns:xap='http://ns.adobe.com/xap/1.0/' "
                               "xap:Label='Red &amp; \"&lt;Blue&gt;\" &apos;tag&apos;'"));
}

TEST(XmpPacketEditTest, AddedPropertiesDeclareTheirNamespaceWhereNoneIsInScope) {
    const std::string fresh = NewPacket(2048);
    const std::vector<PacketProperty> chosen = {kRating, kLabel, kTurn};
    const std::string edited = EditPacket(fresh, chosen, true);
    EXPECT_EQ(edited.size(), fresh.size());
    EXPECT_EQ(PacketDifference("", edited, chosen), "");
    EXPECT_NE(edited.find("<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\""
                          " xmp:Rating=\"5\" xmp:Label=\"private\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\""
                          " tiff:Orientation=\"6\"/>"),
              std::string::npos)
        << edited;
    EXPECT_EQ(PacketDifference("", EditPacket(NewPacket(0), chosen, false), chosen), "");

    // xmp bound to another namespace: a free prefix. A Rating inside a
    // structure is that structure's field, not the picture's rating.
    const std::string taken =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/' xmlns:xmp='http://example.com/other/'>"
        "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about=''>"
        "<xmp:Job rdf:parseType='Resource' xmlns:x='http://ns.adobe.com/xap/1.0/'><x:Rating>1</x:Rating></xmp:Job>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>";
    const std::string added = EditPacket(taken, {kRating}, false);
    EXPECT_EQ(PacketDifference(taken, added, {kRating}), "");
    EXPECT_EQ(added, Replaced(taken, "about=''", "about='' xmlns:xmp1='http://ns.adobe.com/xap/1.0/' xmp1:Rating='5'"));
}

TEST(XmpPacketEditTest, PacketsThatCannotBeEditedSafelyAreRefused) {
    const std::string head = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                             "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#' "
                             "xmlns:xmp='http://ns.adobe.com/xap/1.0/'>";
    const std::string tail = "</rdf:RDF></x:xmpmeta>";
    const char* const refused[] = {
        "<rdf:Description xmp:Rating='1'/><rdf:Description xmp:Rating='2'/>",
        "<rdf:Description xmp:Rating='1'><xmp:Rating>2</xmp:Rating></rdf:Description>",
        "<rdf:Description><xmp:Rating rdf:resource='http://example.com/'/></rdf:Description>",
        "<rdf:Description><xmp:Rating xml:lang='en'>1</xmp:Rating></rdf:Description>",
        "<rdf:Description><xmp:Rating rdf:parseType='Resource'/></rdf:Description>",
        "<rdf:Description><xmp:Rating><rdf:Seq><rdf:li>1</rdf:li></rdf:Seq></xmp:Rating></rdf:Description>",
        "<xmp:Thing rdf:about=''/>",
        "<rdf:Description xmp:Rating='1'>",
        "<rdf:Description xmp:Rating='1'></rdf:description>",
        "<rdf:Description xmp:Rating='1' xmp:Rating='2'/>",
        "<rdf:Description xmp:Label='&nbsp;'/>",
        "<rdf:Description ex:Label='1'/>",
        "<rdf:Description xmp:Label='1'/><!-- a -- b -->",
    };
    for (const char* body : refused) {
        EXPECT_THROW(EditPacket(head + body + tail, {kRating}, false), PacketEditError) << body;
    }
    EXPECT_THROW(EditPacket("<!DOCTYPE x [<!ENTITY e 'x'>]>" + head + "<rdf:Description/>" + tail, {kRating}, false),
                 PacketEditError);
    EXPECT_NO_THROW(EditPacket(head + "<rdf:Description/>" + tail, {kRating}, false));
}

TEST(XmpPacketEditTest, PacketDifferenceNamesWhatElseChanged) {
    EXPECT_NE(PacketDifference(kLightroom, Replaced(kLightroom, "\"de-DE\"", "\"fr-FR\""), {}), "");
    EXPECT_NE(PacketDifference(kLightroom, Replaced(kLightroom, "<rdf:li>Places|Harbour</rdf:li>", ""), {}), "");
    EXPECT_NE(PacketDifference(kLightroom, Replaced(kLightroom, "11:00.35\"\n   xmp:R", "11:00\"\n   xmp:R"), {}), "");
    EXPECT_NE(PacketDifference(kLightroom, Replaced(kLightroom, "tiff:Orientation=\"1\"", "tiff:Orientation=\"6\""),
                               {kRating}),
              "");
    EXPECT_NE(PacketDifference(kLightroom, kLightroom, {kRating}), "");
    EXPECT_NE(PacketDifference(kLightroom, "<x/>", {}), "");
    const std::string rated = Replaced(kLightroom, "xmp:Rating=\"2\"", "xmp:Rating=\"5\"");
    EXPECT_EQ(PacketDifference(kLightroom, rated, {kRating}), "");
}

}  // namespace
