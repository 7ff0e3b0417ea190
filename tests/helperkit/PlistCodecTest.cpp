#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

#include "helperkit/PlistCodec.h"

namespace qw {
namespace {

std::string fixture(const std::string& name) {
    std::ifstream in(std::string(QUILLWICK_TEST_DATA) + "/plist/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string xmlDocument(std::string_view body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + std::string(body) + "\n</plist>\n";
}

PlistValue readXml(std::string_view body) {
    auto parsed = PlistCodec::read(xmlDocument(body));
    EXPECT_EQ(parsed.format, PlistFormat::xml);
    return parsed.value;
}

// Assembles a bplist00 from raw object encodings, so tests can say exactly what a hostile file holds.
std::string bplist(const std::vector<std::string>& objects, unsigned refSize = 1, std::uint64_t top = 0) {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(out.size());
        out += o;
    }
    const std::uint64_t table = out.size();
    const int offsetSize = table < 256 ? 1 : table < 65536 ? 2 : 4;
    for (auto off : offsets)
        for (int i = offsetSize - 1; i >= 0; --i) out.push_back(static_cast<char>(off >> (8 * i)));
    auto be = [&](std::uint64_t v) {
        for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i)));
    };
    out.append(6, '\0');
    out.push_back(static_cast<char>(offsetSize));
    out.push_back(static_cast<char>(refSize));
    be(objects.size());
    be(top);
    be(table);
    return out;
}

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s.push_back(static_cast<char>(b));
    return s;
}

PlistValue sampleJob() {
    PlistDictionary env{{"PATH", "/usr/bin:/bin"}, {"GREETING", "Grüße — “quoted” ☃ 𝄞"}};
    return PlistValue::dictionary({
        {"Label", "com.example.backup"},
        {"ProgramArguments", PlistValue::array({"/bin/sh", "-c", "echo <&> \"done\""})},
        {"EnvironmentVariables", PlistValue(env)},
        {"StartCalendarInterval", PlistValue::array({PlistValue::dictionary({{"Hour", 3}, {"Minute", 15}})})},
        {"KeepAlive", PlistValue::dictionary({{"SuccessfulExit", false}})},
        {"RunAtLoad", true},
        {"Nice", -20},
        {"Large", std::int64_t(1) << 40},
        {"Min", std::numeric_limits<std::int64_t>::min()},
        {"Ratio", 0.1},
        {"Whole", 2.0},
        {"When", PlistDate{818517900}},
        {"Cookie", PlistData{0, 1, 2, 255}},
        {"Empty", PlistArray{}},
        {"EmptyDict", PlistDictionary{}},
        {"Blank", "  \t"},
        {"Lines", "one\r\ntwo\rthree"},
    });
}

TEST(PlistCodec, xmlIsWrittenInThePlatformLayout) {
    const PlistValue v = PlistValue::dictionary({
        {"Label", "a&b <c>"},
        {"Args", PlistValue::array({"x"})},
        {"None", PlistArray{}},
        {"Nothing", PlistDictionary{}},
        {"On", true},
        {"Off", false},
        {"N", -3},
        {"R", 0.5},
        {"D", PlistDate{0}},
        {"B", PlistData{'h', 'i'}},
    });
    EXPECT_EQ(PlistCodec::writeXml(v),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>Label</key>\n\t<string>a&amp;b &lt;c&gt;</string>\n"
              "\t<key>Args</key>\n\t<array>\n\t\t<string>x</string>\n\t</array>\n"
              "\t<key>None</key>\n\t<array/>\n"
              "\t<key>Nothing</key>\n\t<dict/>\n"
              "\t<key>On</key>\n\t<true/>\n"
              "\t<key>Off</key>\n\t<false/>\n"
              "\t<key>N</key>\n\t<integer>-3</integer>\n"
              "\t<key>R</key>\n\t<real>0.5</real>\n"
              "\t<key>D</key>\n\t<date>2001-01-01T00:00:00Z</date>\n"
              "\t<key>B</key>\n\t<data>\n\taGk=\n\t</data>\n"
              "</dict>\n"
              "</plist>\n");
}

