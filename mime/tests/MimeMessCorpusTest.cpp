// Messages in the shapes common mail programs write (tests/data/corpus, see its
// README), read by our parser on both roads and by Python's email package: the same
// tree, types, file names, decoded bytes and subject.

#include "mime/MD5.h"
#include "mime/MimeMess.h"
#include "mime/detail/MimePartText.h"
#include "support/AsciiText.h"
#include "support/Codings.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tandrel::mime {
namespace {

namespace fs = std::filesystem;

const fs::path& CorpusFolder() {
    static const fs::path folder = fs::path(TANDREL_SOURCE_DIR) / "mime/tests/data/corpus";
    return folder;
}

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(CorpusFolder()))
        if (entry.path().extension() == ".eml") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadBytes(const fs::path& File) {
    std::ifstream in(File, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// How a tree is written: as read_message_tree.py writes it, with the same options.
struct TreeStyle {
    // The line road keeps a body as lines and ends each with CR LF, so it cannot tell the
    // line break that RFC 2046 gives to the boundary after a body from the body's own:
    // there the comparison leaves the line breaks at the end of a body out.
    bool TrimFinalBreaks = false;
    // Bytes and subject written out (escaped), charsets, file names without folders and
    // the fields of delivery-status groups, instead of sizes and digests.
    bool Readable = false;
};

std::string_view Trimmed(std::string_view Bytes, bool TrimFinalBreaks) {
    while (TrimFinalBreaks && Bytes.ends_with("\r\n")) Bytes.remove_suffix(2);
    return Bytes;
}

std::string Escaped(std::string_view Bytes) {
    std::string out = "\"";
    for (const char c : Bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b >= 0x20 && b < 0x7F) {
            out += c;
        } else if (c == '\t' || c == '\n' || c == '\r') {
            out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        }
    }
    return out + "\"";
}

// The fields of a header block as "Name: value | ...".
std::string Fields(const std::vector<std::string>& Headers) {
    std::string out;
    for (const std::string& line : Headers) {
        if (!out.empty()) out += " | ";
        out += line.substr(0, line.find(':')) + ": " + detail::HeaderValueOf(line);
    }
    return out;
}

void AddNode(TMimePart& Part, int Depth, const TreeStyle& Style, bool InDeliveryStatus, std::string& Out) {
    Out += std::string(2 * static_cast<std::size_t>(Depth), ' ') +
           support::LowerAscii(Part.Primary() + "/" + Part.Secondary());
    if (Part.PrimaryCode() == TMimePrimary::MP_MULTIPART || Part.PrimaryCode() == TMimePrimary::MP_MESSAGE) {
        Out += "\n";
        const std::string subtype = support::LowerAscii(Part.Secondary());
        const bool groups = subtype == "delivery-status" || subtype == "global-delivery-status";
        for (int i = 0; i < Part.GetSubPartCount(); ++i)
            AddNode(*Part.GetSubPart(i), Depth + 1, Style, groups, Out);
        return;
    }
    if (Style.Readable && Part.PrimaryCode() == TMimePrimary::MP_TEXT && !Part.Charset().empty())
        Out += " charset=" + support::LowerAscii(Part.Charset());
    if (!Part.FileName().empty()) Out += " file=" + Part.FileName();
    if (Style.Readable && InDeliveryStatus) Out += " fields=" + Fields(Part.Headers());
    Part.SetConvertCharset(false);  // the transfer-decoded bytes, as Python gives them
    Part.DecodePart();
    const std::string_view bytes = Trimmed(Part.DecodedLines(), Style.TrimFinalBreaks);
    if (Style.Readable)
        Out += " " + Escaped(bytes) + "\n";
    else
        Out += " bytes=" + std::to_string(bytes.size()) + " " + support::StrToHex(MD5(bytes)) + "\n";
}

std::string TreeOf(TMimeMess& Mess, const TreeStyle& Style) {
    const std::string& subject = Mess.Header().Subject();
    std::string out = "subject: " + (Style.Readable ? Escaped(subject) : subject) + "\n";
    AddNode(Mess.MessagePart(), 0, Style, false, out);
    return out;
}

std::string PythonTree(const std::string& File, const TreeStyle& Style) {
    const std::string script = std::string(TANDREL_SOURCE_DIR) + "/mime/tests/read_message_tree.py";
    std::vector<std::string> argv{TANDREL_PYTHON, script, File};
    if (Style.TrimFinalBreaks) argv.emplace_back("--trim-final-breaks");
    if (Style.Readable) argv.emplace_back("--readable");
    testing::ChildProcess python(argv, {.MergeStderr = true});
    EXPECT_EQ(python.Wait(), 0) << python.Output();
    return python.Output();
}

// A message on the line road (DecodeMessage) or the byte road (DecodeMessageBinary).
void Decode(TMimeMess& Mess, const std::string& Bytes, bool ByteRoad) {
    if (!ByteRoad) {
        Mess.SetLines(SplitLines(Bytes, TLineBreak::Any));
        Mess.DecodeMessage();
        return;
    }
    const std::size_t split = Bytes.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos);
    Mess.DecodeMessageBinary(SplitLines(std::string_view(Bytes).substr(0, split), TLineBreak::Any),
                             std::string_view(Bytes).substr(split + 4));
}

