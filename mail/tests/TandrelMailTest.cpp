// tandrel-mail run as the operator runs it, against the scripted SMTP peer: what it
// shows of the conversation and of a server's text.

#include "testing/ChildProcess.h"
#include "testing/ScriptedSmtpServer.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace tandrel::mail {
namespace {

using testing::Dialog;
using testing::HearData;
using testing::Reply;
using testing::ScriptedSmtpServer;

struct ToolRun {
    int status;
    std::string output;  // standard output and error
};

ToolRun TandrelMail(std::vector<std::string> Args) {
    Args.insert(Args.begin(), TANDREL_MAIL_TOOL);
    testing::ChildProcess tool(Args, {.MergeStderr = true});
    const int status = tool.Wait();
    return {status, tool.Output()};
}

std::vector<std::string> Split(std::string_view Text, std::string_view Separator) {
    std::vector<std::string> parts;
    while (!Text.empty()) {
        const auto end = Text.find(Separator);
        parts.emplace_back(Text.substr(0, end));
        if (end == std::string_view::npos) break;
        Text.remove_prefix(end + Separator.size());
    }
    return parts;
}

// The lines of `Output` that begin with `Mark`, without it.
std::vector<std::string> Marked(const std::string& Output, const std::string& Mark) {
    std::vector<std::string> lines;
    for (const auto& line : Split(Output, "\n"))
        if (line.rfind(Mark, 0) == 0) lines.push_back(line.substr(Mark.size()));
    return lines;
}

TEST(TandrelMail, VerboseShowsWhatTheServerReceivedWithSecretsHiddenAndDataCounted) {
    const std::vector<std::string> replies{
        "250-scripted\r\n250-AUTH LOGIN\r\n250 SIZE 100000",
        "334 VXNlcm5hbWU6",
        "334 UGFzc3dvcmQ6",
        "235 2.7.0 Authentication successful \x1B]0;pwned\x07",
        "250 2.1.0 Ok",
        "250 2.1.5 Ok",
        "354 End data with <CR><LF>.<CR><LF>",
    };
    auto script = Dialog("220 scripted ESMTP", replies);
    script.push_back(HearData());
    script.push_back(Reply("250 2.0.0 Ok: queued"));
    script.push_back(testing::Hear());
    script.push_back(Reply("221 2.0.0 Bye"));
    ScriptedSmtpServer server(script);
    testing::TempDir dir;
    const std::string secret = "s3nha-secreta";
    const ToolRun run = TandrelMail({"--port", server.Port(), "--verbose", "--user", "loja",
                                     "--password-file", dir.Write("senha", secret + "\n"), "--from",
                                     "loja@example.com", "--to", "cliente@example.com", "--subject", "Teste",
                                     "--body-file", dir.Write("body.txt", "linha 1\n.\nfim\n")});
    ASSERT_EQ(run.status, 0) << run.output;

    // What the client said, from the server's side: the two answers after AUTH LOGIN
    // hidden, the message data as its byte count.
    const std::string received = server.Transcript();
    const auto dataStart = received.find("DATA\r\n") + 6;
    const auto dataEnd = received.find("\r\n.\r\n", dataStart) + 2;
    std::vector<std::string> expected = Split(received.substr(0, dataStart - 2), "\r\n");
    const auto auth = std::find(expected.begin(), expected.end(), "AUTH LOGIN");
    ASSERT_NE(auth, expected.end());
    auth[1] = auth[2] = "(hidden)";
    expected.push_back("(" + std::to_string(dataEnd - dataStart) + " bytes of message data)");
    for (const auto& line : Split(received.substr(dataEnd), "\r\n")) expected.push_back(line);
    EXPECT_EQ(Marked(run.output, "C: "), expected) << run.output;

    std::vector<std::string> answers{"220 scripted ESMTP"};
    for (const auto& reply : replies)
        for (const auto& line : Split(reply, "\r\n")) answers.push_back(line);
    std::replace(answers.begin(), answers.end(), replies[3],
                 std::string("235 2.7.0 Authentication successful \\x1B]0;pwned\\x07"));
    answers.insert(answers.end(), {"250 2.0.0 Ok: queued", "221 2.0.0 Bye"});
    EXPECT_EQ(Marked(run.output, "S: "), answers);
    EXPECT_EQ(run.output.find('\x1B'), std::string::npos);
    EXPECT_EQ(run.output.find(secret), std::string::npos);
    EXPECT_EQ(run.output.find("czNuaGEtc2VjcmV0YQ"), std::string::npos);  // nor in base64
}

TEST(TandrelMail, FailureShowsTheServersTextWithItsControlCharactersEscaped) {
    ScriptedSmtpServer server;
    server.Queue("RCPT", "550 5.1.1 \x1B[2J\x1B]2;you have been hacked\x07 no such user");
    const ToolRun run = TandrelMail({"--port", server.Port(), "--attempts", "1", "--from", "loja@example.com",
                                     "--to", "cliente@example.com"});
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("tandrel-mail: SMTP Error: Unable to send MailTo.\n"
                              "550 5.1.1 \\x1B[2J\\x1B]2;you have been hacked\\x07 no such user\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find('\x1B'), std::string::npos);
    EXPECT_EQ(run.output.find('\x07'), std::string::npos);
}

// Each rule of the tool against the scripted server: the exit status, its text and the
// bytes the server received after the client's EHLO (all of them, or their beginning
// for a send that goes through). The password file starts with a UTF-8 byte-order mark,
// which is not part of the password.
struct ToolRuleCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> replies;  // verb, reply
    std::vector<std::string> args;
    int status;
    std::vector<std::string> texts;  // each in the output
    std::string received;            // after "EHLO <name>\r\n"; empty: no connection at all
    bool whole;                      // `received` is all the rest, not its beginning
};

const std::string kPlainLoja = "AUTH PLAIN AGxvamEAczNuaGE=\r\n";

std::vector<ToolRuleCase> ToolRuleCases() {
    const std::string challenge = "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
    return {
        {"login_refused_sends_nothing",
         {{"EHLO", "250-scripted\r\n250 AUTH PLAIN LOGIN"},
          {"AUTH", "535 5.7.8 no"},
          {"AUTH", "334 VXNlcm5hbWU6"},
          {ScriptedSmtpServer::kAuthAnswer, "334 UGFzc3dvcmQ6"},
          {ScriptedSmtpServer::kAuthAnswer, "535 5.7.8 Error: authentication failed"}},
         {},
         1,
         {"tandrel-mail: SMTP Error: Authentication failed.\n535 5.7.8 Error: authentication failed\n"},
         kPlainLoja + "AUTH LOGIN\r\nbG9qYQ==\r\nczNuaGE=\r\nQUIT\r\n",
         true},
        {"no_auth_offered_sends_nothing",
         {{"EHLO", "250-scripted\r\n250 SIZE 10000000"}},
         {},
         1,
         {"tandrel-mail: SMTP Error: The SMTP Server offers no authentication we can use\n"},
         "QUIT\r\n",
         true},
        {"cram_md5_first_in_the_clear",
         {{"EHLO", "250-scripted\r\n250 AUTH PLAIN LOGIN CRAM-MD5"}, {"AUTH", challenge}},
         {},
         0,
         {"pmsDone"},
         "AUTH CRAM-MD5\r\nbG9qYSA5NWQ5ZjZkNzhlNzJkOTdiOGNlYjdiMTA3NDBkN2ZlYQ==\r\nMAIL "
         "FROM:<loja@example.com>",
         false},
        {"receipts_without_dsn_before_the_login",
         {{"EHLO", "250-scripted\r\n250 AUTH PLAIN"}},
         {"--delivery-receipt"},
         1,
         {"tandrel-mail: SMTP Error: The SMTP Server does not support Delivery Status Notification\n"},
         "QUIT\r\n",
         true},
        {"larger_than_the_servers_size",
         {{"EHLO", "250-scripted\r\n250-AUTH PLAIN\r\n250 SIZE 50"}},
         {},
         1,
         {"tandrel-mail: SMTP Error: The message is larger than the SMTP Server accepts: ",
          " bytes, at most 50 bytes\n"},
         "QUIT\r\n",
         true},
        // The scripted server offers no STARTTLS: with --insecure the tool goes on, and
        // says before and after that the password and the mail travel unencrypted.
        {"tls_insecure_without_starttls",
         {{"EHLO", "250-scripted\r\n250 AUTH PLAIN"}, {"AUTH", "235 2.7.0 ok"}},
         {"--tls", "--insecure"},
         0,
         {"a server that does not offer STARTTLS gets the password and the mail unencrypted",
          "tandrel-mail: warning: the server does not offer STARTTLS: the connection is not encrypted"},
         kPlainLoja + "MAIL FROM:<loja@example.com>",
         false},
        {"empty_recipient",
         {},
         {"--to", " ; ;"},
         2,
         {"tandrel-mail: --to: no address in \" ; ;\""},
         "",
         true},
        {"recipient_with_an_empty_entry",
         {},
         {"--cc", "a@example.com;"},
         2,
         {"tandrel-mail: --cc: no address in \"a@example.com;\""},
         "",
         true},
    };
}

class ToolRuleTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ToolRuleTest, StatusTextAndWhatTheServerReceived) {
    const ToolRuleCase c = ToolRuleCases()[GetParam()];
    ScriptedSmtpServer server;
    for (const auto& [verb, reply] : c.replies) server.Queue(verb, reply);
    testing::TempDir dir;
    const std::string password = dir.Write("senha", "\xEF\xBB\xBFs3nha\n");
    std::filesystem::permissions(password,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::vector<std::string> args{"--port", server.Port(),        "--attempts", "1",      "--user",
                                  "loja",   "--password-file",    password,     "--from", "loja@example.com",
                                  "--to",   "cliente@example.com"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun run = TandrelMail(args);
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const auto& text : c.texts)
        EXPECT_NE(run.output.find(text), std::string::npos) << text << "\n" << run.output;
    EXPECT_EQ(run.output.find("warning: other users"), std::string::npos) << run.output;

    const std::vector<std::string> received = server.Received();
    if (c.received.empty()) {
        EXPECT_TRUE(received.empty());
        return;
    }
    ASSERT_EQ(received.size(), 1u);
    const std::string& bytes = received[0];
    ASSERT_EQ(bytes.rfind("EHLO ", 0), 0u) << bytes;
    const std::string rest = bytes.substr(bytes.find("\r\n") + 2);
    if (c.whole)
        EXPECT_EQ(rest, c.received);
    else
        EXPECT_EQ(rest.substr(0, c.received.size()), c.received);
    EXPECT_EQ(server.Messages().size(), c.status == 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Rules, ToolRuleTest, ::testing::Range<std::size_t>(0, ToolRuleCases().size()),
                         [](const auto& info) { return std::string(ToolRuleCases()[info.param].name); });

}  // namespace
}  // namespace tandrel::mail
