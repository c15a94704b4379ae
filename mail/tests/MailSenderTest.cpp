#include "mail/EAbort.h"
#include "mail/MailSender.h"
#include "mime/MimePart.h"
#include "support/Codings.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace tandrel::mail {
namespace {

using mime::TMessPriority;
using mime::TMimeChar;
using testing::TempDir;

std::string FromBase64Lines(const std::vector<std::string>& Lines) {
    std::string text;
    for (const auto& line : Lines) text += line;
    return support::DecodeBase64(text);
}

TEST(MailSenderTest, DefaultsAfterConstruction) {
    TMailSender mail;
    EXPECT_EQ(mail.Host(), "127.0.0.1");
    EXPECT_EQ(mail.Port(), "25");
    EXPECT_EQ(mail.Username(), "");
    EXPECT_EQ(mail.Password(), "");
    EXPECT_FALSE(mail.SetSSL());
    EXPECT_FALSE(mail.SetTLS());
    EXPECT_EQ(mail.Priority(), TMessPriority::MP_normal);
    EXPECT_FALSE(mail.ReadingConfirmation());
    EXPECT_FALSE(mail.DeliveryConfirmation());
    EXPECT_FALSE(mail.IsHTML());
    EXPECT_FALSE(mail.UseThread());
    EXPECT_EQ(mail.TimeOut(), 0);
    EXPECT_EQ(mail.Attempts(), 3);
    EXPECT_EQ(mail.DefaultCharset(), TMimeChar::UTF_8);
    EXPECT_EQ(mail.IDECharset(), TMimeChar::CP1252);
    EXPECT_EQ(mail.GetLastSmtpError(), "");
}

TEST(MailSenderTest, AttemptsBelowTwoBecomeOne) {
    const struct {
        std::uint8_t set;
        std::uint8_t stored;
    } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}, {255, 255}};
    for (const auto& c : cases) {
        TMailSender mail;
        mail.SetAttempts(c.set);
        EXPECT_EQ(mail.Attempts(), c.stored) << "set " << int(c.set);
    }
}

enum class AddKind { Address, CC, ReplyTo, BCC };

struct AddCase {
    const char* name;
    AddKind kind;
    const char* email;
    const char* displayName;
    std::vector<std::string> expected;
};

const std::vector<std::string>& ListOf(const TMailSender& Mail, AddKind Kind) {
    switch (Kind) {
        case AddKind::Address: return Mail.MIMEMess().Header().ToList();
        case AddKind::CC: return Mail.MIMEMess().Header().CCList();
        case AddKind::ReplyTo: return Mail.ReplyTo();
        case AddKind::BCC: return Mail.BCC();
    }
    throw std::logic_error("kind");
}

class AddOperationsTest : public ::testing::TestWithParam<AddCase> {};

