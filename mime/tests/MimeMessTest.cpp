#include "mime/MimeMess.h"
#include "support/Codings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace tandrel::mime {
namespace {

using ::testing::ElementsAre;

using Lines = std::vector<std::string>;

TDateTime FixedDate() { return EncodeDateTime(2026, 12, 9, 1, 23, 45); }

// Boundaries "B1", "B2", ... in the order they are asked for.
class PinnedBoundaries {
public:
    PinnedBoundaries() : FPin([this] { return "B" + std::to_string(++FCount); }) {}

private:
    int FCount = 0;
    TBoundarySourceOverride FPin;
};

std::string Joined(const Lines& Lines) {
    std::string out;
    for (const auto& l : Lines) out += l + "\r\n";
    return out;
}

class TempDir {
public:
    TempDir() {
        std::string templ = (std::filesystem::temp_directory_path() / "mimemess-XXXXXX").string();
        FPath = ::mkdtemp(templ.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    std::string Write(const std::string& Name, const std::string& Bytes) const {
        const auto path = (FPath / Name).string();
        std::ofstream(path, std::ios::binary) << Bytes;
        return path;
    }

private:
    std::filesystem::path FPath;
};

TEST(TMimeMessEncode, MixedMessageByteForByte) {
    PinnedBoundaries pin;
    TMimeMess mess;
    mess.Header().SetCharsetCode(TMimeChar::UTF_8);
    mess.Header().SetFrom("\"Loja\" <loja@x.com>");
    mess.Header().ToList() = {"cliente@x.com"};
    mess.Header().SetSubject("Dados Cadastrais do Cliente");
    mess.Header().SetDate(FixedDate());
    mess.Header().SetXMailer("Tandrel - MailSender");

    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    mess.AddPartTextEx({"Nome: Jo\xC3\xA3o"}, &root, TMimeChar::UTF_8, false, TMimeEncoding::ME_BASE64);
    mess.AddPartBinary("<x/>", "Cliente_001.xml", &root);
    mess.EncodeMessage();

    const std::string expected =
        "From: \"Loja\" <loja@x.com>\r\n"
        "To: cliente@x.com\r\n"
        "Subject: Dados Cadastrais do Cliente\r\n"
        "Date: " +
        Rfc822DateTime(FixedDate()) +
        "\r\n"
        "MIME-Version: 1.0 (produced by Tandrel)\r\n"
        "X-mailer: Tandrel - MailSender\r\n"
        "Content-type: Multipart/mixed; boundary=\"B1\"\r\n"
        "Content-Description: Multipart message\r\n"
        "\r\n"
        "--B1\r\n"
        "Content-type: text/plain; charset=UTF-8\r\n"
        "Content-Transfer-Encoding: Base64\r\n"
        "Content-Disposition: inline\r\n"
        "Content-Description: Message text\r\n"
        "\r\n" +
        support::EncodeBase64("\xEF\xBB\xBFNome: Jo\xC3\xA3o\r\n") +
        "\r\n"
        "--B1\r\n"
        "Content-type: text/xml; charset=ISO-8859-1; name=\"Cliente_001.xml\"\r\n"
        "Content-Transfer-Encoding: Base64\r\n"
        "Content-Disposition: attachment; FileName=\"Cliente_001.xml\"\r\n"
        "Content-Description: =?ISO-8859-1?Q?Attached_file=3A_Cliente=5F001.xml?=\r\n"
        "\r\n"
        "PHgvPg==\r\n"
        "--B1--\r\n";
    EXPECT_EQ(Joined(mess.Lines()), expected);
}

TEST(TMimeMessEncode, RootContentLinesFollowTheHeaderInFixedOrder) {
    TMimeMess mess;
    mess.Header().SetDate(FixedDate());
    TMimePart& root = mess.AddPart(nullptr);
    root.SetPrimary("application");
    root.SetEncodingCode(TMimeEncoding::ME_BASE64);
    root.SetContentID("<c>");
    root.SetDisposition("attachment");
    root.SetDescription("d");
    root.DecodedLines() = "abc";
    root.EncodePart();
    root.EncodePartHeader();
    root.Headers().push_back("X-Dropped: yes");
    mess.EncodeMessage();
    const Lines& l = mess.Lines();
    ASSERT_GE(l.size(), 11u);
    EXPECT_THAT(Lines(l.begin() + 4, l.end()),
                ElementsAre("Content-type: application/octet-stream", "Content-Description: d",
                            "Content-Disposition: attachment", "Content-ID: <c>",
                            "Content-Transfer-Encoding: Base64", "", "YWJj"));
}

// The composed message is held as bytes whose base64 bodies are the parts' own:
// taking the bytes twice copies no body, and the line list is a view of the same
// message that, once changed, is what the message holds.
TEST(TMimeMessEncode, BytesShareBodiesAndFollowChangedLines) {
    PinnedBoundaries pin;
    TMimeMess mess;
    mess.Header().SetDate(FixedDate());
    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    mess.AddPartBinary(std::string(100000, '\x7F'), "dados.bin", &root);
    mess.EncodeMessage();

    const TMessageBytes first = mess.Bytes();
    const TMessageBytes second = mess.Bytes();
    const auto largest = [](const TMessageBytes& B) {
        std::string_view big;
        for (const std::string_view piece : B.Pieces())
            if (piece.size() > big.size()) big = piece;
        return big;
    };
    EXPECT_GT(largest(first).size(), 100000u);
    EXPECT_EQ(largest(first).data(), largest(second).data());
    EXPECT_EQ(Joined(mess.Lines()), first.Joined());

    std::vector<std::string> appended = mess.Lines();
    appended.push_back("appended");
    mess.SetLines(appended);
    EXPECT_EQ(mess.Bytes().Joined(), first.Joined() + "appended\r\n");
    // Encoding again composes from the tree once more.
    mess.EncodeMessage();
    EXPECT_EQ(mess.Bytes().Joined(), first.Joined());
}

TEST(TMimeMessParts, EncodedBodyChangedAfterwardsIsComposedAsChanged) {
    TMimePart part;
    part.SetPrimary("application");
    part.SetEncodingCode(TMimeEncoding::ME_BASE64);
    part.DecodedLines() = std::string(60, 'z');
    part.EncodePart();
    TMimePart copy;
    copy.Assign(part);
    EXPECT_EQ(copy.PartBody(), part.PartBody());
    std::vector<std::string> extra = part.PartBody();
    extra.push_back("extra");
    part.SetPartBody(extra);
    part.ComposeParts();
    ASSERT_FALSE(part.Lines().empty());
    EXPECT_EQ(part.Lines().back(), "extra");
    copy.ComposeParts();
    EXPECT_EQ(copy.Lines().back(), "enp6enp6");
}

TEST(TMimeMessParts, AddOperationsFillTheirFields) {
    struct Row {
        const char* name;
        std::function<TMimePart&(TMimeMess&)> add;
        const char* primary;
        const char* secondary;
        const char* description;
        const char* disposition;
        TMimeEncoding encoding;
        TMimeChar charset;
    };
    const std::vector<Row> rows{
        {"text", [](TMimeMess& M) -> TMimePart& { return M.AddPartText({"Ol\xC3\xA1"}, nullptr); }, "text",
         "plain", "Message text", "inline", TMimeEncoding::ME_QUOTED_PRINTABLE, TMimeChar::ISO_8859_1},
        {"html", [](TMimeMess& M) -> TMimePart& { return M.AddPartHTML({"<b>x</b>"}, nullptr); }, "text",
         "html", "HTML text", "inline", TMimeEncoding::ME_QUOTED_PRINTABLE, TMimeChar::UTF_8},
        {"binary", [](TMimeMess& M) -> TMimePart& { return M.AddPartBinary("%PDF", "a.pdf", nullptr); },
         "application", "PDF", "Attached file: a.pdf", "attachment", TMimeEncoding::ME_BASE64,
         TMimeChar::ISO_8859_1},
        {"htmlBinary",
         [](TMimeMess& M) -> TMimePart& { return M.AddPartHTMLBinary("GIF8", "p.gif", "<p1>", nullptr); },
         "image", "GIF", "Included file: p.gif", "inline", TMimeEncoding::ME_BASE64, TMimeChar::ISO_8859_1},
        {"multipart", [](TMimeMess& M) -> TMimePart& { return M.AddPartMultipart("related", nullptr); },
         "Multipart", "related", "Multipart message", "", TMimeEncoding::ME_7BIT, TMimeChar::ISO_8859_1},
        {"message",
         [](TMimeMess& M) -> TMimePart& {
             return M.AddPartMess({"Subject: inner", "", "hi"}, nullptr);
         },
         "message", "rfc822", "E-mail Message", "", TMimeEncoding::ME_7BIT, TMimeChar::ISO_8859_1},
    };
    for (const Row& row : rows) {
        TMimeMess mess;
        const TMimePart& part = row.add(mess);
        EXPECT_EQ(part.Primary(), row.primary) << row.name;
        EXPECT_EQ(part.Secondary(), row.secondary) << row.name;
        EXPECT_EQ(part.Description(), row.description) << row.name;
        EXPECT_EQ(part.Disposition(), row.disposition) << row.name;
        EXPECT_EQ(part.EncodingCode(), row.encoding) << row.name;
        EXPECT_EQ(part.CharsetCode(), row.charset) << row.name;
        EXPECT_EQ(part.Encoding(), "") << row.name;
        EXPECT_EQ(part.Charset(), "") << row.name;
        EXPECT_FALSE(part.Headers().empty()) << row.name;
    }
}

TEST(TMimeMessParts, TextAttachmentBytesAreNeverConverted) {
    TMimeMess mess;
    const std::string bytes = "<nome>Jo\xC3\xA3o \xE2\x82\xAC</nome>";  // UTF-8 file content
    const TMimePart& part = mess.AddPartBinary(bytes, "c.xml", nullptr);
    std::string body;
    for (const auto& l : part.PartBody()) body += l;
    EXPECT_EQ(support::DecodeBase64(body), bytes);
}

TEST(TMimeMessParts, AddPartWithoutParentRestartsTheTree) {
    TMimeMess mess;
    TMimePart& first = mess.AddPartMultipart("mixed", nullptr);
    mess.AddPartText({"a"}, &first);
    const std::string firstBoundary = first.Boundary();
    TMimePart& second = mess.AddPartMultipart("alternative", nullptr);
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(second.GetSubPartCount(), 0);
    EXPECT_NE(second.Boundary(), firstBoundary);
}

TEST(TMimeMessParts, FromFileReadsBytesAndNamesWithoutDirectory) {
    TempDir dir;
    const std::string path = dir.Write("foto.png", std::string("\x89PNG\r\n\x1A\n\0\x01", 10));
    TMimeMess mess;
    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    const TMimePart& part = mess.AddPartBinaryFromFile(path, &root);
    EXPECT_EQ(part.FileName(), "foto.png");
    EXPECT_EQ(part.Secondary(), "PNG");
    EXPECT_EQ(part.DecodedLines(), std::string("\x89PNG\r\n\x1A\n\0\x01", 10));

    const std::string text = dir.Write("t.txt", "linha 1\nlinha \xE9\n");
    const TMimePart& textPart = mess.AddPartTextFromFile(text, &root);
    EXPECT_EQ(textPart.DecodedLines(), "linha 1\r\nlinha \xE9\r\n");
}

// On this system only "/" separates folders: a "\\" or ":" is part of the file's name.
TEST(TMimeMessParts, FromFileNamesAreTheFilesOwnNames) {
    TempDir dir;
    TMimeMess mess;
    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    for (const std::string name : {"relatorio\\2026.txt", "Cliente_001 10:30.xml"}) {
        const std::string path = dir.Write(name, "x");
        EXPECT_EQ(mess.AddPartBinaryFromFile(path, &root).FileName(), name);
        EXPECT_EQ(mess.AddPartHTMLBinaryFromFile(path, "<c>", &root).FileName(), name);
    }
}

TEST(TMimeMessParts, UnreadableFileThrowsAndAddsNoPart) {
    TMimeMess mess;
    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    const std::string missing = "/nonexistent-dir/none.bin";
    EXPECT_THROW(mess.AddPartBinaryFromFile(missing, &root), std::system_error);
    EXPECT_THROW(mess.AddPartTextFromFile(missing, &root), std::system_error);
    EXPECT_THROW(mess.AddPartMessFromFile(missing, &root), std::system_error);
    EXPECT_EQ(root.GetSubPartCount(), 0);
}

TEST(TMimeMessParts, HeaderFactoryIsUsed) {
    struct Tagged : TMessHeader {
        void EncodeHeaders(std::vector<std::string>& Value) override {
            TMessHeader::EncodeHeaders(Value);
            Value.insert(Value.begin(), "X-Tag: derived");
        }
    };
    auto mess = TMimeMess::CreateAltHeaders([] { return std::make_unique<Tagged>(); });
    mess->Header().SetDate(FixedDate());
    mess->AddPartMultipart("mixed", nullptr);
    mess->EncodeMessage();
    EXPECT_EQ(mess->Lines().front(), "X-Tag: derived");
}

// ---------------------------------------------------------------------------
// Round trips through our own parser

struct Built {
    TMimeMess mess;
    std::string attachment;
    Built() {
        for (int i = 0; i < 5000; ++i) attachment.push_back(static_cast<char>((i * 7919) & 0xFF));
        mess.Header().SetCharsetCode(TMimeChar::UTF_8);
        mess.Header().SetFrom("\"Jo\xC3\xA3o, Vendas: SP\" <vendas@x.com>");
        mess.Header().ToList() = {"a@x.com", "\"Ana Lu\xC3\xADsa\" <ana@x.com>"};
        mess.Header().SetSubject("Ol\xC3\xA1: seu cadastro, pronto");
        mess.Header().SetDate(FixedDate());
        TMimePart& root = mess.AddPartMultipart("alternative", nullptr);
        mess.AddPartTextEx({"Texto simples \xC3\xA7"}, &root, TMimeChar::UTF_8, false,
                           TMimeEncoding::ME_BASE64);
        TMimePart& related = mess.AddPartMultipart("related", &root);
        mess.AddPartHTML({"<p>HTML \xC3\xA9</p>"}, &related);
        mess.AddPartBinary(attachment, "dados.bin", &related);
        mess.EncodeMessage();
    }
};

// LastBreak: what ends the quoted-printable body; the binary decomposer gives
// the line break before a boundary to the boundary, as multipart framing says.
void ExpectSameTree(TMimeMess& Back, const std::string& Attachment, const std::string& LastBreak) {
    EXPECT_EQ(Back.Header().Subject(), "Ol\xC3\xA1: seu cadastro, pronto");
    EXPECT_EQ(Back.Header().From(), "\"Jo\xC3\xA3o, Vendas: SP\" <vendas@x.com>");
    EXPECT_THAT(Back.Header().ToList(), ElementsAre("a@x.com", "\"Ana Lu\xC3\xADsa\" <ana@x.com>"));
    TMimePart& root = Back.MessagePart();
    EXPECT_EQ(root.Secondary(), "alternative");
    ASSERT_EQ(root.GetSubPartCount(), 2);
    TMimePart& text = *root.GetSubPart(0);
    text.DecodePart();
    EXPECT_EQ(text.CharsetCode(), TMimeChar::UTF_8);
    EXPECT_EQ(text.DecodedLines(), "Texto simples \xE7\r\n");  // inside the base64
    TMimePart& related = *root.GetSubPart(1);
    ASSERT_EQ(related.GetSubPartCount(), 2);
    TMimePart& html = *related.GetSubPart(0);
    html.DecodePart();
    EXPECT_EQ(html.Secondary(), "html");
    EXPECT_EQ(html.DecodedLines(), "<p>HTML \xE9</p>" + LastBreak);
    TMimePart& bin = *related.GetSubPart(1);
    bin.DecodePart();
    EXPECT_EQ(bin.FileName(), "dados.bin");
    EXPECT_EQ(bin.DecodedLines(), Attachment);
}

TEST(TMimeMessRoundTrip, DecodeMessageGivesTheTreeBack) {
    Built built;
    TMimeMess back;
    back.SetLines(built.mess.Lines());
    back.DecodeMessage();
    ExpectSameTree(back, built.attachment, "\r\n");
}

TEST(TMimeMessRoundTrip, DecodeMessageBinaryGivesTheTreeBack) {
    Built built;
    const std::string wire = Joined(built.mess.Lines());
    const auto split = wire.find("\r\n\r\n");
    Lines header;
    std::size_t start = 0;
    while (start < split) {
        const auto end = wire.find("\r\n", start);
        header.push_back(wire.substr(start, end - start));
        start = end + 2;
    }
    TMimeMess back;
    back.DecodeMessageBinary(header, std::string_view(wire).substr(split + 4));
    ExpectSameTree(back, built.attachment, "");
}

// The caller hands the header lines over without the empty line that ends them.
TEST(TMimeMessDecode, BinaryRoadJoinsAFoldedLastHeaderLine) {
    const std::string body = "--b1\r\nContent-Type: text/plain\r\n\r\nabc\r\n--b1--\r\n";
    TMimeMess mess;
    mess.DecodeMessageBinary({"Content-Type: multipart/mixed;", " boundary=b1",
                              "Subject: =?UTF-8?Q?Ol=C3=A1?=", "\t=?UTF-8?Q?_mundo?="},
                             body);
    EXPECT_EQ(mess.Header().Subject(), "Ol\xC3\xA1 mundo");
    EXPECT_EQ(mess.MessagePart().GetSubPartCount(), 1);
}

TEST(TMimeMessRoundTrip, EmbeddedMessageIsComposedFromItsParsedTree) {
    TMimeMess mess;
    mess.Header().SetDate(FixedDate());
    TMimePart& root = mess.AddPartMultipart("mixed", nullptr);
    mess.AddPartMess({"Subject: inner", "Content-Type: text/plain", "", "inner body"}, &root);
    mess.EncodeMessage();
    const std::string wire = Joined(mess.Lines());
    EXPECT_NE(wire.find("Content-type: message/rfc822\r\nContent-Description: E-mail Message\r\n\r\n"
                        "Subject: inner\r\nContent-Type: text/plain\r\n\r\ninner body\r\n"),
              std::string::npos)
        << wire;
}

}  // namespace
}  // namespace tandrel::mime
