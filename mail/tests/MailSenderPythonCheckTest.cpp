// Mail saved by the component, read back by Python's email package with policy.strict:
// every header ASCII, display names and file names exactly as given, the address of
// the sender untouched by its name, text files labelled as their bytes are.

#include "mail/MailSender.h"
#include "testing/ChildProcess.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tandrel::mail {
namespace {

using testing::TempDir;

// What read_saved_mail.py prints of the saved message.
std::string ReadByPython(const std::string& File) {
    const std::string script = std::string(TANDREL_SOURCE_DIR) + "/mail/tests/read_saved_mail.py";
    testing::ChildProcess python({TANDREL_PYTHON, script, File}, {.MergeStderr = true});
    EXPECT_EQ(python.Wait(), 0) << python.Output();
    return python.Output();
}

// Saves `Mail` into `Dir` and returns what Python reads of it.
std::string SavedAndRead(TMailSender& Mail, const TempDir& Dir) {
    const std::string file = (Dir.Path() / "saved.eml").string();
    Mail.SaveToFile(file);
    return ReadByPython(file);
}

struct NameCase {
    const char* Name;
    const char* FromName;
    friend void PrintTo(const NameCase& C, std::ostream* Os) { *Os << C.Name; }
};

class DisplayNameReadByPython : public ::testing::TestWithParam<NameCase> {};

// The name goes into From and into both receipt requests; nothing in it can end the
// name or add an address, and none of it goes out as raw 8-bit text.
TEST_P(DisplayNameReadByPython, IsTheNameGivenBesideTheSendersAddress) {
    if (!std::filesystem::exists(TANDREL_PYTHON))
        GTEST_SKIP() << "no " << TANDREL_PYTHON << " on this machine";
    const TempDir dir;
    TMailSender mail;
    mail.SetFrom("loja@tandrel.test");
    mail.SetFromName(GetParam().FromName);
    mail.SetReadingConfirmation(true);
    mail.SetDeliveryConfirmation(true);
    mail.AddAddress("cliente@example.com");
    mail.AltBody() = {"Dados do cliente"};
    const std::string mailbox = std::string(GetParam().FromName) + " <loja@tandrel.test>\n";
    EXPECT_EQ(SavedAndRead(mail, dir), "from: " + mailbox + "disposition-notification-to: " + mailbox +
                                           "return-receipt-to: " + mailbox);
}

INSTANTIATE_TEST_SUITE_P(Names, DisplayNameReadByPython,
                         ::testing::Values(NameCase{"plain", "Loja Tandrel"},  //
                                           NameCase{"accented",
                                                    "Suporte T\xC3\xA9"
                                                    "cnico"},                                            //
                                           NameCase{"quotes", "Loja \"Boa Vista\""},                     //
                                           NameCase{"angle_brackets", "Ana <chefe@tandrel.test>"},       //
                                           NameCase{"backslash", "Depto\\Vendas \\\"SP\\\""},            //
                                           NameCase{"specials", "Silva, Ana: Compras; (SP) [Loja] @1"},  //
                                           NameCase{"encoded_word_typed", "=?UTF-8?Q?x?="},              //
                                           NameCase{"cjk",
                                                    "\xE9\xA1\xA7\xE5\xAE\xA2\xE6\x94\xAF\xE6\x8F\xB4"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Attached files keep their own names (only "/" separates folders here) and a text file
// that is UTF-8 is labelled so; other text keeps the design's label.
TEST(AttachmentsReadByPython, KeepTheirNamesAndTheLabelOfTheirBytes) {
    if (!std::filesystem::exists(TANDREL_PYTHON))
        GTEST_SKIP() << "no " << TANDREL_PYTHON << " on this machine";
    const TempDir dir;
    const std::filesystem::path files = dir.Path() / "anexos";
    std::filesystem::create_directories(files);
    struct File {
        const char* Name;
        std::string Bytes;
        const char* Read;  // what Python reads of its part
    };
    const std::vector<File> list = {
        {"Cliente_001 10:30.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><c>JOS\xC3\x89</c>",
         "text/xml charset=utf-8"},
        {"relatorio\\2026.txt", "Relat\xC3\xB3rio de 2026\r\n", "text/plain charset=utf-8"},
        {"p\xC3\xA1gina.html", "<p>Ol\xC3\xA1</p>", "text/html charset=utf-8"},
        {"notas.txt", "Observa\xE7\xF5\x65s: pre\xE7o \x80 10\r\n", "text/plain charset=windows-1252"},
        {"leia-me.txt", "somente ASCII\r\n", "text/plain charset=windows-1252"},
        {"foto \"1\".png", "\x89PNG\r\n\x1A\n", "image/png"},
    };
    TMailSender mail;
    mail.SetFrom("loja@tandrel.test");
    mail.AddAddress("cliente@example.com");
    mail.AltBody() = {"Segue."};
    std::string expected = "from:  <loja@tandrel.test>\n";
    for (const File& f : list) {
        (void)dir.Write("anexos/" + std::string(f.Name), f.Bytes);
        mail.AddAttachment((files / f.Name).string(), {}, TMailAttachmentDisposition::adAttachment);
        expected += std::string("file: ") + f.Name + " " + f.Read + "\n";
    }
    EXPECT_EQ(SavedAndRead(mail, dir), expected);
}

}  // namespace
}  // namespace tandrel::mail