TEST_P(AddOperationsTest, AppendsEntriesByTheDelimiterRules) {
    const auto& c = GetParam();
    TMailSender mail;
    switch (c.kind) {
        case AddKind::Address: mail.AddAddress(c.email, c.displayName); break;
        case AddKind::CC: mail.AddCC(c.email, c.displayName); break;
        case AddKind::ReplyTo: mail.AddReplyTo(c.email, c.displayName); break;
        case AddKind::BCC: mail.AddBCC(c.email); break;
    }
    EXPECT_EQ(ListOf(mail, c.kind), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddOperationsTest,
    ::testing::Values(
        AddCase{"semicolon_and_space", AddKind::Address, "a@x; b@y", "", {"a@x", " b@y"}},
        AddCase{"split_only_at_semicolon", AddKind::Address, "a@x,b@y;c@z", "", {"a@x,b@y", "c@z"}},
        AddCase{"comma", AddKind::CC, "a@x,b@y", "", {"a@x", "b@y"}},
        AddCase{"bar", AddKind::ReplyTo, "a@x|b@y", "", {"a@x", "b@y"}},
        AddCase{"trailing_delimiter", AddKind::Address, "a@x;b@y;", "", {"a@x", "b@y", ""}},
        AddCase{"empty_address_and_name", AddKind::Address, "", "", {""}},
        AddCase{"trimmed_single", AddKind::Address, "  a@x  ", "", {"a@x"}},
        AddCase{"name_makes_one_entry", AddKind::Address, "a@x;b@y", "Ana", {"\"Ana\" <a@x;b@y>"}},
        AddCase{"same_text_as_name", AddKind::Address, "c@x", "c@x", {"\"c@x\" <c@x>"}},
        AddCase{"blank_name_is_no_name", AddKind::CC, "a@x;b@y", "   ", {"a@x", "b@y"}},
        AddCase{"bcc_named_form_one_entry", AddKind::BCC, "Ana Lima <a@x>", "", {"Ana Lima <a@x>"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MailSenderTest, ClearEmptiesContentAndKeepsSettings) {
    TMailSender mail;
    mail.SetFrom("loja@x");
    mail.SetFromName("Loja");
    mail.SetHost("smtp.example");
    mail.SetAttempts(5);
    mail.SetPriority(TMessPriority::MP_high);
    mail.SetSubject("s");
    mail.AddAddress("a@x");
    mail.AddCC("b@x");
    mail.AddBCC("c@x");
    mail.AddReplyTo("d@x");
    mail.AltBody() = {"text"};
    mail.Body() = {"<p>html</p>"};
    std::istringstream bytes("data");
    mail.AddAttachment(&bytes, "a.txt", TMailAttachmentDisposition::adAttachment);
    mail.Clear();
    EXPECT_EQ(mail.Subject(), "");
    EXPECT_TRUE(mail.MIMEMess().Header().ToList().empty());
    EXPECT_TRUE(mail.MIMEMess().Header().CCList().empty());
    EXPECT_TRUE(mail.BCC().empty());
    EXPECT_TRUE(mail.ReplyTo().empty());
    EXPECT_TRUE(mail.AltBody().empty());
    EXPECT_TRUE(mail.Body().empty());
    EXPECT_EQ(mail.Attachments().Count(), 0u);
    EXPECT_EQ(mail.Priority(), TMessPriority::MP_unknown);
    EXPECT_EQ(mail.From(), "loja@x");
    EXPECT_EQ(mail.FromName(), "Loja");
    EXPECT_EQ(mail.Host(), "smtp.example");
    EXPECT_EQ(mail.Attempts(), 5);
}

TEST(MailSenderTest, AttachmentFromFileKeepsPathAndBytes) {
    TempDir dir;
    const auto path = dir.Path() / "cliente.xml";
    const std::string bytes("<x>\0\xff\r\n</x>", 10);
    std::ofstream(path, std::ios::binary) << bytes;
    TMailSender mail;
    mail.AddAttachment(path.string());
    mail.AddAttachment(path.string(), "Dados", TMailAttachmentDisposition::adAttachment);
    ASSERT_EQ(mail.Attachments().Count(), 2u);
    const auto& first = mail.Attachments().Objects(0);
    EXPECT_EQ(first.FileName(), path.string());
    EXPECT_EQ(first.Description(), "cliente.xml");
    EXPECT_EQ(first.Disposition(), TMailAttachmentDisposition::adInline);
    EXPECT_EQ(first.Stream(), bytes);
    EXPECT_EQ(mail.Attachments().Objects(1).Description(), "Dados");
    EXPECT_EQ(mail.Attachments().Objects(1).Disposition(), TMailAttachmentDisposition::adAttachment);
}

// On this system only "/" separates folders: the description and the name sent are the
// file's own name, ":" and "\\" included, so two files never arrive under one name.
TEST(MailSenderTest, AttachmentFromFileIsNamedByTheFilesOwnName) {
    TempDir dir;
    TMailSender mail;
    const std::vector<std::string> names = {"Cliente_001 10:30.xml", "relatorio\\2026.txt", "30.xml",
                                            "2026.txt"};
    for (const std::string& name : names) mail.AddAttachment(dir.Write(name, name));
    mail.BuildMimeMess();
    const auto& root = mail.MIMEMess().MessagePart();
    ASSERT_EQ(root.GetSubPartCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(mail.Attachments().Objects(static_cast<std::size_t>(i)).Description(),
                  names[static_cast<std::size_t>(i)]);
        EXPECT_EQ(root.GetSubPart(i)->FileName(), names[static_cast<std::size_t>(i)]);
    }
}

TEST(MailSenderTest, AttachmentFromStreamCopiesWholeContentAndNamesBlankOnes) {
    std::istringstream source("0123456789");
    source.seekg(4);
    TMailSender mail;
    mail.AddAttachment(&source, "  ", TMailAttachmentDisposition::adAttachment);
    mail.AddAttachment(&source);
    ASSERT_EQ(mail.Attachments().Count(), 2u);
    const auto& first = mail.Attachments().Objects(0);
    EXPECT_EQ(first.Stream(), "0123456789");
    EXPECT_TRUE(std::regex_match(first.Description(), std::regex("file_[0-9]{9}"))) << first.Description();
    EXPECT_EQ(first.FileName(), first.Description());
    EXPECT_EQ(mail.Attachments().Objects(1).Stream(), "0123456789");
    EXPECT_EQ(mail.Attachments().Objects(1).Disposition(), TMailAttachmentDisposition::adInline);
}

struct FailureCase {
    const char* name;
    std::function<void(TMailSender&)> action;
    const char* message;
};

class AttachmentFailureTest : public ::testing::TestWithParam<FailureCase> {};

// Each failure goes through the exception handler: raised as is, or silently aborted.
TEST_P(AttachmentFailureTest, RaisesTheMessageOrTheSilentAbortAndAddsNothing) {
    const auto& c = GetParam();
    TMailSender mail;
    try {
        c.action(mail);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), c.message);
    }
    std::string seen;
    mail.SetOnMailException([&](const TMailSender& AMail, const std::exception& E, bool& ThrowIt) {
        EXPECT_EQ(&AMail, &mail);
        EXPECT_TRUE(ThrowIt);
        seen = E.what();
        ThrowIt = false;
    });
    EXPECT_THROW(c.action(mail), EAbort);
    EXPECT_EQ(seen, c.message);
    EXPECT_EQ(mail.Attachments().Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AttachmentFailureTest,
    ::testing::Values(FailureCase{"missing_file",
                                  [](TMailSender& m) { m.AddAttachment("/nonexistent/f.pdf"); },
                                  "Add Attachment: File not Exists."},
                      FailureCase{"folder_is_no_file", [](TMailSender& m) { m.AddAttachment("/tmp"); },
                                  "Add Attachment: File not Exists."},
                      FailureCase{"null_stream",
                                  [](TMailSender& m) {
                                      m.AddAttachment(nullptr, "x", TMailAttachmentDisposition::adInline);
                                  },
                                  "Add Attachment: Access Violation."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MailSenderTest, AssignCopiesSettingsContentAndAppendsAttachments) {
    TMailSender source;
    source.SetHost("h");
    source.SetPort("587");
    source.SetUsername("u");
    source.SetPassword("p");
    source.SetSSL(true);
    source.SetTLS(true);
    source.SetPriority(TMessPriority::MP_low);
    source.SetReadingConfirmation(true);
    source.SetDeliveryConfirmation(true);
    source.SetTimeOut(1234);
    source.SetIsHTML(true);
    source.SetAttempts(7);
    source.SetFrom("f@x");
    source.SetFromName("F");
    source.SetSubject("S");
    source.SetDefaultCharset(TMimeChar::ISO_8859_1);
    source.SetTag(42);
    source.SetVerifyCert(true);
    source.SetCertCAFile("/ca.pem");
    source.SetUseThread(true);
    source.SetIDECharset(TMimeChar::ISO_8859_2);
    source.SetStrictAuth(true);
    source.TrustedCertificates() = {{"h", std::string(32, 'd')}};
    struct Dispatcher : IMainThreadDispatcher {
        void RunAndWait(std::function<void()> Work) override { Work(); }
    };
    const auto dispatcher = std::make_shared<Dispatcher>();
    source.SetMainThreadDispatcher(dispatcher);
    source.MIMEMess().Header().SetOrganization("Org");
    source.MIMEMess().Header().CustomHeaders() = {"X-A: 1"};
    const mime::TDateTime date{std::chrono::milliseconds(1'700'000'000'000)};
    source.MIMEMess().Header().SetDate(date);
    source.MIMEMess().Header().SetXMailer("Mailer");
    int called = 0;
    source.SetOnMailProcess([&](const TMailSender&, TMailStatus) { ++called; });
    // Every event is copied: each one adds its own bit.
    int events = 0;
    source.SetOnBeforeMailProcess([&](const TMailSender&) { events |= 1; });
    source.SetOnAfterMailProcess([&](const TMailSender&) { events |= 2; });
    source.SetOnMailException([&](const TMailSender&, const std::exception&, bool&) { events |= 4; });
    source.SetOnCertificateQuestion(
        [&](const TMailSender&, const TCertificateQuestion&, bool&) { events |= 8; });
    source.AddAddress("to@x");
    source.AddCC("cc@x");
    source.AddBCC("bcc@x");
    source.AddReplyTo("r@x");
    source.MIMEMess().Header().SetMessageID("chosen@x");
    source.AltBody() = {"alt"};
    source.Body() = {"html"};
    std::istringstream bytes("abc");
    source.AddAttachment(&bytes, "a.bin", TMailAttachmentDisposition::adAttachment);

    TMailSender target;
    std::istringstream old("old");
    target.AddAttachment(&old, "old.bin", TMailAttachmentDisposition::adInline);
    target.Assign(&source);
    EXPECT_EQ(target.Host(), "h");
    EXPECT_EQ(target.Port(), "587");
    EXPECT_EQ(target.Username(), "u");
    EXPECT_EQ(target.Password(), "p");
    EXPECT_TRUE(target.SetSSL());
    EXPECT_TRUE(target.SetTLS());
    EXPECT_EQ(target.Priority(), TMessPriority::MP_low);
    EXPECT_TRUE(target.ReadingConfirmation());
    EXPECT_TRUE(target.DeliveryConfirmation());
    EXPECT_EQ(target.TimeOut(), 1234);
    EXPECT_TRUE(target.IsHTML());
    EXPECT_EQ(target.Attempts(), 7);
    EXPECT_EQ(target.From(), "f@x");
    EXPECT_EQ(target.FromName(), "F");
    EXPECT_EQ(target.Subject(), "S");
    EXPECT_EQ(target.DefaultCharset(), TMimeChar::ISO_8859_1);
    EXPECT_EQ(target.Tag(), 42);
    target.MailProcess(TMailStatus::pmsDone);
    EXPECT_EQ(called, 1);
    EXPECT_TRUE(target.VerifyCert());
    EXPECT_EQ(target.CertCAFile(), "/ca.pem");
    EXPECT_TRUE(target.UseThread());
    EXPECT_EQ(target.IDECharset(), TMimeChar::ISO_8859_2);
    EXPECT_TRUE(target.StrictAuth());
    EXPECT_EQ(target.TrustedCertificates(), source.TrustedCertificates());
    EXPECT_EQ(target.MainThreadDispatcher(), dispatcher);
    EXPECT_EQ(target.MIMEMess().Header().Organization(), "Org");
    EXPECT_EQ(target.MIMEMess().Header().CustomHeaders(), std::vector<std::string>{"X-A: 1"});
    EXPECT_TRUE(target.MIMEMess().Header().Date() == date);
    EXPECT_EQ(target.MIMEMess().Header().XMailer(), "Mailer");
    bool flag = false;
    target.OnBeforeMailProcess()(target);
    target.OnAfterMailProcess()(target);
    target.OnMailException()(target, std::runtime_error("x"), flag);
    target.OnCertificateQuestion()(target, TCertificateQuestion{}, flag);
    EXPECT_EQ(events, 15);
    EXPECT_EQ(target.MIMEMess().Header().ToList(), std::vector<std::string>{"to@x"});
    EXPECT_EQ(target.MIMEMess().Header().CCList(), std::vector<std::string>{"cc@x"});
    EXPECT_EQ(target.MIMEMess().Header().MessageID(), "chosen@x");
    EXPECT_EQ(target.BCC(), std::vector<std::string>{"bcc@x"});
    EXPECT_EQ(target.ReplyTo(), std::vector<std::string>{"r@x"});
    EXPECT_EQ(target.AltBody(), std::vector<std::string>{"alt"});
    EXPECT_EQ(target.Body(), std::vector<std::string>{"html"});
    ASSERT_EQ(target.Attachments().Count(), 2u);
    EXPECT_EQ(target.Attachments().Objects(0).Stream(), "old");
    EXPECT_EQ(target.Attachments().Objects(1).Stream(), "abc");
}

TEST(MailSenderTest, AssignFromAnythingElseIsRefusedAndChangesNothing) {
    TMailSender target;
    target.SetHost("kept");
    const std::string notAMail;
    try {
        target.Assign(&notAMail);
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Source must be TMailSender");
    }
    EXPECT_THROW(target.Assign(static_cast<const TMailSender*>(nullptr)), std::invalid_argument);
    EXPECT_EQ(target.Host(), "kept");
}

// A file that cannot be written says why, and the failure goes through DoException.
TEST(MailSenderTest, SaveToFileThatCannotBeWrittenGivesTheSystemsReason) {
    TempDir dir;
    const auto path = dir.Path() / "no-such-folder" / "out.eml";
    TMailSender mail;
    mail.SetFrom("loja@x");
    mail.AddAddress("c@x");
    std::string handled;
    mail.SetOnMailException([&](const TMailSender&, const std::exception& E, bool&) { handled = E.what(); });
    try {
        mail.SaveToFile(path.string());
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unable to write \"" + path.string() + "\": No such file or directory.");
    }
    EXPECT_EQ(handled, "Unable to write \"" + path.string() + "\": No such file or directory.");
    EXPECT_FALSE(std::filesystem::exists(path.parent_path()));
}

TEST(MailSenderTest, SaveToFileWritesTheStoredCopyAndClears) {
    TempDir dir;
    const auto path = dir.Path() / "out.eml";
    TMailSender mail;
    std::ostringstream before;
    EXPECT_TRUE(mail.SaveToStream(&before));
    EXPECT_EQ(before.str(), "");
    mail.SetFrom("loja@x");
    mail.SetSubject("Teste");
    mail.AddAddress("c@x");
    mail.AltBody() = {"linha"};
    mail.SaveToFile(path.string());
    std::ifstream file(path, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_EQ(written, mail.StoredMessage());
    EXPECT_NE(written.find("\r\nSubject: Teste\r\n"), std::string::npos);
    EXPECT_EQ(written.substr(written.size() - 2), "\r\n");
    EXPECT_EQ(mail.Subject(), "");
    EXPECT_TRUE(mail.AltBody().empty());
    std::ostringstream after("prefix:", std::ios::ate);
    EXPECT_TRUE(mail.SaveToStream(&after));
    EXPECT_EQ(after.str(), "prefix:" + written);
    EXPECT_FALSE(mail.SaveToStream(nullptr));
    std::ofstream closed;
    EXPECT_FALSE(mail.SaveToStream(&closed));
}

// ----- message assembly -----------------------------------------------------

std::string Lower(std::string Text) {
    for (char& c : Text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return Text;
}

// "mixed[text/plain,application/pdf]": the tree's shape, type names in lower case.
std::string Shape(const mime::TMimePart& Part) {
    if (Part.PrimaryCode() != mime::TMimePrimary::MP_MULTIPART)
        return Lower(Part.Primary() + "/" + Part.Secondary());
    std::string text = Lower(Part.Secondary()) + "[";
    for (int i = 0; i < Part.GetSubPartCount(); ++i) {
        if (i > 0) text += ",";
        text += Shape(*Part.GetSubPart(i));
    }
    return text + "]";
}

struct TreeCase {
    const char* name;
    bool isHTML;
    bool body;
    bool altBody;
    const char* shape;
};

class BuildTreeTest : public ::testing::TestWithParam<TreeCase> {};

TEST_P(BuildTreeTest, BuildsTheTreeOfItsContent) {
    const auto& c = GetParam();
    TMailSender mail;
    mail.SetIsHTML(c.isHTML);
    if (c.body) mail.Body() = {"<p><img src=\"cid:foto.png\"></p>"};
    if (c.altBody) mail.AltBody() = {"texto"};
    std::istringstream picture("\x89PNG");
    mail.AddAttachment(&picture, "foto.png", TMailAttachmentDisposition::adInline);
    std::istringstream pdf("%PDF");
    mail.AddAttachment(&pdf, "doc.pdf", TMailAttachmentDisposition::adAttachment);
    mail.BuildMimeMess();
    EXPECT_EQ(Shape(mail.MIMEMess().MessagePart()), c.shape);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BuildTreeTest,
    ::testing::Values(
        TreeCase{"text_only", false, true, true, "mixed[text/plain,image/png,application/pdf]"},
        TreeCase{"html_body_not_sent_without_flag", false, true, false, "mixed[image/png,application/pdf]"},
        TreeCase{"html_and_text", true, true, true,
                 "alternative[text/plain,related[text/html,image/png,application/pdf]]"},
        TreeCase{"html_only", true, true, false, "mixed[text/html,image/png,application/pdf]"},
        TreeCase{"html_flag_text_only", true, false, true, "mixed[text/plain,image/png,application/pdf]"},
        TreeCase{"attachments_only", true, false, false, "mixed[image/png,application/pdf]"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuildMimeMessTest, EmptyMailGivesAnEmptyMixedRoot) {
    TMailSender mail;
    mail.Body() = {"<p>never sent</p>"};
    mail.BuildMimeMess();
    EXPECT_EQ(Shape(mail.MIMEMess().MessagePart()), "mixed[]");
    EXPECT_EQ(mail.MIMEMess().MessagePart().Description(), "Multipart message");
}

// The mail the registration window sends, attribute by attribute.
TEST(BuildMimeMessTest, CustomerMailHasExactlyTheseParts) {
    TMailSender mail;
    mail.Clear();
    mail.SetSubject("Dados Cadastrais do Cliente");
    mail.SetFrom("suporte@localhost");
    mail.SetFromName("suporte");
    mail.SetDefaultCharset(TMimeChar::UTF_8);
    mail.SetIDECharset(TMimeChar::CP1252);
    mail.AddAddress("cliente@x.com.br", "cliente@x.com.br");
    mail.AltBody() = {"Nome: JOÃO", "Cidade: SÃO PAULO"};
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<c>JO\xc3\x83O</c>";
    std::istringstream stream(xml);
    mail.AddAttachment(&stream, "Cliente_001_09122026.xml", TMailAttachmentDisposition::adAttachment);
    mail.BuildMimeMess();

    const auto& root = mail.MIMEMess().MessagePart();
    ASSERT_EQ(Shape(root), "mixed[text/plain,text/xml]");
    EXPECT_EQ(root.Description(), "Multipart message");
    EXPECT_FALSE(root.Boundary().empty());

    const auto& text = *root.GetSubPart(0);
    EXPECT_EQ(text.Description(), "Message text");
    EXPECT_EQ(text.Disposition(), "inline");
    EXPECT_EQ(text.FileName(), "");
    EXPECT_EQ(text.CharsetCode(), TMimeChar::UTF_8);
    EXPECT_EQ(text.EncodingCode(), mime::TMimeEncoding::ME_BASE64);
    EXPECT_EQ(FromBase64Lines(text.PartBody()),
              "\xef\xbb\xbfNome: JO\xc3\x83O\r\nCidade: S\xc3\x83O PAULO\r\n");

    const auto& file = *root.GetSubPart(1);
    EXPECT_EQ(file.Description(), "Cliente_001_09122026.xml");
    EXPECT_EQ(file.FileName(), "Cliente_001_09122026.xml");
    EXPECT_EQ(file.Disposition(), "attachment");
    EXPECT_EQ(file.CharsetCode(), TMimeChar::UTF_8);
    EXPECT_FALSE(file.ConvertCharset());
    EXPECT_EQ(file.EncodingCode(), mime::TMimeEncoding::ME_BASE64);
    EXPECT_EQ(FromBase64Lines(file.PartBody()), xml);

    const std::string& message = mail.StoredMessage();
    EXPECT_NE(message.find("\r\nX-mailer: Tandrel - MailSender\r\n"), std::string::npos);
    EXPECT_NE(message.find("From: \"suporte\" <suporte@localhost>\r\n"), std::string::npos);
    EXPECT_NE(message.find("Content-type: text/xml; charset=UTF-8; name=\"Cliente_001_09122026.xml\"\r\n"),
              std::string::npos);
    EXPECT_TRUE(std::regex_search(message, std::regex("\r\nX-mailer: Tandrel - MailSender\r\n"
                                                      "Message-ID: <[0-9a-f]{32}@localhost>\r\n"
                                                      "Content-type: Multipart/mixed;")));
    for (const char* absent : {"\r\nCC:", "\r\nReply-To:", "\r\nOrganization:", "Priority:",
                               "Return-Receipt-To:", "Disposition-Notification-To:"})
        EXPECT_EQ(message.find(absent), std::string::npos) << absent;
    EXPECT_EQ(message.substr(message.size() - 2), "\r\n");
}

struct HeaderCase {
    const char* name;
    const char* fromName;
    bool reading;
    bool delivery;
    std::vector<std::string> replyTo;
    const char* expectedFrom;
    std::vector<std::string> expectedCustom;
    const char* expectedReplyTo;
};

class BuildHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(BuildHeaderTest, FillsFromConfirmationsAndReplyTo) {
    const auto& c = GetParam();
    TMailSender mail;
    mail.SetFrom("loja@x");
    mail.SetFromName(c.fromName);
    mail.SetReadingConfirmation(c.reading);
    mail.SetDeliveryConfirmation(c.delivery);
    mail.ReplyTo() = c.replyTo;
    mail.BuildMimeMess();
    const auto& header = mail.MIMEMess().Header();
    EXPECT_EQ(header.From(), c.expectedFrom);
    EXPECT_EQ(header.CustomHeaders(), c.expectedCustom);
    EXPECT_EQ(header.ReplyTo(), c.expectedReplyTo);
    EXPECT_EQ(header.XMailer(), "Tandrel - MailSender");
}

INSTANTIATE_TEST_SUITE_P(
    Table, BuildHeaderTest,
    ::testing::Values(
        HeaderCase{"bare_address", "", false, false, {}, "loja@x", {}, ""},
        HeaderCase{"blank_name_is_bare", "   ", false, false, {}, "loja@x", {}, ""},
        HeaderCase{"named", "Loja Ávila", false, false, {}, "\"Loja Ávila\" <loja@x>", {}, ""},
        HeaderCase{
            "reading_receipt", "", true, false, {}, "loja@x", {"Disposition-Notification-To: loja@x"}, ""},
        HeaderCase{"both_receipts_return_first",
                   "L",
                   true,
                   true,
                   {},
                   "\"L\" <loja@x>",
                   {"Return-Receipt-To: \"L\" <loja@x>", "Disposition-Notification-To: \"L\" <loja@x>"},
                   ""},
        HeaderCase{"reply_to_joined",
                   "",
                   false,
                   false,
                   {"a@x", "\"B\" <b@x>", "c;d"},
                   "loja@x",
                   {},
                   "a@x;\"\"\"B\"\" <b@x>\";\"c;d\""},
        // A display name is quoted with its quotes and backslashes escaped: nothing in it
        // ends the name or adds an address.
        HeaderCase{"quotes_and_backslashes_escaped",
                   "Loja \"Boa\\Vista\"",
                   false,
                   false,
                   {},
                   "\"Loja \\\"Boa\\\\Vista\\\"\" <loja@x>",
                   {},
                   ""},
        HeaderCase{"brackets_stay_in_the_name",
                   "Ana <chefe@x>",
                   false,
                   false,
                   {},
                   "\"Ana <chefe@x>\" <loja@x>",
                   {},
                   ""},
        // The receipt requests carry the sender as From does: the name encoded, not raw 8-bit.
        HeaderCase{"receipts_encode_the_name",
                   "Suporte T\xC3\xA9"
                   "cnico",
                   true,
                   true,
                   {},
                   "\"Suporte T\xC3\xA9"
                   "cnico\" <loja@x>",
                   {"Return-Receipt-To: \"=?UTF-8?Q?Suporte_T=C3=A9cnico?=\" <loja@x>",
                    "Disposition-Notification-To: \"=?UTF-8?Q?Suporte_T=C3=A9cnico?=\" <loja@x>"},
                   ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A CR or LF typed into an address or name must not start a header line of its own.
TEST(BuildMimeMessTest, LineBreaksInAddressesNeverReachTheHeader) {
    TMailSender mail;
    mail.SetFrom("loja@x\r\nBcc: spy@evil");
    mail.SetFromName("Loja\nX-Injected: 1");
    mail.AddAddress("to@x\r\nX-To-Injected: 1");
    mail.AddCC("cc@x", "Name\rX-CC-Injected: 1");
    mail.AddReplyTo("r@x\nX-Reply-Injected: 1");
    mail.AltBody() = {"texto"};
    mail.BuildMimeMess();
    const std::string& message = mail.StoredMessage();
    for (const char* injected :
         {"\r\nBcc:", "\r\nX-Injected:", "\r\nX-To-Injected:", "\r\nX-CC-Injected:", "\r\nX-Reply-Injected:"})
        EXPECT_EQ(message.find(injected), std::string::npos) << injected;
    const auto headerEnd = message.find("\r\n\r\n");
    const std::string header = message.substr(0, headerEnd);
    for (std::size_t at = header.find('\n'); at != std::string::npos; at = header.find('\n', at + 1))
        EXPECT_EQ(header[at - 1], '\r') << "bare LF at " << at;
    for (std::size_t at = header.find('\r'); at != std::string::npos; at = header.find('\r', at + 1))
        EXPECT_EQ(header[at + 1], '\n') << "bare CR at " << at;
}

TEST(BuildMimeMessTest, InlinePictureGetsAContentIdOnlyWhenTheHtmlNamesIt) {
    TMailSender mail;
    mail.SetIsHTML(true);
    mail.Body() = {"<img src=\"CID:Foto.PNG\">"};
    mail.AltBody() = {"texto"};
    std::istringstream named("png");
    mail.AddAttachment(&named, "foto.png", TMailAttachmentDisposition::adInline);
    std::istringstream other("png");
    mail.AddAttachment(&other, "outra.png", TMailAttachmentDisposition::adInline);
    mail.BuildMimeMess();
    const auto& related = *mail.MIMEMess().MessagePart().GetSubPart(1);
    EXPECT_EQ(related.GetSubPart(1)->ContentID(), "<foto.png>");
    EXPECT_EQ(related.GetSubPart(1)->Disposition(), "inline");
    EXPECT_EQ(related.GetSubPart(2)->ContentID(), "");
}

TEST(BuildMimeMessTest, SameCharsetsSendBodyBytesUnconverted) {
    TMailSender mail;
    mail.SetDefaultCharset(TMimeChar::CP1252);
    mail.SetIDECharset(TMimeChar::CP1252);
    mail.AltBody() = {"São"};
    mail.BuildMimeMess();
    EXPECT_EQ(FromBase64Lines(mail.MIMEMess().MessagePart().GetSubPart(0)->PartBody()), "S\xe3o\r\n");
}

TEST(BuildMimeMessTest, StreamWithoutExtensionIsOctetStream) {
    TMailSender mail;
    std::istringstream bytes("raw");
    mail.AddAttachment(&bytes);
    mail.BuildMimeMess();
    EXPECT_EQ(Shape(mail.MIMEMess().MessagePart()), "mixed[application/octet-stream]");
}

std::string MessageIDOf(const TMailSender& Mail) {
    std::smatch found;
    const std::string& message = Mail.StoredMessage();
    return std::regex_search(message, found, std::regex("\r\nMessage-ID: <([^>\r\n]*)>\r\n")) ? found.str(1)
                                                                                              : "";
}

TEST(BuildMimeMessTest, EveryMessageGetsItsOwnMessageIDAtTheSendersDomain) {
    TMailSender mail;
    mail.SetFrom("loja@açaí.com.br");
    std::set<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        mail.Clear();
        mail.BuildMimeMess();
        const std::string id = MessageIDOf(mail);
        EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}@xn--aa-4iaz\\.com\\.br"))) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 3u);
}

TEST(BuildMimeMessTest, SenderWithoutDomainTakesTheHostName) {
    TMailSender mail;
    mail.SetFrom("suporte");
    mail.SMTP().SetSystemName("caixa-1");
    mail.BuildMimeMess();
    EXPECT_TRUE(std::regex_match(MessageIDOf(mail), std::regex("[0-9a-f]{32}@caixa-1")));
}

TEST(BuildMimeMessTest, MessageIDSetByTheCallerIsKept) {
    TMailSender mail;
    mail.SetFrom("loja@x.example");
    mail.MIMEMess().Header().SetMessageID("pedido-42@loja.example");
    mail.BuildMimeMess();
    EXPECT_EQ(MessageIDOf(mail), "pedido-42@loja.example");
}

struct XmlLabelCase {
    const char* name;
    const char* fileName;
    std::string bytes;
    const char* contentType;
};

class XmlLabelTest : public ::testing::TestWithParam<XmlLabelCase> {};

// An XML file is labelled with the encoding it declares; another text file that is UTF-8
// (and not ASCII) is labelled UTF-8; other files keep the program's code page as their
// label. The bytes go out unchanged either way.
TEST_P(XmlLabelTest, LabelsTheAttachment) {
    const auto& c = GetParam();
    TMailSender mail;
    std::istringstream stream(c.bytes);
    mail.AddAttachment(&stream, c.fileName, TMailAttachmentDisposition::adAttachment);
    mail.BuildMimeMess();
    const auto& part = *mail.MIMEMess().MessagePart().GetSubPart(0);
    EXPECT_EQ(part.Headers().at(0),
              std::string("Content-type: ") + c.contentType + "; name=\"" + c.fileName + "\"");
    EXPECT_EQ(FromBase64Lines(part.PartBody()), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, XmlLabelTest,
    ::testing::Values(
        XmlLabelCase{"xml_utf8", "c.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><c>JOS\xc3\x89</c>",
                     "text/xml; charset=UTF-8"},
        XmlLabelCase{"xml_latin1", "c.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><c>JOS\xc9</c>",
                     "text/xml; charset=ISO-8859-1"},
        XmlLabelCase{"xml_undeclared_is_utf8", "c.xml", "<c>JOS\xc3\x89</c>", "text/xml; charset=UTF-8"},
        XmlLabelCase{"upper_case_extension", "C.XML", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><c/>",
                     "text/xml; charset=WINDOWS-1252"},
        XmlLabelCase{"text_file_as_designed", "c.txt", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                     "text/plain; charset=WINDOWS-1252"},
        XmlLabelCase{"svg_has_no_charset", "c.svg", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><svg/>",
                     "image/svg+xml"},
        // Any other text file that is valid UTF-8 and not plain ASCII is labelled UTF-8.
        XmlLabelCase{"utf8_text_file", "c.txt", "Ol\xc3\xa1, Jos\xc3\xa9", "text/plain; charset=UTF-8"},
        XmlLabelCase{"utf8_html_file", "c.html", "<p>Ol\xc3\xa1</p>", "text/html; charset=UTF-8"},
        XmlLabelCase{"utf8_with_byte_order_mark", "c.txt", "\xef\xbb\xbfOl\xc3\xa1",
                     "text/plain; charset=UTF-8"},
        XmlLabelCase{"windows1252_text_file", "c.txt", "Ol\xe1, Jos\xe9", "text/plain; charset=WINDOWS-1252"},
        XmlLabelCase{"overlong_utf8_is_no_utf8", "c.txt", "Ol\xc3\xa1 \xc0\xaf",
                     "text/plain; charset=WINDOWS-1252"},
        XmlLabelCase{"surrogate_is_no_utf8", "c.txt", "\xed\xa0\x80 \xc3\xa1",
                     "text/plain; charset=WINDOWS-1252"}),
    [](const auto& info) { return std::string(info.param.name); });

// The header names every domain as the envelope will: as its A-label; display names and
// local parts stay as typed.
TEST(BuildMimeMessTest, InternationalDomainsGoIntoTheHeaderAsALabels) {
    TMailSender mail;
    mail.SetFrom("loja@açaí.com.br");
    mail.SetFromName("Loja");
    mail.AddAddress("josé@açaí.com.br", "josé@açaí.com.br");
    mail.AddCC("ana@straße.de");
    mail.AddReplyTo("joão@exemplo.com.br");
    mail.SetReadingConfirmation(true);
    mail.BuildMimeMess();
    const auto& header = mail.MIMEMess().Header();
    EXPECT_EQ(header.From(), "\"Loja\" <loja@xn--aa-4iaz.com.br>");
    EXPECT_EQ(header.ToList(), std::vector<std::string>{"\"josé@açaí.com.br\" <josé@xn--aa-4iaz.com.br>"});
    EXPECT_EQ(header.CCList(), std::vector<std::string>{"ana@xn--strae-oqa.de"});
    EXPECT_EQ(header.ReplyTo(), "joão@exemplo.com.br");
    EXPECT_EQ(header.CustomHeaders(),
              std::vector<std::string>{"Disposition-Notification-To: \"Loja\" <loja@xn--aa-4iaz.com.br>"});
    const std::string& message = mail.StoredMessage();
    EXPECT_NE(message.find("<josé@xn--aa-4iaz.com.br>"), std::string::npos);
    EXPECT_EQ(message.find("açaí"), std::string::npos);  // the display name goes out as an encoded word
}

TEST(BuildMimeMessTest, EventsAndFirstThreeStepsInOrder) {
    TMailSender mail;
    std::vector<std::string> seen;
    mail.SetOnBeforeMailProcess([&](const TMailSender&) { seen.push_back("before"); });
    mail.SetOnMailProcess([&](const TMailSender&, TMailStatus S) { seen.emplace_back(MailStatusName(S)); });
    mail.BuildMimeMess();
    EXPECT_EQ(seen, (std::vector<std::string>{"before", "pmsStartProcess", "pmsConfigHeaders",
                                              "pmsAddingMimeParts"}));
}

}  // namespace
}  // namespace tandrel::mail
