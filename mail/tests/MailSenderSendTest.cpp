// The send flow of TMailSender against a scripted peer and against aiosmtpd.

#include "mail/EAbort.h"
#include "mail/MailSender.h"
#include "net/BlockSocket.h"
#include "net/SSLOpenSSL.h"
#include "support/Codings.h"
#include "testing/ChildProcess.h"
#include "testing/PythonSmtpServer.h"
#include "testing/ScriptedSmtpServer.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

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
        FMail = std::make_unique<TMailSender>();
        FMail->SetOnMailProcess([this](const TMailSender&, TMailStatus S) { FSteps.push_back(S); });
        FMail->SetTimeOut(10000);
    }

    // A mail to the scripted server: one To, optional CC and BCC, a body.
    void Fill(const std::string& Port) {
        FMail->SetHost("127.0.0.1");
        FMail->SetPort(Port);
        FMail->SetFrom("loja@example.com");
        FMail->SetSubject("Teste");
        FMail->AddAddress("cliente@example.com", "Cliente");
        FMail->AltBody() = {"linha 1", ".linha com ponto"};
    }

    // Sends, expecting failure; returns the exception's message.
    std::string SendFailing() {
        try {
            FMail->Send(false);
        } catch (const EAbort&) {
            return "<EAbort>";
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "<no error>";
    }

    // Each further try the component reports, with the step it belongs to.
    std::shared_ptr<std::vector<std::pair<TMailStatus, unsigned>>> RecordAttempts() {
        auto attempts = std::make_shared<std::vector<std::pair<TMailStatus, unsigned>>>();
        FMail->SetOnMailAttempt(
            [this, attempts](const TMailSender&, unsigned N) { attempts->emplace_back(FSteps.back(), N); });
        return attempts;
    }

    static std::vector<std::string> StartingWith(const std::vector<std::string>& Lines,
                                                 const std::string& Prefix) {
        std::vector<std::string> found;
        std::copy_if(Lines.begin(), Lines.end(), std::back_inserter(found),
                     [&](const std::string& L) { return L.rfind(Prefix, 0) == 0; });
        return found;
    }

    std::unique_ptr<TMailSender> FMail;
    Steps FSteps;
};