// Files the platform saved must come back byte for byte, so reals and deep data follow its rules too.
TEST(PlistCodec, xmlRealsAndDeepDataAreWrittenAsThePlatformWritesThem) {
    const std::pair<double, std::string> reals[] = {
        {0.1, "0.10000000000000001"}, {2.0, "2"}, {0.0, "0.0"}, {-0.0, "0.0"}, {1e20, "1e+20"},
        {-2.5, "-2.5"}, {1.0 / 3, "0.33333333333333331"}, {5e-324, "4.9406564584124654e-324"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"}, {-std::numeric_limits<double>::infinity(), "-infinity"},
    };
    for (const auto& [real, text] : reals) {
        const std::string xml = PlistCodec::writeXml(PlistValue(real));
        EXPECT_NE(xml.find("\n<real>" + text + "</real>\n"), std::string::npos) << xml;
        const PlistValue back = PlistCodec::read(xml).value;
        if (!std::isnan(real)) {
            EXPECT_EQ(back, PlistValue(real)) << text;
        }
    }

    // Ten arrays deep: the element keeps its indentation, its Base64 lines stop at eight tabs and 12 columns.
    PlistValue deep(PlistData(20, 0xFF));
    for (int i = 0; i < 10; ++i) deep = PlistValue(PlistArray{std::move(deep)});
    const std::string xml = PlistCodec::writeXml(deep);
    const std::string tabs10(10, '\t'), tabs8(8, '\t');
    EXPECT_NE(xml.find("\n" + tabs10 + "<data>\n" + tabs8 + "////////////\n" + tabs8 + "////////////\n" + tabs8 +
                       "//8=\n" + tabs10 + "</data>\n"),
              std::string::npos)
        << xml;
    EXPECT_EQ(PlistCodec::read(xml).value, deep);
}

TEST(PlistCodec, bothFormatsRoundTripAndRewriteByteForByte) {
    const PlistValue job = sampleJob();
    for (PlistFormat format : {PlistFormat::xml, PlistFormat::binary}) {
        const std::string first = PlistCodec::write(job, format);
        const auto parsed = PlistCodec::read(first);
        EXPECT_EQ(parsed.format, format);
        EXPECT_EQ(parsed.value, job);
        // Order survives too, so a saved file changes only where something changed.
        EXPECT_EQ(parsed.value.dictionaryValue()->keys(), job.dictionaryValue()->keys());
        EXPECT_EQ(PlistCodec::write(parsed.value, format), first);
    }
}

TEST(PlistCodec, filesFromAnotherWriterReadAndRewriteStably) {
    const auto xml = PlistCodec::read(fixture("job.xml"));
    const auto binary = PlistCodec::read(fixture("job.bplist"));
    EXPECT_EQ(xml.format, PlistFormat::xml);
    EXPECT_EQ(binary.format, PlistFormat::binary);
    EXPECT_EQ(xml.value, binary.value);
    const PlistDictionary& d = *binary.value.dictionaryValue();
    EXPECT_EQ(d.keys().front(), "Label");
    EXPECT_EQ(*d.find("Big"), PlistValue(std::numeric_limits<std::int64_t>::max()));
    EXPECT_EQ(*d.find("Small"), PlistValue(std::numeric_limits<std::int64_t>::min()));
    EXPECT_EQ(*d.find("ExitTimeOut"), PlistValue(2.5));
    EXPECT_EQ(*d.find("RunAtLoad"), PlistValue(true));
    EXPECT_EQ(*d.find("LastEdited"), PlistValue(PlistDate{818517900}));
    EXPECT_EQ(d.find("EnvironmentVariables")->dictionaryValue()->find("GREETING")->stringValue(),
              "Grüße — “quoted” ☃");
    EXPECT_EQ(fixture("job.xml"), PlistCodec::writeXml(xml.value)) << "the same layout as the other writer";
    const std::string ours = PlistCodec::writeBinary(binary.value);
    EXPECT_EQ(PlistCodec::read(ours).value, binary.value);
    EXPECT_EQ(PlistCodec::writeBinary(PlistCodec::read(ours).value), ours);
}

TEST(PlistCodec, binaryWidthsGrowWithTheFile) {
    // Over 255 objects need two-byte references; a large blob pushes offsets past one byte.
    PlistValue many(PlistArray{});
    for (int i = 0; i < 300; ++i) many.arrayValue()->emplace_back(std::int64_t(i) * 1000003);
    many.arrayValue()->emplace_back(PlistData(70000, 0xAB));
    const std::string out = PlistCodec::writeBinary(many);
    const std::string_view trailer = std::string_view(out).substr(out.size() - 32);
    EXPECT_EQ(trailer[6], 4) << "offset size";
    EXPECT_EQ(trailer[7], 2) << "reference size";
    EXPECT_TRUE(PlistCodec::read(out).value == many);
}

TEST(PlistCodec, unsignedIntegersAboveTheSignedRangeAreKeptInBothFormats) {
    constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    const PlistValue big = readXml("<integer>18446744073709551615</integer>");
    EXPECT_EQ(big, PlistValue(top));
    EXPECT_EQ(readXml("<integer>0x8000000000000000</integer>"), PlistValue(std::uint64_t(1) << 63));
    EXPECT_NE(PlistCodec::writeXml(big).find("<integer>18446744073709551615</integer>"), std::string::npos);

    // Sixteen bytes, high half zero: the unsigned low half, written back in the same form.
    const std::string sixteen = bplist({bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})});
    EXPECT_EQ(PlistCodec::read(sixteen).value, big);
    EXPECT_EQ(PlistCodec::writeBinary(big), sixteen);
    const PlistValue job = PlistValue::dictionary({{"Label", "a"}, {"Big", big}, {"Min", std::numeric_limits<std::int64_t>::min()}});
    for (PlistFormat format : {PlistFormat::xml, PlistFormat::binary})
        EXPECT_EQ(PlistCodec::read(PlistCodec::write(job, format)).value, job);
}

