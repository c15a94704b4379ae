// The bytes of every message tree the component builds, saved and on the wire,
// against golden files made once and kept: a faster way of composing, saving or
// sending may not move a single byte.
//
// To make the golden files again (only when a change of bytes is intended):
//   TANDREL_WRITE_GOLDEN=1 mail/mail_tests --gtest_filter='MessageGolden*'

#include "mail/MailSender.h"
#include "mime/MailDate.h"
#include "mime/MimePart.h"
#include "support/Codings.h"
#include "testing/ScopedTimeZone.h"
#include "testing/ScriptedSmtpServer.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace tandrel::mail {
namespace {

using testing::ScopedTimeZone;
using testing::ScriptedSmtpServer;
using testing::TempDir;

const std::filesystem::path kGoldenDir = std::filesystem::path(TANDREL_SOURCE_DIR) / "mail/tests/golden";

std::string ReadFile(const std::filesystem::path& Path) {
    std::ifstream file(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// One row of the table of trees: which bodies the mail has and whether it is HTML.
struct TreeCase {
    const char* Name;
    bool IsHTML;
    bool Body;
    bool AltBody;
};

const TreeCase kTrees[] = {
    {"text_and_attachments", false, true, true},         // mixed: [text/plain, attachments]
    {"attachments_only", false, true, false},            // mixed: [attachments]
    {"html_with_text", true, true, true},                // alternative: [text/plain, related: [html, ...]]
    {"html_and_attachments", true, true, false},         // mixed: [text/html, attachments]
    {"html_flag_text_only", true, false, true},          // mixed: [text/plain, attachments]
    {"html_flag_attachments_only", true, false, false},  // mixed: [attachments]
};

// Picture and document bytes: every byte value, line breaks and NULs included,
// over more than one base64 line.
std::string AllBytes(int Times) {
    std::string bytes;
    for (int t = 0; t < Times; ++t)
        for (int b = 0; b < 256; ++b) bytes += static_cast<char>((b * 7 + t) & 0xFF);
    return bytes;
}

// Fills `Mail` with the row's content: accented text, a body line starting with a dot,
// an inline picture the HTML names, a PDF, a text file in Windows-1252 and an empty file.
void Fill(TMailSender& Mail, const TreeCase& C) {
    Mail.SetFrom("loja@example.com");
    Mail.SetFromName("Loja Tandrel");
    Mail.SetSubject("Confirmação de cadastro");
    Mail.AddAddress("cliente@example.com", "Cliente");
    Mail.AddCC("copia@example.com");
    Mail.SetIsHTML(C.IsHTML);
    if (C.AltBody)
        Mail.AltBody() = {"Nome: JOÃO DA SILVA", ".linha com ponto", "", "Cidade: SÃO PAULO",
                          "Preço: € 10,00"};
    if (C.Body)
        Mail.Body() = {"<html><body>", "<p>Olá, João</p>", "<img src=\"cid:foto.png\">", "</body></html>"};
    std::istringstream picture("\x89PNG\r\n\x1A\n" + AllBytes(1));
    Mail.AddAttachment(&picture, "foto.png", TMailAttachmentDisposition::adInline);
    std::istringstream pdf("%PDF-1.4\n" + AllBytes(3));
    Mail.AddAttachment(&pdf, "contrato.pdf", TMailAttachmentDisposition::adAttachment);
    std::istringstream notes("Observa\xE7\xF5\x65s: pre\xE7o \x80 10\r\n.fim\r\n");
    Mail.AddAttachment(&notes, "notas.txt", TMailAttachmentDisposition::adAttachment);
    std::istringstream empty("");
    Mail.AddAttachment(&empty, "vazio.dat", TMailAttachmentDisposition::adAttachment);
    // Fixed where the component would take the clock or the caller's choice.
    Mail.MIMEMess().Header().SetDate(mime::EncodeDateTime(2026, 12, 9, 1, 23, 45));
    Mail.MIMEMess().Header().SetMessageID(std::string(C.Name) + "@golden.tandrel.test");
}

// A server that takes one mail for Recipients addresses and quits.
std::vector<testing::Step> SendScript(int Recipients) {
    using namespace testing;
    std::vector<std::string> replies{"250 mx", "250 ok"};
    replies.insert(replies.end(), static_cast<std::size_t>(Recipients), "250 ok");
    replies.push_back("354 go");
    std::vector<Step> script = Dialog("220 mx", replies);
    script.push_back(HearData());
    script.push_back(Reply("250 queued"));
    script.push_back(Hear());
    script.push_back(Reply("221 bye"));
    return script;
}

// What the client sent between DATA and QUIT: the data and its end mark.
std::string DataOnTheWire(const std::string& Transcript) {
    const auto data = Transcript.find("DATA\r\n");
    const auto quit = Transcript.rfind("QUIT\r\n");
    if (data == std::string::npos || quit == std::string::npos || quit < data) return {};
    return Transcript.substr(data + 6, quit - data - 6);
}

// The clock's part in a message pinned: the zone of the date line, and boundaries
// from a counter, the same on every run.
class PinnedMail : public ::testing::Test {
protected:
    ScopedTimeZone FZone{"<-03>3"};
    int FLastBoundary = 0;
    mime::TBoundarySourceOverride FBoundaries{[this] {
        char text[40];
        std::snprintf(text, sizeof text, "%08X_%08X_Tandrel_boundary", ++FLastBoundary, 0x1234ABCD);
        return std::string(text);
    }};
};

class GoldenFixture : public PinnedMail, public ::testing::WithParamInterface<TreeCase> {
protected:
    // The golden bytes of this row; made from `Made` when TANDREL_WRITE_GOLDEN is set.
    std::string Golden(const std::string& Made) {
        const auto path = kGoldenDir / (std::string(GetParam().Name) + ".eml");
        if (std::getenv("TANDREL_WRITE_GOLDEN") != nullptr) {
            std::filesystem::create_directories(kGoldenDir);
            std::ofstream(path, std::ios::binary) << Made;
        }
        const std::string golden = ReadFile(path);
        EXPECT_FALSE(golden.empty()) << "no golden file " << path;
        return golden;
    }
};

TEST_P(GoldenFixture, SavedMessageIsTheGoldenFile) {
    TempDir dir;
    const auto path = dir.Path() / "saved.eml";
    TMailSender mail;
    Fill(mail, GetParam());
    mail.SaveToFile(path.string());
    const std::string saved = ReadFile(path);
    EXPECT_EQ(saved, Golden(saved));
    EXPECT_EQ(mail.StoredMessage(), saved);
    std::ostringstream stream;
    ASSERT_TRUE(mail.SaveToStream(&stream));
    EXPECT_EQ(stream.str(), saved);
}

TEST_P(GoldenFixture, BuildingTwiceGivesTheSameBytes) {
    TMailSender mail;
    Fill(mail, GetParam());
    mail.BuildMimeMess();
    const std::string first = mail.StoredMessage();
    FLastBoundary = 0;
    mail.BuildMimeMess();
    EXPECT_EQ(mail.StoredMessage(), first);
    // And the message itself encoded once more, from the same tree.
    mail.MIMEMess().EncodeMessage();
    std::string again;
    for (const auto& line : mail.MIMEMess().Lines()) again += line + "\r\n";
    EXPECT_EQ(again, first);
}

TEST_P(GoldenFixture, BytesOnTheWireAreTheGoldenFile) {
    ScriptedSmtpServer server(SendScript(2));  // To and CC
    TMailSender mail;
    mail.SetHost("127.0.0.1");
    mail.SetPort(server.Port());
    mail.SetTimeOut(10000);
    Fill(mail, GetParam());
    mail.Send(false);
    const std::string wire = DataOnTheWire(server.Transcript());
    // Nothing in these messages begins with a dot, so the data is the file and the end mark.
    ASSERT_TRUE(wire.ends_with("\r\n.\r\n"));
    EXPECT_EQ(wire, Golden(wire.substr(0, wire.size() - 3)) + ".\r\n");
}

INSTANTIATE_TEST_SUITE_P(Trees, GoldenFixture, ::testing::ValuesIn(kTrees),
                         [](const auto& info) { return std::string(info.param.Name); });

// A 20 MB attachment from a file: its body is the base64 of every 54 bytes, and the
// message is the same bytes built twice, saved and sent; the record keeps the file.
class LargeAttachment : public PinnedMail {
protected:
    void Fill(TMailSender& Mail, const std::string& File) {
        Mail.SetFrom("loja@example.com");
        Mail.SetSubject("Arquivo grande");
        Mail.AddAddress("cliente@example.com");
        Mail.AltBody() = {"Segue o arquivo."};
        Mail.AddAttachment(File, {}, TMailAttachmentDisposition::adAttachment);
        Mail.MIMEMess().Header().SetDate(mime::EncodeDateTime(2026, 12, 9, 1, 23, 45));
        Mail.MIMEMess().Header().SetMessageID("large@golden.tandrel.test");
        FLastBoundary = 0;
    }
};

TEST_F(LargeAttachment, TwentyMegabytesAreSavedAndSentAsBuilt) {
    std::string content(20 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 2654435761u) >> 13);
    TempDir dir;
    const std::string file = dir.Write("grande.bin", content);

    TMailSender mail;
    Fill(mail, file);
    mail.BuildMimeMess();
    const std::string built = mail.StoredMessage();
    EXPECT_TRUE(mail.Attachments().Objects(0).Stream() == content);

    std::string body;
    for (std::size_t at = 0; at < content.size(); at += 54)
        body += support::EncodeBase64(content.substr(at, 54)) + "\r\n";
    const std::string start = "Content-Description: grande.bin\r\n\r\n";
    const auto from = built.find(start);
    ASSERT_NE(from, std::string::npos);
    EXPECT_TRUE(built.compare(from + start.size(), body.size(), body) == 0);
    EXPECT_TRUE(built.compare(from + start.size() + body.size(), std::string::npos,
                              "--00000001_1234ABCD_Tandrel_boundary--\r\n") == 0);

    FLastBoundary = 0;
    mail.BuildMimeMess();
    EXPECT_TRUE(mail.StoredMessage() == built) << "built twice";

    const auto saved = dir.Path() / "grande.eml";
    FLastBoundary = 0;
    mail.SaveToFile(saved.string());
    EXPECT_TRUE(ReadFile(saved) == built) << "saved";

    ScriptedSmtpServer server(SendScript(1));
    TMailSender sender;
    sender.SetHost("127.0.0.1");
    sender.SetPort(server.Port());
    sender.SetTimeOut(30000);
    Fill(sender, file);
    sender.Send(false);
    EXPECT_TRUE(DataOnTheWire(server.Transcript()) == built + ".\r\n") << "sent";
}

}  // namespace
}  // namespace tandrel::mail