TEST_F(SendFixture, SuccessfulSendReportsEveryStepAndClears) {
    ScriptedSmtpServer server;
    Fill(server.Port());
    FMail->AddCC("Copia <copia@example.com>");
    FMail->AddBCC("oculta@example.com");
    int after = 0;
    FMail->SetOnAfterMailProcess([&](const TMailSender&) { ++after; });
    FMail->Send(false);
    const std::string stored = FMail->StoredMessage();
    EXPECT_EQ(FSteps,
              (Steps{pmsStartProcess, pmsConfigHeaders, pmsAddingMimeParts, pmsLoginSMTP, pmsStartSends,
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
    EXPECT_TRUE(FMail->MIMEMess().Header().ToList().empty());
    EXPECT_TRUE(FMail->AltBody().empty());
    EXPECT_EQ(FMail->GetLastSmtpError(), "");
}

TEST_F(SendFixture, RecipientRefusedTwiceThenAcceptedCompletes) {
    ScriptedSmtpServer server;
    server.Queue("RCPT", "450 4.2.0 try again");
    server.Queue("RCPT", "451 4.3.0 later");
    Fill(server.Port());
    const auto attempts = RecordAttempts();
    FMail->Send(false);
    EXPECT_EQ(StartingWith(server.Commands(), "RCPT").size(), 3u);
    EXPECT_EQ(*attempts, (std::vector<std::pair<TMailStatus, unsigned>>{{pmsSendTo, 2}, {pmsSendTo, 3}}));
    EXPECT_EQ(FSteps.back(), pmsDone);
    EXPECT_EQ(FMail->GetLastSmtpError(), "");
}

// The server has the message once DATA is accepted: a QUIT without 221 is no failure.
TEST_F(SendFixture, QuitUnansweredStillCompletesTheSend) {
    for (const char* quitReply : {ScriptedSmtpServer::kClose, "500 5.5.1 what?"}) {
        SCOPED_TRACE(quitReply);
        ScriptedSmtpServer server;
        server.Queue("QUIT", quitReply);
        FSteps.clear();
        Fill(server.Port());
        EXPECT_NO_THROW(FMail->Send(false));
        EXPECT_EQ(StartingWith(server.Commands(), "QUIT").size(), 1u);
        ASSERT_GE(FSteps.size(), 2u);
        EXPECT_EQ(FSteps[FSteps.size() - 2], pmsLogoutSMTP);
        EXPECT_EQ(FSteps.back(), pmsDone);
        EXPECT_EQ(FMail->GetLastSmtpError(), "");
    }
}

TEST_F(SendFixture, LoginIsRetriedOnNewConnections) {
    ScriptedSmtpServer server;
    server.Queue("GREETING", "554 5.3.2 busy");
    server.Queue("GREETING", "421 4.3.2 later");
    Fill(server.Port());
    const auto attempts = RecordAttempts();
    FMail->Send(false);
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_EQ(*attempts,
              (std::vector<std::pair<TMailStatus, unsigned>>{{pmsLoginSMTP, 2}, {pmsLoginSMTP, 3}}));
    EXPECT_EQ(FSteps.back(), pmsDone);
}

TEST_F(SendFixture, DeliveryConfirmationAsksOnlyForThatMail) {
    ScriptedSmtpServer server;
    Fill(server.Port());
    FMail->SetDeliveryConfirmation(true);
    FMail->Send(false);
    Fill(server.Port());
    FMail->SetDeliveryConfirmation(false);
    FMail->Send(false);
    const auto mailFrom = StartingWith(server.Commands(), "MAIL");
    const auto rcpt = StartingWith(server.Commands(), "RCPT");
    ASSERT_EQ(mailFrom.size(), 2u);
    ASSERT_EQ(rcpt.size(), 2u);
    EXPECT_NE(mailFrom[0].find(" RET=FULL"), std::string::npos);
    EXPECT_EQ(rcpt[0],
              "RCPT TO:<cliente@example.com> NOTIFY=SUCCESS,FAILURE ORCPT=rfc822;cliente@example.com");
    EXPECT_EQ(mailFrom[1].find("RET="), std::string::npos);
    EXPECT_EQ(rcpt[1], "RCPT TO:<cliente@example.com>");
}

struct FailureCase {
    const char* name;
    std::function<void(ScriptedSmtpServer&, TMailSender&)> setup;
    const char* message;
    TMailStatus lastStepBeforeError;
    bool connected = true;  // a connection in step is left with QUIT
};

class SendFailureTest : public SendFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SendFailureTest, FailsWithTheComposedMessageAndClears) {
    const auto& c = GetParam();
    ScriptedSmtpServer server;
    Fill(server.Port());
    c.setup(server, *FMail);
    const std::string message = SendFailing();
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(FMail->GetLastSmtpError(), c.message);
    ASSERT_GE(FSteps.size(), 2u);
    EXPECT_EQ(FSteps.back(), pmsError);
    EXPECT_EQ(FSteps[FSteps.size() - 2], c.lastStepBeforeError);
    if (c.lastStepBeforeError == pmsLoginSMTP) {
        EXPECT_TRUE(StartingWith(server.Commands(), "MAIL").empty());
    }
    EXPECT_TRUE(FMail->MIMEMess().Header().ToList().empty());
    EXPECT_TRUE(FMail->AltBody().empty());
    const auto commands = server.Commands();
    EXPECT_EQ(StartingWith(commands, "QUIT").size(), c.connected ? 1u : 0u);
    if (c.connected) {
        EXPECT_EQ(commands.back(), "QUIT");
    }
    EXPECT_FALSE(FMail->SMTP().Connected());
}

void Times(ScriptedSmtpServer& S, const char* Verb, const char* Reply, int N) {
    for (int i = 0; i < N; ++i) S.Queue(Verb, Reply);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SendFailureTest,
    ::testing::Values(
        FailureCase{"host_empty", [](auto&, auto& m) { m.SetHost(""); }, "SMTP Error: Server not informed",
                    pmsLoginSMTP, false},
        FailureCase{"login_refused", [](auto& s, auto&) { Times(s, "GREETING", "554 5.3.2 no service", 3); },
                    "SMTP Error: Unable to Login.\r\n554 5.3.2 no service", pmsLoginSMTP},
        FailureCase{"no_dsn_capability",
                    [](auto& s, auto& m) {
                        s.Queue("EHLO", "250-scripted\r\n250 SIZE 1000");
                        m.SetDeliveryConfirmation(true);
                    },
                    "SMTP Error: The SMTP Server does not support Delivery Status Notification",
                    pmsLoginSMTP},
        // An address that needs SMTPUTF8, from a server without it, wherever the address stands.
        FailureCase{"recipient_local_part_without_smtputf8",
                    [](auto&, auto& m) { m.AddAddress("joão@exemplo.com.br"); },
                    "SMTP Error: The SMTP Server does not support SMTPUTF8, needed for the address "
                    "\"joão@exemplo.com.br\"",
                    pmsLoginSMTP},
        FailureCase{"sender_local_part_without_smtputf8",
                    [](auto&, auto& m) { m.SetFrom("lojão@açaí.com.br"); },
                    "SMTP Error: The SMTP Server does not support SMTPUTF8, needed for the address "
                    "\"lojão@xn--aa-4iaz.com.br\"",
                    pmsLoginSMTP},
        FailureCase{"blind_copy_local_part_without_smtputf8",
                    [](auto&, auto& m) { m.AddBCC("zé@x.example"); },
                    "SMTP Error: The SMTP Server does not support SMTPUTF8, needed for the address "
                    "\"zé@x.example\"",
                    pmsLoginSMTP},
        FailureCase{"reply_to_local_part_without_smtputf8",
                    [](auto&, auto& m) { m.AddReplyTo("sônia@x.example"); },
                    "SMTP Error: The SMTP Server does not support SMTPUTF8, needed for the address "
                    "\"sônia@x.example\"",
                    pmsLoginSMTP},
        FailureCase{"sender_refused_same_line_once",
                    [](auto& s, auto&) { Times(s, "MAIL", "530 5.7.0 Authentication required", 3); },
                    "SMTP Error: Unable to send MailFrom.\r\n530 5.7.0 Authentication required",
                    pmsStartSends},
        FailureCase{
            "recipient_refused_three_lines",
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
                    "SMTP Error: Unable to send Mail data.\r\n450 4.2.0 busy\r\n554 5.6.0 refused",
                    pmsSendData},
        FailureCase{"no_recipient_fails_at_data",
                    [](auto& s, auto& m) {
                        m.MIMEMess().Header().ToList().clear();
                        Times(s, "DATA", "503 5.5.1 Error: need RCPT command", 3);
                    },
                    "SMTP Error: Unable to send Mail data.\r\n503 5.5.1 Error: need RCPT command",
                    pmsSendData},
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
    FMail->AltBody().assign(2000, std::string(70, 'x'));  // more than the socket takes at once
    const std::string message = SendFailing();
    EXPECT_EQ(message.rfind("SMTP Error: Unable to send Mail data.\r\n", 0), 0u) << message;
    EXPECT_EQ(FSteps.back(), pmsError);
}

TEST_F(SendFixture, SilentGreetingTimesOut) {
    ScriptedSmtpServer server;
    server.SetGreeting(ScriptedSmtpServer::kSilent);
    Fill(server.Port());
    FMail->SetTimeOut(300);
    FMail->SetAttempts(1);
    const std::string message = SendFailing();
    EXPECT_EQ(message, "SMTP Error: Unable to Login.\r\nTCP/IP Socket error 10060: Connection timed out");
    EXPECT_EQ(FMail->SMTP().Sock().LastError(), 10060);
}

// ----- slow, silent and broken servers -----------------------------------------

constexpr int kReplyTimeOut = 400;  // ms, the mail's TimeOut in these tests
// Well after the client has given up: a late reply finds the conversation ended.
constexpr std::chrono::milliseconds kLate{3 * kReplyTimeOut};

// Queues the reply to one step for one try: late (after the time-out) or never.
using Answer = std::function<void(const std::string& Verb, const std::string& Reply)>;

struct LateCase {
    const char* name;
    // Prepares the mail and queues the replies of every try (one Login per connection).
    std::function<void(ScriptedSmtpServer&, TMailSender&, const Answer& Late)> setup;
    // What each connection received, as words: EHLO, STARTTLS, AUTH, USER, PASSWORD, MAIL,
    // RCPT, DATA, MESSAGE (the message and its final dot), QUIT.
    std::vector<std::string> received;
    // Time-outs the send sits through, one per connection: it ends within
    // timeOuts x TimeOut plus a margin.
    int timeOuts;
    // Empty: the send succeeds (the server's 250 to the end of data was read).
    std::string message;
};

const std::string kLoginTimedOut =
    "SMTP Error: Unable to Login.\r\nTCP/IP Socket error 10060: Connection timed out";

void ThreeTimes(const std::function<void()>& Queue) {
    for (int i = 0; i < 3; ++i) Queue();
}

std::vector<LateCase> LateCases() {
    const auto login = [](std::string EhloCaps) {
        return [EhloCaps](ScriptedSmtpServer& Server, TMailSender& M) {
            M.SetUsername("loja");
            M.SetPassword("s3nha");
            ThreeTimes([&] { Server.Queue("EHLO", "250-scripted\r\n" + EhloCaps); });
        };
    };
    const auto authLogin = login("250 AUTH LOGIN");
    return {
        {"greeting",
         [](auto&, auto&, const Answer& Late) { ThreeTimes([&] { Late("GREETING", "220 late ESMTP"); }); },
         {"", "", ""},
         3,
         kLoginTimedOut},
        {"ehlo",
         [](auto&, auto&, const Answer& Late) { ThreeTimes([&] { Late("EHLO", "250 late"); }); },
         {"EHLO", "EHLO", "EHLO"},
         3,
         kLoginTimedOut},
        {"starttls_ready",
         [](auto& Server, auto& M, const Answer& Late) {
             M.SetTLS(true);
             ThreeTimes([&] {
                 Server.Queue("EHLO", "250-scripted\r\n250 STARTTLS");
                 Late("STARTTLS", "220 2.0.0 Ready to start TLS");
             });
         },
         {"EHLO STARTTLS", "EHLO STARTTLS", "EHLO STARTTLS"},
         3,
         kLoginTimedOut},
        {"auth_login",
         [authLogin](auto& Server, auto& M, const Answer& Late) {
             authLogin(Server, M);
             ThreeTimes([&] { Late("AUTH", "334 VXNlcm5hbWU6"); });
         },
         {"EHLO AUTH", "EHLO AUTH", "EHLO AUTH"},
         3,
         kLoginTimedOut},
        {"auth_login_user",
         [authLogin](auto& Server, auto& M, const Answer& Late) {
             authLogin(Server, M);
             ThreeTimes([&] {
                 Server.Queue("AUTH", "334 VXNlcm5hbWU6");
                 Late(ScriptedSmtpServer::kAuthAnswer, "334 UGFzc3dvcmQ6");
             });
         },
         {"EHLO AUTH USER", "EHLO AUTH USER", "EHLO AUTH USER"},
         3,
         kLoginTimedOut},
        {"auth_login_password",
         [authLogin](auto& Server, auto& M, const Answer& Late) {
             authLogin(Server, M);
             ThreeTimes([&] {
                 Server.Queue("AUTH", "334 VXNlcm5hbWU6");
                 Server.Queue(ScriptedSmtpServer::kAuthAnswer, "334 UGFzc3dvcmQ6");
                 Late(ScriptedSmtpServer::kAuthAnswer, "235 2.7.0 Authentication successful");
             });
         },
         {"EHLO AUTH USER PASSWORD", "EHLO AUTH USER PASSWORD", "EHLO AUTH USER PASSWORD"},
         3,
         kLoginTimedOut},
        {"mail",
         [](auto&, auto&, const Answer& Late) { Late("MAIL", "250 2.1.0 Ok"); },
         {"EHLO MAIL"},
         1,
         "SMTP Error: Unable to send MailFrom.\r\nTCP/IP Socket error 10060: Connection timed out"},
        {"rcpt",
         [](auto&, auto&, const Answer& Late) { Late("RCPT", "250 2.1.5 Ok"); },
         {"EHLO MAIL RCPT"},
         1,
         "SMTP Error: Unable to send MailTo.\r\nTCP/IP Socket error 10060: Connection timed out"},
        {"data",
         [](auto&, auto&, const Answer& Late) { Late("DATA", "354 go ahead"); },
         {"EHLO MAIL RCPT DATA"},
         1,
         "SMTP Error: Unable to send Mail data.\r\nTCP/IP Socket error 10060: Connection timed out"},
        // The server has the message but the client never learns it: a failure, and
        // above all no second copy.
        {"end_of_data",
         [](auto&, auto&, const Answer& Late) { Late(".", "250 2.0.0 Ok: queued"); },
         {"EHLO MAIL RCPT DATA MESSAGE"},
         1,
         "SMTP Error: Unable to send Mail data.\r\nTCP/IP Socket error 10060: Connection timed out"},
        // Accepted already: a QUIT left unanswered changes nothing.
        {"quit",
         [](auto&, auto&, const Answer& Late) { Late("QUIT", "221 2.0.0 Bye"); },
         {"EHLO MAIL RCPT DATA MESSAGE QUIT"},
         1,
         ""},
    };
}

class LateServerTest : public SendFixture,
                       public ::testing::WithParamInterface<std::tuple<std::size_t, bool>> {
protected:
    // The exact bytes of one connection's transcript, from its words.
    std::string Expected(const std::string& Words) const {
        std::map<std::string, std::string> lines{
            {"EHLO", "EHLO client.test\r\n"},
            {"STARTTLS", "STARTTLS\r\n"},
            {"AUTH", "AUTH LOGIN\r\n"},
            {"USER", support::EncodeBase64("loja") + "\r\n"},
            {"PASSWORD", support::EncodeBase64("s3nha") + "\r\n"},
            {"MAIL",
             "MAIL FROM:<loja@example.com> SIZE=" + std::to_string(FMail->StoredMessage().size()) + "\r\n"},
            {"RCPT", "RCPT TO:<cliente@example.com>\r\n"},
            {"DATA", "DATA\r\n"},
            {"MESSAGE", FMail->StoredMessage() + ".\r\n"},
            {"QUIT", "QUIT\r\n"},
        };
        std::string bytes;
        std::istringstream in(Words);
        for (std::string word; in >> word;) bytes += lines.at(word);
        return bytes;
    }
};

TEST_P(LateServerTest, EndsCleanlyWithoutStrayOrSecondCopies) {
    const auto& [row, never] = GetParam();
    const LateCase c = LateCases()[row];
    ScriptedSmtpServer server;
    Fill(server.Port());
    FMail->SMTP().SetSystemName("client.test");
    FMail->SetTimeOut(kReplyTimeOut);
    c.setup(server, *FMail, [&, never = never](const std::string& Verb, const std::string& Reply) {
        if (never)
            server.Queue(Verb, ScriptedSmtpServer::kSilent);
        else
            server.Queue(Verb, Reply, kLate);
    });

    const std::string message = SendFailing();
    EXPECT_EQ(message, c.message.empty() ? "<no error>" : c.message);

    std::vector<std::string> expected;
    for (const auto& words : c.received) expected.push_back(Expected(words));
    EXPECT_EQ(server.Received(), expected);
    EXPECT_EQ(server.Connections(), c.timeOuts);
    // Stored at most once, and as it was built: no command inside.
    const bool stored = c.received.back().find("MESSAGE") != std::string::npos;
    std::string wholeCopy;
    for (const auto& copy : server.Messages())
        for (const auto& line : copy) wholeCopy += line + "\r\n";
    EXPECT_EQ(server.Messages().size(), stored ? 1u : 0u);
    if (stored) {
        EXPECT_EQ(wholeCopy, FMail->StoredMessage());
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, LateServerTest,
                         ::testing::Combine(::testing::Range<std::size_t>(0, LateCases().size()),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(LateCases()[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "_never" : "_late");
                         });

// The send has failed already: a QUIT the server leaves unanswered changes nothing of
// its report, and the client's own time-out is back for the next send.
TEST_F(SendFixture, QuitAfterAFailureIsNoErrorOfItsOwn) {
    for (const char* quitReply : {ScriptedSmtpServer::kSilent, ScriptedSmtpServer::kClose}) {
        SCOPED_TRACE(quitReply);
        ScriptedSmtpServer server;
        Times(server, "MAIL", "550 5.7.1 no", 3);
        server.Queue("QUIT", quitReply);
        Fill(server.Port());
        FMail->SetTimeOut(5000);
        EXPECT_EQ(SendFailing(), "SMTP Error: Unable to send MailFrom.\r\n550 5.7.1 no");
        EXPECT_EQ(server.Commands().back(), "QUIT");
        EXPECT_EQ(FMail->SMTP().Sock().LastError(), 0);
        EXPECT_EQ(FMail->SMTP().Timeout(), 5000);
        EXPECT_FALSE(FMail->SMTP().Connected());
    }
}

TEST_F(SendFixture, HandlerThatClearsThrowItTurnsTheErrorIntoTheSilentAbort) {
    ScriptedSmtpServer server;
    Times(server, "MAIL", "550 5.7.1 no", 3);
    Fill(server.Port());
    std::vector<std::string> seen;
    FMail->SetOnMailException([&](const TMailSender& AMail, const std::exception& E, bool& ThrowIt) {
        EXPECT_EQ(&AMail, FMail.get());
        EXPECT_TRUE(ThrowIt);
        seen.emplace_back(E.what());
        ThrowIt = false;
    });
    int after = 0;
    FMail->SetOnAfterMailProcess([&](const TMailSender&) { ++after; });
    EXPECT_EQ(SendFailing(), "<EAbort>");
    EXPECT_EQ(seen, std::vector<std::string>{"SMTP Error: Unable to send MailFrom.\r\n550 5.7.1 no"});
    EXPECT_EQ(after, 0);
    EXPECT_EQ(FMail->GetLastSmtpError(), seen.front());
    EXPECT_TRUE(FMail->AltBody().empty());
}

TEST_F(SendFixture, HandlerThatKeepsThrowItRaisesTheError) {
    ScriptedSmtpServer server;
    Fill(server.Port());
    FMail->SetHost("");
    int calls = 0;
    FMail->SetOnMailException([&](const TMailSender&, const std::exception&, bool&) { ++calls; });
    EXPECT_EQ(SendFailing(), "SMTP Error: Server not informed");
    EXPECT_EQ(calls, 1);
}

// ----- a server that says more than it should ------------------------------------

const std::string kOutOfTurn = "554 5.5.0 Refused: the server answered out of turn";
const std::string kPipeliningEhlo = "250-scripted\r\n250-PIPELINING\r\n250-DSN\r\n250 SIZE 10000000";

// One more line after a reply, in the same write. The client notices it before it says
// anything more: the send ends, or goes on on a new connection (only Login may), and a
// copy is stored at most once, as it was built.
struct ExtraLineCase {
    const char* name;
    const char* verb;
    std::string reply;  // the reply before the extra line
    bool pipelining;
    std::string message;  // empty: delivered
    int connections;
};

class ExtraLineTest : public SendFixture, public ::testing::WithParamInterface<ExtraLineCase> {};

TEST_P(ExtraLineTest, NeverOneReplyBehind) {
    const auto& c = GetParam();
    ScriptedSmtpServer server;
    const std::string ehlo = c.pipelining ? kPipeliningEhlo : "250-scripted\r\n250-DSN\r\n250 SIZE 10000000";
    server.Queue(c.verb, c.reply + "\r\n250 2.0.0 Welcome");
    for (int i = 0; i < 3; ++i) server.Queue("EHLO", ehlo);
    Fill(server.Port());
    EXPECT_EQ(SendFailing(), c.message.empty() ? "<no error>" : c.message);
    EXPECT_EQ(server.Connections(), c.connections);
    const auto copies = server.Messages();
    ASSERT_LE(copies.size(), 1u);
    if (c.message.empty()) {
        ASSERT_EQ(copies.size(), 1u);
        std::string copy;
        for (const auto& line : copies[0]) copy += line + "\r\n";
        EXPECT_EQ(copy, FMail->StoredMessage());
    } else {
        EXPECT_TRUE(copies.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ExtraLineTest,
    ::testing::Values(ExtraLineCase{"greeting", "GREETING", "220 mx ESMTP", false, "", 2},
                      ExtraLineCase{"ehlo", "EHLO", "250-scripted\r\n250 SIZE 10000000", false, "", 2},
                      ExtraLineCase{"sender", "MAIL", "250 2.1.0 Ok", false,
                                    "SMTP Error: Unable to send MailTo.\r\n" + kOutOfTurn, 1},
                      ExtraLineCase{"recipient", "RCPT", "250 2.1.5 Ok", false,
                                    "SMTP Error: Unable to send Mail data.\r\n" + kOutOfTurn, 1},
                      ExtraLineCase{"ready_for_data", "DATA", "354 go ahead", false,
                                    "SMTP Error: Unable to send Mail data.\r\n" + kOutOfTurn, 1},
                      // The message was accepted: only the QUIT is left out.
                      ExtraLineCase{"end_of_data", ".", "250 2.0.0 Ok: queued", false, "", 1},
                      ExtraLineCase{"quit", "QUIT", "221 2.0.0 Bye", false, "", 1},
                      ExtraLineCase{"pipelined_sender", "MAIL", "250 2.1.0 Ok", true,
                                    "SMTP Error: Unable to send Mail data.\r\n" + kOutOfTurn, 1},
                      ExtraLineCase{"pipelined_ready_for_data", "DATA", "354 go ahead", true,
                                    "SMTP Error: Unable to send Mail data.\r\n" + kOutOfTurn, 1},
                      ExtraLineCase{"pipelined_end_of_data", ".", "250 2.0.0 Ok: queued", true, "", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A server that says a second greeting line on every connection. Read as EHLO's answer,
// it would leave every later command with the reply of the one before, until a second
// DATA went into the message and the copy was stored with a stray command, the send
// reporting success.
TEST_F(SendFixture, GreetingOfTwoLinesOnEveryConnectionFailsTheLogin) {
    ScriptedSmtpServer server;
    for (int i = 0; i < 3; ++i) server.Queue("GREETING", "220 mx ESMTP\r\n220 Welcome");
    Fill(server.Port());
    EXPECT_EQ(SendFailing(), "SMTP Error: Unable to Login.\r\n" + kOutOfTurn);
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_TRUE(server.Commands().empty());
    EXPECT_TRUE(server.Messages().empty());
}

// A reply's last line carries its code, also at the end of the data.
TEST_F(SendFixture, LastLineOfTheReplyDecidesTheSend) {
    {
        ScriptedSmtpServer server;
        server.Queue(".", "250-2.0.0 Ok\r\n554 5.6.0 Refused after all");
        Fill(server.Port());
        EXPECT_EQ(SendFailing(), "SMTP Error: Unable to send Mail data.\r\n554 5.6.0 Refused after all");
        // Refused once its end had gone out: never sent again, so never stored twice.
        EXPECT_EQ(StartingWith(server.Commands(), "DATA").size(), 1u);
        EXPECT_EQ(server.Messages().size(), 1u);
    }
    ScriptedSmtpServer server;
    server.Queue(".", "554-5.6.0 Hm\r\n250 2.0.0 Ok: queued after all");
    Fill(server.Port());
    EXPECT_EQ(SendFailing(), "<no error>");
    EXPECT_EQ(server.Messages().size(), 1u);
}

// A server that says 421 and closes: its line says why, not a reset of the connection.
TEST_F(SendFixture, ServiceClosingIsTheReasonGiven) {
    ScriptedSmtpServer server;
    Times(server, "EHLO", "421 4.3.2 Service shutting down", 3);
    Fill(server.Port());
    EXPECT_EQ(SendFailing(), "SMTP Error: Unable to Login.\r\n421 4.3.2 Service shutting down");
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_EQ(StartingWith(server.Commands(), "HELO").size(), 0u);
}

// ----- pipelining -----------------------------------------------------------------

// With PIPELINING the envelope and DATA go in one write, the message with its end and
// QUIT in another: the steps and the bytes are those of a send without it.
TEST_F(SendFixture, PipelinedSendWritesThreeTimes) {
    ScriptedSmtpServer server;
    server.Queue("EHLO", kPipeliningEhlo);
    Fill(server.Port());
    FMail->SMTP().SetSystemName("client.test");
    FMail->AddCC("Copia <copia@example.com>");
    FMail->AddBCC("oculta@example.com");
    int writes = 0;
    FMail->SMTP().Sock().SetOnMonitor(
        [&](net::TBlockSocket&, bool Writing, const void*, int) { writes += Writing; });
    FMail->Send(false);
    FMail->SMTP().Sock().SetOnMonitor(nullptr);
    EXPECT_EQ(FSteps,
              (Steps{pmsStartProcess, pmsConfigHeaders, pmsAddingMimeParts, pmsLoginSMTP, pmsStartSends,
                     pmsSendTo, pmsSendCC, pmsSendBCC, pmsSendData, pmsLogoutSMTP, pmsDone}));
    EXPECT_EQ(writes, 3);  // EHLO; MAIL, RCPT x3, DATA; the message, its end and QUIT
    const std::string stored = FMail->StoredMessage();
    EXPECT_EQ(server.Received().at(0),
              "EHLO client.test\r\n"
              "MAIL FROM:<loja@example.com> SIZE=" +
                  std::to_string(stored.size()) +
                  "\r\n"
                  "RCPT TO:<cliente@example.com>\r\n"
                  "RCPT TO:<copia@example.com>\r\n"
                  "RCPT TO:<oculta@example.com>\r\n"
                  "DATA\r\n" +
                  stored + ".\r\nQUIT\r\n");
}

// Each branch of the rule for a refusal in the flight (see SendPipelined).
struct FlightCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> replies;  // queued by verb
    int attempts;
    std::string message;                // empty: delivered
    std::vector<std::string> commands;  // every command line heard, first words only
    int connections;
    std::size_t ends = 0;  // ends of data the server received without a success for it
};

class PipelinedRefusalTest : public SendFixture, public ::testing::WithParamInterface<FlightCase> {};

TEST_P(PipelinedRefusalTest, EveryRecipientOnceOrNobody) {
    const auto& c = GetParam();
    ScriptedSmtpServer server;
    for (int i = 0; i < 3; ++i) server.Queue("EHLO", kPipeliningEhlo);
    for (const auto& [verb, reply] : c.replies) server.Queue(verb, reply);
    Fill(server.Port());
    FMail->AddCC("copia@example.com");
    FMail->SetAttempts(static_cast<std::uint8_t>(c.attempts));
    EXPECT_EQ(SendFailing(), c.message.empty() ? "<no error>" : c.message);
    std::vector<std::string> heard;
    for (const auto& line : server.Commands()) heard.push_back(line.substr(0, line.find_first_of(" :")));
    EXPECT_EQ(heard, c.commands);
    EXPECT_EQ(server.Connections(), c.connections);
    // One copy when the send succeeded, to every recipient; else no end of data beyond
    // the one the server refused.
    EXPECT_EQ(server.Messages().size(), c.message.empty() ? 1u : c.ends);
}

INSTANTIATE_TEST_SUITE_P(
    Branches, PipelinedRefusalTest,
    ::testing::Values(
        // DATA refused as well: still in step, the refused recipient is tried again alone.
        FlightCase{
            "recipient_refused_data_refused",
            {{"RCPT", "250 ok"}, {"RCPT", "450 4.2.0 busy"}, {"DATA", "554 5.5.1 no valid recipients"}},
            3,
            "",
            {"EHLO", "MAIL", "RCPT", "RCPT", "DATA", "RCPT", "DATA", "QUIT"},
            1},
        // DATA answered 354 for the one accepted: closed without an end, then afresh.
        FlightCase{"recipient_refused_data_ready",
                   {{"RCPT", "250 ok"}, {"RCPT", "450 4.2.0 busy"}},
                   3,
                   "",
                   {"EHLO", "MAIL", "RCPT", "RCPT", "DATA", "EHLO", "MAIL", "RCPT", "RCPT", "DATA", "QUIT"},
                   2},
        FlightCase{"recipient_refused_every_try",
                   {{"RCPT", "250 ok"},
                    {"RCPT", "550 5.1.1 no copy"},
                    {"RCPT", "250 ok"},
                    {"RCPT", "550 5.1.1 no copy"},
                    {"RCPT", "550 5.1.1 no copy"}},
                   3,
                   "SMTP Error: Unable to send CC list.\r\n550 5.1.1 no copy",
                   {"EHLO", "MAIL", "RCPT", "RCPT", "DATA", "EHLO", "MAIL", "RCPT", "RCPT", "RCPT", "QUIT"},
                   2},
        FlightCase{"sender_refused",
                   {{"MAIL", "451 4.3.0 later"},
                    {"RCPT", "503 need MAIL"},
                    {"RCPT", "503 need MAIL"},
                    {"DATA", "503 need RCPT"}},
                   3,
                   "",
                   {"EHLO", "MAIL", "RCPT", "RCPT", "DATA", "MAIL", "RCPT", "RCPT", "DATA", "QUIT"},
                   1},
        FlightCase{"data_refused",
                   {{"DATA", "451 4.3.0 later"}},
                   3,
                   "",
                   {"EHLO", "MAIL", "RCPT", "RCPT", "DATA", "DATA", "QUIT"},
                   1},
        // The end of data went out with QUIT: a refused message is not sent again.
        FlightCase{"message_refused",
                   {{".", "554 5.6.0 refused"}},
                   3,
                   "SMTP Error: Unable to send Mail data.\r\n554 5.6.0 refused",
                   {"EHLO", "MAIL", "RCPT", "RCPT", "DATA", "QUIT"},
                   1,
                   1},
        FlightCase{"one_attempt",
                   {{"RCPT", "250 ok"}, {"RCPT", "550 5.1.1 no copy"}, {"DATA", "554 5.5.1 none"}},
                   1,
                   "SMTP Error: Unable to send CC list.\r\n550 5.1.1 no copy",
                   {"EHLO", "MAIL", "RCPT", "RCPT", "DATA", "QUIT"},
                   1}),
    [](const auto& info) { return std::string(info.param.name); });

// aiosmtpd offering PIPELINING takes the flight and the message's end with QUIT as they
// come, in the clear and under both kinds of TLS.
class RealPipeliningTest : public SendFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealPipeliningTest, DeliversToEveryRecipientOnce) {
    const std::string mode = GetParam();
    PythonSmtpServer server({"--pipelining", "--record", "--mode", mode, "--user", "loja", "--password",
                             "s3nha", "--require-auth"});
    ASSERT_NE(server.Port(), 0) << "aiosmtpd did not start";
    Fill(server.PortText());
    FMail->SetSSL(mode == "smtps");
    FMail->SetTLS(mode == "starttls");
    FMail->SetUsername("loja");
    FMail->SetPassword("s3nha");
    FMail->AddCC("copia@example.com");
    FMail->AddBCC("oculta@example.com");
    FMail->Send(false);
    const auto mails = server.Messages();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].All("rcpt"),
              (std::vector<std::string>{"cliente@example.com", "copia@example.com", "oculta@example.com"}));
    EXPECT_EQ(mails[0].Get("tls"), mode == "plain" ? "no" : "yes");
    const std::string received = server.Received();
    EXPECT_NE(received.find("RCPT TO:<oculta@example.com>\r\nDATA\r\n"), std::string::npos) << received;
    EXPECT_TRUE(received.ends_with("\r\n.\r\nQUIT\r\n")) << received;
    EXPECT_EQ(FSteps.back(), pmsDone);
}

INSTANTIATE_TEST_SUITE_P(Modes, RealPipeliningTest, ::testing::Values("plain", "starttls", "smtps"),
                         [](const auto& info) { return std::string(info.param); });

// ----- 8-bit messages -------------------------------------------------------------

struct EightBitCase {
    const char* name;
    bool offered;
    std::string message;
    bool declared;
};

class EightBitTest : public SendFixture, public ::testing::WithParamInterface<EightBitCase> {};

TEST_P(EightBitTest, DeclaredToAServerThatTakesIt) {
    const auto& c = GetParam();
    ScriptedSmtpServer server;
    server.Queue("EHLO", c.offered ? "250-scripted\r\n250 8BITMIME" : "250 scripted");
    Fill(server.Port());
    FMail->SendBuiltMessage(c.message);
    const auto mailFrom = StartingWith(server.Commands(), "MAIL");
    ASSERT_EQ(mailFrom.size(), 1u);
    EXPECT_EQ(mailFrom[0].find(" BODY=8BITMIME") != std::string::npos, c.declared) << mailFrom[0];
    ASSERT_EQ(server.Messages().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Messages, EightBitTest,
                         ::testing::Values(EightBitCase{"eight_bit_offered", true,
                                                        "Subject: caf\xc3\xa9\r\n\r\nol\xc3\xa1\r\n", true},
                                           EightBitCase{"eight_bit_not_offered", false,
                                                        "Subject: caf\xc3\xa9\r\n\r\nol\xc3\xa1\r\n", false},
                                           EightBitCase{"ascii_offered", true, "Subject: cafe\r\n\r\nola\r\n",
                                                        false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A composed mail is ASCII throughout (base64 parts, encoded words): nothing to declare.
TEST_F(SendFixture, ComposedMailNeedsNo8BitMime) {
    ScriptedSmtpServer server;
    server.Queue("EHLO", "250-scripted\r\n250 8BITMIME");
    Fill(server.Port());
    FMail->AltBody() = {"Olá, João"};
    FMail->Send(false);
    EXPECT_EQ(StartingWith(server.Commands(), "MAIL").at(0).find("BODY="), std::string::npos);
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
    FMail->SetHost("127.0.0.1");
    FMail->SetPort(server.PortText());
    FMail->SetSSL(c.ssl);
    FMail->SetTLS(c.tls);
    FMail->SetUsername("loja");
    FMail->SetPassword("s3nha");
    FMail->SetFrom("suporte@loja.com.br");
    FMail->SetFromName("Suporte Ávila");
    FMail->SetSubject("Dados Cadastrais do Cliente — ação");
    FMail->AddAddress("joao@cliente.com.br", "joao@cliente.com.br");
    FMail->AltBody() = {"Nome: JOÃO DA SILVA", "Cidade: SÃO PAULO"};
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<cliente>JO\xc3\x83O</cliente>\r\n";
    for (int i = 0; i < 200; ++i) xml += std::string(1, static_cast<char>(i)) + "<linha/>\r\n";
    std::istringstream stream(xml);
    FMail->AddAttachment(&stream, "Cliente_001_10122026.xml", TMailAttachmentDisposition::adAttachment);
    FMail->Send(false);

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
    EXPECT_EQ(testing::FromHex(hex),
              "\xef\xbb\xbfNome: JO\xc3\x83O DA SILVA\r\nCidade: S\xc3\x83O PAULO\r\n");
    std::istringstream file(parts[1]);
    file >> type >> disposition >> name >> charset >> hex;
    EXPECT_EQ(type, "text/xml");
    EXPECT_EQ(disposition, "attachment");
    EXPECT_EQ(name, "Cliente_001_10122026.xml");
    EXPECT_EQ(charset, "UTF-8");  // what the file's declaration names
    EXPECT_EQ(testing::FromHex(hex), xml);
    EXPECT_TRUE(std::regex_match(m.Get("message-id"), std::regex("<[0-9a-f]{32}@loja\\.com\\.br>")))
        << m.Get("message-id");
    EXPECT_EQ(FSteps.back(), pmsDone);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealServerTest,
    ::testing::Values(
        RealServerCase{
            "plain_auth_plain", {"--user", "loja", "--password", "s3nha", "--require-auth"}, false, false},
        RealServerCase{"plain_auth_login",
                       {"--user", "loja", "--password", "s3nha", "--require-auth", "--exclude-auth", "PLAIN"},
                       false,
                       false},
        RealServerCase{"starttls_auth_plain",
                       {"--mode", "starttls", "--user", "loja", "--password", "s3nha", "--require-auth"},
                       false,
                       true},
        RealServerCase{"smtps_auth_login",
                       {"--mode", "smtps", "--user", "loja", "--password", "s3nha", "--require-auth",
                        "--exclude-auth", "PLAIN"},
                       true,
                       true},
        RealServerCase{
            "size_announced", {"--size", "1000000", "--user", "loja", "--password", "s3nha"}, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SendFixture, RealServerAnnouncesSizeAndTheClientReadsIt) {
    PythonSmtpServer server({"--size", "123456"});
    ASSERT_NE(server.Port(), 0);
    Fill(server.PortText());
    FMail->Send(false);
    EXPECT_TRUE(FMail->SMTP().ESMTPSize());
    EXPECT_EQ(FMail->SMTP().MaxSize(), 123456);
    EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SendFixture, WrongPasswordFailsAtTheSenderStep) {
    PythonSmtpServer server({"--user", "loja", "--password", "s3nha", "--require-auth"});
    ASSERT_NE(server.Port(), 0);
    Fill(server.PortText());
    FMail->SetUsername("loja");
    FMail->SetPassword("errada");
    const std::string message = SendFailing();
    EXPECT_EQ(message.rfind("SMTP Error: Unable to send MailFrom.\r\n530", 0), 0u) << message;
    EXPECT_TRUE(server.Messages().empty());
}

// ---------------------------------------------------------------- international addresses

TEST_F(SendFixture, Smtputf8ServerGetsUtf8LocalPartsAndALabelDomains) {
    ScriptedSmtpServer server;
    server.Queue("EHLO", "250-scripted\r\n250-SMTPUTF8\r\n250 SIZE 10000000");
    Fill(server.Port());
    FMail->SetFrom("loja@açaí.com.br");
    FMail->AddCC("joão@exemplo.com.br");
    FMail->AddBCC("ana@straße.de");
    FMail->Send(false);
    const std::string stored = FMail->StoredMessage();
    const auto commands = server.Commands();
    ASSERT_EQ(commands.size(), 7u);
    EXPECT_EQ(commands[1],
              "MAIL FROM:<loja@xn--aa-4iaz.com.br> SIZE=" + std::to_string(stored.size()) + " SMTPUTF8");
    EXPECT_EQ(commands[2], "RCPT TO:<cliente@example.com>");
    EXPECT_EQ(commands[3], "RCPT TO:<joão@exemplo.com.br>");
    EXPECT_EQ(commands[4], "RCPT TO:<ana@xn--strae-oqa.de>");
    EXPECT_NE(stored.find("\r\nCC: joão@exemplo.com.br\r\n"), std::string::npos);
}

// A domain alone needs no SMTPUTF8: its A-label is ASCII, and the mail goes as before.
TEST_F(SendFixture, AccentedDomainNeedsNoSmtputf8) {
    ScriptedSmtpServer server;
    Fill(server.Port());
    FMail->AddBCC("ana@straße.de");
    FMail->Send(false);
    const auto commands = server.Commands();
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(commands[1].find("SMTPUTF8"), std::string::npos) << commands[1];
    EXPECT_EQ(commands[3], "RCPT TO:<ana@xn--strae-oqa.de>");
}

// A domain libidn2 refuses fails before any connection is made.
TEST_F(SendFixture, RefusedInternationalDomainFailsBeforeConnecting) {
    ScriptedSmtpServer server;
    Fill(server.Port());
    FMail->AddBCC("a@\u2665.example");
    EXPECT_EQ(SendFailing(),
              "SMTP Error: Invalid international domain name in the address \"a@\u2665.example\"");
    EXPECT_TRUE(server.Commands().empty());
}

// The customers of the issue, sent as the window sends them (the address also as the
// name), to aiosmtpd offering SMTPUTF8: envelope and header name the same mailbox.
TEST_F(SendFixture, RealSmtputf8ServerReceivesInternationalCustomers) {
    PythonSmtpServer server({"--smtputf8"});
    ASSERT_NE(server.Port(), 0);
    const std::pair<const char*, const char*> customers[] = {
        {"joão@exemplo.com.br", "joão@exemplo.com.br"},
        {"josé@açaí.com.br", "josé@xn--aa-4iaz.com.br"},
        {"cliente@açaí.com.br", "cliente@xn--aa-4iaz.com.br"},
    };
    for (const auto& [typed, sent] : customers) {
        Fill(server.PortText());
        FMail->Clear();
        FMail->SetSubject("Dados Cadastrais do Cliente");
        FMail->SetFrom("suporte@açaí.com.br");
        FMail->AddAddress(typed, typed);
        FMail->AltBody() = {std::string("Email : ") + typed};
        FMail->Send(false);
    }
    const auto mails = server.Messages();
    ASSERT_EQ(mails.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(customers[i].first);
        const auto& m = mails[i];
        EXPECT_EQ(m.Get("mail_from"), "suporte@xn--aa-4iaz.com.br");
        EXPECT_EQ(m.Get("from_addr"), m.Get("mail_from"));
        EXPECT_EQ(m.All("rcpt"), std::vector<std::string>{customers[i].second});
        EXPECT_EQ(m.All("to_addr"), m.All("rcpt"));
        EXPECT_EQ(m.Get("to"), std::string("\"") + customers[i].first + "\" <" + customers[i].second + ">");
        // SMTPUTF8 only where a local part needs it.
        EXPECT_EQ(m.Get("mail_options").find("SMTPUTF8") != std::string::npos, i < 2)
            << m.Get("mail_options");
        EXPECT_TRUE(
            std::regex_match(m.Get("message-id"), std::regex("<[0-9a-f]{32}@xn--aa-4iaz\\.com\\.br>")));
    }
}

// Without SMTPUTF8 the customer with an accented local part gets a clear failure, and
// the server hears nothing after EHLO; one with an accented domain only is served.
TEST_F(SendFixture, RealServerWithoutSmtputf8RefusesOnlyAccentedLocalParts) {
    PythonSmtpServer server({"--record"});
    ASSERT_NE(server.Port(), 0);
    Fill(server.PortText());
    FMail->Clear();
    FMail->AddAddress("josé@açaí.com.br", "josé@açaí.com.br");
    EXPECT_EQ(SendFailing(),
              "SMTP Error: The SMTP Server does not support SMTPUTF8, needed for the address "
              "\"josé@xn--aa-4iaz.com.br\"");
    const std::string received = server.Received();
    EXPECT_EQ(received.rfind("EHLO ", 0), 0u) << received;
    const std::string afterEhlo = received.substr(received.find("\r\n") + 2);
    EXPECT_TRUE(afterEhlo.empty() || afterEhlo == "QUIT\r\n") << afterEhlo;
    EXPECT_TRUE(server.Messages().empty());

    Fill(server.PortText());
    FMail->Clear();
    FMail->AddAddress("cliente@açaí.com.br", "cliente@açaí.com.br");
    FMail->Send(false);
    const auto mails = server.Messages();
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].All("rcpt"), std::vector<std::string>{"cliente@xn--aa-4iaz.com.br"});
    EXPECT_EQ(mails[0].All("to_addr"), mails[0].All("rcpt"));
}

// ----- certificate check and server name over TLS ------------------------------

// A self-signed server certificate for "localhost" (a name only, no address).
class LocalhostCertificate {
public:
    LocalhostCertificate() {
        testing::ChildProcess openssl(
            {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
             "/CN=localhost", "-addext", "subjectAltName=DNS:localhost", "-keyout", Key(), "-out", Cert()},
            {.MergeStderr = true});
        if (openssl.Wait() != 0) throw std::runtime_error("openssl req failed: " + openssl.Output());
    }
    std::string Cert() const { return (FDir.Path() / "cert.pem").string(); }
    std::string Key() const { return (FDir.Path() / "key.pem").string(); }

private:
    testing::TempDir FDir;
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
    FMail->SetHost(c.host);
    FMail->SetSSL(true);
    FMail->SetAttempts(1);
    FMail->SetVerifyCert(c.verify);
    if (c.trustServer) FMail->SetCertCAFile(certificate.Cert());
    // A threaded send works on a copy: the copy must check as its source does.
    TMailSender copy;
    copy.Assign(*FMail);
    EXPECT_EQ(copy.VerifyCert(), c.verify);
    EXPECT_EQ(copy.CertCAFile(), FMail->CertCAFile());
    if (*c.error == '\0') {
        FMail->Send(false);
        const auto mails = server.Messages();
        ASSERT_EQ(mails.size(), 1u);
        EXPECT_EQ(mails[0].Get("tls"), "yes");
        EXPECT_EQ(mails[0].Get("sni"), c.sni);
    } else {
        const std::string message = SendFailing();
        EXPECT_EQ(message.rfind("SMTP Error: Unable to Login.", 0), 0u) << message;
        const auto& sock = FMail->SMTP().Sock();
        EXPECT_EQ(sock.LastError(), net::WSASYSNOTREADY);
        EXPECT_NE(sock.LastErrorDesc().find(std::string("certificate verify failed: ") + c.error),
                  std::string::npos)
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

// ----- what a failed send leaves its caller -------------------------------------

// A port nothing listens on: one a server held and gave back.
std::string DeadPort() {
    ScriptedSmtpServer gone(std::vector<testing::Step>{});
    return gone.Port();
}

struct FailureRecordCase {
    const char* name;
    std::function<void(ScriptedSmtpServer&, TMailSender&)> setup;
    TMailFailure failure;
};

class FailureRecordTest : public SendFixture, public ::testing::WithParamInterface<FailureRecordCase> {};

// The record holds the reply that ended the send, not the answer to the QUIT after it.
TEST_P(FailureRecordTest, TellsTheStepAndWhatTheServerOrTheNetworkSaid) {
    const auto& c = GetParam();
    ScriptedSmtpServer server;
    Fill(server.Port());
    c.setup(server, *FMail);
    static_cast<void>(SendFailing());
    const TMailFailure& failure = FMail->LastFailure();
    EXPECT_EQ(failure.Step, c.failure.Step);
    EXPECT_EQ(failure.ResultCode, c.failure.ResultCode);
    EXPECT_EQ(failure.ResultString, c.failure.ResultString);
    EXPECT_EQ(failure.SocketError, c.failure.SocketError);
    EXPECT_EQ(failure.SocketErrorDesc, c.failure.SocketErrorDesc);
}

using enum TMailFailureStep;

TMailFailure Failure(TMailFailureStep Step, int Code = 0, std::string Line = {}, int Error = 0,
                     std::string Desc = {}) {
    TMailFailure failure;
    failure.Step = Step;
    failure.ResultCode = Code;
    failure.ResultString = std::move(Line);
    failure.SocketError = Error;
    failure.SocketErrorDesc = std::move(Desc);
    return failure;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailureRecordTest,
    ::
        testing::
            Values(
                FailureRecordCase{"no_server", [](auto&, auto& m) { m.SetHost(""); }, Failure(mfsServer)},
                FailureRecordCase{"invalid_domain", [](auto&, auto& m) { m.AddBCC("a@\u2665.example"); },
                                  Failure(mfsAddress)},
                FailureRecordCase{"nobody_listens", [](auto&, auto& m) { m.SetPort(DeadPort()); },
                                  Failure(mfsConnect, 0, "", 10061, "Connection refused")},
                FailureRecordCase{"greeting_refused",
                                  [](auto& s, auto&) { Times(s, "GREETING", "554 5.3.2 no service", 3); },
                                  Failure(mfsGreeting, 554, "554 5.3.2 no service")},
                FailureRecordCase{"greeting_never_comes",
                                  [](auto& s, auto& m) {
                                      s.SetGreeting(ScriptedSmtpServer::kSilent);
                                      m.SetTimeOut(300);
                                      m.SetAttempts(1);
                                  },
                                  Failure(mfsGreeting, 0, "", 10060, "Connection timed out")},
                FailureRecordCase{"hello_refused",
                                  [](auto& s, auto&) {
                                      Times(s, "EHLO", "502 5.5.1 no", 3);
                                      Times(s, "HELO", "501 5.5.2 bad name", 3);
                                  },
                                  Failure(mfsHello, 501, "501 5.5.2 bad name")},
                FailureRecordCase{"starttls_refused",
                                  [](auto& s, auto& m) {
                                      m.SetTLS(true);
                                      Times(s, "EHLO", "250-scripted\r\n250 STARTTLS", 3);
                                      Times(s, "STARTTLS", "454 4.7.0 TLS not available", 3);
                                  },
                                  Failure(mfsStartTLS, 454, "454 4.7.0 TLS not available")},
                FailureRecordCase{"no_dsn",
                                  [](auto& s, auto& m) {
                                      s.Queue("EHLO", "250-scripted\r\n250 SIZE 10000000");
                                      m.SetDeliveryConfirmation(true);
                                  },
                                  Failure(mfsDeliveryNotification)},
                FailureRecordCase{"too_large",
                                  [](auto& s, auto&) { s.Queue("EHLO", "250-scripted\r\n250 SIZE 100"); },
                                  Failure(mfsSize)},
                FailureRecordCase{"strict_no_auth_offered",
                                  [](auto&, auto& m) {
                                      m.SetStrictAuth(true);
                                      m.SetUsername("loja");
                                      m.SetPassword("s3nha");
                                  },
                                  Failure(mfsAuthUnavailable)},
                FailureRecordCase{"strict_auth_refused",
                                  [](auto& s, auto& m) {
                                      m.SetStrictAuth(true);
                                      m.SetUsername("loja");
                                      m.SetPassword("errada");
                                      s.Queue("EHLO", "250-scripted\r\n250 AUTH PLAIN");
                                      s.Queue("AUTH", "535 5.7.8 Error: authentication failed");
                                  },
                                  Failure(mfsAuth, 535, "535 5.7.8 Error: authentication failed")},
                FailureRecordCase{"no_smtputf8",
                                  [](auto&, auto& m) { m.AddAddress("jo\u00e3o@exemplo.com.br"); },
                                  Failure(mfsSMTPUTF8)},
                FailureRecordCase{
                    "sender_refused",
                    [](auto& s, auto&) { Times(s, "MAIL", "530 5.7.0 Authentication required", 3); },
                    Failure(mfsMailFrom, 530, "530 5.7.0 Authentication required")},
                FailureRecordCase{
                    "recipient_refused",
                    [](auto& s, auto&) { Times(s, "RCPT", "550 5.1.1 <cliente@example.com>: unknown", 3); },
                    Failure(mfsMailTo, 550, "550 5.1.1 <cliente@example.com>: unknown")},
                FailureRecordCase{"cc_refused",
                                  [](auto& s, auto& m) {
                                      m.AddCC("copia@example.com");
                                      s.Queue("RCPT", "250 ok");
                                      Times(s, "RCPT", "550 5.1.1 no copy", 3);
                                  },
                                  Failure(mfsCC, 550, "550 5.1.1 no copy")},
                FailureRecordCase{"bcc_refused",
                                  [](auto& s, auto& m) {
                                      m.AddBCC("oculta@example.com");
                                      s.Queue("RCPT", "250 ok");
                                      Times(s, "RCPT", "550 5.1.1 no blind copy", 3);
                                  },
                                  Failure(mfsBCC, 550, "550 5.1.1 no blind copy")},
                FailureRecordCase{"data_refused",
                                  [](auto& s, auto&) { Times(s, "DATA", "554 5.6.0 refused", 3); },
                                  Failure(mfsData, 554, "554 5.6.0 refused")},
                FailureRecordCase{
                    "recipient_answered_late",
                    [](auto& s, auto& m) {
                        m.SetTimeOut(300);
                        s.Queue("RCPT", "250 2.1.5 Ok", std::chrono::milliseconds(1500));
                    },
                    Failure(mfsMailTo, 0, "", 10060, "Connection timed out")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SendFixture, ASendThatSucceedsLeavesNoFailure) {
    ScriptedSmtpServer server;
    Times(server, "RCPT", "550 5.1.1 no", 3);
    Fill(server.Port());
    static_cast<void>(SendFailing());
    ASSERT_EQ(FMail->LastFailure().Step, mfsMailTo);
    Fill(server.Port());
    FMail->Send(false);
    EXPECT_EQ(FMail->LastFailure(), TMailFailure{});
}

// Delivery receipts and the server's SIZE are known from its hello: a send the server
// cannot take ends before the password is sent, with a QUIT.
struct BeforeAuthCase {
    const char* name;
    const char* ehlo;
    bool receipts;
    std::string message;  // "<size>" stands for the message's size
};

class BeforeAuthTest : public SendFixture, public ::testing::WithParamInterface<BeforeAuthCase> {};

TEST_P(BeforeAuthTest, RefusedServerGetsNoPassword) {
    const auto& c = GetParam();
    ScriptedSmtpServer server;
    server.Queue("EHLO", c.ehlo);
    Fill(server.Port());
    FMail->SMTP().SetSystemName("client.test");
    FMail->SetUsername("loja");
    FMail->SetPassword("s3nha");
    FMail->SetDeliveryConfirmation(c.receipts);
    std::string expected = c.message;
    const std::string message = SendFailing();
    if (const auto at = expected.find("<size>"); at != std::string::npos)
        expected.replace(at, 6, std::to_string(FMail->StoredMessage().size()));
    EXPECT_EQ(message, expected);
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"EHLO client.test", "QUIT"}));
    EXPECT_EQ(server.Connections(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BeforeAuthTest,
    ::testing::Values(
        BeforeAuthCase{"receipts_without_dsn", "250-scripted\r\n250-AUTH PLAIN\r\n250 SIZE 10000000", true,
                       "SMTP Error: The SMTP Server does not support Delivery Status Notification"},
        BeforeAuthCase{
            "larger_than_size", "250-scripted\r\n250-AUTH PLAIN\r\n250-DSN\r\n250 SIZE 100", true,
            "SMTP Error: The message is larger than the SMTP Server accepts: <size> bytes, at most 100 "
            "bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

// The limit is the server's own: a message of exactly that size goes, one byte more not.
TEST_F(SendFixture, MessageOfExactlyTheServersSizeIsSent) {
    const std::string message = "Subject: x\r\n\r\nbody\r\n";
    for (const std::size_t most : {message.size(), message.size() - 1}) {
        SCOPED_TRACE(most);
        ScriptedSmtpServer server;
        server.Queue("EHLO", "250-scripted\r\n250 SIZE " + std::to_string(most));
        Fill(server.Port());
        std::string error;
        try {
            FMail->SendBuiltMessage(message);
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        EXPECT_EQ(server.Messages().size(), most == message.size() ? 1u : 0u) << error;
    }
}

// With a strict login (the command-line tool's), a login that does not happen stops the
// send before MAIL FROM; by default the send goes on (see WrongPasswordFailsAtTheSenderStep).
struct StrictAuthCase {
    const char* name;
    const char* ehlo;
    std::vector<std::pair<std::string, std::string>> replies;  // verb, reply
    std::string message;
    std::vector<std::string> commands;
};

class StrictAuthTest : public SendFixture, public ::testing::WithParamInterface<StrictAuthCase> {};

TEST_P(StrictAuthTest, NoLoginNoMail) {
    const auto& c = GetParam();
    ScriptedSmtpServer server;
    server.Queue("EHLO", c.ehlo);
    for (const auto& [verb, reply] : c.replies) server.Queue(verb, reply);
    Fill(server.Port());
    FMail->SMTP().SetSystemName("client.test");
    FMail->SetStrictAuth(true);
    FMail->SetUsername("loja");
    FMail->SetPassword("s3nha");
    EXPECT_EQ(SendFailing(), c.message);
    EXPECT_EQ(server.Commands(), c.commands);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_TRUE(server.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, StrictAuthTest,
    ::testing::Values(
        StrictAuthCase{"refused_by_both_mechanisms",
                       "250-scripted\r\n250 AUTH PLAIN LOGIN",
                       {{"AUTH", "535 5.7.8 no"},
                        {"AUTH", "334 VXNlcm5hbWU6"},
                        {ScriptedSmtpServer::kAuthAnswer, "334 UGFzc3dvcmQ6"},
                        {ScriptedSmtpServer::kAuthAnswer, "535 5.7.8 Error: authentication failed"}},
                       "SMTP Error: Authentication failed.\r\n535 5.7.8 Error: authentication failed",
                       {"EHLO client.test", "AUTH PLAIN AGxvamEAczNuaGE=", "AUTH LOGIN",
                        "bG9qYQ==", "czNuaGE=", "QUIT"}},
        StrictAuthCase{"no_auth_offered",
                       "250-scripted\r\n250 SIZE 10000000",
                       {},
                       "SMTP Error: The SMTP Server offers no authentication we can use",
                       {"EHLO client.test", "QUIT"}},
        StrictAuthCase{"none_of_ours_offered",
                       "250-scripted\r\n250 AUTH GSSAPI NTLM",
                       {},
                       "SMTP Error: The SMTP Server offers no authentication we can use",
                       {"EHLO client.test", "QUIT"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SendFixture, StrictLoginThatHappensSends) {
    ScriptedSmtpServer server;
    server.Queue("EHLO", "250-scripted\r\n250 AUTH PLAIN");
    server.Queue("AUTH", "235 2.7.0 ok");
    Fill(server.Port());
    FMail->SetStrictAuth(true);
    FMail->SetUsername("loja");
    FMail->SetPassword("s3nha");
    TMailSender copy;  // a threaded send's copy logs in as strictly
    copy.Assign(*FMail);
    EXPECT_TRUE(copy.StrictAuth());
    FMail->Send(false);
    EXPECT_EQ(server.Messages().size(), 1u);
}

// ----- a certificate the check refuses, and the operator's answer -------------------

// The provider's certificate: issued for the provider's host, not for the name the shop
// types; its own authority, so that the name is all that fails.
class ProviderCertificate {
public:
    ProviderCertificate() {
        testing::ChildProcess openssl(
            {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
             "/CN=smtp.provedor.example", "-addext", "subjectAltName=DNS:smtp.provedor.example", "-keyout",
             Key(), "-out", Cert()},
            {.MergeStderr = true});
        if (openssl.Wait() != 0) throw std::runtime_error("openssl req failed: " + openssl.Output());
        testing::ChildProcess digest({"openssl", "x509", "-in", Cert(), "-noout", "-fingerprint", "-sha256"},
                                     {});
        if (digest.Wait() != 0) throw std::runtime_error("openssl x509 failed");
        const std::string out = digest.Output();
        FFingerprint = out.substr(out.find('=') + 1, 95);
    }
    std::string Cert() const { return (FDir.Path() / "cert.pem").string(); }
    std::string Key() const { return (FDir.Path() / "key.pem").string(); }
    /// "AB:CD:..." as openssl prints it.
    const std::string& Fingerprint() const { return FFingerprint; }

private:
    testing::TempDir FDir;
    std::string FFingerprint;
};

class CertificateQuestionTest : public SendFixture {
protected:
    void SetUp() override {
        SendFixture::SetUp();
        static const ProviderCertificate provider;
        FProvider = &provider;
        FServer = std::make_unique<PythonSmtpServer>(
            std::vector<std::string>{"--mode", "smtps", "--cert", provider.Cert(), "--key", provider.Key(),
                                     "--user", "loja", "--password", "s3nha", "--require-auth", "--record"});
        Fill(FServer->PortText());
        FMail->SetHost("localhost");  // the shop's name for its server
        FMail->SetSSL(true);
        FMail->SetVerifyCert(true);
        FMail->SetCertCAFile(provider.Cert());
        FMail->SetUsername("loja");
        FMail->SetPassword("s3nha");
        FMail->SMTP().Sock().SetOnStatus(
            [this](net::TBlockSocket&, net::THookSocketReason Reason, const std::string&) {
                if (Reason == net::THookSocketReason::HR_SocketCreate) ++FConnections;
            });
    }

    // Answers every question with `Trust`, keeping what was asked.
    void Answer(bool Trust) {
        FMail->SetOnCertificateQuestion(
            [this, Trust](const TMailSender&, const TCertificateQuestion& Q, bool& T) {
                FQuestions.push_back(Q);
                T = Trust;
            });
    }

    const ProviderCertificate* FProvider = nullptr;
    std::unique_ptr<PythonSmtpServer> FServer;
    std::vector<TCertificateQuestion> FQuestions;
    int FConnections = 0;
};

TEST_F(CertificateQuestionTest, NoEndsTheSendWithNothingSentAfterTheHandshake) {
    Answer(false);
    // Trusted for another host only: no help here.
    FMail->TrustedCertificates().push_back({"smtp.outro.example", std::string(32, '\x01')});
    const std::string message = SendFailing();
    EXPECT_EQ(message.rfind("SMTP Error: Unable to Login.\r\n", 0), 0u) << message;
    EXPECT_NE(message.find("certificate verify failed: hostname mismatch"), std::string::npos) << message;
    ASSERT_EQ(FQuestions.size(), 1u);
    EXPECT_EQ(FQuestions[0].Host, "localhost");
    EXPECT_EQ(FQuestions[0].Reason, "hostname mismatch");
    EXPECT_EQ(FQuestions[0].Fingerprint, FProvider->Fingerprint());
    EXPECT_EQ(FConnections, 1);  // not tried again
    EXPECT_EQ(FServer->Received(), "");
    EXPECT_TRUE(FServer->Messages().empty());
    EXPECT_EQ(FMail->LastFailure().Step, mfsCertificate);
    EXPECT_EQ(FMail->TrustedCertificates().size(), 1u);
}

TEST_F(CertificateQuestionTest, YesSendsAndTrustsThatCertificateForThatHost) {
    Answer(true);
    FMail->Send(false);
    ASSERT_EQ(FQuestions.size(), 1u);
    ASSERT_EQ(FServer->Messages().size(), 1u);
    EXPECT_EQ(FServer->Messages()[0].Get("auth"), "loja");
    ASSERT_EQ(FMail->TrustedCertificates().size(), 1u);
    EXPECT_EQ(FMail->TrustedCertificates()[0].Host, "localhost");
    EXPECT_EQ(FingerprintText(FMail->TrustedCertificates()[0].Digest), FProvider->Fingerprint());

    // The next mail of the same run is not asked about, nor is a threaded send's copy.
    Fill(FServer->PortText());
    FMail->SetHost("LOCALHOST");
    FMail->Send(false);
    TMailSender copy;
    copy.Assign(*FMail);
    EXPECT_EQ(copy.TrustedCertificates(), FMail->TrustedCertificates());
    EXPECT_EQ(FQuestions.size(), 1u);
    EXPECT_EQ(FServer->Messages().size(), 2u);
}

TEST_F(CertificateQuestionTest, WithoutAQuestionTheLoginIsTriedAsEver) {
    const std::string message = SendFailing();
    EXPECT_NE(message.find("hostname mismatch"), std::string::npos) << message;
    EXPECT_EQ(FConnections, 3);
    EXPECT_TRUE(FMail->TrustedCertificates().empty());
    EXPECT_EQ(FServer->Received(), "");
}

}  // namespace
}  // namespace tandrel::mail
