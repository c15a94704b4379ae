// The send flow of TMailSender against a scripted peer and against aiosmtpd.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "testing/ChildProcess.h"
#include "testing/PythonSmtpServer.h"
#include "testing/ScriptedSmtpServer.h"
#include "mail/EAbort.h"
#include "mail/MailSender.h"
#include "mime/Codings.h"
#include "net/SSLOpenSSL.h"

namespace tandrel::mail {
namespace {

using testing::PythonSmtpServer;
using testing::ScriptedSmtpServer;
using Steps = std::vector<TMailStatus>;
using enum TMailStatus;

class SendFixture : public ::testing::Test {
protected:
    void SetUp() override {
        net::SSLImplementation = &net::CreateSSLOpenSSL;
        mail_ = std::make_unique<TMailSender>();
        mail_->SetOnMailProcess([this](const TMailSender&, TMailStatus s) { steps_.push_back(s); });
        mail_->SetTimeOut(10000);
    }

    // A mail to the scripted server: one To, optional CC and BCC, a body.
    void Fill(const std::string& port) {
        mail_->SetHost("127.0.0.1");
        mail_->SetPort(port);
        mail_->SetFrom("loja@example.com");
        mail_->SetSubject("Teste");
        mail_->AddAddress("cliente@example.com", "Cliente");
        mail_->AltBody() = {"linha 1", ".linha com ponto"};
    }

