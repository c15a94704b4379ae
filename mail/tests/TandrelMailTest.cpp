// tandrel-mail run as the operator runs it, against the scripted SMTP peer: what it
// shows of the conversation and of a server's text.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testing/ChildProcess.h"
#include "testing/ScriptedSmtpServer.h"
#include "testing/TempDir.h"

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

ToolRun TandrelMail(std::vector<std::string> args) {
    args.insert(args.begin(), TANDREL_MAIL_TOOL);
    testing::ChildProcess tool(args, {.MergeStderr = true});
    const int status = tool.Wait();
    return {status, tool.Output()};
}

std::vector<std::string> Split(std::string_view text, std::string_view separator) {
    std::vector<std::string> parts;
    while (!text.empty()) {
        const auto end = text.find(separator);
        parts.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + separator.size());
    }
    return parts;
}

// The lines of `output` that begin with `mark`, without it.
std::vector<std::string> Marked(const std::string& output, const std::string& mark) {
    std::vector<std::string> lines;
    for (const auto& line : Split(output, "\n"))
        if (line.rfind(mark, 0) == 0) lines.push_back(line.substr(mark.size()));
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
    const ToolRun run = TandrelMail({"--port", server.Port(), "--verbose", "--user", "loja", "--password-file",
                                 dir.Write("senha", secret + "\n"), "--from", "loja@example.com", "--to",
                                 "cliente@example.com", "--subject", "Teste", "--body-file",
                                 dir.Write("body.txt", "linha 1\n.\nfim\n")});
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

}  // namespace
}  // namespace tandrel::mail