TEST(PlistCodec, binaryReferencesReachEveryObject) {
    // The platform wants the object count below 2^(8 × reference size): 256 objects need two bytes.
    for (auto [objects, refSize] : {std::pair{255, 1}, {256, 2}}) {
        PlistValue array(PlistArray{});
        for (int i = 1; i < objects; ++i) array.arrayValue()->emplace_back(i);
        const std::string out = PlistCodec::writeBinary(array);
        EXPECT_EQ(out[out.size() - 32 + 7], refSize) << objects;
        EXPECT_EQ(PlistCodec::read(out).value, array);
    }
}

TEST(PlistCodec, aFileHoldingNotANumberReadsAsUnchanged) {
    const PlistValue v = PlistValue::dictionary({{"Ratio", std::numeric_limits<double>::quiet_NaN()}});
    for (PlistFormat format : {PlistFormat::xml, PlistFormat::binary})
        EXPECT_EQ(PlistCodec::read(PlistCodec::write(v, format)).value, v);
}

TEST(PlistCodec, xmlReadingIsLenientAsThePlatformIs) {
    EXPECT_EQ(readXml("<string>a &amp; b &lt; &#x263A; &#9731; &unknown; &</string>"),
              PlistValue("a & b < ☺ ☃ &unknown; &"));
    EXPECT_EQ(readXml("<string>x<![CDATA[<raw> &amp;]]>y<!-- note -->z</string>"), PlistValue("x<raw> &amp;yz"));
    EXPECT_EQ(readXml("<string>  </string>"), PlistValue("  "));
    EXPECT_EQ(readXml("<string/>"), PlistValue(""));
    EXPECT_EQ(readXml("<integer> 0x1F </integer>"), PlistValue(31));
    EXPECT_EQ(readXml("<integer>-0X10</integer>"), PlistValue(-16));
    EXPECT_EQ(readXml("<integer>+7</integer>"), PlistValue(7));
    EXPECT_EQ(readXml("<integer>-9223372036854775808</integer>"), PlistValue(std::numeric_limits<std::int64_t>::min()));
    EXPECT_EQ(readXml("<real>2</real>"), PlistValue(2.0));
    EXPECT_EQ(readXml("<real>-infinity</real>"), PlistValue(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ(readXml("<real>1e999</real>"), PlistValue(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(readXml("<date>2026-12-09T14:05:00Z</date>"), PlistValue(PlistDate{818517900}));
    EXPECT_EQ(readXml("<date>2000-12-31</date>"), PlistValue(PlistDate{-86400}));
    EXPECT_EQ(readXml("<data>\n\taGVs\n\tbG8=\n</data>"), PlistValue(PlistData{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(readXml("<dict><key>a</key><integer>1</integer><key>a</key><integer>2</integer></dict>"),
              PlistValue::dictionary({{"a", 2}}));
    // Bytes that are not UTF-8 are replaced, never passed on.
    EXPECT_EQ(readXml("<string>caf\xE9</string>"), PlistValue("caf\xEF\xBF\xBD"));
    // No <plist> wrapper, a DOCTYPE with an internal subset, a byte-order mark.
    EXPECT_EQ(PlistCodec::read("<dict><key>k</key><true/></dict>").value, PlistValue::dictionary({{"k", true}}));
    EXPECT_EQ(PlistCodec::read("<!-- a --><dict>\n\t<!-- b --><key>k</key> <true> </true></dict>\n").value,
              PlistValue::dictionary({{"k", true}}));
    EXPECT_EQ(PlistCodec::read("<!DOCTYPE plist [ <!ENTITY e \"x\"> ]><plist><string>&e;</string></plist>").value,
              PlistValue("&e;"));
    EXPECT_EQ(PlistCodec::read("\xEF\xBB\xBF<plist><integer>1</integer></plist>").value, PlistValue(1));
}

TEST(PlistCodec, utf16AndLatin1XmlAreConverted) {
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist><string>\xC3\xA9</string></plist>";
    std::string utf16 = "\xFF\xFE";
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t unit = static_cast<unsigned char>(text[i]);
        if (text[i] == '\xC3') unit = 0xE9, ++i;  // the one non-ASCII character
        utf16.push_back(static_cast<char>(unit & 0xFF));
        utf16.push_back(static_cast<char>(unit >> 8));
    }
    EXPECT_EQ(PlistCodec::read(utf16).value, PlistValue("é"));
    EXPECT_EQ(PlistCodec::read("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><string>\xE9</string></plist>").value,
              PlistValue("é"));
}

TEST(PlistCodec, utf32XmlIsReadWithOrWithoutItsByteOrderMark) {
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-32\"?><plist><string>\xC3\xA9</string></plist>";
    for (bool bigEndian : {false, true})
        for (bool mark : {false, true}) {
            std::u32string units = mark ? U"\uFEFF" : U"";
            for (std::size_t i = 0; i < text.size(); ++i) units.push_back(text[i] == '\xC3' ? (++i, U'é') : text[i]);
            std::string bytes;
            for (char32_t c : units)
                for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<char>(c >> (8 * (bigEndian ? 3 - k : k))));
            EXPECT_EQ(PlistCodec::read(bytes).value, PlistValue("é")) << bigEndian << mark;
        }
}

TEST(PlistCodec, textThatXmlCannotHoldRoundTrips) {
    // NUL and bare carriage returns come from binary files; both must survive a save as XML.
    const PlistValue v = PlistValue::dictionary({{std::string("k\0ey", 4), std::string("a\0b\r\nc\r", 7)}});
    EXPECT_EQ(PlistCodec::read(PlistCodec::writeXml(v)).value, v);
}

TEST(PlistCodec, malformedXmlIsRefused) {
    for (std::string_view body : {
             "<dict><key>a</key></dict>",
             "<dict><string>a</string><string>b</string></dict>",
             "<key>a</key>",
             "<integer>12a</integer>",
             "<integer></integer>",
             "<integer>0x</integer>",
             "<integer>-9223372036854775809</integer>",
             "<integer>18446744073709551616</integer>",
             "<integer>0x10000000000000000</integer>",
             "<real>one</real>",
             "<real>--1</real>",
             "<date>yesterday</date>",
             "<date>2026-13-01T00:00:00Z</date>",
             "<data>!!!!</data>",
             "<string><b>bold</b></string>",
             "<set/>",
             "<dict><key>a</key>",
         }) {
        EXPECT_THROW(PlistCodec::read(xmlDocument(body)), PlistParseError) << body;
    }
    EXPECT_THROW(PlistCodec::read("<plist version=\"1.0\"></plist>"), PlistParseError);
    EXPECT_THROW(PlistCodec::read(""), PlistParseError);
}

// What a save would drop is refused, and each refusal names the line where the mistake starts.
TEST(PlistCodec, xmlRefusalsNameTheLineOfTheMistake) {
    const std::pair<std::string, std::string_view> cases[] = {
        {xmlDocument("<dict>\n<key>a</key>\n<string>x</string>\njunk\n</dict>"), "“junk” is not part of the property list (line 6)."},
        {xmlDocument("<dict>\n<key>a</key><string>x</string>&bad\n</dict>"), "“&bad” is not part of the property list (line 4)."},
        {xmlDocument("<array>\n<true/>\n<![CDATA[x]]></array>"), "“x” is not part of the property list (line 5)."},
        {xmlDocument("<true>yes</true>"), "“yes” is not part of the property list (line 3)."},
        {xmlDocument("<dict/>\n<dict/>"), "<dict> is not part of the property list (line 4)."},
        {xmlDocument("<dict/>") + "trailing", "“trailing” is not part of the property list (line 5)."},
        {xmlDocument("<dict>\n<key>a</key>\n\n<oops>\n<string>x</string>\n</dict>"), "<oops> is never closed (line 6)."},
        {"<?xml version=\"1.0\"?>\n<plist>\n<dict/>\n", "<plist> is never closed (line 2)."},
        {xmlDocument("<dict>\n<x/>\n</dict>"), "A dictionary holds <x> where a <key> belongs (line 4)."},
        {xmlDocument("<dict>\n<key>n</key>\n<integer>12a</integer>\n</dict>"), "“12a” is not an integer (line 5)."},
        // A misspelt closing tag is itself the mistake.
        {xmlDocument("<dict>\n<key>a</key>\n<string>x</strin>\n</dict>"), "The XML is not well formed (line 5): Start-end tags mismatch."},
    };
    for (const auto& [bytes, message] : cases) {
        try {
            PlistCodec::read(bytes);
            ADD_FAILURE() << bytes;
        } catch (const PlistParseError& e) {
            EXPECT_EQ(std::string_view(e.what()), message) << bytes;
        }
    }
}

std::string nested(int depth, std::string_view open, std::string_view close, std::string_view leaf) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += open;
    s += leaf;
    for (int i = 0; i < depth; ++i) s += close;
    return s;
}

// A chain of arrays, each holding the next, ending in false; references of two bytes.
std::vector<std::string> arrayChain(int depth) {
    std::vector<std::string> objects;
    for (int i = 0; i < depth; ++i) objects.push_back(bytes({0xA1, (i + 1) >> 8, (i + 1) & 0xFF}));
    objects.push_back(bytes({0x08}));
    return objects;
}

TEST(PlistCodec, nestingDeeperThanTheLimitIsRefusedInEveryFormat) {
    EXPECT_NO_THROW(PlistCodec::read(xmlDocument(nested(512, "<array>", "</array>", "<true/>"))));
    EXPECT_THROW(PlistCodec::read(xmlDocument(nested(513, "<array>", "</array>", "<true/>"))), PlistParseError);
    EXPECT_THROW(PlistCodec::read(xmlDocument(nested(600, "<dict><key>k</key>", "</dict>", "<true/>"))),
                 PlistParseError);
    EXPECT_THROW(PlistCodec::read(xmlDocument(nested(200000, "<array>", "</array>", ""))), PlistParseError);
    EXPECT_NO_THROW(PlistCodec::read(nested(512, "(", ")", "x")));
    EXPECT_THROW(PlistCodec::read(nested(600, "(", ")", "x")), PlistParseError);
    EXPECT_THROW(PlistCodec::read(nested(600, "{k=", ";}", "x")), PlistParseError);
    EXPECT_NO_THROW(PlistCodec::read(bplist(arrayChain(512), 2)));
    EXPECT_THROW(PlistCodec::read(bplist(arrayChain(600), 2)), PlistParseError);

    // What cannot be read back is not written either.
    PlistValue deep(true);
    for (int i = 0; i < 513; ++i) deep = PlistValue(PlistArray{std::move(deep)});
    EXPECT_THROW(PlistCodec::writeXml(deep), PlistWriteError);
    EXPECT_THROW(PlistCodec::writeBinary(deep), PlistWriteError);
}

TEST(PlistCodec, hostileBinaryFilesAreRefused) {
    const std::string valid = bplist({bytes({0xA2, 1, 2}), bytes({0x09}), bytes({0x10, 0x05})});
    ASSERT_EQ(PlistCodec::read(valid).value, PlistValue::array({true, 5}));

    std::string offsetOutOfRange = valid;
    offsetOutOfRange[offsetOutOfRange.size() - 32 - 2] = '\xF0';
    std::string refOutOfRange = valid;
    refOutOfRange[10] = 9;
    std::string tooManyObjects = valid;
    tooManyObjects[tooManyObjects.size() - 32 + 8] = '\x7F';
    std::string tableOutside = valid;
    tableOutside[tableOutside.size() - 1] = '\x7F';
    std::string badRefSize = valid;
    badRefSize[badRefSize.size() - 32 + 7] = 9;

    const std::pair<std::string, std::string> cases[] = {
        {"truncated trailer", valid.substr(0, valid.size() - 5)},
        {"header only", "bplist00"},
        {"offset out of range", offsetOutOfRange},
        {"reference out of range", refOutOfRange},
        {"object count past the table", tooManyObjects},
        {"offset table outside", tableOutside},
        {"reference size", badRefSize},
        {"top object missing", bplist({bytes({0x09})}, 1, 1)},
        {"array holding itself", bplist({bytes({0xA1, 0})})},
        {"cycle through two arrays", bplist({bytes({0xA1, 1}), bytes({0xA1, 0})})},
        {"dictionary holding itself", bplist({bytes({0xD1, 1, 0}), bytes({0x51, 'k'})})},
        {"sixteen-byte integer", bplist({bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})})},
        {"sixteen-byte integer below -2^63",
         bplist({bytes({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0})})},
        {"set", bplist({bytes({0xA1, 1}), bytes({0xC2, 2, 2}), bytes({0x09})})},
        {"integer of 32 bytes", bplist({bytes({0x15, 0})})},
        {"integer running past the end", bplist({bytes({0x13, 0, 0})})},
        {"string length past the end", bplist({bytes({0x5F, 0x10, 0xFF, 'a'})})},
        {"huge array count", bplist({bytes({0xAF, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})})},
        {"huge dictionary count", bplist({bytes({0xDF, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})})},
        {"huge UTF-16 count", bplist({bytes({0x6F, 0x13, 0x80, 0, 0, 0, 0, 0, 0, 1})})},
        {"count that is no integer", bplist({bytes({0x4F, 0x22, 0, 0, 0, 1})})},
        {"key that is an array", bplist({bytes({0xD1, 1, 2}), bytes({0xA0}), bytes({0x09})})},
        {"key that is an array holding itself", bplist({bytes({0xD1, 1, 2}), bytes({0xA1, 1}), bytes({0x09})})},
        {"unknown marker", bplist({bytes({0x70})})},
        {"fill byte", bplist({bytes({0x0F})})},
        {"wrong version", "bplist01" + valid.substr(8)},
    };
    for (const auto& [what, data] : cases) EXPECT_THROW(PlistCodec::read(data), PlistParseError) << what;

    // Every prefix of a real file fails cleanly or reads.
    const std::string job = PlistCodec::writeBinary(sampleJob());
    for (std::size_t n = 0; n < job.size(); ++n) {
        try {
            PlistCodec::read(job.substr(0, n));
        } catch (const PlistParseError&) {
        }
    }
}

TEST(PlistCodec, sharedContainersCannotMultiplyTheWork) {
    // Forty arrays, each holding the next twice: 2^40 leaves if each reference were expanded.
    std::vector<std::string> objects;
    for (int i = 0; i < 40; ++i) objects.push_back(bytes({0xA2, i + 1, i + 1}));
    objects.push_back(bytes({0x09}));
    EXPECT_THROW(PlistCodec::read(bplist(objects)), PlistParseError);

    // Sharing as other writers do it, strings referenced from many places, is fine.
    std::vector<std::string> shared{bytes({0xAA, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}), bytes({0x53, 'a', 'b', 'c'})};
    EXPECT_EQ(PlistCodec::read(bplist(shared)).value.arrayValue()->size(), 10u);
}

TEST(PlistCodec, binaryObjectsOfNoPlistKindAreLeftOut) {
    // null and a UID inside an array vanish; the rest keep their order.
    const auto array = PlistCodec::read(
        bplist({bytes({0xA4, 1, 2, 3, 4}), bytes({0x00}), bytes({0x51, 'a'}), bytes({0x80, 7}), bytes({0x51, 'b'})}));
    EXPECT_EQ(array.value, PlistValue::array({"a", "b"}));
    const auto dict = PlistCodec::read(bplist({bytes({0xD2, 1, 2, 3, 4}), bytes({0x51, 'k'}), bytes({0x51, 'l'}),
                                               bytes({0x80, 1}), bytes({0x09})}));
    EXPECT_EQ(dict.value, PlistValue::dictionary({{"l", true}}));
    EXPECT_TRUE(PlistCodec::read(bplist({bytes({0x00})})).empty);
}

TEST(PlistCodec, binaryScalarsDecode) {
    const std::pair<std::string, PlistValue> cases[] = {
        {bytes({0x22, 0x3F, 0xC0, 0, 0}), PlistValue(1.5)},
        {bytes({0x23, 0x40, 0x04, 0, 0, 0, 0, 0, 0}), PlistValue(2.5)},
        {bytes({0x33, 0x41, 0xC8, 0x64, 0xCB, 0xC6, 0, 0, 0}), PlistValue(PlistDate{818517900})},
        {bytes({0x11, 0xFF, 0xFF}), PlistValue(65535)},
        {bytes({0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}), PlistValue(-2)},
        {bytes({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD}),
         PlistValue(-3)},
        {bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9}), PlistValue(9)},
        {bytes({0x52, 'c', 0xE9}), PlistValue("cé")},  // not ASCII after all: read as Latin-1
        {bytes({0x63, 0xD8, 0x34, 0xDD, 0x1E, 0xD8, 0x00}), PlistValue("𝄞\xEF\xBF\xBD")},
        {bytes({0x42, 0, 0xFF}), PlistValue(PlistData{0, 0xFF})},
    };
    for (const auto& [object, expected] : cases) EXPECT_EQ(PlistCodec::read(bplist({object})).value, expected);
}