    // Sends, expecting failure; returns the exception's message.
    std::string SendFailing() {
        try {
            mail_->Send(false);
        } catch (const EAbort&) {
            return "<EAbort>";
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "<no error>";
    }

    static std::vector<std::string> StartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
        std::vector<std::string> found;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                     [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
        return found;
    }

    std::unique_ptr<TMailSender> mail_;
    Steps steps_;
};

TEST_F(SendFixture, SuccessfulSendReportsEveryStepAndClears) {
    ScriptedSmtpServer server;
    Fill(server.Port());
    mail_->AddCC("Copia <copia@example.com>");
    mail_->AddBCC("oculta@example.com");
    int after = 0;
    mail_->SetOnAfterMailProcess([&](const TMailSender&) { ++after; });
    mail_->Send(false);
    const std::string stored = mail_->StoredMessage();
    EXPECT_EQ(steps_, (Steps{pmsStartProcess, pmsConfigHeaders, pmsAddingMimeParts, pmsLoginSMTP, pmsStartSends,
                             pmsSendTo, pmsSendCC, pmsSendBCC, pmsSendData, pmsLogoutSMTP, pmsDone}));
    EXPECT_EQ(after, 1);
    const auto commands = server.Commands();
    ASSERT_EQ(commands.size(), 7u);
    EXPECT_EQ(commands[0].rfind("EHLO ", 0), 0u);
    EXPECT_EQ(commands[1], "MAIL FROM:<loja@example.com> SIZE=" + std::to_string(stored.size()));
    EXPECT_EQ(commands[2], "RCPT TO:<cliente@example.com>");
    EXPECT_EQ(commands[3], "RCPT TO:<copia@example.com>");
    EXPECT_EQ(commands[4], "RCPT TO:<oculta@example.com>");
    EXPECT_EQ(commands[5], "DATA");
    EXPECT_EQ(commands[6], "QUIT");
    std::string data;
    for (const auto& line : server.Data()) data += line + "\r\n";
    EXPECT_EQ(data, stored);
    EXPECT_TRUE(mail_->MIMEMess().Header().ToList().empty());
    EXPECT_TRUE(mail_->AltBody().empty());
    EXPECT_EQ(mail_->GetLastSmtpError(), "");
}

TEST_F(SendFixture, RecipientRefusedTwiceThenAcceptedCompletes) {
    ScriptedSmtpServer server;
    server.Queue("RCPT", "450 4.2.0 try again");
    server.Queue("RCPT", "451 4.3.0 later");
    Fill(server.Port());
    mail_->Send(false);
    EXPECT_EQ(StartingWith(server.Commands(), "RCPT").size(), 3u);
    EXPECT_EQ(steps_.back(), pmsDone);
    EXPECT_EQ(mail_->GetLastSmtpError(), "");
}

// The server has the message once DATA is accepted: a QUIT without 221 is no failure.
TEST_F(SendFixture, QuitUnansweredStillCompletesTheSend) {
    for (const char* quitReply : {ScriptedSmtpServer::kClose, "500 5.5.1 what?"}) {
        SCOPED_TRACE(quitReply);
        ScriptedSmtpServer server;
        server.Queue("QUIT", quitReply);
        steps_.clear();
        Fill(server.Port());
        EXPECT_NO_THROW(mail_->Send(false));
        EXPECT_EQ(StartingWith(server.Commands(), "QUIT").size(), 1u);
        ASSERT_GE(steps_.size(), 2u);
        EXPECT_EQ(steps_[steps_.size() - 2], pmsLogoutSMTP);
        EXPECT_EQ(steps_.back(), pmsDone);
        EXPECT_EQ(mail_->GetLastSmtpError(), "");
    }
}

TEST_F(SendFixture, LoginIsRetriedOnNewConnections) {
    ScriptedSmtpServer server;
    server.Queue("GREETING", "554 5.3.2 busy");
    server.Queue("GREETING", "421 4.3.2 later");
    Fill(server.Port());
    mail_->Send(false);
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_EQ(steps_.back(), pmsDone);
}

TEST_F(SendFixture, DeliveryConfirmationAsksOnlyForThatMail) {
    ScriptedSmtpServer server;
    Fill(server.Port());
    mail_->SetDeliveryConfirmation(true);
    mail_->Send(false);
    Fill(server.Port());
    mail_->SetDeliveryConfirmation(false);
    mail_->Send(false);
    const auto mailFrom = StartingWith(server.Commands(), "MAIL");
    const auto rcpt = StartingWith(server.Commands(), "RCPT");
    ASSERT_EQ(mailFrom.size(), 2u);
    ASSERT_EQ(rcpt.size(), 2u);
    EXPECT_NE(mailFrom[0].find(" RET=FULL"), std::string::npos);
    EXPECT_EQ(rcpt[0], "RCPT TO:<cliente@example.com> NOTIFY=SUCCESS,FAILURE ORCPT=rfc822;cliente@example.com");
    EXPECT_EQ(mailFrom[1].find("RET="), std::string::npos);
    EXPECT_EQ(rcpt[1], "RCPT TO:<cliente@example.com>");
}

struct FailureCase {
    const char* name;
    std::function<void(ScriptedSmtpServer&, TMailSender&)> setup;
    const char* message;
    TMailStatus lastStepBeforeError;
};

class SendFailureTest : public SendFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SendFailureTest, FailsWithTheComposedMessageAndClears) {
    const auto& c = GetParam();
    ScriptedSmtpServer server;
    Fill(server.Port());
    c.setup(server, *mail_);
    const std::string message = SendFailing();
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(mail_->GetLastSmtpError(), c.message);
    ASSERT_GE(steps_.size(), 2u);
    EXPECT_EQ(steps_.back(), pmsError);
    EXPECT_EQ(steps_[steps_.size() - 2], c.lastStepBeforeError);
    EXPECT_TRUE(mail_->MIMEMess().Header().ToList().empty());
    EXPECT_TRUE(mail_->AltBody().empty());
}

void Times(ScriptedSmtpServer& s, const char* verb, const char* reply, int n) {
    for (int i = 0; i < n; ++i) s.Queue(verb, reply);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SendFailureTest,
    ::testing::Values(
        FailureCase{"host_empty", [](auto&, auto& m) { m.SetHost(""); }, "SMTP Error: Server not informed",
                    pmsLoginSMTP},
        FailureCase{"login_refused",
                    [](auto& s, auto&) { Times(s, "GREETING", "554 5.3.2 no service", 3); },
                    "SMTP Error: Unable to Login.\r\n554 5.3.2 no service", pmsLoginSMTP},
        FailureCase{"no_dsn_capability",
                    [](auto& s, auto& m) {
                        s.Queue("EHLO", "250-scripted\r\n250 SIZE 1000");
                        m.SetDeliveryConfirmation(true);
                    },
                    "SMTP Error: The SMTP Server does not support Delivery Status Notification", pmsLoginSMTP},
        FailureCase{"sender_refused_same_line_once",
                    [](auto& s, auto&) { Times(s, "MAIL", "530 5.7.0 Authentication required", 3); },
                    "SMTP Error: Unable to send MailFrom.\r\n530 5.7.0 Authentication required", pmsStartSends},
        FailureCase{"recipient_refused_three_lines",
                    [](auto& s, auto&) {
                        s.Queue("RCPT", "450 4.2.0 first");
                        s.Queue("RCPT", "451 4.3.0 second");
                        s.Queue("RCPT", "550 5.1.1 third");
                    },
                    "SMTP Error: Unable to send MailTo.\r\n450 4.2.0 first\r\n451 4.3.0 second\r\n550 5.1.1 third",
                    pmsSendTo},
        FailureCase{"cc_refused",
                    [](auto& s, auto& m) {
                        m.AddCC("copia@example.com");
                        s.Queue("RCPT", "250 ok");
                        Times(s, "RCPT", "550 5.1.1 no copy", 3);
                    },
                    "SMTP Error: Unable to send CC list.\r\n550 5.1.1 no copy", pmsSendCC},
        FailureCase{"bcc_refused",
                    [](auto& s, auto& m) {
                        m.AddBCC("oculta@example.com");
                        s.Queue("RCPT", "250 ok");
                        Times(s, "RCPT", "550 5.1.1 no blind copy", 3);
                    },
                    "SMTP Error: Unable to send BCC list.\r\n550 5.1.1 no blind copy", pmsSendBCC},
        FailureCase{"data_refused_carries_earlier_answers",
                    [](auto& s, auto&) {
                        s.Queue("RCPT", "450 4.2.0 busy");
                        Times(s, "DATA", "554 5.6.0 refused", 3);
                    },
                    "SMTP Error: Unable to send Mail data.\r\n450 4.2.0 busy\r\n554 5.6.0 refused", pmsSendData},
        FailureCase{"no_recipient_fails_at_data",
                    [](auto& s, auto& m) {
                        m.MIMEMess().Header().ToList().clear();
                        Times(s, "DATA", "503 5.5.1 Error: need RCPT command", 3);
                    },
                    "SMTP Error: Unable to send Mail data.\r\n503 5.5.1 Error: need RCPT command", pmsSendData},
        FailureCase{"one_attempt_no_retry",
                    [](auto& s, auto& m) {
                        m.SetAttempts(1);
                        s.Queue("RCPT", "450 4.2.0 busy");
                    },
                    "SMTP Error: Unable to send MailTo.\r\n450 4.2.0 busy", pmsSendTo}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SendFixture, ConnectionDroppedInsideDataFailsAtTheDataStep) {
    ScriptedSmtpServer server;
    server.Queue("DATA", ScriptedSmtpServer::kDropInData);
    Fill(server.Port());
    mail_->AltBody().assign(2000, std::string(70, 'x'));  // more than the socket takes at once
    const std::string message = SendFailing();
    EXPECT_EQ(message.rfind("SMTP Error: Unable to send Mail data.\r\n", 0), 0u) << message;
    EXPECT_EQ(steps_.back(), pmsError);
}

TEST_F(SendFixture, SilentGreetingTimesOut) {
    ScriptedSmtpServer server;
    server.SetGreeting(ScriptedSmtpServer::kSilent);
    Fill(server.Port());
    mail_->SetTimeOut(300);
    mail_->SetAttempts(1);
    const std::string message = SendFailing();
    EXPECT_EQ(message, "SMTP Error: Unable to Login.\r\n");
    EXPECT_EQ(mail_->SMTP().Sock().LastError(), 10060);
}

TEST_F(SendFixture, HandlerThatClearsThrowItTurnsTheErrorIntoTheSilentAbort) {
    ScriptedSmtpServer server;
    Times(server, "MAIL", "550 5.7.1 no", 3);
    Fill(server.Port());
    std::vector<std::string> seen;
    mail_->SetOnMailException([&](const TMailSender& AMail, const std::exception& E, bool& ThrowIt) {
        EXPECT_EQ(&AMail, mail_.get());
        EXPECT_TRUE(ThrowIt);
        seen.emplace_back(E.what());
        ThrowIt = false;
    });
    int after = 0;
    mail_->SetOnAfterMailProcess([&](const TMailSender&) { ++after; });
    EXPECT_EQ(SendFailing(), "<EAbort>");
    EXPECT_EQ(seen, std::vector<std::string>{"SMTP Error: Unable to send MailFrom.\r\n550 5.7.1 no"});
    EXPECT_EQ(after, 0);
    EXPECT_EQ(mail_->GetLastSmtpError(), seen.front());
    EXPECT_TRUE(mail_->AltBody().empty());
}

TEST_F(SendFixture, HandlerThatKeepsThrowItRaisesTheError) {
    ScriptedSmtpServer server;
    Fill(server.Port());
    mail_->SetHost("");
    int calls = 0;
    mail_->SetOnMailException([&](const TMailSender&, const std::exception&, bool&) { ++calls; });
    EXPECT_EQ(SendFailing(), "SMTP Error: Server not informed");
    EXPECT_EQ(calls, 1);
}

// ----- against aiosmtpd -------------------------------------------------------

struct RealServerCase {
    const char* name;
    std::vector<std::string> serverArgs;
    bool ssl;
    bool tls;
};

class RealServerTest : public SendFixture, public ::testing::WithParamInterface<RealServerCase> {};

TEST_P(RealServerTest, DeliversTheCustomerMail) {
    const auto& c = GetParam();
    PythonSmtpServer server(c.serverArgs);
    ASSERT_NE(server.Port(), 0) << "aiosmtpd did not start";
    mail_->SetHost("127.0.0.1");
    mail_->SetPort(server.PortText());
    mail_->SetSSL(c.ssl);
    mail_->SetTLS(c.tls);
    mail_->SetUsername("loja");
    mail_->SetPassword("s3nha");
    mail_->SetFrom("suporte@loja.com.br");
    mail_->SetFromName("Suporte Ávila");
    mail_->SetSubject("Dados Cadastrais do Cliente — ação");
    mail_->AddAddress("joao@cliente.com.br", "joao@cliente.com.br");
    mail_->AltBody() = {"Nome: JOÃO DA SILVA", "Cidade: SÃO PAULO"};
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<cliente>JO\xc3\x83O</cliente>\r\n";
    for (int i = 0; i < 200; ++i) xml += std::string(1, static_cast<char>(i)) + "<linha/>\r\n";
    std::istringstream stream(xml);
    mail_->AddAttachment(&stream, "Cliente_001_10122026.xml", TMailAttachmentDisposition::adAttachment);
    mail_->Send(false);

    const auto mails = server.Messages();
    ASSERT_EQ(mails.size(), 1u);
    const auto& m = mails.front();
    EXPECT_EQ(m.Get("mail_from"), "suporte@loja.com.br");
    EXPECT_EQ(m.All("rcpt"), std::vector<std::string>{"joao@cliente.com.br"});
    EXPECT_EQ(m.Get("auth"), "loja");
    EXPECT_EQ(m.Get("from"), "Suporte Ávila <suporte@loja.com.br>");
    EXPECT_EQ(m.Get("to"), "\"joao@cliente.com.br\" <joao@cliente.com.br>");
    EXPECT_EQ(m.Get("subject"), "Dados Cadastrais do Cliente — ação");
    EXPECT_EQ(m.Get("x-mailer"), "Tandrel - MailSender");
    const auto parts = m.All("part");
    ASSERT_EQ(parts.size(), 2u);
    std::istringstream text(parts[0]);
    std::string type, disposition, name, charset, hex;
    text >> type >> disposition >> name >> charset >> hex;
    EXPECT_EQ(type, "text/plain");
    EXPECT_EQ(disposition, "inline");
    EXPECT_EQ(charset, "UTF-8");
    EXPECT_EQ(testing::FromHex(hex), "\xef\xbb\xbfNome: JO\xc3\x83O DA SILVA\r\nCidade: S\xc3\x83O PAULO\r\n");
    std::istringstream file(parts[1]);
    file >> type >> disposition >> name >> charset >> hex;
    EXPECT_EQ(type, "text/xml");
    EXPECT_EQ(disposition, "attachment");
    EXPECT_EQ(name, "Cliente_001_10122026.xml");
    EXPECT_EQ(testing::FromHex(hex), xml);
    EXPECT_EQ(steps_.back(), pmsDone);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealServerTest,
    ::testing::Values(
        RealServerCase{"plain_auth_plain", {"--user", "loja", "--password", "s3nha", "--require-auth"}, false, false},
        RealServerCase{"plain_auth_login",
                       {"--user", "loja", "--password", "s3nha", "--require-auth", "--exclude-auth", "PLAIN"},
                       false, false},
        RealServerCase{"starttls_auth_plain",
                       {"--mode", "starttls", "--user", "loja", "--password", "s3nha", "--require-auth"}, false,
                       true},
        RealServerCase{"smtps_auth_login",
                       {"--mode", "smtps", "--user", "loja", "--password", "s3nha", "--require-auth",
                        "--exclude-auth", "PLAIN"},
                       true, true},
        RealServerCase{"size_announced", {"--size", "1000000", "--user", "loja", "--password", "s3nha"}, false,
                       false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SendFixture, RealServerAnnouncesSizeAndTheClientReadsIt) {
    PythonSmtpServer server({"--size", "123456"});
    ASSERT_NE(server.Port(), 0);
    Fill(server.PortText());
    mail_->Send(false);
    EXPECT_TRUE(mail_->SMTP().ESMTPSize());
    EXPECT_EQ(mail_->SMTP().MaxSize(), 123456);
    EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SendFixture, WrongPasswordFailsAtTheSenderStep) {
    PythonSmtpServer server({"--user", "loja", "--password", "s3nha", "--require-auth"});
    ASSERT_NE(server.Port(), 0);
    Fill(server.PortText());
    mail_->SetUsername("loja");
    mail_->SetPassword("errada");
    const std::string message = SendFailing();
    EXPECT_EQ(message.rfind("SMTP Error: Unable to send MailFrom.\r\n530", 0), 0u) << message;
    EXPECT_TRUE(server.Messages().empty());
}

// ----- certificate check and server name over TLS ------------------------------

// A self-signed server certificate for "localhost" (a name only, no address).
class LocalhostCertificate {
public:
    LocalhostCertificate() {
        testing::ChildProcess openssl({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                       "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                                       "-keyout", Key(), "-out", Cert()},
                                      {.MergeStderr = true});
        if (openssl.Wait() != 0) throw std::runtime_error("openssl req failed: " + openssl.Output());
    }
    std::string Cert() const { return (dir_.Path() / "cert.pem").string(); }
    std::string Key() const { return (dir_.Path() / "key.pem").string(); }

private:
    testing::TempDir dir_;
};

struct TlsCheckCase {
    const char* name;
    const char* host;
    bool verify;
    bool trustServer;   // the server's certificate as CertCAFile
    const char* sni;    // the name the server saw; "-" none
    const char* error;  // in the socket's error text; empty: delivered
};

class TlsCheckTest : public SendFixture, public ::testing::WithParamInterface<TlsCheckCase> {};

TEST_P(TlsCheckTest, NamesTheHostAndChecksTheCertificateOnlyWhenAsked) {
    const auto& c = GetParam();
    static const LocalhostCertificate certificate;
    PythonSmtpServer server({"--mode", "smtps", "--cert", certificate.Cert(), "--key", certificate.Key()});
    Fill(server.PortText());
    mail_->SetHost(c.host);
    mail_->SetSSL(true);
    mail_->SetAttempts(1);
    mail_->SetVerifyCert(c.verify);
    if (c.trustServer) mail_->SetCertCAFile(certificate.Cert());
    // A threaded send works on a copy: the copy must check as its source does.
    TMailSender copy;
    copy.Assign(*mail_);
    EXPECT_EQ(copy.VerifyCert(), c.verify);
    EXPECT_EQ(copy.CertCAFile(), mail_->CertCAFile());
    if (*c.error == '\0') {
        mail_->Send(false);
        const auto mails = server.Messages();
        ASSERT_EQ(mails.size(), 1u);
        EXPECT_EQ(mails[0].Get("tls"), "yes");
        EXPECT_EQ(mails[0].Get("sni"), c.sni);
    } else {
        const std::string message = SendFailing();
        EXPECT_EQ(message.rfind("SMTP Error: Unable to Login.", 0), 0u) << message;
        const auto& sock = mail_->SMTP().Sock();
        EXPECT_EQ(sock.LastError(), net::WSASYSNOTREADY);
        EXPECT_NE(sock.LastErrorDesc().find(std::string("certificate verify failed: ") + c.error), std::string::npos)
            << sock.LastErrorDesc();
        EXPECT_TRUE(server.Messages().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TlsCheckTest,
    ::testing::Values(
        // The defaults, as the window sends: any certificate, the host's name in the handshake.
        TlsCheckCase{"unchecked_name", "localhost", false, false, "localhost", ""},
        TlsCheckCase{"unchecked_address", "127.0.0.1", false, false, "-", ""},
        TlsCheckCase{"checked_trusted", "localhost", true, true, "localhost", ""},
        TlsCheckCase{"checked_untrusted", "localhost", true, false, "", "self-signed certificate"},
        TlsCheckCase{"checked_address_not_named", "127.0.0.1", true, true, "", "IP address mismatch"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tandrel::mail
