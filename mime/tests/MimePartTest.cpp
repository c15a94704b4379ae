#include "mime/MimePart.h"
#include "mime/MimeTypes.h"
#include "support/Codings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tandrel::mime {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Lines = std::vector<std::string>;

// A leaf part filled the way the message class fills one, then encoded.
struct Leaf {
    TMimePart part;
    Leaf(std::string_view Primary, std::string Bytes, TMimeEncoding Encoding) {
        part.SetPrimary(Primary);
        part.DecodedLines() = std::move(Bytes);
        part.SetEncodingCode(Encoding);
    }
};

// ---------------------------------------------------------------------------
// Setters

struct ClassifyCase {
    const char* name;
    const char* value;
    int code;
};

class SetPrimaryTest : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(SetPrimaryTest, ClassifiesByUpperCasePrefix) {
    TMimePart part;
    part.SetPrimary(GetParam().value);
    EXPECT_EQ(part.Primary(), GetParam().value);
    EXPECT_EQ(static_cast<int>(part.PrimaryCode()), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SetPrimaryTest,
    ::testing::Values(ClassifyCase{"text", "text", 0}, ClassifyCase{"TextLike", "TextLike", 0},
                      ClassifyCase{"multipart", "Multipart", 1}, ClassifyCase{"message", "message", 2},
                      ClassifyCase{"application", "application", 3}, ClassifyCase{"empty", "", 3},
                      ClassifyCase{"leadingSpace", " text", 3}),
    [](const auto& info) { return std::string(info.param.name); });

class SetEncodingTest : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(SetEncodingTest, ClassifiesByUpperCasePrefix) {
    TMimePart part;
    part.SetEncoding(GetParam().value);
    EXPECT_EQ(part.Encoding(), GetParam().value);
    EXPECT_EQ(static_cast<int>(part.EncodingCode()), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SetEncodingTest,
    ::testing::Values(ClassifyCase{"sevenBit", "7bit", 0}, ClassifyCase{"eightBit", "8Bit", 1},
                      ClassifyCase{"quoted", "quoted-printable", 2}, ClassifyCase{"base64", "BASE64", 3},
                      ClassifyCase{"uu", "x-uuencode", 4}, ClassifyCase{"xx", "X-XX", 5},
                      ClassifyCase{"unknown", "binary", 0}, ClassifyCase{"empty", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TMimePartCharset, EmptyValueChangesNothingOtherwiseLooksTheNameUp) {
    TMimePart part;
    part.SetCharset("utf-8");
    EXPECT_EQ(part.CharsetCode(), TMimeChar::UTF_8);
    part.SetCharset("");
    EXPECT_EQ(part.Charset(), "utf-8");
    EXPECT_EQ(part.CharsetCode(), TMimeChar::UTF_8);
}

// ---------------------------------------------------------------------------
// Tree and state

TEST(TMimePartTree, DefaultsAndSubPartInheritance) {
    TMimePart root;
    EXPECT_EQ(root.PrimaryCode(), TMimePrimary::MP_TEXT);
    EXPECT_EQ(root.EncodingCode(), TMimeEncoding::ME_7BIT);
    EXPECT_EQ(root.CharsetCode(), TMimeChar::ISO_8859_1);
    EXPECT_EQ(root.TargetCharset(), TMimeChar::CP1252);
    EXPECT_EQ(root.DefaultCharset(), "WINDOWS-1252");
    EXPECT_EQ(root.MaxLineLength(), 78);
    EXPECT_EQ(root.MaxSubLevel(), -1);
    EXPECT_TRUE(root.ConvertCharset());

    root.SetDefaultCharset("UTF-8");
    root.SetMaxSubLevel(2);
    TMimePart& child = root.AddSubPart();
    TMimePart& grandchild = child.AddSubPart();
    EXPECT_EQ(child.DefaultCharset(), "UTF-8");
    EXPECT_EQ(grandchild.SubLevel(), 2);
    EXPECT_EQ(grandchild.MaxSubLevel(), 2);
    EXPECT_TRUE(child.CanSubPart());
    EXPECT_FALSE(grandchild.CanSubPart());
}

TEST(TMimePartTree, IndexesOutOfRangeGiveNoPartAndNoEffect) {
    TMimePart root;
    root.AddSubPart().SetDescription("a");
    root.AddSubPart().SetDescription("b");
    EXPECT_EQ(root.GetSubPart(2), nullptr);
    EXPECT_EQ(root.GetSubPart(-1), nullptr);
    root.DeleteSubPart(2);
    ASSERT_EQ(root.GetSubPartCount(), 2);
    root.DeleteSubPart(0);
    ASSERT_EQ(root.GetSubPartCount(), 1);
    EXPECT_EQ(root.GetSubPart(0)->Description(), "b");
}

TEST(TMimePartTree, ClearKeepsLinesLimitsAndCallback) {
    TMimePart part;
    part.SetPrimary("image");
    part.SetFileName("x.png");
    part.SetConvertCharset(false);
    part.SetMaxLineLength(60);
    part.Lines() = {"kept"};
    part.SetPartBody({"gone"});
    part.DecodedLines() = "gone";
    part.SetOnWalkPart([](TMimePart&) {});
    part.AddSubPart();
    part.Clear();
    EXPECT_EQ(part.Primary(), "");
    EXPECT_EQ(part.PrimaryCode(), TMimePrimary::MP_TEXT);
    EXPECT_EQ(part.FileName(), "");
    EXPECT_TRUE(part.ConvertCharset());
    EXPECT_THAT(part.PartBody(), IsEmpty());
    EXPECT_EQ(part.DecodedLines(), "");
    EXPECT_EQ(part.GetSubPartCount(), 0);
    EXPECT_THAT(part.Lines(), ElementsAre("kept"));
    EXPECT_EQ(part.MaxLineLength(), 60);
    EXPECT_TRUE(static_cast<bool>(part.OnWalkPart()));
}

// Every field Assign copies, each set apart from its default; what it leaves (the
// decoded bytes, the HTML switch, the levels, the callback, the sub-parts) stays.
TEST(TMimePartTree, AssignCopiesEveryFieldAndLeavesTheRest) {
    TMimePart source;
    source.SetPrimary("image");
    source.SetPrimaryCode(TMimePrimary::MP_MESSAGE);
    source.SetSecondary("png");
    source.SetEncoding("base64");
    source.SetEncodingCode(TMimeEncoding::ME_8BIT);
    source.SetDefaultCharset("KOI8-R");
    source.SetCharset("UTF-8");
    source.SetCharsetCode(TMimeChar::ISO_8859_2);
    source.SetTargetCharset(TMimeChar::UTF_16);
    source.SetDescription("desc");
    source.SetDisposition("inline");
    source.SetContentID("<id>");
    source.SetBoundary("bnd");
    source.SetFileName("f.png");
    source.Lines() = {"line"};
    source.SetPartBody({"body"});
    source.Headers() = {"H: 1"};
    source.PrePart() = {"pre"};
    source.PostPart() = {"post"};
    source.SetMaxLineLength(40);
    source.SetConvertCharset(false);
    source.DecodedLines() = "source bytes";
    source.SetForcedHTMLConvert(true);

    TMimePart target;
    target.SetSubLevel(2);
    target.SetMaxSubLevel(5);
    target.DecodedLines() = "kept";
    target.SetOnWalkPart([](TMimePart&) {});
    target.AddSubPart();
    target.Assign(source);
    EXPECT_EQ(target.Primary(), "image");
    EXPECT_EQ(target.PrimaryCode(), TMimePrimary::MP_MESSAGE);
    EXPECT_EQ(target.Secondary(), "png");
    EXPECT_EQ(target.Encoding(), "base64");
    EXPECT_EQ(target.EncodingCode(), TMimeEncoding::ME_8BIT);
    EXPECT_EQ(target.DefaultCharset(), "KOI8-R");
    EXPECT_EQ(target.Charset(), "UTF-8");
    EXPECT_EQ(target.CharsetCode(), TMimeChar::ISO_8859_2);
    EXPECT_EQ(target.TargetCharset(), TMimeChar::UTF_16);
    EXPECT_EQ(target.Description(), "desc");
    EXPECT_EQ(target.Disposition(), "inline");
    EXPECT_EQ(target.ContentID(), "<id>");
    EXPECT_EQ(target.Boundary(), "bnd");
    EXPECT_EQ(target.FileName(), "f.png");
    EXPECT_THAT(target.Lines(), ElementsAre("line"));
    EXPECT_THAT(target.PartBody(), ElementsAre("body"));
    EXPECT_THAT(target.Headers(), ElementsAre("H: 1"));
    EXPECT_THAT(target.PrePart(), ElementsAre("pre"));
    EXPECT_THAT(target.PostPart(), ElementsAre("post"));
    EXPECT_EQ(target.MaxLineLength(), 40);
    EXPECT_FALSE(target.ConvertCharset());

    EXPECT_EQ(target.DecodedLines(), "kept");
    EXPECT_FALSE(target.ForcedHTMLConvert());
    EXPECT_EQ(target.SubLevel(), 2);
    EXPECT_EQ(target.MaxSubLevel(), 5);
    EXPECT_TRUE(target.OnWalkPart());
    EXPECT_EQ(target.GetSubPartCount(), 1);
}

// A part read by the byte parser keeps each body as one entry with its own line
// breaks; a copy of it decodes to the same bytes (it once added a CR LF), and knows
// the UU data inside.
TEST(TMimePartTree, AssignedCopyOfAByteParsedPartDecodesAsItsSource) {
    const std::string body = "abc\r\nbegin 644 x\r\nend";
    TMimePart source;
    source.DecomposePartsBinary({"Content-Type: text/plain", "Content-Transfer-Encoding: 7bit"}, body.data(),
                                body.data() + body.size());
    source.SetConvertCharset(false);
    TMimePart copy;
    copy.Assign(source);
    source.DecodePart();
    copy.DecodePart();
    EXPECT_EQ(source.DecodedLines(), body);
    EXPECT_EQ(copy.DecodedLines(), body);
    EXPECT_TRUE(copy.AttachInside());
}

TEST(TMimePartTree, AssignSubPartsCopiesDeeplyWithLevelsOfTheNewParent) {
    TMimePart source;
    source.SetPrimary("Multipart");
    source.SetBoundary("b1");
    source.DecodedLines() = "not copied";
    TMimePart& a = source.AddSubPart();
    a.SetDescription("first");
    a.AddSubPart().SetDescription("nested");
    source.AddSubPart().SetDescription("second");

    TMimePart target;
    TMimePart& holder = target.AddSubPart();
    holder.AssignSubParts(source);
    EXPECT_EQ(holder.Boundary(), "b1");
    EXPECT_EQ(holder.PrimaryCode(), TMimePrimary::MP_MULTIPART);
    EXPECT_EQ(holder.DecodedLines(), "");
    ASSERT_EQ(holder.GetSubPartCount(), 2);
    EXPECT_EQ(holder.GetSubPart(1)->Description(), "second");
    const TMimePart* nested = holder.GetSubPart(0)->GetSubPart(0);
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(nested->Description(), "nested");
    EXPECT_EQ(nested->SubLevel(), 3);
}

TEST(TMimePartTree, WalkPartVisitsPreOrderAndNothingWithoutCallback) {
    TMimePart root;
    root.SetDescription("root");
    TMimePart& a = root.AddSubPart();
    a.SetDescription("a");
    a.AddSubPart().SetDescription("a1");
    root.AddSubPart().SetDescription("b");

    root.WalkPart();  // no callback: nothing happens, not even below
    EXPECT_FALSE(static_cast<bool>(a.OnWalkPart()));

    std::vector<std::string> seen;
    root.SetOnWalkPart([&](TMimePart& P) { seen.push_back(P.Description()); });
    root.WalkPart();
    EXPECT_THAT(seen, ElementsAre("root", "a", "a1", "b"));
}

// ---------------------------------------------------------------------------
// EncodePart

TEST(TMimePartEncode, Base64LinesOf54Bytes) {
    struct Row {
        std::size_t size;
        std::vector<std::size_t> lineLengths;
    };
    for (const Row& row : {Row{0, {}}, Row{54, {72}}, Row{55, {72, 4}}, Row{108, {72, 72}}}) {
        Leaf leaf("application", std::string(row.size, '\xA5'), TMimeEncoding::ME_BASE64);
        leaf.part.EncodePart();
        std::vector<std::size_t> lengths;
        for (const auto& l : leaf.part.PartBody()) lengths.push_back(l.size());
        EXPECT_EQ(lengths, row.lineLengths) << row.size << " bytes";
        std::string joined;
        for (const auto& l : leaf.part.PartBody()) joined += l;
        EXPECT_EQ(support::DecodeBase64(joined), leaf.part.DecodedLines());
    }
}

TEST(TMimePartEncode, ConvertedTextGetsByteOrderMarkOnlyWhenNotSevenBit) {
    for (auto encoding : {TMimeEncoding::ME_BASE64, TMimeEncoding::ME_7BIT}) {
        Leaf leaf("text", "a\xE7\x80\r\n", encoding);
        leaf.part.SetSecondary("plain");
        leaf.part.SetCharsetCode(TMimeChar::UTF_8);
        leaf.part.SetTargetCharset(TMimeChar::CP1252);
        leaf.part.EncodePart();
        leaf.part.EncodePartHeader();
        std::string body;
        for (const auto& l : leaf.part.PartBody()) body += l;
        if (encoding == TMimeEncoding::ME_BASE64) {
            EXPECT_EQ(support::DecodeBase64(body),
                      "\xEF\xBB\xBF"
                      "a\xC3\xA7\xE2\x82\xAC\r\n");
            EXPECT_THAT(leaf.part.Headers(), ElementsAre("Content-type: text/plain; charset=UTF-8",
                                                         "Content-Transfer-Encoding: Base64"));
        } else {
            EXPECT_EQ(body, "a\xE7\x80");
            EXPECT_THAT(leaf.part.Headers(), ElementsAre("Content-type: text/plain; charset=UTF-8",
                                                         "Content-Transfer-Encoding: 7bit"));
        }
    }
}

struct QpCase {
    const char* name;
    std::string line;
    int maxLineLength;
    Lines expected;
};

class QuotedPrintableSplitTest : public ::testing::TestWithParam<QpCase> {};

TEST_P(QuotedPrintableSplitTest, EncodesAndSplits) {
    Leaf leaf("text", GetParam().line + "\r\n", TMimeEncoding::ME_QUOTED_PRINTABLE);
    leaf.part.SetConvertCharset(false);
    leaf.part.SetMaxLineLength(GetParam().maxLineLength);
    leaf.part.EncodePart();
    EXPECT_EQ(leaf.part.PartBody(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QuotedPrintableSplitTest,
    ::testing::Values(QpCase{"equalsSign", "a=b", 78, {"a=3Db"}},
                      QpCase{"controlAndHighBytes", "\t\xE9 x", 78, {"=09=E9 x"}},
                      QpCase{"hundredLetters",
                             std::string(100, 'q'),
                             78,
                             {std::string(78, 'q') + "=", std::string(22, 'q')}},
                      QpCase{"exactlyLimitIsOnePiece", std::string(78, 'q'), 78, {std::string(78, 'q')}},
                      QpCase{"cutBeforeLastSpace", "aaaa bbbb cccc", 10, {"aaaa bbbb=", " cccc"}},
                      QpCase{"cutBeforeEscapeFurtherRight",
                             "aa bbb\xE9"
                             "cc",
                             8,
                             {"aa bbb=", "=E9cc"}},
                      QpCase{"escapeAtFirstPositionCutsAtLimit", "\xE9\xE9", 3, {"=E9=", "=E9"}},
                      QpCase{"limitBelowOneStillEnds", "abc", 0, {"a=", "b=", "c"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TMimePartEncode, QuotedPrintableBinaryKeepsLineBreaksInsideAndEndsSoft) {
    Leaf leaf("application", "x\r\ny", TMimeEncoding::ME_QUOTED_PRINTABLE);
    leaf.part.EncodePart();
    EXPECT_THAT(leaf.part.PartBody(), ElementsAre("x=0D=0Ay="));
}

TEST(TMimePartEncode, TextLinesSplitAtEveryKindOfBreak) {
    Leaf leaf("text", "a\r\nb\nc\rd\r\n", TMimeEncoding::ME_8BIT);
    leaf.part.SetConvertCharset(false);
    leaf.part.EncodePart();
    EXPECT_THAT(leaf.part.PartBody(), ElementsAre("a", "b", "c", "d"));
}

TEST(TMimePartEncode, UuBecomesBase64AndReadsSo) {
    Leaf leaf("application", "abc", TMimeEncoding::ME_UU);
    leaf.part.EncodePart();
    leaf.part.EncodePartHeader();
    EXPECT_EQ(leaf.part.Encoding(), "base64");
    EXPECT_EQ(leaf.part.EncodingCode(), TMimeEncoding::ME_BASE64);
    EXPECT_THAT(leaf.part.PartBody(), ElementsAre("YWJj"));
    EXPECT_THAT(leaf.part.Headers(), ::testing::Contains("Content-Transfer-Encoding: Base64"));
}

// ---------------------------------------------------------------------------
// EncodePartHeader

// A double quote in a file name makes it an encoded word, so the quoted value
// never holds a bare quote.
TEST(TMimePartHeader, LineOrderLowerCaseDispositionAndQuotedFileName) {
    TMimePart part;
    part.SetPrimary("application");
    part.SetEncodingCode(TMimeEncoding::ME_BASE64);
    part.SetDisposition("Attachment");
    part.SetFileName("a\"b.bin");
    part.SetContentID("<id@x>");
    part.SetDescription("Attached file");
    part.EncodePartHeader();
    EXPECT_EQ(part.Secondary(), "octet-stream");
    EXPECT_THAT(part.Headers(),
                ElementsAre("Content-type: application/octet-stream; name=\"=?ISO-8859-1?Q?a=22b.bin?=\"",
                            "Content-Transfer-Encoding: Base64", "Content-ID: <id@x>",
                            "Content-Disposition: attachment; FileName=\"=?ISO-8859-1?Q?a=22b.bin?=\"",
                            "Content-Description: Attached file"));
}

TEST(TMimePartHeader, MultipartAndMessageHaveNoTransferEncodingLine) {
    TMimePart multi;
    multi.SetPrimary("Multipart");
    multi.SetBoundary("XYZ");
    multi.EncodePartHeader();
    EXPECT_THAT(multi.Headers(), ElementsAre("Content-type: Multipart/mixed; boundary=\"XYZ\""));

    TMimePart message;
    message.SetPrimary("message");
    message.EncodePartHeader();
    EXPECT_THAT(message.Headers(), ElementsAre("Content-type: message/rfc822"));
}

TEST(TMimePartHeader, AccentedFileNameAndDescriptionAreEncodedWords) {
    TMimePart part;
    part.SetPrimary("text");
    part.SetSecondary("xml");
    part.SetCharsetCode(TMimeChar::UTF_8);
    part.SetFileName("café.xml");
    part.SetDisposition("attachment");
    part.EncodePartHeader();
    ASSERT_EQ(part.Headers().size(), 3u);
    EXPECT_EQ(part.Headers()[0], "Content-type: text/xml; charset=UTF-8; name=\"=?UTF-8?Q?caf=C3=A9.xml?=\"");
}

TEST(TMimePartHeader, LineBreaksInFieldsNeverStartANewHeaderLine) {
    TMimePart part;
    part.SetPrimary("application\r\nX-Type: 1");
    part.SetSecondary("pdf\nX-Sub: 2");
    part.SetEncodingCode(TMimeEncoding::ME_BASE64);
    part.SetDisposition("attachment\r\nBcc: spy@evil.example");
    part.SetContentID("<id@x>\r\nX-Id: 3");
    part.SetDescription("Relat\xC3\xB3rio\r\nX-Description: 4");
    part.SetFileName("a.pdf\r\nX-Name: 5");
    part.EncodePartHeader();
    for (const std::string& line : part.Headers())
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    EXPECT_THAT(part.Headers(), ::testing::Contains("Content-Disposition: attachment  bcc: spy@evil.example; "
                                                    "FileName=\"=?ISO-8859-1?Q?a.pdf=0D=0AX-Name=3A_5?=\""));
    EXPECT_THAT(part.Headers(), ::testing::Contains("Content-ID: <id@x>  X-Id: 3"));
}

// ---------------------------------------------------------------------------
// ComposeParts

struct FoldCase {
    const char* name;
    std::string line;
    Lines expected;
};

class FoldTest : public ::testing::TestWithParam<FoldCase> {};

TEST_P(FoldTest, FoldsHeaderLines) {
    TMimePart part;
    part.Headers() = {GetParam().line};
    part.ComposeParts();
    Lines expected = GetParam().expected;
    expected.emplace_back();
    EXPECT_EQ(part.Lines(), expected);
}

const std::string k77 = "X: " + std::string(35, 'a') + " " + std::string(38, 'b');
const std::string k78 = "X: " + std::string(35, 'a') + " " + std::string(39, 'b');

INSTANTIATE_TEST_SUITE_P(
    Rows, FoldTest,
    ::testing::Values(
        FoldCase{"seventySevenNeverFolded", k77, {k77}},
        FoldCase{
            "seventyEightFoldedAtSpace", k78, {"X: " + std::string(35, 'a'), " " + std::string(39, 'b')}},
        FoldCase{"longWithoutSpaceStaysOneLine", std::string(200, 'z'), {std::string(200, 'z')}},
        FoldCase{"afterSemicolonFirst",
                 "Content-type: text/plain; name=\"" + std::string(60, 'n') + "\"",
                 {"Content-type: text/plain;", " name=\"" + std::string(60, 'n') + "\""}},
        FoldCase{"afterCommaWhenNoSemicolon",
                 "To: " + std::string(30, 'a') + ", " + std::string(50, 'b'),
                 {"To: " + std::string(30, 'a') + ",", " " + std::string(50, 'b')}},
        FoldCase{"onlySpaceBeyondLimit",
                 "Subject: " + std::string(80, 's') + " tail",
                 {"Subject:", " " + std::string(80, 's'), " tail"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TMimePartCompose, EmptyMultipartIsHeadersPreambleAndClosingBoundary) {
    TMimePart part;
    part.SetPrimary("Multipart");
    part.SetBoundary("B");
    part.PrePart() = {"This is a multipart message."};
    part.EncodePartHeader();
    part.ComposeParts();
    EXPECT_THAT(part.Lines(), ElementsAre("Content-type: Multipart/mixed; boundary=\"B\"", "",
                                          "This is a multipart message.", "--B--"));
}

TEST(TMimePartCompose, SubPartsBetweenBoundariesThenEpilogue) {
    TMimePart root;
    root.SetPrimary("Multipart");
    root.SetBoundary("B");
    root.PostPart() = {"epilogue"};
    root.EncodePartHeader();
    for (const char* content : {"one", "two"}) {
        TMimePart& sub = root.AddSubPart();
        sub.SetPrimary("text");
        sub.SetConvertCharset(false);
        sub.DecodedLines() = content;
        sub.EncodePart();
        sub.EncodePartHeader();
    }
    root.ComposeParts();
    const std::string type = "Content-type: text/plain; charset=ISO-8859-1";
    const std::string cte = "Content-Transfer-Encoding: 7bit";
    EXPECT_THAT(root.Lines(), ElementsAre("Content-type: Multipart/mixed; boundary=\"B\"", "", "--B", type,
                                          cte, "", "one", "--B", type, cte, "", "two", "--B--", "epilogue"));
}

// ---------------------------------------------------------------------------
// MimeTypeFromExt

struct ExtCase {
    const char* name;
    const char* file;
    const char* primary;
    const char* secondary;
    TMimePrimary code;
};

class MimeTypeFromExtTest : public ::testing::TestWithParam<ExtCase> {};

TEST_P(MimeTypeFromExtTest, LooksUpTheExtension) {
    TMimePart part;
    part.SetSecondary("stale");
    part.MimeTypeFromExt(GetParam().file);
    EXPECT_EQ(part.Primary(), GetParam().primary);
    EXPECT_EQ(part.Secondary(), GetParam().secondary);
    EXPECT_EQ(part.PrimaryCode(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MimeTypeFromExtTest,
    ::testing::Values(
        ExtCase{"lastExtensionWins", "report.final.PDF", "application", "PDF", TMimePrimary::MP_BINARY},
        ExtCase{"xmlIsText", "data.xml", "text", "xml", TMimePrimary::MP_TEXT},
        ExtCase{"doubleExtension", "backup.tar.gz", "application", "x-gzip", TMimePrimary::MP_BINARY},
        ExtCase{"noExtension", "README", "application", "octet-stream", TMimePrimary::MP_BINARY},
        ExtCase{"bareKeyWithoutDot", "zip", "application", "ZIP", TMimePrimary::MP_BINARY},
        ExtCase{"dotInDirectoryOnly", "C:\\dir.v2\\file", "application", "octet-stream",
                TMimePrimary::MP_BINARY},
        ExtCase{"lowerCaseExtension", "photo.jpg", "image", "JPEG", TMimePrimary::MP_BINARY},
        ExtCase{"caseKeptInTable", "x.xlam", "application", "vnd.ms-excel.addin.macroEnabled.12",
                TMimePrimary::MP_BINARY}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MimeTypeTable, HasEightySevenDistinctUpperCaseExtensions) {
    std::set<std::string_view> seen;
    for (const auto& row : MimeType()) {
        EXPECT_FALSE(row.Extension.empty());
        EXPECT_FALSE(row.Type.empty());
        EXPECT_TRUE(seen.insert(row.Extension).second) << row.Extension;
        for (char c : row.Extension) EXPECT_FALSE(c >= 'a' && c <= 'z') << row.Extension;
    }
    EXPECT_EQ(seen.size(), 87u);
}

// ---------------------------------------------------------------------------
// GenerateBoundary

TEST(GenerateBoundaryTest, FormatAndDistinctTicks) {
    const std::string a = GenerateBoundary();
    const std::string b = GenerateBoundary();
    const ::testing::Matcher<std::string> form =
        ::testing::MatchesRegex("[0-9A-F]{8}_[0-9A-F]{8}_Tandrel_boundary");
    EXPECT_THAT(a, form);
    EXPECT_THAT(b, form);
    EXPECT_EQ(a.size(), 34u);
    EXPECT_NE(a.substr(0, 8), b.substr(0, 8));
}

// However fast they are asked for, no boundary shares its tick with the one made
// just before it.
TEST(GenerateBoundaryTest, BoundariesInARowNeverShareATick) {
    std::string last = GenerateBoundary();
    for (int i = 0; i < 100; ++i) {
        std::string next = GenerateBoundary();
        EXPECT_NE(next.substr(0, 8), last.substr(0, 8));
        last = std::move(next);
    }
}

TEST(GenerateBoundaryTest, OverrideIsScoped) {
    {
        TBoundarySourceOverride pin([] { return std::string("PINNED"); });
        EXPECT_EQ(GenerateBoundary(), "PINNED");
    }
    EXPECT_NE(GenerateBoundary(), "PINNED");
}

// ---------------------------------------------------------------------------
// Decoding

TEST(TMimePartDecode, IsUUcode) {
    EXPECT_TRUE(TMimePart::IsUUcode("begin 644 file.txt"));
    EXPECT_TRUE(TMimePart::IsUUcode("BEGIN x"));
    EXPECT_FALSE(TMimePart::IsUUcode("begin    "));
    EXPECT_FALSE(TMimePart::IsUUcode("beginning 644 x"));
    EXPECT_FALSE(TMimePart::IsUUcode(""));
}

TEST(TMimePartDecode, HeaderFieldsFromFoldedLines) {
    TMimePart part;
    part.Lines() = {
        "Content-Type: Application/PDF;",
        "\tname=\"ignored.pdf\"",
        "content-disposition: attachment; filename=\"C:\\\\docs\\\\=?UTF-8?Q?rel=C3=A1torio?=.pdf\"",
        "Content-Transfer-Encoding: base64",
        "Content-ID: <c1>",
        "",
        "QUJD"};
    part.DecomposeParts();
    EXPECT_EQ(part.Primary(), "Application");
    EXPECT_EQ(part.Secondary(), "PDF");
    EXPECT_EQ(part.PrimaryCode(), TMimePrimary::MP_BINARY);
    EXPECT_EQ(part.Disposition(), "attachment");
    EXPECT_EQ(part.FileName(), "relátorio.pdf");
    EXPECT_EQ(part.ContentID(), "<c1>");
    EXPECT_THAT(part.PartBody(), ElementsAre("QUJD"));
    part.DecodePart();
    EXPECT_EQ(part.DecodedLines(), "ABC");
}

TEST(TMimePartDecode, MissingHeadersGiveTextPlainInDefaultCharset) {
    TMimePart part;
    part.SetDefaultCharset("UTF-8");
    part.Lines() = {"", "body"};
    part.DecomposeParts();
    EXPECT_EQ(part.Primary(), "text");
    EXPECT_EQ(part.Secondary(), "plain");
    EXPECT_EQ(part.CharsetCode(), TMimeChar::UTF_8);
    EXPECT_EQ(part.EncodingCode(), TMimeEncoding::ME_8BIT);
    EXPECT_THAT(part.PartBody(), ElementsAre("body"));
}

TEST(TMimePartDecode, TabAfterTheColon) {
    TMimePart part;
    part.Lines() = {"Content-Type:\tmultipart/mixed;\tboundary=\"zz\"",
                    "",
                    "--zz",
                    "Content-Type:\tapplication/pdf;\tname=\"a.pdf\"",
                    "Content-Transfer-Encoding:\tbase64",
                    "",
                    "QUJD",
                    "--zz--"};
    part.DecomposeParts();
    EXPECT_EQ(part.PrimaryCode(), TMimePrimary::MP_MULTIPART);
    ASSERT_EQ(part.GetSubPartCount(), 1);
    TMimePart& leaf = *part.GetSubPart(0);
    EXPECT_EQ(leaf.Primary(), "application");
    EXPECT_EQ(leaf.FileName(), "a.pdf");
    leaf.DecodePart();
    EXPECT_EQ(leaf.DecodedLines(), "ABC");
}

// RFC 2045 reads an invalid type as text/plain; a multipart without a boundary is one.
struct InvalidTypeCase {
    const char* name;
    std::string contentType;
};
class InvalidTypeTest : public ::testing::TestWithParam<InvalidTypeCase> {};
TEST_P(InvalidTypeTest, ReadsAsTextPlain) {
    TMimePart part;
    part.Lines() = {"Content-Type: " + GetParam().contentType, "", "Ol\xE1,", "-- ", "Ana", "--", "fim"};
    part.DecomposeParts();
    EXPECT_EQ(part.Primary(), "text");
    EXPECT_EQ(part.Secondary(), "plain");
    EXPECT_EQ(part.GetSubPartCount(), 0);
    EXPECT_THAT(part.PartBody(), ElementsAre("Ol\xE1,", "-- ", "Ana", "--", "fim"));
}
INSTANTIATE_TEST_SUITE_P(
    TMimePartDecode, InvalidTypeTest,
    ::testing::Values(InvalidTypeCase{"no_subtype", "text"},
                      InvalidTypeCase{"empty_subtype", "image/; name=a.png"},
                      InvalidTypeCase{"no_primary", "/plain"}, InvalidTypeCase{"empty", ""},
                      InvalidTypeCase{"two_slashes", "text/plain/x"},
                      InvalidTypeCase{"multipart_without_boundary", "multipart/mixed"},
                      InvalidTypeCase{"multipart_empty_boundary", "multipart/mixed; boundary=\"\""}),
    [](const auto& info) { return std::string(info.param.name); });

// RFC 2045 (5.2): a Content-Type that breaks the grammar is invalid as a whole, its
// parameters too: the part is text/plain in the default charset, without a name.
TEST(TMimePartDecode, InvalidTypeIgnoresItsParameters) {
    TMimePart part;
    part.SetDefaultCharset("WINDOWS-1252");
    part.Lines() = {"Content-Type: text; charset=utf-8; name=a.txt", "", "x"};
    part.DecomposeParts();
    EXPECT_EQ(part.Secondary(), "plain");
    EXPECT_EQ(part.CharsetCode(), TMimeChar::CP1252);
    EXPECT_EQ(part.FileName(), "");
}

// RFC 2046, 5.1.5: in a digest a part without Content-Type is a message; elsewhere text.
TEST(TMimePartDecode, DigestPartsWithoutTypeAreMessages) {
    const std::vector<std::string> section = {"From: a@x.com", "Subject: um", "", "corpo"};
    for (const char* subtype : {"digest", "mixed"}) {
        const bool digest = std::string_view(subtype) == "digest";
        std::vector<std::string> lines = {std::string("Content-Type: multipart/") + subtype + "; boundary=d",
                                          "", "--d", ""};
        lines.insert(lines.end(), section.begin(), section.end());
        lines.insert(lines.end(), {"--d", "Content-Type: text/plain", "", "texto", "--d--"});
        std::string bytes;
        for (std::size_t i = 1; i < lines.size(); ++i) bytes += lines[i] + "\r\n";

        TMimePart byLines, byBytes;
        byLines.Lines() = lines;
        byLines.DecomposeParts();
        byBytes.DecomposePartsBinary({lines[0]}, bytes.data(), bytes.data() + bytes.size());
        for (TMimePart* root : {&byLines, &byBytes}) {
            ASSERT_EQ(root->GetSubPartCount(), 2) << subtype;
            const TMimePart& first = *root->GetSubPart(0);
            EXPECT_EQ(first.PrimaryCode(), digest ? TMimePrimary::MP_MESSAGE : TMimePrimary::MP_TEXT)
                << subtype;
            EXPECT_EQ(first.Secondary(), digest ? "rfc822" : "plain") << subtype;
            EXPECT_EQ(first.GetSubPartCount(), digest ? 1 : 0) << subtype;
            if (digest) {
                EXPECT_THAT(first.GetSubPart(0)->Headers(), ElementsAre("From: a@x.com", "Subject: um"));
            }
            EXPECT_EQ(root->GetSubPart(1)->PrimaryCode(), TMimePrimary::MP_TEXT) << subtype;
        }
    }
}

// On the byte road the header lines come without the empty line that ends them; a
// folded last line still belongs to its field.
TEST(TMimePartDecode, BinaryRoadJoinsAFoldedLastHeaderLine) {
    const std::string data = "--b1\r\nContent-Type: text/plain;\r\n name=\"a.txt\"\r\n\r\nabc\r\n--b1--\r\n";
    TMimePart part;
    part.DecomposePartsBinary({"Content-Type: multipart/mixed;", "\tboundary=\"b1\""}, data.data(),
                              data.data() + data.size());
    EXPECT_EQ(part.Boundary(), "b1");
    ASSERT_EQ(part.GetSubPartCount(), 1);
    EXPECT_EQ(part.GetSubPart(0)->FileName(), "a.txt");
    EXPECT_THAT(part.GetSubPart(0)->PartBody(), ElementsAre("abc"));
}

TEST(TMimePartDecode, MultipartPreambleSectionsEpilogue) {
    TMimePart part;
    part.Lines() = {"Content-Type: multipart/mixed; boundary=\"zz\"",
                    "",
                    "preamble",
                    "--zz  ",
                    "Content-Type: text/plain",
                    "",
                    "first",
                    "--zz",
                    "",
                    "second",
                    "--zz--",
                    "epilogue"};
    part.DecomposeParts();
    EXPECT_THAT(part.PrePart(), ElementsAre("preamble"));
    EXPECT_THAT(part.PostPart(), ElementsAre("epilogue"));
    ASSERT_EQ(part.GetSubPartCount(), 2);
    EXPECT_THAT(part.GetSubPart(0)->PartBody(), ElementsAre("first"));
    EXPECT_THAT(part.GetSubPart(1)->PartBody(), ElementsAre("second"));
    EXPECT_EQ(part.GetSubPart(1)->SubLevel(), 1);
}

TEST(TMimePartDecode, MaxSubLevelKeepsSectionsInTheBody) {
    TMimePart part;
    part.SetMaxSubLevel(0);
    part.Lines() = {"Content-Type: multipart/mixed; boundary=zz", "", "--zz", "", "a", "--zz--"};
    part.DecomposeParts();
    EXPECT_EQ(part.GetSubPartCount(), 0);
    EXPECT_THAT(part.PartBody(), ElementsAre("", "a"));
}

TEST(TMimePartDecode, DeepNestingStopsSplittingInsteadOfExhaustingTheStack) {
    TMimePart part;
    for (int i = 0; i < 5000; ++i) {
        std::string boundary = std::to_string(i);  // "x<i>y": no boundary prefixes another
        boundary.insert(0, 1, 'x');
        boundary += 'y';
        part.Lines().push_back("Content-Type: multipart/mixed; boundary=" + boundary);
        part.Lines().push_back("");
        part.Lines().push_back("--" + boundary);
    }
    part.DecomposeParts();
    int depth = 0;
    for (const TMimePart* p = &part; p->GetSubPartCount() > 0; p = p->GetSubPart(0)) ++depth;
    EXPECT_GT(depth, 10);
    EXPECT_LT(depth, 5000);
}

TEST(TMimePartDecode, HtmlDeclaringItsCharsetIsNotConverted) {
    const std::string html = "<html><head><meta http-equiv=\"Content-Type\" content=\"x\"></head>\xE9</html>";
    for (bool forced : {false, true}) {
        TMimePart part;
        part.Lines() = {"Content-Type: text/HTML; charset=iso-8859-1", "Content-Transfer-Encoding: 8bit", "",
                        html};
        part.DecomposeParts();
        part.SetTargetCharset(TMimeChar::UTF_8);
        part.SetForcedHTMLConvert(forced);
        part.DecodePart();
        EXPECT_EQ(part.DecodedLines().find("\xC3\xA9") != std::string::npos, forced) << forced;
    }
}

// RFC 2046, 5.1.1: a close delimiter before any part closes a multipart without parts;
// what follows is its epilogue.
TEST(TMimePartDecode, CloseDelimiterBeforeAnyPartEndsThePreamble) {
    const std::vector<std::string> body = {"pre", "--zz--", "--zz", "", "x"};
    std::string bytes;
    for (const auto& l : body) bytes += l + "\r\n";
    TMimePart byLines, byBytes;
    byLines.Lines() = {"Content-Type: multipart/mixed; boundary=zz", ""};
    byLines.Lines().insert(byLines.Lines().end(), body.begin(), body.end());
    byLines.DecomposeParts();
    byBytes.DecomposePartsBinary({"Content-Type: multipart/mixed; boundary=zz"}, bytes.data(),
                                 bytes.data() + bytes.size());
    EXPECT_THAT(byLines.PrePart(), ElementsAre("pre"));
    EXPECT_THAT(byLines.PostPart(), ElementsAre("--zz", "", "x"));
    EXPECT_THAT(byBytes.PrePart(), ElementsAre("pre"));
    EXPECT_THAT(byBytes.PostPart(), ElementsAre("--zz\r\n\r\nx\r\n"));
    EXPECT_EQ(byLines.GetSubPartCount(), 0);
    EXPECT_EQ(byBytes.GetSubPartCount(), 0);
}

// The groups of a delivery status are its fields; composed again they are the same
// groups, each ended by an empty line.
TEST(TMimePartDecode, DeliveryStatusGroupsComposeBack) {
    TMimePart part;
    part.Lines() = {"Content-Type: message/delivery-status",
                    "",
                    "Reporting-MTA: dns; mx.example.com",
                    "",
                    "",
                    "Final-Recipient: rfc822; a@example.com",
                    "Action: failed",
                    "Status: 5.1.1",
                    "Diagnostic-Code: smtp;",
                    "\t550 unknown",
                    ""};
    part.DecomposeParts();
    ASSERT_EQ(part.GetSubPartCount(), 2);
    EXPECT_THAT(part.GetSubPart(0)->Headers(), ElementsAre("Reporting-MTA: dns; mx.example.com"));
    EXPECT_EQ(part.GetSubPart(1)->FindHeader("diagnostic-code"), "smtp;\t550 unknown");
    EXPECT_EQ(part.GetSubPart(1)->FindHeader("Diagnostic"), "");
    EXPECT_EQ(part.GetSubPart(1)->PrimaryCode(), TMimePrimary::MP_TEXT);
    EXPECT_TRUE(part.PartBody().empty());

    part.ComposeParts();
    EXPECT_THAT(part.Lines(),
                ElementsAre("Content-Type: message/delivery-status", "", "Reporting-MTA: dns; mx.example.com",
                            "", "Final-Recipient: rfc822; a@example.com", "Action: failed", "Status: 5.1.1",
                            "Diagnostic-Code: smtp;\t550 unknown", ""));
}

// Beyond the depth where parsing stops splitting, a delivery status keeps its lines.
TEST(TMimePartDecode, DeliveryStatusBelowMaxSubLevelKeepsItsLines) {
    TMimePart part;
    part.SetMaxSubLevel(0);
    part.Lines() = {"Content-Type: message/delivery-status", "", "Reporting-MTA: dns; x", "",
                    "Action: failed"};
    part.DecomposeParts();
    EXPECT_EQ(part.GetSubPartCount(), 0);
    EXPECT_THAT(part.PartBody(), ElementsAre("Reporting-MTA: dns; x", "", "Action: failed"));
}

TEST(TMimePartDecode, BinaryDecomposerKeepsBodiesWholeAndFindsUUcode) {
    const std::string data =
        "pre\r\n--B\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
        "line1\r\nline2\r\n--B\r\nContent-Type: text/plain\r\n\r\nbegin 644 "
        "x.txt\r\n#86)C\r\nend\r\n--B--\r\npost";
    TMimePart part;
    part.DecomposePartsBinary({"Content-Type: multipart/mixed; boundary=B"}, data.data(),
                              data.data() + data.size());
    EXPECT_THAT(part.PrePart(), ElementsAre("pre"));
    EXPECT_THAT(part.PostPart(), ElementsAre("post"));
    ASSERT_EQ(part.GetSubPartCount(), 2);
    TMimePart& bin = *part.GetSubPart(0);
    EXPECT_THAT(bin.PartBody(), ElementsAre("line1\r\nline2"));
    EXPECT_FALSE(bin.AttachInside());
    bin.DecodePart();
    EXPECT_EQ(bin.DecodedLines(), "line1\r\nline2");
    EXPECT_TRUE(part.GetSubPart(1)->AttachInside());
}

// ---------------------------------------------------------------------------
// Round trips: encode, compose, decompose, decode

struct RoundTripCase {
    const char* name;
    const char* primary;
    TMimeEncoding encoding;
    std::string content;
};

class PartRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(PartRoundTripTest, ContentComesBack) {
    TMimePart part;
    part.SetPrimary(GetParam().primary);
    part.SetEncodingCode(GetParam().encoding);
    part.SetCharsetCode(TMimeChar::UTF_8);
    part.SetFileName("file.bin");
    part.DecodedLines() = GetParam().content;
    part.EncodePart();
    part.EncodePartHeader();
    part.ComposeParts();

    TMimePart back;
    back.Lines() = part.Lines();
    back.DecomposeParts();
    EXPECT_EQ(back.EncodingCode(), GetParam().encoding);
    EXPECT_EQ(back.FileName(), "file.bin");
    back.DecodePart();
    EXPECT_EQ(back.DecodedLines(), GetParam().content);
}

std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s + s;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PartRoundTripTest,
    ::testing::Values(
        RoundTripCase{"binaryBase64", "application", TMimeEncoding::ME_BASE64, AllBytes()},
        RoundTripCase{"binaryQuotedPrintable", "application", TMimeEncoding::ME_QUOTED_PRINTABLE, AllBytes()},
        RoundTripCase{"textBase64Converted", "text", TMimeEncoding::ME_BASE64,
                      "Ol\xE1, S\xE3o Paulo \x80 10\r\nlinha 2\r\n"},
        RoundTripCase{"textQuotedPrintableLongLines", "text", TMimeEncoding::ME_QUOTED_PRINTABLE,
                      std::string(300, 'x') + " = " + std::string(100, '\xE7') + "\r\n\r\nend\r\n"},
        RoundTripCase{"textEightBit", "text", TMimeEncoding::ME_8BIT, "a\r\n\xE9\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tandrel::mime