TEST(PlistCodec, oldTextFormReads) {
    const auto parsed = PlistCodec::read(fixture("oldstyle.plist"));
    EXPECT_EQ(parsed.format, PlistFormat::openStep);
    EXPECT_EQ(parsed.value,
              PlistValue::dictionary({
                  {"Label", "com.example.legacy"},
                  {"ProgramArguments", PlistValue::array({"/bin/echo", "hello world", "single", "bare-word_1.0"})},
                  {"KeepAlive", PlistValue::dictionary({{"SuccessfulExit", "NO"}})},
                  {"Note", "tab\there\nline \"quoted\" é☃"},
                  {"Cookie", PlistData{0, 1, 0xFE, 0xFF}},
                  {"Empty", PlistArray{}},
                  {"EmptyDict", PlistDictionary{}},
              }));
    EXPECT_EQ(PlistCodec::read("(a, b,)").value, PlistValue::array({"a", "b"}));
    EXPECT_EQ(PlistCodec::read("<0fbd77>").value, PlistValue(PlistData{0x0F, 0xBD, 0x77}));
    EXPECT_EQ(PlistCodec::read("\"\\101\\U00e9\\Ud834\\Udd1e\"").value, PlistValue("Aé𝄞"));
    EXPECT_EQ(PlistCodec::read("a = b; \"c\" = (d); e;").value,
              PlistValue::dictionary({{"a", "b"}, {"c", PlistValue::array({"d"})}, {"e", "e"}}));
    for (std::string_view bad : {"{ a = b }", "{ a b; }", "(a b)", "<0f1>", "\"open", "/* open", "{ = b; }", "a b",
                                 "(a,,b)", "}", "\n\n  ("})
        EXPECT_THROW(PlistCodec::read(bad), PlistParseError) << bad;
    try {
        PlistCodec::read("{\n\ta = b;\n\tc = d\n}");
        ADD_FAILURE();
    } catch (const PlistParseError& e) {
        EXPECT_STREQ(e.what(), "Expected ‘;’ after a dictionary value on line 4.");
    }
    // Blank text, comments and all, is an empty dictionary, as the platform reads it.
    for (std::string_view blank : {"  ", "\n// nothing here\n/* at all */\n", "\xEF\xBB\xBF \n"})
        EXPECT_EQ(PlistCodec::read(blank).value, PlistValue(PlistDictionary{})) << blank;
    EXPECT_THROW(PlistCodec::write(parsed.value, PlistFormat::openStep), PlistWriteError);
}

