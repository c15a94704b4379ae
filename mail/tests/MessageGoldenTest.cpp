// The bytes of every message tree the component builds, saved and on the wire,
// against golden files made once and kept: a faster way of composing, saving or
// sending may not move a single byte.
//
// To make the golden files again (only when a change of bytes is intended):
//   TANDREL_WRITE_GOLDEN=1 mail/mail_tests --gtest_filter='MessageGolden*'

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "mail/MailSender.h"
#include "mime/MailDate.h"
#include "mime/MimePart.h"
#include "testing/ScopedTimeZone.h"
#include "testing/ScriptedSmtpServer.h"
#include "testing/TempDir.h"

namespace tandrel::mail {
namespace {

using testing::ScopedTimeZone;
using testing::ScriptedSmtpServer;
using testing::TempDir;

const std::filesystem::path kGoldenDir = std::filesystem::path(TANDREL_SOURCE_DIR) / "mail/tests/golden";

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
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
    {"text_and_attachments", false, true, true},        // mixed: [text/plain, attachments]
    {"attachments_only", false, true, false},           // mixed: [attachments]
    {"html_with_text", true, true, true},               // alternative: [text/plain, related: [html, ...]]
    {"html_and_attachments", true, true, false},        // mixed: [text/html, attachments]
    {"html_flag_text_only", true, false, true},         // mixed: [text/plain, attachments]
    {"html_flag_attachments_only", true, false, false}, // mixed: [attachments]
};

// Picture and document bytes: every byte value, line breaks and NULs included,
// over more than one base64 line.
std::string AllBytes(int times) {
    std::string bytes;
    for (int t = 0; t < times; ++t)
        for (int b = 0; b < 256; ++b) bytes += static_cast<char>((b * 7 + t) & 0xFF);
    return bytes;
}

// Fills `mail` with the row's content: accented text, a body line starting with a dot,
// an inline picture the HTML names, a PDF, a text file in Windows-1252 and an empty file.
void Fill(TMailSender& mail, const TreeCase& c) {
    mail.SetFrom("loja@example.com");
    mail.SetFromName("Loja Tandrel");
    mail.SetSubject("Confirmação de cadastro");
    mail.AddAddress("cliente@example.com", "Cliente");
    mail.AddCC("copia@example.com");
    mail.SetIsHTML(c.IsHTML);
    if (c.AltBody)
        mail.AltBody() = {"Nome: JOÃO DA SILVA", ".linha com ponto", "", "Cidade: SÃO PAULO", "Preço: € 10,00"};
    if (c.Body)
        mail.Body() = {"<html><body>", "<p>Olá, João</p>", "<img src=\"cid:foto.png\">", "</body></html>"};
    std::istringstream picture("\x89PNG\r\n\x1A\n" + AllBytes(1));
    mail.AddAttachment(&picture, "foto.png", TMailAttachmentDisposition::adInline);
    std::istringstream pdf("%PDF-1.4\n" + AllBytes(3));
    mail.AddAttachment(&pdf, "contrato.pdf", TMailAttachmentDisposition::adAttachment);
    std::istringstream notes("Observa\xE7\xF5\x65s: pre\xE7o \x80 10\r\n.fim\r\n");
    mail.AddAttachment(&notes, "notas.txt", TMailAttachmentDisposition::adAttachment);
    std::istringstream empty("");
    mail.AddAttachment(&empty, "vazio.dat", TMailAttachmentDisposition::adAttachment);
    // Fixed where the component would take the clock or the caller's choice.
    mail.MIMEMess().Header().SetDate(mime::EncodeDateTime(2026, 12, 9, 1, 23, 45));
    mail.MIMEMess().Header().SetMessageID(std::string(c.Name) + "@golden.tandrel.test");
}

// Boundaries from a counter instead of the clock, the same on every run.
class GoldenFixture : public ::testing::TestWithParam<TreeCase> {
protected:
    ScopedTimeZone Zone{"<-03>3"};
    int LastBoundary = 0;
    mime::TBoundarySourceOverride Boundaries{[this] {
        char text[40];
        std::snprintf(text, sizeof text, "%08X_%08X_Tandrel_boundary", ++LastBoundary, 0x1234ABCD);
        return std::string(text);
    }};

    // The golden bytes of this row; made from `made` when TANDREL_WRITE_GOLDEN is set.
    std::string Golden(const std::string& made) {
        const auto path = kGoldenDir / (std::string(GetParam().Name) + ".eml");
        if (std::getenv("TANDREL_WRITE_GOLDEN") != nullptr) {
            std::filesystem::create_directories(kGoldenDir);
            std::ofstream(path, std::ios::binary) << made;
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
    LastBoundary = 0;
    mail.BuildMimeMess();
    EXPECT_EQ(mail.StoredMessage(), first);
    // And the message itself encoded once more, from the same tree.
    mail.MIMEMess().EncodeMessage();
    std::string again;
    for (const auto& line : mail.MIMEMess().Lines()) again += line + "\r\n";
    EXPECT_EQ(again, first);
}

TEST_P(GoldenFixture, BytesOnTheWireAreTheGoldenFile) {
    using namespace testing;
    // Greeting, EHLO, MAIL, two RCPT (To and CC), DATA, the data, QUIT.
    std::vector<Step> script = Dialog("220 mx", {"250 mx", "250 ok", "250 ok", "250 ok", "354 go"});
    script.push_back(HearData());
    script.push_back(Reply("250 queued"));
    script.push_back(Hear());
    script.push_back(Reply("221 bye"));
    ScriptedSmtpServer server(script);

    TMailSender mail;
    mail.SetHost("127.0.0.1");
    mail.SetPort(server.Port());
    mail.SetTimeOut(10000);
    Fill(mail, GetParam());
    mail.Send(false);

    const std::string transcript = server.Transcript();
    const auto data = transcript.find("DATA\r\n");
    const auto quit = transcript.rfind("QUIT\r\n");
    ASSERT_NE(data, std::string::npos);
    ASSERT_NE(quit, std::string::npos);
    const std::string wire = transcript.substr(data + 6, quit - data - 6);
    // Nothing in these messages begins with a dot, so the data is the file and the end mark.
    EXPECT_EQ(wire, Golden(wire.substr(0, wire.size() - 3)) + ".\r\n");
}

INSTANTIATE_TEST_SUITE_P(Trees, GoldenFixture, ::testing::ValuesIn(kTrees),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tandrel::mail