class CorpusReadLikePython : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!fs::exists(TANDREL_PYTHON)) GTEST_SKIP() << "no " << TANDREL_PYTHON << " on this machine";
        FIle = (CorpusFolder() / GetParam()).string();
        FBytes = ReadBytes(FIle);
        FMess.Header().SetCharsetCode(TMimeChar::UTF_8);
    }
    std::string FIle, FBytes;
    TMimeMess FMess;
};

TEST_P(CorpusReadLikePython, OnTheLineRoad) {
    Decode(FMess, FBytes, false);
    EXPECT_EQ(TreeOf(FMess, {.TrimFinalBreaks = true}), PythonTree(FIle, {.TrimFinalBreaks = true}));
}

TEST_P(CorpusReadLikePython, OnTheByteRoad) {
    Decode(FMess, FBytes, true);
    EXPECT_EQ(TreeOf(FMess, {}), PythonTree(FIle, {}));
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusReadLikePython, ::testing::ValuesIn(CorpusFiles()),
                         [](const auto& info) {
                             std::string name = fs::path(info.param).stem().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// A program that reads bounces asks each recipient's group which address failed and why.
TEST(DeliveryReport, EachRecipientItsActionStatusAndDiagnosticCanBeAsked) {
    struct Recipient {
        const char* FinalRecipient;
        const char* Status;
        const char* Diagnostic;
    };
    const Recipient expected[] = {
        {"rfc822; jose.silva@clientes.example", "5.1.1",
         // Unfolding keeps the fold's white space.
         "smtp; 550 5.1.1 <jose.silva@clientes.example>: Recipient    address rejected: User unknown in "
         "virtual "
         "mailbox table"},
        {"rfc822; jo\xC3\xA3o@clientes.example", "5.2.2",
         "smtp; 552 5.2.2 <jo\xC3\xA3o@clientes.example>: Mailbox full"},
    };
    const std::string bytes = ReadBytes(CorpusFolder() / "delivery-status-bounce.eml");
    for (const bool byteRoad : {false, true}) {
        SCOPED_TRACE(byteRoad ? "byte road" : "line road");
        TMimeMess mess;
        Decode(mess, bytes, byteRoad);
        const TMimePart* report = mess.MessagePart().GetSubPart(1);
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->Secondary(), "delivery-status");
        ASSERT_EQ(report->GetSubPartCount(), 3);
        const TMimePart& perMessage = *report->GetSubPart(0);
        EXPECT_EQ(perMessage.FindHeader("Reporting-MTA"), "dns; mx1.clientes.example");
        EXPECT_EQ(perMessage.FindHeader("arrival-date"), "Wed,  9 Dec 2026 01:24:01 -0300 (-03)");
        for (int i = 0; i < 2; ++i) {
            const TMimePart& group = *report->GetSubPart(i + 1);
            EXPECT_EQ(group.FindHeader("Final-Recipient"), expected[i].FinalRecipient);
            EXPECT_EQ(group.FindHeader("Action"), "failed");
            EXPECT_EQ(group.FindHeader("Status"), expected[i].Status);
            EXPECT_EQ(group.FindHeader("Diagnostic-Code"), expected[i].Diagnostic);
            EXPECT_TRUE(group.PartBody().empty() || group.PartBody() == std::vector<std::string>{""});
        }
    }
}

// Small messages, each a case where the standards say how it reads; Python's email
// reads the same, or otherwise as its row notes.
struct ReadingCase {
    const char* Name;
    std::vector<std::string> Lines;  // the message; each line ends with CR LF
    const char* Tree;                // as the standards read it (read_message_tree.py --readable)
    const char* PythonTree = "";     // Python's email where it reads otherwise
    friend void PrintTo(const ReadingCase& C, std::ostream* Os) { *Os << C.Name; }
};

std::string MessageOf(const ReadingCase& Case) {
    std::string bytes;
    for (const std::string& line : Case.Lines) bytes += line + "\r\n";
    return bytes;
}

const ReadingCase kReadingCases[] = {
    // RFC 5322, 2.2.3: unfolding removes the CR LF only.
    {"folded_header_keeps_its_white_space",
     {"Subject: a", "\tb  c", "   d", "Content-Type: text/plain; charset=utf-8", "", "texto"},
     "subject: \"a\\tb  c   d\"\n"
     "text/plain charset=utf-8 \"texto\"\n"},
    // RFC 2047, 6.2: white space between encoded words is dropped, folded or not.
    {"fold_between_encoded_words",
     {"Subject: =?UTF-8?Q?Ol=C3=A1,?=", " =?UTF-8?Q?_Ana?=", "", "x"},
     "subject: \"Ol\\xc3\\xa1, Ana\"\n"
     "text/plain \"x\"\n"},
    // RFC 5322, 3.5: the header section may be empty; the body follows the empty line.
    {"embedded_message_with_empty_header",
     {"Content-Type: message/rfc822", "", "", "Corpo da mensagem", "segunda linha"},
     "subject: \"\"\n"
     "message/rfc822\n"
     "  text/plain \"Corpo da mensagem\\r\\nsegunda linha\"\n"},
    {"embedded_message_with_empty_header_in_a_multipart",
     {"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: message/rfc822", "", "", "corpo",
      "--b--"},
     "subject: \"\"\n"
     "multipart/mixed\n"
     "  message/rfc822\n"
     "    text/plain \"corpo\"\n"},
    // RFC 2046, 5.1.1: a delimiter is "--" boundary, optional white space, the line end.
    {"boundaries_sharing_a_prefix",
     {"Content-Type: multipart/mixed; boundary=X", "", "--X",
      "Content-Type: multipart/alternative; boundary=X_alt", "", "--X_alt", "Content-Type: text/plain", "",
      "plain", "--X_alt", "Content-Type: text/html", "", "<p>html</p>", "--X_alt--", "--X",
      "Content-Type: text/plain", "", "depois", "--X--"},
     "subject: \"\"\n"
     "multipart/mixed\n"
     "  multipart/alternative\n"
     "    text/plain \"plain\"\n"
     "    text/html \"<p>html</p>\"\n"
     "  text/plain \"depois\"\n"},
    {"delimiter_lines_by_the_grammar",
     {"Content-Type: multipart/mixed; boundary=X", "", "--X \t", "Content-Type: text/plain", "", "--Xy",
      "--X--x", "-- X", "--X--  ", "fim"},
     "subject: \"\"\n"
     "multipart/mixed\n"
     "  text/plain \"--Xy\\r\\n--X--x\\r\\n-- X\"\n"},
    // RFC 5322, 3.2.4 (via RFC 2045, 5.1): in a quoted string a backslash escapes the
    // next character; then RFC 2183, 2.3: only the last path component is kept.
    {"quoted_name_with_escaped_quotes",
     {"Content-Type: application/pdf; name=\"Pedido \\\"42\\\".pdf\"", "Content-Transfer-Encoding: base64",
      "", "QUJD"},
     "subject: \"\"\n"
     "application/pdf file=Pedido \"42\".pdf \"ABC\"\n"},
    {"escaped_windows_path_keeps_its_last_component",
     {"Content-Type: application/pdf", "Content-Disposition: attachment;",
      " filename=\"C:\\\\Users\\\\Ana\\\\nota fiscal.pdf\"", "Content-Transfer-Encoding: base64", "", "QUJD"},
     "subject: \"\"\n"
     "application/pdf file=nota fiscal.pdf \"ABC\"\n"},
    {"lone_backslashes_are_escapes",
     {"Content-Type: application/pdf", "Content-Disposition: attachment; filename=\"C:\\Users\\nota.pdf\"",
      "", "x"},
     "subject: \"\"\n"
     "application/pdf file=C:Usersnota.pdf \"x\"\n"},
    {"slash_separates_folders",
     {"Content-Type: application/pdf", "Content-Disposition: attachment; filename=\"docs/2026/nota.pdf\"", "",
      "x"},
     "subject: \"\"\n"
     "application/pdf file=nota.pdf \"x\"\n"},
    {"colon_belongs_to_the_name",
     {"Content-Type: application/xml; name=\"Cliente_001 10:30.xml\"", "", "x"},
     "subject: \"\"\n"
     "application/xml file=Cliente_001 10:30.xml \"x\"\n"},
    // RFC 2231: every parameter the reader uses, in either form.
    {"rfc2231_file_name_with_a_folder",
     {"Content-Type: application/pdf",
      "Content-Disposition: attachment; filename*=UTF-8''pasta%5Crelat%C3%B3rio.pdf", "", "x"},
     "subject: \"\"\n"
     "application/pdf file=relat\xC3\xB3rio.pdf \"x\"\n"},
    {"rfc2231_name_in_sections",
     {"Content-Type: application/pdf; name*0*=UTF-8''relat%C3%B3rio; name*1=\".pdf\"", "", "x"},
     "subject: \"\"\n"
     "application/pdf file=relat\xC3\xB3rio.pdf \"x\"\n"},
    {"rfc2231_boundary",
     {"Content-Type: multipart/mixed; boundary*=us-ascii'en'b%3D1", "", "--b=1", "", "um", "--b=1--"},
     "subject: \"\"\n"
     "multipart/mixed\n"
     "  text/plain \"um\"\n"},
    {"rfc2231_boundary_in_sections",
     {"Content-Type: multipart/mixed; boundary*0=\"parte\"; boundary*1*=%2D2", "", "--parte-2", "", "um",
      "--parte-2--"},
     "subject: \"\"\n"
     "multipart/mixed\n"
     "  text/plain \"um\"\n"},
    {"rfc2231_charset",
     {"Content-Type: text/plain; charset*=us-ascii''utf-8", "", "x"},
     "subject: \"\"\n"
     "text/plain charset=utf-8 \"x\"\n"},
    // RFC 2045, 5.1 (its own example): a comment after a value.
    {"comment_after_the_charset",
     {"Content-Type: text/plain; charset=us-ascii (Plain text)", "", "x"},
     "subject: \"\"\n"
     "text/plain charset=us-ascii \"x\"\n"},
    {"semicolon_at_the_end",
     {"Content-Type: text/plain; charset=utf-8;", "", "x"},
     "subject: \"\"\n"
     "text/plain charset=utf-8 \"x\"\n"},
    // RFC 2045, 5.2: a Content-Type that breaks the grammar is invalid as a whole.
    {"invalid_type_with_a_quote_inside_a_token",
     {"Content-Type: application/pdf; name=nota\"fiscal.pdf", "Content-Transfer-Encoding: base64", "",
      "QUJD"},
     "subject: \"\"\n"
     "text/plain \"ABC\"\n",
     "subject: \"\"\n"
     "application/pdf file=nota \"ABC\"\n"},
    {"invalid_type_with_a_blank_inside_a_value",
     {"Content-Type: application/pdf; name=nota fiscal.pdf", "", "x"},
     "subject: \"\"\n"
     "text/plain \"x\"\n",
     "subject: \"\"\n"
     "application/pdf file=nota \"x\"\n"},
    {"invalid_disposition_names_no_file",
     {"Content-Type: application/pdf; name=\"a.pdf\"", "Content-Disposition: attachment; filename=\"b.pdf\"x",
      "", "x"},
     "subject: \"\"\n"
     "application/pdf file=a.pdf \"x\"\n",
     // Python takes the name from the broken field, as far as it reads.
     "subject: \"\"\n"
     "application/pdf file=b.pdf \"x\"\n"},
    // Mail programs write boundaries with "=" unquoted; the reader accepts them.
    {"unquoted_boundary_with_specials",
     {"Content-Type: multipart/mixed; boundary=----=_Part_0_1234.5678", "", "------=_Part_0_1234.5678", "",
      "um", "------=_Part_0_1234.5678--"},
     "subject: \"\"\n"
     "multipart/mixed\n"
     "  text/plain \"um\"\n",
     // Python's parser ends the unquoted value at "=" and finds no delimiter.
     "subject: \"\"\n"
     "multipart/mixed \"------=_Part_0_1234.5678\\r\\n\\r\\num\\r\\n------=_Part_0_1234.5678--\"\n"},
    // RFC 3464: a delivery status is a sequence of field groups.
    {"delivery_status_groups",
     {"Content-Type: multipart/report; report-type=delivery-status; boundary=r",
      "",
      "--r",
      "Content-Type: text/plain",
      "",
      "falhou",
      "--r",
      "Content-Type: message/delivery-status",
      "",
      "Reporting-MTA: dns; mx.example.com",
      "",
      "Final-Recipient: rfc822; ana@example.com",
      "Action: failed",
      "Status: 5.1.1",
      "Diagnostic-Code: smtp; 550 5.1.1 unknown",
      "    user",
      "",
      "Final-Recipient: rfc822; bia@example.com",
      "Action: delayed",
      "Status: 4.4.1",
      "",
      "--r--"},
     "subject: \"\"\n"
     "multipart/report\n"
     "  text/plain \"falhou\"\n"
     "  message/delivery-status\n"
     "    text/plain fields=Reporting-MTA: dns; mx.example.com \"\"\n"
     "    text/plain fields=Final-Recipient: rfc822; ana@example.com | Action: failed | Status: 5.1.1 | "
     "Diagnostic-Code: smtp; 550 5.1.1 unknown    user \"\"\n"
     "    text/plain fields=Final-Recipient: rfc822; bia@example.com | Action: delayed | Status: 4.4.1 "
     "\"\"\n"},
    // RFC 6533: the same groups, UTF-8 allowed (what servers send for SMTPUTF8 mail).
    {"global_delivery_status_groups",
     {"Content-Type: message/global-delivery-status", "", "Reporting-MTA: dns; mx.example.com", "",
      "Final-Recipient: utf-8; jo\xC3\xA3o@example.com", "Action: failed", "Status: 5.1.1"},
     "subject: \"\"\n"
     "message/global-delivery-status\n"
     "  text/plain fields=Reporting-MTA: dns; mx.example.com \"\"\n"
     "  text/plain fields=Final-Recipient: utf-8; jo\xC3\xA3o@example.com | Action: failed | Status: 5.1.1 "
     "\"\"\n",
     // Python's email knows only message/delivery-status; this it reads as one message.
     "subject: \"\"\n"
     "message/global-delivery-status\n"
     "  text/plain fields=Reporting-MTA: dns; mx.example.com "
     "\"Final-Recipient: utf-8; jo\\xc3\\xa3o@example.com\\r\\nAction: failed\\r\\nStatus: 5.1.1\"\n"},
    // Kept as decided: a multipart without a boundary reads as text/plain.
    {"multipart_without_boundary_is_text",
     {"Content-Type: multipart/mixed", "", "--x", "texto"},
     "subject: \"\"\n"
     "text/plain \"--x\\r\\ntexto\"\n",
     // Python keeps the type and reads the body as text.
     "subject: \"\"\n"
     "multipart/mixed \"--x\\r\\ntexto\"\n"},
};

class ReadingTable : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(ReadingTable, ReadsAsTheStandardsSayOnBothRoads) {
    const std::string bytes = MessageOf(GetParam());
    for (const bool byteRoad : {false, true}) {
        TMimeMess mess;
        mess.Header().SetCharsetCode(TMimeChar::UTF_8);
        mess.MessagePart().SetDefaultCharset("");  // a charset shows only when the message names one
        Decode(mess, bytes, byteRoad);
        EXPECT_EQ(TreeOf(mess, {.TrimFinalBreaks = true, .Readable = true}), GetParam().Tree)
            << (byteRoad ? "byte road" : "line road");
    }
}

TEST_P(ReadingTable, PythonReadsTheSameOrAsTheRowNotes) {
    if (!fs::exists(TANDREL_PYTHON)) GTEST_SKIP() << "no " << TANDREL_PYTHON << " on this machine";
    const testing::TempDir dir;
    const std::string file = dir.Write("message.eml", MessageOf(GetParam()));
    const std::string python = *GetParam().PythonTree ? GetParam().PythonTree : GetParam().Tree;
    EXPECT_EQ(PythonTree(file, {.TrimFinalBreaks = true, .Readable = true}), python);
}

INSTANTIATE_TEST_SUITE_P(Messages, ReadingTable, ::testing::ValuesIn(kReadingCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tandrel::mime