TEST(PlistCodec, errorDescriptionsAreUtf8EvenForBinaryGarbage) {
    for (std::string_view garbage : {"<\xFF\xFE\xFD/>", "(\xC3", "<plist><\xE9/></plist>"}) {
        try {
            PlistCodec::read(garbage);
            ADD_FAILURE() << "read";
        } catch (const PlistParseError& e) {
            const std::string what = e.what();
            EXPECT_FALSE(what.empty());
            EXPECT_EQ(what.find('\xFF'), std::string::npos);
        }
    }
}

TEST(PlistCodec, xmlDatesOutsideTextRangeAreNotWritten) {
    EXPECT_THROW(PlistCodec::writeXml(PlistValue(PlistDate{std::numeric_limits<double>::infinity()})), PlistWriteError);
    EXPECT_THROW(PlistCodec::writeXml(PlistValue(PlistDate{1e300})), PlistWriteError);
    // Binary holds any date.
    const PlistValue far(PlistDate{1e300});
    EXPECT_EQ(PlistCodec::read(PlistCodec::writeBinary(far)).value, far);
    for (double s : {-63114076800.0 - 86400 * 366, -1.5, 0.0, 3e12})
        EXPECT_EQ(PlistCodec::read(PlistCodec::writeXml(PlistValue(PlistDate{s}))).value,
                  PlistValue(PlistDate{std::floor(s)}))
            << s;
}

}  // namespace
}  // namespace qw
