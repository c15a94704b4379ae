#include "smtp/SMTPSend.h"
#include "testing/PythonSmtpServer.h"
#include "testing/ScriptedSmtpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::smtp {
namespace {

using testing::AwaitClose;
using testing::Deaf;
using testing::Dialog;
using testing::Flood;
using testing::Hangup;
using testing::Hear;
using testing::HearBytes;
using testing::HearData;
using testing::Pause;
using testing::Raw;
using testing::Reply;
using testing::ScriptedSmtpServer;
using testing::Step;
using E = TDeliveryStatusNotificationEvents;

constexpr std::string_view LineBreakRefusal = "501 5.5.4 Refused: CR or LF in command argument";
constexpr std::string_view NonAsciiRefusal = "553 5.6.7 Refused: non-ASCII address without SMTPUTF8";
constexpr std::string_view OutOfTurn = "554 5.5.0 Refused: the server answered out of turn";

std::unique_ptr<TSMTPSend> ClientFor(const ScriptedSmtpServer& Server) {
    auto client = std::make_unique<TSMTPSend>();
    client->SetTargetPort(Server.Port());
    client->SetSystemName("client.test");
    client->SetTimeout(5000);
    return client;
}

// The transcript once the client has let go of the connection.
std::string TranscriptAfterClose(TSMTPSend& Client, ScriptedSmtpServer& Server) {
    Client.Sock().CloseSocket();
    return Server.Transcript();
}

std::string Repeat(std::string_view Unit, int Times) {
    std::string r;
    for (int i = 0; i < Times; ++i) r += Unit;
    return r;
}

// Piece sizes in which the server hands out its replies.
constexpr std::size_t Pieces[] = {0, 1, 10};

// Every row of a table, each replayed in every piece size.
auto RowsInPieces(std::size_t Rows) {
    return ::testing::Combine(::testing::Range<std::size_t>(0, Rows), ::testing::ValuesIn(Pieces));
}

template <auto Cases>
std::string RowInPieceName(const ::testing::TestParamInfo<std::tuple<std::size_t, std::size_t>>& Info) {
    const std::size_t piece = std::get<1>(Info.param);
    return std::string(Cases()[std::get<0>(Info.param)].Name) + "_" +
           (piece == 0 ? "whole" : "by" + std::to_string(piece));
}

// ---------------------------------------------------------------- construction

TEST(SMTPSendDefaults, ConstructorSettings) {
    TSMTPSend client;
    EXPECT_EQ(client.TargetPort(), "25");
    EXPECT_EQ(client.TargetHost(), "127.0.0.1");
    EXPECT_EQ(client.Timeout(), 60000);
    EXPECT_FALSE(client.SystemName().empty());
    EXPECT_FALSE(client.AutoTLS());
    EXPECT_FALSE(client.FullSSL());
    EXPECT_TRUE(client.DeliveryStatusNotification().Empty());
    EXPECT_TRUE(client.Sock().ConvertLineEnd());
    EXPECT_EQ(client.Sock().MaxLineLength(), TSMTPSend::MaxReplyLineLength);
    EXPECT_EQ(client.ResultCode(), 0);
}

// ---------------------------------------------------------------- enhanced codes

struct EnhancedCase {
    const char* Name;
    const char* Line;
    int E1, E2, E3;
    const char* Description;
};

const EnhancedCase EnhancedCases[] = {
    {"permanent_7_1", "550 5.7.1 Delivery refused", 5, 7, 1,
     "Permanent Failure-Delivery not authorized, message refused"},
    {"mailbox_1_1", "550 5.1.1 User unknown", 5, 1, 1, "Permanent Failure-Bad destination mailbox address"},
    {"success", "250 2.1.0 Sender ok", 2, 1, 0, "Success-Other address status"},
    {"transient", "451 4.4.2 Bad connection", 4, 4, 2, "Persistent Transient Failure-Bad connection"},
    {"three_digit_parts", "550 5.100.100 x", 5, 100, 100, "Permanent Failure-"},
    {"no_code", "250 OK", 0, 0, 0, "?\?\?-Other undefined Status"},
    {"hyphen_text", "250 OK-done", 0, 0, 0, "?\?\?-Other undefined Status"},
    {"first_part_two_digits", "550 55.1.1 x", 0, 0, 0, "?\?\?-Other undefined Status"},
    {"first_part_zero", "550 0.1.1 x", 0, 0, 0, "?\?\?-Other undefined Status"},
    {"second_part_too_long", "550 5.1000.1 x", 0, 0, 0, "?\?\?-Other undefined Status"},
    {"third_part_too_long", "550 5.1.1000 x", 0, 0, 0, "?\?\?-Other undefined Status"},
    {"third_part_missing", "550 5.1.", 0, 0, 0, "?\?\?-Other undefined Status"},
    {"unknown_key", "550 5.9.9 x", 5, 9, 9, "Permanent Failure-"},
    {"other_class", "350 3.0.0 x", 3, 0, 0, "?\?\?-Other undefined Status"},
    {"short_line", "55", 0, 0, 0, "?\?\?-Other undefined Status"},
};

class EnhancedCodeTest : public ::testing::TestWithParam<EnhancedCase> {};

TEST_P(EnhancedCodeTest, ParsesAndDescribes) {
    const auto& c = GetParam();
    TSMTPSend client;
    client.EnhancedCode("250 2.0.0 stale");  // earlier values must not survive
    client.EnhancedCode(c.Line);
    EXPECT_EQ(client.EnhCode1(), c.E1);
    EXPECT_EQ(client.EnhCode2(), c.E2);
    EXPECT_EQ(client.EnhCode3(), c.E3);
    EXPECT_EQ(client.EnhCodeString(), c.Description);
}

INSTANTIATE_TEST_SUITE_P(Lines, EnhancedCodeTest, ::testing::ValuesIn(EnhancedCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------- reading replies

struct ReplyCase {
    const char* Name;
    std::vector<Step> Script;
    int Code;
    std::string Last;
    std::size_t Lines;
};

std::vector<ReplyCase> ReplyCases() {
    return {
        {"three_lines", {Raw("250-A\r\n250-B\r\n250 C\r\n")}, 250, "250 C", 3},
        {"hyphen_after_fourth", {Raw("250 OK-done\r\n250 next\r\n")}, 250, "250 OK-done", 1},
        {"code_alone", {Raw("354\r\n")}, 354, "354", 1},
        {"bare_lf_ends", {Raw("250-A\n250 B\n")}, 250, "250 B", 2},
        {"not_a_number", {Raw("2x0 hello\r\n")}, 0, "2x0 hello", 1},
        // The hyphen is the line's second byte, though the text "\u2039-x" has it fourth.
        {"non_ascii_before_hyphen", {Raw("\x8b-x\r\n250 ok\r\n")}, 0, "\xe2\x80\xb9-x", 1},
        {"too_short", {Raw("25\r\n")}, 0, "25", 1},
        {"cut_after_first_line", {Raw("250-A\r\n"), Hangup()}, 0, "", 2},
        // The last line ends the reply and carries its code (RFC 5321, 4.2.1).
        {"refusal_after_continuation",
         {Raw("250-queued?\r\n554 5.6.0 refused\r\n")},
         554,
         "554 5.6.0 refused",
         2},
        {"acceptance_after_refusal", {Raw("554-busy\r\n250 2.0.0 queued\r\n")}, 250, "250 2.0.0 queued", 2},
        {"nothing_then_close", {Hangup()}, 0, "", 1},
    };
}

class ReplyTest : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(ReplyTest, ReadsWholeReply) {
    const auto [row, piece] = GetParam();
    const ReplyCase c = ReplyCases()[row];
    // Replies are rebuilt piecewise here so the row's bytes arrive in the given pieces.
    std::vector<Step> script;
    for (Step s : c.Script) {
        s.Whole = false;
        script.push_back(s);
    }
    ScriptedSmtpServer server(script, piece);
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Connect()) << client->Sock().LastErrorDesc();
    EXPECT_EQ(client->ReadResult(), c.Code);
    EXPECT_EQ(client->ResultCode(), c.Code);
    EXPECT_EQ(client->ResultString(), c.Last);
    EXPECT_EQ(client->FullResult().size(), c.Lines);
}

INSTANTIATE_TEST_SUITE_P(Replies, ReplyTest, RowsInPieces(ReplyCases().size()), RowInPieceName<ReplyCases>);

// Six-byte lines keep these replies below the socket's 65536-byte line buffer
// however the kernel splits them, so only the line count can end them.
TEST(ReplyLimits, AcceptsReplyOfMaxLines) {
    ScriptedSmtpServer server({Raw(Repeat("250-\r\n", TSMTPSend::MaxReplyLines - 1) + "250 end\r\n")});
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Connect());
    EXPECT_EQ(client->ReadResult(), 250);
    EXPECT_EQ(client->FullResult().size(), static_cast<std::size_t>(TSMTPSend::MaxReplyLines));
    EXPECT_EQ(client->ResultString(), "250 end");
}

TEST(ReplyLimits, StopsAndClosesOneLinePastMax) {
    ScriptedSmtpServer server({Raw(Repeat("250-\r\n", TSMTPSend::MaxReplyLines) + "250 end\r\n")});
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Connect());
    EXPECT_EQ(client->ReadResult(), 0);
    EXPECT_EQ(client->ResultCode(), 0);
    // The reply says why: the cut reply's last line would tell nothing.
    EXPECT_EQ(client->ResultString(), "554 5.5.0 Refused: reply of more than 10000 lines");
    EXPECT_EQ(client->FullResult(), std::vector<std::string>{client->ResultString()});
    EXPECT_FALSE(client->Connected()) << "the rest of the reply must not be read as a later answer";
}

TEST(ReplyLimits, EndlessContinuationLinesEndLogin) {
    // Either limit may stop this one first (lines, or bytes waiting in the line
    // buffer); both must end the reply with code 0 and bounded memory.
    ScriptedSmtpServer server({Reply("220 mx"), Hear(), Flood("250-more\r\n")});
    auto client = ClientFor(server);
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->ResultCode(), 0);
    EXPECT_LE(client->FullResult().size(), static_cast<std::size_t>(TSMTPSend::MaxReplyLines));
    EXPECT_TRUE(TranscriptAfterClose(*client, server).starts_with("EHLO client.test\r\n"));
}

TEST(ReplyCode, EnhancedCodeComesFromTheLastLine) {
    ScriptedSmtpServer server({Raw("250-2.0.0 first\r\n550 5.7.1 denied\r\n")});
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Connect());
    EXPECT_EQ(client->ReadResult(), 550);
    EXPECT_EQ(client->EnhCodeString(), "Permanent Failure-Delivery not authorized, message refused");
}

// Text that is valid UTF-8 is read as UTF-8; any other bytes as Windows-1252.
struct ReplyTextCase {
    const char* Name;
    std::string Bytes;
    std::string Text;
};

class ReplyTextTest : public ::testing::TestWithParam<ReplyTextCase> {};

TEST_P(ReplyTextTest, ReadsTheServersText) {
    ScriptedSmtpServer server({Raw(GetParam().Bytes + "\r\n")});
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Connect());
    EXPECT_EQ(client->ReadResult(), 250);
    EXPECT_EQ(client->ResultString(), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTextTest,
    ::testing::Values(ReplyTextCase{"ascii", "250 ok", "250 ok"},
                      ReplyTextCase{"utf8", "250 Ol\xc3\xa1, S\xc3\xa3o Paulo \xe2\x82\xac",
                                    "250 Ol\u00e1, S\u00e3o Paulo \u20ac"},
                      ReplyTextCase{"windows_1252", "250 Ol\xe1 \x80", "250 Ol\u00e1 \u20ac"},
                      // One stray byte makes the whole line Windows-1252.
                      ReplyTextCase{"mostly_utf8", "250 \xc3\xa1 \xe1", "250 \u00c3\u00a1 \u00e1"},
                      ReplyTextCase{"overlong_is_no_utf8", "250 \xc0\xaf", "250 \u00c0\u00af"},
                      // Controls stay as they came; whoever shows the text escapes them.
                      ReplyTextCase{"utf8_with_control", "250 \xc3\xa1\x01", "250 \u00e1\x01"}),
    [](const auto& info) { return std::string(info.param.Name); });

// Each line has the socket's limit, not all the lines that come in one read: a long
// list of short lines is one normal reply.
TEST(ReplyLimits, ManyShortLinesArrivingAtOnce) {
    const std::string reply = Repeat("250-CAPABILITY\r\n", 9990) + "250 END\r\n";
    ASSERT_GT(reply.size(), 2u * TSMTPSend::MaxReplyLineLength);
    ScriptedSmtpServer server({Reply("220 mx"), Hear(), Raw(reply)});
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login()) << client->Sock().LastErrorDesc();
    EXPECT_EQ(client->ESMTPcap().size(), 9990u);
    EXPECT_EQ(client->ESMTPcap().back(), "END");
}

// The time-out is the whole reply's: a reply whose lines trickle in, each well within
// it, still fails when the last line is late.
TEST(ReplyTimeout, BoundsTheWholeReply) {
    const std::vector<Step> script{Raw("250-a\r\n"), Pause(std::chrono::milliseconds(150)),
                                   Raw("250-b\r\n"), Pause(std::chrono::milliseconds(150)),
                                   Raw("250-c\r\n"), Pause(std::chrono::milliseconds(150)),
                                   Raw("250 d\r\n")};
    {
        ScriptedSmtpServer server(script);
        auto client = ClientFor(server);
        client->SetTimeout(300);
        ASSERT_TRUE(client->Connect());
        EXPECT_EQ(client->ReadResult(), 0);
        EXPECT_EQ(client->Sock().LastError(), 10060);
        EXPECT_FALSE(client->Connected());
    }
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Connect());
    EXPECT_EQ(client->ReadResult(), 250);
    EXPECT_EQ(client->FullResult().size(), 4u);
}

// One byte at a time, each within the time-out, never ends the reply in time.
TEST(ReplyTimeout, ByteByByteReplyEndsAtTheTimeout) {
    std::vector<Step> script{Reply("220 mx"), Hear()};
    for (const char c : Repeat("250-trickle\r\n", 100)) {
        script.push_back(Raw(std::string(1, c)));
        script.push_back(Pause(std::chrono::milliseconds(20)));
    }
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    client->SetTimeout(300);
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->Sock().LastError(), 10060);
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\n");
}

struct BrokenGreetingCase {
    const char* Name;
    std::vector<Step> Script;
    int Timeout;
    int SocketError;    // the one that ended the conversation, kept to the end
    std::string Reply;  // the last reply when Login gives up
    std::string Sent;
};

// Each reply is cut, so the client closes the connection and says nothing more (no
// HELO after a cut EHLO reply, no QUIT).
std::vector<BrokenGreetingCase> BrokenGreetingCases() {
    return {
        {"greeting_never_comes", {AwaitClose()}, 300, 10060, "", ""},
        {"endless_line", {Flood(std::string(4096, 'x'))}, 5000, 10055, "", ""},
        {"ehlo_reply_never_comes",
         {Reply("220 mx"), Hear(), AwaitClose()},
         300,
         10060,
         "",
         "EHLO client.test\r\n"},
        {"endless_ehlo_line",
         {Reply("220 mx"), Hear(), Flood(std::string(4096, 'x'))},
         5000,
         10055,
         "",
         "EHLO client.test\r\n"},
        {"ehlo_reply_one_line_too_long",
         {Reply("220 mx"), Hear(), Raw(Repeat("250-\r\n", TSMTPSend::MaxReplyLines + 1))},
         5000,
         0,
         "554 5.5.0 Refused: reply of more than 10000 lines",
         "EHLO client.test\r\n"},
    };
}

class BrokenGreetingTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BrokenGreetingTest, LoginFailsWithCodeZero) {
    const BrokenGreetingCase c = BrokenGreetingCases()[GetParam()];
    ScriptedSmtpServer server(c.Script);
    auto client = ClientFor(server);
    client->SetTimeout(c.Timeout);
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->ResultCode(), 0);
    EXPECT_EQ(client->ResultString(), c.Reply);
    EXPECT_EQ(client->Sock().LastError(), c.SocketError);
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(server.Transcript(), c.Sent);
}

INSTANTIATE_TEST_SUITE_P(Replies, BrokenGreetingTest,
                         ::testing::Range<std::size_t>(0, BrokenGreetingCases().size()),
                         [](const auto& info) {
                             return std::string(BrokenGreetingCases()[info.param].Name);
                         });

// ---------------------------------------------------------------- login

struct LoginCase {
    const char* Name;
    std::vector<Step> Script;
    std::string User, Password;
    bool AutoTLS;
    bool Ok, Esmtp, Auth;
    std::string Sent;
    std::vector<std::string> Caps;
    std::int64_t MaxSize;
};

// RFC 2195's example exchange, and Base64 texts computed outside this code.
const std::string CramChallenge = "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";
const std::string CramAnswer = "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw";
const std::string PlainTim = "AHRpbQB0YW5zdGFhZnRhbnN0YWFm";
const std::string XOAuthToken = "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg";
const std::string XOAuthLine =
    "dXNlcj1zb21lb25lQGV4YW1wbGUuY29tAWF1dGg9QmVhcmVyIHlhMjkudkY5ZGZ0NHFtVGMyTnZiM1JsY2tCaGRIUmhkbWx6ZEdFdVky"
    "OXRDZwEB";

std::vector<LoginCase> LoginCases() {
    const std::string ehlo = "EHLO client.test\r\n";
    return {
        {"ehlo_auth_plain_size",
         Dialog("220 mx ready", {"250-mx hello\r\n250-AUTH LOGIN PLAIN\r\n250-SIZE 35882577\r\n250 8BITMIME",
                                 "235 2.7.0 Accepted"}),
         "tim",
         "tanstaaftanstaaf",
         false,
         true,
         true,
         true,
         ehlo + "AUTH PLAIN " + PlainTim + "\r\n",
         {"AUTH LOGIN PLAIN", "SIZE 35882577", "8BITMIME"},
         35882577},
        {"plain_refused_then_login",
         Dialog("220 mx", {"250-mx\r\n250 AUTH LOGIN PLAIN", "535 5.7.8 no", "334 VXNlcm5hbWU6",
                           "334 UGFzc3dvcmQ6", "235 ok"}),
         "tim",
         "tanstaaftanstaaf",
         false,
         true,
         true,
         true,
         ehlo + "AUTH PLAIN " + PlainTim + "\r\nAUTH LOGIN\r\ndGlt\r\ndGFuc3RhYWZ0YW5zdGFhZg==\r\n",
         {"AUTH LOGIN PLAIN"},
         0},
        {"cram_md5",
         Dialog("220 mx", {"250-mx\r\n250 AUTH CRAM-MD5", CramChallenge, "235 ok"}),
         "tim",
         "tanstaaftanstaaf",
         false,
         true,
         true,
         true,
         ehlo + "AUTH CRAM-MD5\r\n" + CramAnswer + "\r\n",
         {"AUTH CRAM-MD5"},
         0},
        {"xoauth2",
         Dialog("220 mx", {"250-mx\r\n250 AUTH XOAUTH2", "235 ok"}),
         "someone@example.com",
         XOAuthToken,
         false,
         true,
         true,
         true,
         ehlo + "AUTH XOAUTH2 " + XOAuthLine + "\r\n",
         {"AUTH XOAUTH2"},
         0},
        {"auth_equals_form",
         Dialog("220 mx", {"250-mx\r\n250 AUTH=LOGIN", "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok"}),
         "tim",
         "tanstaaftanstaaf",
         false,
         true,
         true,
         true,
         ehlo + "AUTH LOGIN\r\ndGlt\r\ndGFuc3RhYWZ0YW5zdGFhZg==\r\n",
         {"AUTH=LOGIN"},
         0},
        {"login_stops_at_refused_user",
         Dialog("220 mx", {"250-mx\r\n250 AUTH LOGIN", "334 VXNlcm5hbWU6", "535 no such user"}),
         "tim",
         "tanstaaftanstaaf",
         false,
         true,
         true,
         false,
         ehlo + "AUTH LOGIN\r\ndGlt\r\n",
         {"AUTH LOGIN"},
         0},
        // A challenge where the client expected the end: the client cancels the exchange
        // (RFC 4954, "*"), so that nothing it says next is taken as an answer.
        {"login_challenged_after_password",
         Dialog("220 mx", {"250-mx\r\n250 AUTH LOGIN", "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "334 more?",
                           "501 5.7.0 cancelled"}),
         "tim",
         "tanstaaftanstaaf",
         false,
         true,
         true,
         false,
         ehlo + "AUTH LOGIN\r\ndGlt\r\ndGFuc3RhYWZ0YW5zdGFhZg==\r\n*\r\n",
         {"AUTH LOGIN"},
         0},
        {"plain_challenged_then_login",
         Dialog("220 mx", {"250-mx\r\n250 AUTH LOGIN PLAIN", "334 ", "501 5.7.0 cancelled",
                           "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok"}),
         "tim",
         "tanstaaftanstaaf",
         false,
         true,
         true,
         true,
         ehlo + "AUTH PLAIN " + PlainTim + "\r\n*\r\nAUTH LOGIN\r\ndGlt\r\ndGFuc3RhYWZ0YW5zdGFhZg==\r\n",
         {"AUTH LOGIN PLAIN"},
         0},
        {"refused_auth_keeps_login",
         Dialog("220 mx", {"250-mx\r\n250 AUTH PLAIN", "535 5.7.8 bad"}),
         "tim",
         "tanstaaftanstaaf",
         false,
         true,
         true,
         false,
         ehlo + "AUTH PLAIN " + PlainTim + "\r\n",
         {"AUTH PLAIN"},
         0},
        {"capabilities_in_lower_case",
         Dialog("220 mx", {"250-mx\r\n250-auth login\r\n250 size 2000", "334 VXNlcm5hbWU6",
                           "334 UGFzc3dvcmQ6", "235 ok"}),
         "tim",
         "tanstaaftanstaaf",
         false,
         true,
         true,
         true,
         ehlo + "AUTH LOGIN\r\ndGlt\r\ndGFuc3RhYWZ0YW5zdGFhZg==\r\n",
         {"auth login", "size 2000"},
         2000},
        {"no_credentials_no_auth",
         Dialog("220 mx", {"250-mx\r\n250 AUTH PLAIN"}),
         "",
         "",
         false,
         true,
         true,
         false,
         ehlo,
         {"AUTH PLAIN"},
         0},
        {"autotls_without_offer",
         Dialog("220 mx", {"250-mx\r\n250 SIZE"}),
         "",
         "",
         true,
         true,
         true,
         false,
         ehlo,
         {"SIZE"},
         0},
        {"ehlo_refused_helo_accepted",
         Dialog("220 mx", {"502 5.5.1 EHLO not here", "250 mx"}),
         "tim",
         "tanstaaftanstaaf",
         true,
         true,
         false,
         false,
         ehlo + "HELO client.test\r\n",
         {},
         0},
        {"ehlo_and_helo_refused",
         Dialog("220 mx", {"502 no", "501 no"}),
         "",
         "",
         false,
         false,
         false,
         false,
         ehlo + "HELO client.test\r\n",
         {},
         0},
        {"greeting_not_220", Dialog("554 5.3.2 go away", {}), "", "", false, false, true, false, "", {}, 0},
    };
}

class LoginTest : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(LoginTest, Conversation) {
    const auto [row, piece] = GetParam();
    const LoginCase c = LoginCases()[row];
    ScriptedSmtpServer server(c.Script, piece);
    auto client = ClientFor(server);
    client->SetUserName(c.User);
    client->SetPassword(c.Password);
    client->SetAutoTLS(c.AutoTLS);
    EXPECT_EQ(client->Login(), c.Ok);
    EXPECT_EQ(client->ESMTP(), c.Esmtp);
    EXPECT_EQ(client->AuthDone(), c.Auth);
    EXPECT_EQ(client->ESMTPcap(), c.Caps);
    EXPECT_EQ(client->MaxSize(), c.MaxSize);
    EXPECT_EQ(TranscriptAfterClose(*client, server), c.Sent);
}

INSTANTIATE_TEST_SUITE_P(Conversations, LoginTest, RowsInPieces(LoginCases().size()),
                         RowInPieceName<LoginCases>);

TEST(LoginState, SecondLoginStartsAfresh) {
    // The second conversation must not keep the first one's capabilities or flags.
    ScriptedSmtpServer first(Dialog("220 mx", {"250-mx\r\n250-SIZE 1000\r\n250 AUTH PLAIN", "235 ok"}));
    auto client = ClientFor(first);
    client->SetUserName("u");
    client->SetPassword("p");
    ASSERT_TRUE(client->Login());
    ASSERT_TRUE(client->AuthDone());
    ASSERT_TRUE(client->ESMTPSize());
    ScriptedSmtpServer second(Dialog("220 mx", {"502 no", "250 mx"}));
    client->SetTargetPort(second.Port());
    ASSERT_TRUE(client->Login());
    EXPECT_FALSE(client->ESMTP());
    EXPECT_FALSE(client->AuthDone());
    EXPECT_FALSE(client->ESMTPSize());
    EXPECT_EQ(client->MaxSize(), 0);
    EXPECT_TRUE(client->ESMTPcap().empty());
    EXPECT_EQ(first.Transcript(), "EHLO client.test\r\nAUTH PLAIN AHUAcA==\r\n");
    EXPECT_EQ(TranscriptAfterClose(*client, second), "EHLO client.test\r\nHELO client.test\r\n");
}

TEST(LoginState, EveryConnectionSendsWithoutDelay) {
    // The same client twice: the second connection is a new handle.
    TSMTPSend client;
    client.SetSystemName("client.test");
    for (int i = 0; i < 2; ++i) {
        ScriptedSmtpServer server(Dialog("220 mx", {"250 mx"}));
        client.SetTargetPort(server.Port());
        ASSERT_TRUE(client.Login());
        int nodelay = 0;
        socklen_t len = sizeof nodelay;
        ASSERT_EQ(::getsockopt(client.Sock().Socket(), IPPROTO_TCP, TCP_NODELAY, &nodelay, &len), 0);
        EXPECT_NE(nodelay, 0) << "connection " << i;
        client.Sock().CloseSocket();
    }
}

TEST(LoginState, ConnectFailureKeepsPreviousReply) {
    // A port nothing listens on: take one from a server that is gone.
    std::string port;
    {
        ScriptedSmtpServer gone(std::vector<Step>{});
        port = gone.Port();
    }
    TSMTPSend client;
    client.SetTargetPort(port);
    client.EnhancedCode("550 5.7.1 earlier");
    EXPECT_FALSE(client.Login());
    EXPECT_EQ(client.Sock().LastError(), 10061);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.EnhCode1(), 5);
    EXPECT_EQ(client.LoginStep(), TLoginStep::lsConnect);
}

// ---------------------------------------------------------------- commands

struct CommandCase {
    const char* Name;
    TDeliveryStatusNotification Dsn;
    std::function<bool(TSMTPSend&)> Act;
    std::string Reply;
    std::string Sent;
    bool Ok;
    std::string_view Result = {};  // the last reply when not the server's
};

std::vector<CommandCase> CommandCases() {
    return {
        {"mail_from_size",
         {},
         [](TSMTPSend& C) { return C.MailFrom("a@b.example", 4321); },
         "250 2.1.0 ok",
         "MAIL FROM:<a@b.example> SIZE=4321\r\n",
         true},
        {"mail_from_size_zero",
         {},
         [](TSMTPSend& C) { return C.MailFrom("a@b.example", 0); },
         "250 ok",
         "MAIL FROM:<a@b.example>\r\n",
         true},
        {"mail_from_dsn",
         {E::dsnSucecess, E::dsnFailure},
         [](TSMTPSend& C) { return C.MailFrom("a@b.example", 10); },
         "250 ok",
         "MAIL FROM:<a@b.example> SIZE=10 RET=FULL\r\n",
         true},
        {"mail_from_refused",
         {},
         [](TSMTPSend& C) { return C.MailFrom("a@b.example", 0); },
         "550 5.7.1 relaying denied",
         "MAIL FROM:<a@b.example>\r\n",
         false},
        {"mail_from_smtputf8",
         {},
         [](TSMTPSend& C) { return C.MailFrom("jo\u00e3o@b.example", 0, true); },
         "250 ok",
         "MAIL FROM:<jo\xc3\xa3o@b.example> SMTPUTF8\r\n",
         true},
        {"mail_from_smtputf8_size_dsn",
         {E::dsnFailure},
         [](TSMTPSend& C) { return C.MailFrom("a@b.example", 10, true); },
         "250 ok",
         "MAIL FROM:<a@b.example> SIZE=10 RET=FULL SMTPUTF8\r\n",
         true},
        {"rcpt_plain",
         {},
         [](TSMTPSend& C) { return C.MailTo("c@d.example"); },
         "250 ok",
         "RCPT TO:<c@d.example>\r\n",
         true},
        {"rcpt_dsn_success_failure",
         {E::dsnSucecess, E::dsnFailure},
         [](TSMTPSend& C) { return C.MailTo("c@d.example"); },
         "250 ok",
         "RCPT TO:<c@d.example> NOTIFY=SUCCESS,FAILURE ORCPT=rfc822;c@d.example\r\n",
         true},
        {"rcpt_dsn_all",
         {E::dsnDelay, E::dsnFailure, E::dsnSucecess},
         [](TSMTPSend& C) { return C.MailTo("c@d.example"); },
         "250 ok",
         "RCPT TO:<c@d.example> NOTIFY=SUCCESS,FAILURE,DELAY ORCPT=rfc822;c@d.example\r\n",
         true},
        {"rcpt_refused",
         {},
         [](TSMTPSend& C) { return C.MailTo("c@d.example"); },
         "451 4.4.2 try later",
         "RCPT TO:<c@d.example>\r\n",
         false},
        {"etrn_queued",
         {},
         [](TSMTPSend& C) { return C.Etrn("example.org"); },
         "251 queued",
         "ETRN example.org\r\n",
         true},
        {"etrn_200_is_not_enough",
         {},
         [](TSMTPSend& C) { return C.Etrn("example.org"); },
         "200 hm",
         "ETRN example.org\r\n",
         false},
        {"verify_cannot",
         {},
         [](TSMTPSend& C) { return C.Verify("tim"); },
         "252 2.1.5 cannot verify",
         "VRFY tim\r\n",
         true},
        {"verify_unknown",
         {},
         [](TSMTPSend& C) { return C.Verify("tim"); },
         "550 5.1.1 unknown",
         "VRFY tim\r\n",
         false},
        {"reset", {}, [](TSMTPSend& C) { return C.Reset(); }, "250 ok", "RSET\r\n", true},
        {"noop_200", {}, [](TSMTPSend& C) { return C.NoOp(); }, "200 ok", "NOOP\r\n", true},
        // No command but DATA and AUTH has a reply of class 3.
        {"noop_300", {}, [](TSMTPSend& C) { return C.NoOp(); }, "300 what", "NOOP\r\n", false, OutOfTurn},
    };
}

class CommandTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CommandTest, SendsLineAndJudgesReply) {
    const CommandCase c = CommandCases()[GetParam()];
    ScriptedSmtpServer server(Dialog("220 mx", {"250-mx\r\n250-SIZE 1000\r\n250 DSN", c.Reply}));
    auto client = ClientFor(server);
    client->SetDeliveryStatusNotification(c.Dsn);
    ASSERT_TRUE(client->Login());
    EXPECT_EQ(c.Act(*client), c.Ok);
    EXPECT_EQ(client->ResultString(), c.Result.empty() ? c.Reply : std::string(c.Result));
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\n" + c.Sent);
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandTest, ::testing::Range<std::size_t>(0, CommandCases().size()),
                         [](const auto& info) { return std::string(CommandCases()[info.param].Name); });

TEST(CommandSize, NoSizeOptionWithoutTheCapability) {
    ScriptedSmtpServer server(Dialog("220 mx", {"250 mx", "250 ok"}));
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_TRUE(client->MailFrom("a@b.example", 500));
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\nMAIL FROM:<a@b.example>\r\n");
}

// ---------------------------------------------------------------- SMTPUTF8

// A transaction begun with SMTPUTF8 carries its addresses in UTF-8 up to the end of its
// data; the next one, begun without, refuses them again.
TEST(Smtputf8, TransactionCarriesUtf8UntilItsDataEnds) {
    auto script = Dialog("220 mx", {"250-mx\r\n250-DSN\r\n250 SMTPUTF8", "250 ok", "250 ok", "354 go"});
    script.push_back(HearData());
    script.push_back(Reply("250 queued"));
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    client->SetDeliveryStatusNotification({E::dsnFailure});
    ASSERT_TRUE(client->Login());
    ASSERT_TRUE(client->MailFrom("s\u00e3o@a\u00e7a\u00ed.example", 0, true));
    ASSERT_TRUE(client->MailTo("jos\u00e9+x=1@d.example"));
    ASSERT_TRUE(client->MailData({"Subject: ol\u00e1"}));
    EXPECT_FALSE(client->MailTo("jos\u00e9@d.example"));
    EXPECT_EQ(client->ResultString(), NonAsciiRefusal);
    EXPECT_EQ(TranscriptAfterClose(*client, server),
              "EHLO client.test\r\n"
              "MAIL FROM:<s\xc3\xa3o@a\xc3\xa7"
              "a\xc3\xad.example> RET=FULL SMTPUTF8\r\n"
              "RCPT TO:<jos\xc3\xa9+x=1@d.example> NOTIFY=FAILURE "
              "ORCPT=utf-8;jos\xc3\xa9\\x{2B}x\\x{3D}1@d.example\r\n"
              "DATA\r\nSubject: ol\xc3\xa1\r\n.\r\n");
}

// A refused MAIL FROM begins no transaction: the next RCPT TO is judged without SMTPUTF8.
TEST(Smtputf8, RefusedSenderBeginsNoTransaction) {
    ScriptedSmtpServer server(Dialog("220 mx", {"250-mx\r\n250 SMTPUTF8", "550 5.7.1 no"}));
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_FALSE(client->MailFrom("jo\u00e3o@b.example", 0, true));
    EXPECT_FALSE(client->MailTo("jos\u00e9@d.example"));
    EXPECT_EQ(client->ResultString(), NonAsciiRefusal);
    EXPECT_EQ(TranscriptAfterClose(*client, server),
              "EHLO client.test\r\nMAIL FROM:<jo\xc3\xa3o@b.example> SMTPUTF8\r\n");
}

// ---------------------------------------------------------------- refusals

struct RefusalCase {
    const char* Name;
    std::function<bool(TSMTPSend&)> Act;
    std::string_view Reply = LineBreakRefusal;
    std::string_view Enhanced = "Permanent Failure-Invalid command arguments";
};

std::vector<RefusalCase> RefusalCases() {
    // Windows-1252 bytes of a non-ASCII address would name another mailbox, or none.
    constexpr std::string_view nonAscii = NonAsciiRefusal;
    constexpr std::string_view nonAsciiEnhanced = "Permanent Failure-";
    return {
        {"mail_from_crlf", [](TSMTPSend& C) { return C.MailFrom("a@b\r\nRCPT TO:<x@y>", 0); }},
        {"mail_from_lf", [](TSMTPSend& C) { return C.MailFrom("a@b\nRSET", 0); }},
        {"mail_from_smtputf8_crlf", [](TSMTPSend& C) { return C.MailFrom("jo\u00e3o@b\r\nRSET", 0, true); }},
        {"rcpt_cr", [](TSMTPSend& C) { return C.MailTo("c@d\rDATA"); }},
        {"rcpt_trailing_lf", [](TSMTPSend& C) { return C.MailTo("c@d\n"); }},
        {"etrn_crlf", [](TSMTPSend& C) { return C.Etrn("example.org\r\nQUIT"); }},
        {"verify_lf", [](TSMTPSend& C) { return C.Verify("tim\nEXPN all"); }},
        {"mail_from_non_ascii", [](TSMTPSend& C) { return C.MailFrom("jo\u00e3o@b.example", 0); }, nonAscii,
         nonAsciiEnhanced},
        {"mail_from_non_ascii_domain", [](TSMTPSend& C) { return C.MailFrom("a@a\u00e7a\u00ed.br", 0); },
         nonAscii, nonAsciiEnhanced},
        {"rcpt_non_ascii", [](TSMTPSend& C) { return C.MailTo("jos\u00e9@d.example"); }, nonAscii,
         nonAsciiEnhanced},
    };
}

class RefusalTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(RefusalTest, UnsafeArgumentIsNotSent) {
    const RefusalCase c = RefusalCases()[GetParam()];
    ScriptedSmtpServer server(Dialog("220 mx", {"250 mx"}));
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_FALSE(c.Act(*client));
    EXPECT_EQ(client->ResultCode(), 0);
    EXPECT_EQ(client->ResultString(), c.Reply);
    EXPECT_EQ(client->FullResult(), std::vector<std::string>{std::string(c.Reply)});
    EXPECT_EQ(client->EnhCodeString(), c.Enhanced);
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\n");
}

INSTANTIATE_TEST_SUITE_P(Arguments, RefusalTest, ::testing::Range<std::size_t>(0, RefusalCases().size()),
                         [](const auto& info) { return std::string(RefusalCases()[info.param].Name); });

TEST(Refusal, SystemNameWithLineBreakSendsNoGreeting) {
    ScriptedSmtpServer server(Dialog("220 mx", {"250 mx"}));
    auto client = ClientFor(server);
    client->SetSystemName("client.test\r\nMAIL FROM:<x@y>");
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->ResultString(), LineBreakRefusal);
    EXPECT_EQ(TranscriptAfterClose(*client, server), "");
}

// ---------------------------------------------------------------- STARTTLS

TEST(StartTLS, RefusesBytesPipelinedAfterReady) {
    // A fake "250" sent in the clear with the 220 would otherwise be read as
    // the first answer under TLS.
    ScriptedSmtpServer server({Reply("220 mx"), Hear(), Reply("250-mx\r\n250 STARTTLS"), Hear(),
                               Raw("220 2.0.0 Ready to start TLS\r\n250 fake\r\n")});
    auto client = ClientFor(server);
    client->SetAutoTLS(true);
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->ResultCode(), 0);
    EXPECT_EQ(client->ResultString(), "554 5.7.0 Refused: data arrived after the STARTTLS reply");
    EXPECT_LT(client->Sock().Socket(), 0);
    // No handshake bytes followed the command.
    EXPECT_EQ(server.Transcript(), "EHLO client.test\r\nSTARTTLS\r\n");
}

TEST(StartTLS, NotOfferedMeansFalseAndNothingSent) {
    ScriptedSmtpServer server(Dialog("220 mx", {"250 mx"}));
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_FALSE(client->StartTLS());
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\n");
}

TEST(StartTLS, RefusedByServer) {
    ScriptedSmtpServer server(Dialog("220 mx", {"250-mx\r\n250 STARTTLS", "454 4.7.0 TLS not available"}));
    auto client = ClientFor(server);
    client->SetAutoTLS(true);
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->ResultCode(), 454);
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\nSTARTTLS\r\n");
}

TEST(StartTLS, NeverSentWithFullSSL) {
    // The handshake fails at once against a plain server; STARTTLS must not follow.
    ScriptedSmtpServer server({Raw("220 mx\r\n"), HearBytes(1)});
    auto client = ClientFor(server);
    client->SetFullSSL(true);
    client->SetAutoTLS(true);
    client->Sock().SetConnectionTimeout(2000);
    EXPECT_FALSE(client->Login());
    EXPECT_NE(client->Sock().LastError(), 0);
    EXPECT_EQ(TranscriptAfterClose(*client, server).find("STARTTLS"), std::string::npos);
}

// Asked to check the server's certificate, the client never goes on in the clear: a
// hello that hides STARTTLS (or a server that only knows HELO) gets no AUTH.
struct MissingTlsCase {
    const char* Name;
    std::vector<Step> Script;
    std::string Heard;
};

class MissingTlsTest : public ::testing::TestWithParam<MissingTlsCase> {};

TEST_P(MissingTlsTest, RefusedBeforeAuthentication) {
    ScriptedSmtpServer server(GetParam().Script);
    auto client = ClientFor(server);
    client->SetAutoTLS(true);
    client->Sock().SSL().SetVerifyCert(true);
    client->SetUserName("tim");
    client->SetPassword("tanstaaftanstaaf");
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->ResultCode(), 0);
    EXPECT_EQ(client->ResultString(),
              "530 5.7.0 Refused: the server does not offer STARTTLS and its certificate is to be checked");
    EXPECT_EQ(TranscriptAfterClose(*client, server), GetParam().Heard);
}

INSTANTIATE_TEST_SUITE_P(StartTLS, MissingTlsTest,
                         ::testing::Values(MissingTlsCase{"ehlo_without_starttls",
                                                          Dialog("220 mx", {"250-mx\r\n250 AUTH PLAIN"}),
                                                          "EHLO client.test\r\n"},
                                           MissingTlsCase{"helo_only", Dialog("220 mx", {"502 no", "250 mx"}),
                                                          "EHLO client.test\r\nHELO client.test\r\n"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(StartTLS, NotOfferedWithoutCertificateCheckGoesOnInTheClear) {
    ScriptedSmtpServer server(Dialog("220 mx", {"250 mx"}));
    auto client = ClientFor(server);
    client->SetAutoTLS(true);
    EXPECT_TRUE(client->Login());
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\n");
}

// A TLS handshake that fails leaves the server in TLS and the client not: nothing is
// said after it.
TEST(StartTLS, FailedHandshakeClosesWithoutAWord) {
    ScriptedSmtpServer server({Reply("220 mx"), Hear(), Reply("250-mx\r\n250 STARTTLS"), Hear(),
                               Reply("220 2.0.0 Ready to start TLS"), HearBytes(5), Raw("no TLS here\r\n")});
    auto client = ClientFor(server);
    client->SetAutoTLS(true);
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->Sock().LastError(), 10091);
    EXPECT_FALSE(client->Connected());
    EXPECT_FALSE(client->MailFrom("a@example.com", 0));
    const std::string transcript = server.Transcript();
    const std::string commands = "EHLO client.test\r\nSTARTTLS\r\n";
    ASSERT_EQ(transcript.substr(0, commands.size()), commands);
    // Then the client's hello, one record, and nothing more.
    const std::string hello = transcript.substr(commands.size());
    ASSERT_GE(hello.size(), 5u);
    EXPECT_EQ(hello[0], '\x16');
    EXPECT_EQ(hello.size(),
              5u + (static_cast<unsigned char>(hello[3]) << 8 | static_cast<unsigned char>(hello[4])));
}

// With no connection time-out of the socket's own, the reply time-out bounds the
// handshake: a server that takes the connection and never answers the hello.
TEST(StartTLS, HandshakeWithoutConnectionTimeoutKeepsToTheReplyTimeout) {
    ScriptedSmtpServer server({AwaitClose()});
    auto client = ClientFor(server);
    client->SetTimeout(300);
    client->SetFullSSL(true);
    ASSERT_EQ(client->Sock().ConnectionTimeout(), 0);
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->Sock().LastError(), 10091);
    // A time-out: no TLS error of the peer's making.
    EXPECT_EQ(client->Sock().LastErrorDesc(), "Network subsystem is unusable");
    EXPECT_EQ(client->Sock().ConnectionTimeout(), 0);
    EXPECT_FALSE(client->Connected());
}

// ---------------------------------------------------------------- out of step

// A reply that comes after the time-out would be read as the answer to the next
// command: the client closes the connection, and a repeated command sends nothing.
struct LateReplyCase {
    const char* Name;
    std::vector<Step> Until;  // after EHLO: up to the command whose reply comes late
    std::function<bool(TSMTPSend&)> Command;
    std::string Sent;
};

std::vector<LateReplyCase> LateReplyCases() {
    const std::string ehlo = "EHLO client.test\r\n";
    return {
        {"mail_from",
         {Hear()},
         [](TSMTPSend& C) { return C.MailFrom("a@example.com", 0); },
         ehlo + "MAIL FROM:<a@example.com>\r\n"},
        {"rcpt_to",
         {Hear()},
         [](TSMTPSend& C) { return C.MailTo("b@example.com"); },
         ehlo + "RCPT TO:<b@example.com>\r\n"},
        {"data", {Hear()}, [](TSMTPSend& C) { return C.MailData({"x"}); }, ehlo + "DATA\r\n"},
        {"end_of_data",
         {Hear(), Reply("354 go ahead"), HearData()},
         [](TSMTPSend& C) { return C.MailData({"x"}); },
         ehlo + "DATA\r\nx\r\n.\r\n"},
        {"noop", {Hear()}, [](TSMTPSend& C) { return C.NoOp(); }, ehlo + "NOOP\r\n"},
    };
}

class LateReplyTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LateReplyTest, ClosesAndSaysNothingMore) {
    const LateReplyCase c = LateReplyCases()[GetParam()];
    auto script = Dialog("220 mx", {"250 mx"});
    script.insert(script.end(), c.Until.begin(), c.Until.end());
    script.push_back(Pause(std::chrono::milliseconds(1500)));
    script.push_back(Reply("250 2.0.0 late"));
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    client->SetTimeout(300);
    EXPECT_FALSE(c.Command(*client));
    EXPECT_EQ(client->ResultCode(), 0);
    EXPECT_EQ(client->Sock().LastError(), 10060);
    EXPECT_FALSE(client->Connected());
    // The retry fails at once; the time-out still tells why.
    EXPECT_FALSE(c.Command(*client));
    EXPECT_EQ(client->Sock().LastError(), 10060);
    EXPECT_EQ(server.Transcript(), c.Sent);
}

INSTANTIATE_TEST_SUITE_P(Commands, LateReplyTest, ::testing::Range<std::size_t>(0, LateReplyCases().size()),
                         [](const auto& info) { return std::string(LateReplyCases()[info.param].Name); });

// A lost connection during authentication is no login, though a refused one is.
TEST(OutOfStep, ConnectionLostDuringAuthenticationFailsLogin) {
    ScriptedSmtpServer server(
        {Reply("220 mx"), Hear(), Reply("250-mx\r\n250 AUTH LOGIN PLAIN"), Hear(), Hangup()});
    auto client = ClientFor(server);
    client->SetUserName("tim");
    client->SetPassword("secret");
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->Sock().LastError(), 10101);
    EXPECT_FALSE(client->Connected());
    // PLAIN went first; LOGIN was not tried on the lost connection.
    EXPECT_EQ(server.Transcript(), "EHLO client.test\r\nAUTH PLAIN AHRpbQBzZWNyZXQ=\r\n");
}

// Every reply belongs to one command. A line nobody asked for (an extra line, a
// reply the command cannot have) means the conversation is out of step: the client
// closes without a word and sends nothing more.
struct OutOfTurnCase {
    const char* Name;
    std::vector<Step> Script;
    std::string User;  // authenticates when not empty
    bool AutoTLS;
    std::function<bool(TSMTPSend&)> Then;  // after a Login that succeeded; null: Login fails
    std::string Sent;
};

std::vector<OutOfTurnCase> OutOfTurnCases() {
    const std::string ehlo = "EHLO client.test\r\n";
    const auto mailFrom = [](TSMTPSend& C) { return C.MailFrom("a@example.com", 0); };
    const auto late = Pause(std::chrono::milliseconds(100));  // after the client's next command went out
    return {
        {"extra_line_with_the_greeting",
         {Raw("220 mx ESMTP\r\n220 Welcome\r\n"), AwaitClose()},
         "",
         false,
         nullptr,
         ""},
        {"extra_line_after_the_greeting",
         {Reply("220 mx ESMTP"), late, Reply("220 Welcome"), Hear(), Reply("250 mx"), AwaitClose()},
         "",
         false,
         nullptr,
         ehlo},
        {"greeting_again_to_ehlo",
         {Reply("220 mx"), Hear(), Reply("220 Welcome"), AwaitClose()},
         "",
         false,
         nullptr,
         ehlo},
        {"extra_line_with_the_ehlo_reply",
         {Reply("220 mx"), Hear(), Raw("250-mx\r\n250 SIZE\r\n250 ok\r\n"), AwaitClose()},
         "",
         false,
         nullptr,
         ehlo},
        {"extra_line_with_a_reply",
         {Reply("220 mx"), Hear(), Reply("250 mx"), Hear(), Raw("250 ok\r\n250 ok\r\n"), AwaitClose()},
         "",
         false,
         [](TSMTPSend& C) { return C.MailFrom("a@example.com", 0) && C.MailTo("b@example.com"); },
         ehlo + "MAIL FROM:<a@example.com>\r\n"},
        {"ready_to_mail_from",
         {Reply("220 mx"), Hear(), Reply("250 mx"), Hear(), Reply("354 go"), AwaitClose()},
         "",
         false,
         mailFrom,
         ehlo + "MAIL FROM:<a@example.com>\r\n"},
        {"bye_to_rcpt",
         {Reply("220 mx"), Hear(), Reply("250 mx"), Hear(), Reply("221 bye"), AwaitClose()},
         "",
         false,
         [](TSMTPSend& C) { return C.MailTo("b@example.com"); },
         ehlo + "RCPT TO:<b@example.com>\r\n"},
        // The reply of RCPT, one behind, read as the answer to DATA: no message follows.
        {"accepted_to_data",
         {Reply("220 mx"), Hear(), Reply("250 mx"), Hear(), Reply("250 ok"), AwaitClose()},
         "",
         false,
         [](TSMTPSend& C) { return C.MailData({"Subject: x"}); },
         ehlo + "DATA\r\n"},
        {"extra_line_with_ready",
         {Reply("220 mx"), Hear(), Reply("250 mx"), Hear(), Raw("354 go\r\n250 ok\r\n"), AwaitClose()},
         "",
         false,
         [](TSMTPSend& C) { return C.MailData({"Subject: x"}); },
         ehlo + "DATA\r\n"},
        {"accepted_to_auth",
         {Reply("220 mx"), Hear(), Reply("250-mx\r\n250 AUTH LOGIN"), Hear(), Reply("250 ok"), AwaitClose()},
         "tim",
         false,
         nullptr,
         ehlo + "AUTH LOGIN\r\n"},
        {"cancel_accepted",
         Dialog("220 mx",
                {"250-mx\r\n250 AUTH LOGIN", "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "334 more?", "235 ok"}),
         "tim", false, nullptr, ehlo + "AUTH LOGIN\r\ndGlt\r\nc2VjcmV0\r\n*\r\n"},
        {"accepted_to_starttls",
         {Reply("220 mx"), Hear(), Reply("250-mx\r\n250 STARTTLS"), Hear(), Reply("250 ok"), AwaitClose()},
         "",
         true,
         nullptr,
         ehlo + "STARTTLS\r\n"},
    };
}

class OutOfTurnTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(OutOfTurnTest, ClosesAndSaysNothingMore) {
    const OutOfTurnCase c = OutOfTurnCases()[GetParam()];
    ScriptedSmtpServer server(c.Script);
    auto client = ClientFor(server);
    client->SetUserName(c.User);
    client->SetPassword(c.User.empty() ? "" : "secret");
    client->SetAutoTLS(c.AutoTLS);
    if (c.Then) {
        ASSERT_TRUE(client->Login());
        EXPECT_FALSE(c.Then(*client));
    } else {
        EXPECT_FALSE(client->Login());
    }
    EXPECT_EQ(client->ResultString(), OutOfTurn);
    EXPECT_EQ(client->ResultCode(), 0);
    EXPECT_FALSE(client->Connected());
    // Nothing more goes out, not even QUIT.
    EXPECT_FALSE(client->Logout());
    EXPECT_EQ(server.Transcript(), c.Sent);
}

INSTANTIATE_TEST_SUITE_P(Replies, OutOfTurnTest, ::testing::Range<std::size_t>(0, OutOfTurnCases().size()),
                         [](const auto& info) { return std::string(OutOfTurnCases()[info.param].Name); });

// A server that says one line too many early on answers every later command with the
// reply of the one before: DATA reads RCPT's 250 and the message is never sent (it
// would otherwise start with a second "DATA" inside the server's data).
TEST(OutOfStep, RepliesOneBehindNeverReachTheData) {
    ScriptedSmtpServer server({Reply("220 mx"), Hear(), Reply("250 mx"), Hear(), Reply("250 extra"),
                               Pause(std::chrono::milliseconds(100)), Reply("250 2.1.0 sender ok"), Hear(),
                               Reply("250 2.1.5 recipient ok"), Hear(), Reply("354 go ahead"), AwaitClose()});
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    ASSERT_TRUE(client->MailFrom("a@example.com", 0));
    // Whichever command first meets a reply that is not its own ends the conversation.
    const bool sent = client->MailTo("b@example.com") && client->MailData({"Subject: x", "", "body"});
    EXPECT_FALSE(sent);
    EXPECT_EQ(client->ResultString(), OutOfTurn);
    EXPECT_FALSE(client->MailData({"Subject: x", "", "body"}));
    const std::string transcript = server.Transcript();
    EXPECT_EQ(transcript.find("Subject"), std::string::npos) << transcript;
    EXPECT_LE(transcript.find("DATA"), transcript.rfind("DATA")) << transcript;
}

// A line that is no reply at all: its text is the reply (code 0), and nothing the
// server says after it can be paired with a command.
TEST(OutOfStep, NotAReplyEndsTheConversation) {
    ScriptedSmtpServer server(
        {Reply("220 mx"), Hear(), Reply("250 mx"), Hear(), Reply("hello there"), AwaitClose()});
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_FALSE(client->NoOp());
    EXPECT_EQ(client->ResultString(), "hello there");
    EXPECT_FALSE(client->Connected());
    EXPECT_FALSE(client->NoOp());
    EXPECT_EQ(server.Transcript(), "EHLO client.test\r\nNOOP\r\n");
}

TEST(OutOfStep, ExtraLineAfterTheEndOfDataStopsTheQuit) {
    auto script = Dialog("220 mx", {"250 mx", "354 go"});
    script.push_back(HearData());
    script.push_back(Raw("250 2.0.0 queued\r\n250 2.0.0 queued again\r\n"));
    script.push_back(AwaitClose());
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_TRUE(client->MailData({"x"}));
    EXPECT_FALSE(client->Logout());
    EXPECT_EQ(client->ResultString(), OutOfTurn);
    EXPECT_EQ(server.Transcript(), "EHLO client.test\r\nDATA\r\nx\r\n.\r\n");
}

// A 421 closes the conversation, whatever command it answers: its line is the reply
// that tells why, and nothing more is said (no HELO after the EHLO it answered).
TEST(OutOfStep, ServiceClosingEndsTheConversation) {
    ScriptedSmtpServer server({Reply("220 mx"), Hear(), Reply("421 4.3.2 Service shutting down"), Hangup()});
    auto client = ClientFor(server);
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->ResultCode(), 421);
    EXPECT_EQ(client->ResultString(), "421 4.3.2 Service shutting down");
    EXPECT_EQ(client->Sock().LastError(), 0);
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(server.Transcript(), "EHLO client.test\r\n");
}

// A server that closes where a reply is due: a closed connection, not a reset.
TEST(OutOfStep, ClosedByTheServerIsNoReset) {
    ScriptedSmtpServer server({Reply("220 mx"), Hear(), Hangup()});
    auto client = ClientFor(server);
    EXPECT_FALSE(client->Login());
    EXPECT_EQ(client->Sock().LastError(), 10101);
    EXPECT_EQ(client->Sock().LastErrorDesc(), "Disconnect");
}

// The client tells whoever follows its writes which of them carry secrets.
TEST(Authentication, EveryLineOfTheExchangeIsMarked) {
    ScriptedSmtpServer server(
        Dialog("220 mx", {"250-mx\r\n250 AUTH LOGIN", "334-VXNlcm5hbWU6\r\n334 VXNlcm5hbWU6",
                          "334 UGFzc3dvcmQ6", "235 ok", "250 ok"}));
    auto client = ClientFor(server);
    client->SetUserName("tim");
    client->SetPassword("secret");
    std::vector<std::pair<bool, std::string>> writes;
    client->Sock().SetOnMonitor([&](net::TBlockSocket&, bool Writing, const void* Buffer, int Len) {
        if (Writing)
            writes.emplace_back(client->Authenticating(), std::string(static_cast<const char*>(Buffer), Len));
    });
    ASSERT_TRUE(client->Login());
    ASSERT_TRUE(client->MailFrom("a@example.com", 0));
    client->Sock().SetOnMonitor(nullptr);
    EXPECT_EQ(writes, (std::vector<std::pair<bool, std::string>>{{false, "EHLO client.test\r\n"},
                                                                 {true, "AUTH LOGIN\r\n"},
                                                                 {true, "dGlt\r\n"},
                                                                 {true, "c2VjcmV0\r\n"},
                                                                 {false, "MAIL FROM:<a@example.com>\r\n"}}));
    EXPECT_FALSE(client->Authenticating());
}

// ---------------------------------------------------------------- data

std::vector<Step> DataScript() {
    auto script = Dialog("220 mx", {"250 mx", "354 go ahead"});
    script.push_back(HearData());
    script.push_back(Reply("250 2.0.0 queued as 42"));
    return script;
}

struct DataCase {
    const char* Name;
    std::vector<std::string> Lines;
    std::string Wire;
};

const DataCase DataCases[] = {
    {"empty_message", {}, ".\r\n"},
    {"plain_lines", {"Subject: hi", "", "body"}, "Subject: hi\r\n\r\nbody\r\n.\r\n"},
    {"single_dot", {"a", ".", "b"}, "a\r\n..\r\nb\r\n.\r\n"},
    {"leading_dots", {"..", ".hidden", "a.b", " ."}, "...\r\n..hidden\r\na.b\r\n .\r\n.\r\n"},
    {"embedded_end_marker", {"tail\r\n.\r\nMAIL FROM:<evil@x>"}, "tail\r\n..\r\nMAIL FROM:<evil@x>\r\n.\r\n"},
    {"bare_breaks", {"cr\rlf\n.x"}, "cr\r\nlf\r\n..x\r\n.\r\n"},
    {"eight_bit_bytes_unchanged", {"\xe3\xa9\x80\xff"}, "\xe3\xa9\x80\xff\r\n.\r\n"},
};

class MailDataTest : public ::testing::TestWithParam<DataCase> {};

TEST_P(MailDataTest, StuffsAndTerminates) {
    const auto& c = GetParam();
    ScriptedSmtpServer server(DataScript());
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_TRUE(client->MailData(c.Lines));
    EXPECT_EQ(client->ResultCode(), 250);
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\nDATA\r\n" + c.Wire);
}

INSTANTIATE_TEST_SUITE_P(Messages, MailDataTest, ::testing::ValuesIn(DataCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A composed message (its lines as bytes) goes out as the same lines would.
class MailDataBytesTest : public ::testing::TestWithParam<DataCase> {};

TEST_P(MailDataBytesTest, StuffsAndTerminatesAsTheLines) {
    const auto& c = GetParam();
    ScriptedSmtpServer server(DataScript());
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    mime::TMessageBytes message;
    message.AppendLines(c.Lines);
    EXPECT_TRUE(client->MailData(message));
    EXPECT_EQ(client->ResultCode(), 250);
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\nDATA\r\n" + c.Wire);
}

INSTANTIATE_TEST_SUITE_P(Messages, MailDataBytesTest, ::testing::ValuesIn(DataCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A line beginning with "." that starts exactly where one write ends and where one
// piece of the message begins is stuffed all the same; the writes are large.
TEST(MailDataBytes, DotAtTheStartOfAWriteAndOfAPieceIsStuffed) {
    ScriptedSmtpServer server(DataScript());
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    // 64 lines of 1024 bytes with their CR LF fill one write exactly.
    const std::vector<std::string> filler(64, std::string(1022, 'a'));
    static_assert(TSMTPSend::DataWriteSize == 64 * 1024);
    mime::TMessageBytes message;
    message.AppendLines(filler);
    message.AppendBlock(std::make_shared<const std::string>(".dot\r\nnext\r\n"));
    message.AppendBlock(std::make_shared<const std::string>(".\r\n"));
    std::vector<int> writes;
    client->Sock().SetOnStatus(
        [&](net::TBlockSocket&, net::THookSocketReason Reason, const std::string& Value) {
            if (Reason == net::THookSocketReason::HR_WriteCount) writes.push_back(std::stoi(Value));
        });
    ASSERT_TRUE(client->MailData(message));
    client->Sock().SetOnStatus(nullptr);
    ASSERT_FALSE(writes.empty());
    writes.erase(writes.begin());  // "DATA" itself
    EXPECT_EQ(writes, (std::vector<int>{65536, 7 + 6 + 4 + 3}));
    std::string expected;
    for (const auto& line : filler) expected += line + "\r\n";
    expected += "..dot\r\nnext\r\n..\r\n.\r\n";
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\nDATA\r\n" + expected);
}

struct BufferCase {
    const char* Name;
    std::vector<std::string> Lines;
    std::vector<int> Writes;  // sizes handed to the socket after DATA
};

std::vector<BufferCase> BufferCases() {
    return {
        {"hundred_short_lines",
         std::vector<std::string>(100, std::string(98, 'x')),
         {1500, 1500, 1500, 1500, 1500, 1500, 1003}},
        {"long_line_alone", {"a", std::string(3000, 'y'), "b"}, {3, 3002, 6}},
        {"reaching_1500_flushes", {std::string(1497, 'p'), "z"}, {1499, 6}},
        {"below_1500_stays", {std::string(1496, 'p'), "z"}, {1504}},
        {"stuffing_dot_counts", {std::string(1495, 'p'), ".z"}, {1497, 8}},
    };
}

class MailDataBufferTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(MailDataBufferTest, WritesInPiecesBelow1500) {
    const BufferCase c = BufferCases()[GetParam()];
    ScriptedSmtpServer server(DataScript());
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    std::vector<int> writes;
    client->Sock().SetOnStatus(
        [&](net::TBlockSocket&, net::THookSocketReason Reason, const std::string& Value) {
            if (Reason == net::THookSocketReason::HR_WriteCount) writes.push_back(std::stoi(Value));
        });
    ASSERT_TRUE(client->MailData(c.Lines));
    client->Sock().SetOnStatus(nullptr);
    ASSERT_FALSE(writes.empty());
    writes.erase(writes.begin());  // "DATA" itself
    EXPECT_EQ(writes, c.Writes);
    EXPECT_FALSE(TranscriptAfterClose(*client, server).empty());
}

INSTANTIATE_TEST_SUITE_P(Pieces, MailDataBufferTest, ::testing::Range<std::size_t>(0, BufferCases().size()),
                         [](const auto& info) { return std::string(BufferCases()[info.param].Name); });

TEST(MailDataFailure, DataRefused) {
    ScriptedSmtpServer server(Dialog("220 mx", {"250 mx", "554 5.5.1 no valid recipients"}));
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_FALSE(client->MailData({"a", "b"}));
    EXPECT_EQ(client->ResultCode(), 554);
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\nDATA\r\n");
}

TEST(MailDataFailure, ConnectionDroppedInTheMiddle) {
    auto script = Dialog("220 mx", {"250 mx", "354 go ahead"});
    script.push_back(HearBytes(1000));
    script.push_back(Hangup());
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    const std::vector<std::string> lines(40000, std::string(76, 'm'));
    EXPECT_FALSE(client->MailData(lines));
    EXPECT_EQ(client->ResultCode(), 0);
    EXPECT_EQ(client->ResultString(), "");
    EXPECT_NE(client->Sock().LastError(), 0);
}

TEST(MailDataFailure, SilentServerTimesOutAfterData) {
    auto script = Dialog("220 mx", {"250 mx", "354 go ahead"});
    script.push_back(HearData());
    script.push_back(AwaitClose());
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    client->SetTimeout(300);
    EXPECT_FALSE(client->MailData({"hello"}));
    EXPECT_EQ(client->ResultCode(), 0);
    EXPECT_EQ(client->Sock().LastError(), 10060);
    EXPECT_EQ(TranscriptAfterClose(*client, server), "EHLO client.test\r\nDATA\r\nhello\r\n.\r\n");
}

// A server that stops taking the message: the write gives up after the reply
// time-out and the conversation ends there, with nothing more said.
TEST(MailDataFailure, ServerThatStopsReadingTimesOutTheWrite) {
    auto script = Dialog("220 mx", {"250 mx", "354 go ahead"});
    script.push_back(HearBytes(1000));
    script.push_back(Deaf(std::chrono::seconds(20)));
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    client->SetTimeout(300);
    ASSERT_TRUE(client->Login());
    // More than the buffers between the two ends hold.
    const std::vector<std::string> lines(400000, std::string(76, 'm'));
    EXPECT_FALSE(client->MailData(lines));
    EXPECT_EQ(client->Sock().LastError(), 10060);
    EXPECT_FALSE(client->Connected());
}

// ---------------------------------------------------------------- pipelining

const std::string PipeliningEhlo = "250-scripted\r\n250-PIPELINING\r\n250-8BITMIME\r\n250 SIZE 10000000";

std::unique_ptr<TSMTPSend> PipeliningClient(ScriptedSmtpServer& Server) {
    Server.Queue("EHLO", PipeliningEhlo);
    auto client = ClientFor(Server);
    if (!client->Login()) ADD_FAILURE() << "login: " << client->ResultString();
    return client;
}

std::vector<int> Codes(const std::vector<TSMTPReply>& Replies) {
    std::vector<int> codes;
    for (const auto& r : Replies) codes.push_back(r.Code);
    return codes;
}

TEST(Pipelining, OfferedOnlyWhenListed) {
    ScriptedSmtpServer server;
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_FALSE(client->Pipelining());
    ASSERT_TRUE(client->Logout());
    server.Queue("EHLO", PipeliningEhlo);
    ASSERT_TRUE(client->Login());
    EXPECT_TRUE(client->Pipelining());
}

// Sender, recipients and DATA in one write, the message with its end and QUIT in one
// more: three writes for the whole conversation after the greeting.
TEST(Pipelining, WholeTransactionInTwoFlights) {
    ScriptedSmtpServer server;
    auto client = PipeliningClient(server);
    int writes = 0;
    client->Sock().SetOnMonitor(
        [&](net::TBlockSocket&, bool Writing, const void*, int) { writes += Writing; });
    std::vector<TSMTPReply> replies;
    ASSERT_TRUE(client->MailTransaction("a@example.com", 10, false, false, {"b@example.com", "c@example.com"},
                                        replies));
    EXPECT_EQ(Codes(replies), (std::vector<int>{250, 250, 250, 354}));
    EXPECT_EQ(replies.back().Last(), "354 End data with <CR><LF>.<CR><LF>");
    mime::TMessageBytes message;
    message.AppendLines({"Subject: x", "", ".dot"});
    ASSERT_TRUE(client->SendMessage(message, true));
    EXPECT_EQ(client->ResultString(), "250 2.0.0 Ok: queued");
    EXPECT_TRUE(client->Logout()) << "QUIT's 221 is read, not asked for again";
    client->Sock().SetOnMonitor(nullptr);
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(server.Received().at(0),
              "EHLO client.test\r\n"
              "MAIL FROM:<a@example.com> SIZE=10\r\n"
              "RCPT TO:<b@example.com>\r\n"
              "RCPT TO:<c@example.com>\r\n"
              "DATA\r\n"
              "Subject: x\r\n\r\n..dot\r\n.\r\n"
              "QUIT\r\n");
    EXPECT_EQ(server.Messages().size(), 1u);
}

// A refusal in the flight. The client never ends data it began for only some of the
// recipients: after a 354 it closes instead, and the server drops the transaction.
struct FlightCase {
    const char* Name;
    std::vector<std::pair<std::string, std::string>> Replies;  // queued by verb
    std::vector<int> Codes;
    bool Connected;  // still in step: the caller may go on
};

std::vector<FlightCase> FlightCases() {
    return {
        {"sender_refused",
         {{"MAIL", "550 5.7.1 no"},
          {"RCPT", "503 need MAIL"},
          {"RCPT", "503 need MAIL"},
          {"DATA", "503 need RCPT"}},
         {550, 503, 503, 503},
         true},
        {"recipient_refused",
         {{"RCPT", "550 5.1.1 unknown"},
          {"RCPT", "550 5.1.1 unknown"},
          {"DATA", "554 5.5.1 no valid recipients"}},
         {250, 550, 550, 554},
         true},
        {"one_recipient_refused_data_ready",
         {{"RCPT", "250 ok"}, {"RCPT", "550 5.1.1 unknown"}},
         {250, 250, 550, 354},
         false},
        {"sender_refused_data_ready", {{"MAIL", "451 4.3.0 later"}}, {451, 250, 250, 354}, false},
        {"data_refused", {{"DATA", "451 4.3.0 try later"}}, {250, 250, 250, 451}, true},
        // RCPT's 250 read as DATA's answer: one reply behind, the conversation ends.
        {"extra_line", {{"MAIL", "250 ok\r\n250 extra"}}, {250, 250, 250, 0}, false},
    };
}

class PipelinedFlightTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PipelinedFlightTest, RefusalSendsNoMessage) {
    const FlightCase c = FlightCases()[GetParam()];
    ScriptedSmtpServer server;
    for (const auto& [verb, reply] : c.Replies) server.Queue(verb, reply);
    auto client = PipeliningClient(server);
    std::vector<TSMTPReply> replies;
    EXPECT_FALSE(client->MailTransaction("a@example.com", 0, false, false, {"b@example.com", "c@example.com"},
                                         replies));
    EXPECT_EQ(Codes(replies), c.Codes);
    EXPECT_EQ(client->Connected(), c.Connected);
    client->Sock().CloseSocket();
    EXPECT_TRUE(server.Messages().empty());
    EXPECT_TRUE(server.Received().at(0).ends_with("RCPT TO:<c@example.com>\r\nDATA\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Replies, PipelinedFlightTest, ::testing::Range<std::size_t>(0, FlightCases().size()),
                         [](const auto& info) { return std::string(FlightCases()[info.param].Name); });

TEST(Pipelining, ExtraLineTellsWhy) {
    ScriptedSmtpServer server;
    server.Queue("MAIL", "250 ok\r\n250 extra");
    auto client = PipeliningClient(server);
    std::vector<TSMTPReply> replies;
    EXPECT_FALSE(client->MailTransaction("a@example.com", 0, false, false, {"b@example.com"}, replies));
    EXPECT_EQ(replies.back().Last(), OutOfTurn);
}

// QUIT went with the end of data: a refused message ends the conversation there.
TEST(Pipelining, RefusedMessageWithQuitCloses) {
    ScriptedSmtpServer server;
    server.Queue(".", "554 5.6.0 refused");
    auto client = PipeliningClient(server);
    std::vector<TSMTPReply> replies;
    ASSERT_TRUE(client->MailTransaction("a@example.com", 0, false, false, {"b@example.com"}, replies));
    mime::TMessageBytes message;
    message.AppendLines({"x"});
    EXPECT_FALSE(client->SendMessage(message, true));
    EXPECT_EQ(client->ResultString(), "554 5.6.0 refused");
    EXPECT_TRUE(client->DataEnded());
    EXPECT_FALSE(client->Connected());
    EXPECT_FALSE(client->Logout());
    EXPECT_TRUE(server.Received().at(0).ends_with("DATA\r\nx\r\n.\r\nQUIT\r\n"));
}

TEST(Pipelining, UnsafeAddressSendsNothing) {
    ScriptedSmtpServer server;
    auto client = PipeliningClient(server);
    std::vector<TSMTPReply> replies;
    EXPECT_FALSE(
        client->MailTransaction("a@example.com", 0, false, false, {"b@example.com", "c@x\r\nRSET"}, replies));
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[2].Last(), LineBreakRefusal);
    EXPECT_EQ(replies[0].Code, 0);
    EXPECT_TRUE(replies[0].Lines.empty());
    EXPECT_TRUE(client->Connected());
    ASSERT_TRUE(client->Logout());
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"EHLO client.test", "QUIT"}));
}

// ---------------------------------------------------------------- 8-bit data

struct Body8BitCase {
    const char* Name;
    std::string Ehlo;
    bool Body8Bit;
    std::string Line;
};

class Body8BitTest : public ::testing::TestWithParam<Body8BitCase> {};

TEST_P(Body8BitTest, DeclaredOnlyWhenOfferedAndNeeded) {
    ScriptedSmtpServer server;
    server.Queue("EHLO", GetParam().Ehlo);
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_TRUE(client->MailFrom("a@example.com", 0, false, GetParam().Body8Bit));
    ASSERT_TRUE(client->Logout());
    EXPECT_EQ(server.Commands().at(1), GetParam().Line);
}

INSTANTIATE_TEST_SUITE_P(Offers, Body8BitTest,
                         ::testing::Values(Body8BitCase{"offered_needed", "250-mx\r\n250 8BITMIME", true,
                                                        "MAIL FROM:<a@example.com> BODY=8BITMIME"},
                                           Body8BitCase{"offered_not_needed", "250-mx\r\n250 8BITMIME", false,
                                                        "MAIL FROM:<a@example.com>"},
                                           Body8BitCase{"needed_not_offered", "250-mx\r\n250 SIZE", true,
                                                        "MAIL FROM:<a@example.com>"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------- EHLO name

struct HelloNameCase {
    const char* Name;
    std::string SystemName;
    std::string Hello;
};

class HelloNameTest : public ::testing::TestWithParam<HelloNameCase> {};

TEST_P(HelloNameTest, DomainOrAddressLiteral) {
    TSMTPSend client;
    client.SetSystemName(GetParam().SystemName);
    EXPECT_EQ(client.HelloName(), GetParam().Hello);
}

INSTANTIATE_TEST_SUITE_P(Names, HelloNameTest,
                         ::testing::Values(HelloNameCase{"domain", "pc1.loja.example", "pc1.loja.example"},
                                           HelloNameCase{"literal", "[192.0.2.10]", "[192.0.2.10]"},
                                           HelloNameCase{"ipv4", "192.0.2.10", "[192.0.2.10]"},
                                           HelloNameCase{"ipv6", "2001:db8::1", "[IPv6:2001:db8::1]"},
                                           HelloNameCase{"ipv6_with_zone", "fe80::1%eth0", "[IPv6:fe80::1]"},
                                           HelloNameCase{"ipv4_mapped", "::ffff:192.0.2.10", "[192.0.2.10]"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A bare name is no domain: the system's fully qualified name for it when it knows one,
// else the literal of the address the connection comes from.
TEST(HelloName, BareNameOnAConnection) {
    ScriptedSmtpServer server;
    auto client = ClientFor(server);
    client->SetSystemName("localhost");
    ASSERT_TRUE(client->Login());
    const std::string known = net::FullyQualifiedName("localhost");
    const std::string expected = known.empty() ? "[127.0.0.1]" : known;
    EXPECT_EQ(client->HelloName(), expected);
    ASSERT_TRUE(client->Logout());
    EXPECT_EQ(server.Commands().at(0), "EHLO " + expected);
}

// ---------------------------------------------------------------- logout

struct LogoutCase {
    const char* Name;
    std::vector<Step> Tail;  // after EHLO and "QUIT" heard
    bool Ok;
};

std::vector<LogoutCase> LogoutCases() {
    return {
        {"221_closes", {Reply("221 2.0.0 bye")}, true},
        {"other_code", {Reply("250 what")}, false},
        {"hangup_without_221", {Hangup()}, false},
    };
}

class LogoutTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LogoutTest, ClosesWhateverTheReply) {
    const LogoutCase c = LogoutCases()[GetParam()];
    auto script = Dialog("220 mx", {"250 mx"});
    script.push_back(Hear());
    script.insert(script.end(), c.Tail.begin(), c.Tail.end());
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    ASSERT_TRUE(client->Login());
    EXPECT_EQ(client->Logout(), c.Ok);
    EXPECT_LT(client->Sock().Socket(), 0);
    EXPECT_EQ(server.Transcript(), "EHLO client.test\r\nQUIT\r\n");
}

INSTANTIATE_TEST_SUITE_P(Replies, LogoutTest, ::testing::Range<std::size_t>(0, LogoutCases().size()),
                         [](const auto& info) { return std::string(LogoutCases()[info.param].Name); });

TEST(Logout, FullConversation) {
    auto script = Dialog("220 mx ESMTP", {"250-mx\r\n250-SIZE 100000\r\n250 AUTH LOGIN PLAIN", "235 ok",
                                          "250 ok", "250 ok", "250 ok", "354 go"});
    script.push_back(HearData());
    script.push_back(Reply("250 queued"));
    script.push_back(Hear());
    script.push_back(Reply("221 bye"));
    ScriptedSmtpServer server(script);
    auto client = ClientFor(server);
    client->SetUserName("tim");
    client->SetPassword("tanstaaftanstaaf");
    ASSERT_TRUE(client->Login());
    ASSERT_TRUE(client->MailFrom("from@example.com", 17));
    ASSERT_TRUE(client->MailTo("to@example.com"));
    ASSERT_TRUE(client->MailTo("cc@example.com"));
    ASSERT_TRUE(client->MailData({"Subject: x", "", "hi"}));
    EXPECT_TRUE(client->Logout());
    EXPECT_EQ(server.Transcript(), "EHLO client.test\r\nAUTH PLAIN " + PlainTim +
                                       "\r\n"
                                       "MAIL FROM:<from@example.com> SIZE=17\r\n"
                                       "RCPT TO:<to@example.com>\r\n"
                                       "RCPT TO:<cc@example.com>\r\n"
                                       "DATA\r\nSubject: x\r\n\r\nhi\r\n.\r\n"
                                       "QUIT\r\n");
}

// ---------------------------------------------------------------- against aiosmtpd

// A self-signed certificate for the sink, made once for the whole suite.
class SinkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char dir[] = "/tmp/smtp-sink-XXXXXX";
        if (::mkdtemp(dir) == nullptr) return;
        CertDir = dir;
        const std::string cmd =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
            " -days 1 -subj /CN=localhost -keyout " +
            CertDir + "/key.pem -out " + CertDir + "/cert.pem >/dev/null 2>&1";
        HaveCert = std::system(cmd.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        if (!CertDir.empty()) std::filesystem::remove_all(CertDir);
    }

    static std::vector<std::string> TlsArgs(const std::string& Mode) {
        return {"--mode", Mode, "--cert", CertDir + "/cert.pem", "--key", CertDir + "/key.pem"};
    }

    // A sink that does not come up fails the test: aiosmtpd is part of the setup.
    static std::unique_ptr<testing::PythonSmtpServer> StartSink(const std::vector<std::string>& Args) {
        try {
            return std::make_unique<testing::PythonSmtpServer>(Args);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            return nullptr;
        }
    }

    static inline std::string CertDir;
    static inline bool HaveCert = false;
};

bool TlsPluginPresent() {
    TSMTPSend probe;
    return probe.Sock().SSL().LibName() != "tls_none";
}

const std::vector<std::string> SinkLines = {
    "From: sender@example.com",
    "To: one@example.com",
    "Subject: sink test",
    "",
    "line one",
    ".",
    "..two",
    "caf\xe9 8-bit",
    std::string(990, 'w'),
};

std::string Joined(const std::vector<std::string>& Lines) {
    std::string r;
    for (const auto& l : Lines) r += l + "\r\n";
    return r;
}

struct SinkCase {
    const char* Name;
    const char* Mode;
    std::vector<std::string> Extra;
    bool FullSSL, AutoTLS;
    std::string User, Password;
    bool Auth, Tls;
    std::string Login;    // empty: nobody logged in
    bool StartTLSListed;  // after Login
};

std::vector<SinkCase> SinkCases() {
    return {
        {"plain_auth_plain", "plain", {}, false, false, "tim", "s3cret", true, false, "tim", false},
        {"plain_auth_login",
         "plain",
         {"--exclude-auth", "PLAIN"},
         false,
         false,
         "tim",
         "s3cret",
         true,
         false,
         "tim",
         false},
        {"plain_wrong_password", "plain", {}, false, false, "tim", "wrong", false, false, "", false},
        {"plain_no_credentials", "plain", {}, false, false, "", "", false, false, "", false},
        // After STARTTLS the list comes from the second EHLO, which no longer offers it.
        {"starttls_auth", "starttls", {}, false, true, "tim", "s3cret", true, true, "tim", false},
        {"starttls_offered_not_wanted",
         "starttls",
         {},
         false,
         false,
         "tim",
         "s3cret",
         true,
         false,
         "tim",
         true},
        {"smtps_auth", "smtps", {}, true, false, "tim", "s3cret", true, true, "tim", false},
        // Offered under implicit TLS, STARTTLS must not be tried (TLS inside TLS fails).
        {"smtps_ignores_starttls_offer",
         "smtps",
         {"--offer-starttls"},
         true,
         true,
         "tim",
         "s3cret",
         true,
         true,
         "tim",
         true},
    };
}

class SinkSessionTest : public SinkTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(SinkSessionTest, DeliversMessage) {
    const SinkCase c = SinkCases()[GetParam()];
    const bool tls = std::string(c.Mode) != "plain";
    if (tls && !TlsPluginPresent()) GTEST_SKIP() << "the OpenSSL plug-in is not built into this socket";
    if (tls && !HaveCert) GTEST_SKIP() << "openssl could not make a test certificate";
    auto args = TlsArgs(c.Mode);
    args.insert(args.end(), {"--user", "tim", "--password", "s3cret", "--size", "100000"});
    args.insert(args.end(), c.Extra.begin(), c.Extra.end());
    auto sink = StartSink(args);
    ASSERT_TRUE(sink);

    TSMTPSend client;
    client.SetTargetPort(sink->PortText());
    client.SetTimeout(10000);
    client.Sock().SetConnectionTimeout(10000);
    client.SetFullSSL(c.FullSSL);
    client.SetAutoTLS(c.AutoTLS);
    client.SetUserName(c.User);
    client.SetPassword(c.Password);
    ASSERT_TRUE(client.Login()) << client.ResultString() << " / " << client.Sock().LastErrorDesc();
    EXPECT_TRUE(client.ESMTP());
    EXPECT_EQ(client.AuthDone(), c.Auth);
    if (!c.Auth && !c.User.empty()) {
        EXPECT_EQ(client.ResultCode(), 535) << "the refusal is the last reply";
    }
    EXPECT_TRUE(client.ESMTPSize());
    EXPECT_EQ(client.MaxSize(), 100000);
    EXPECT_EQ(!client.FindCap("STARTTLS").empty(), c.StartTLSListed);

    const std::string data = Joined(SinkLines);
    ASSERT_TRUE(client.MailFrom("sender@example.com", static_cast<std::int64_t>(data.size())))
        << client.ResultString();
    ASSERT_TRUE(client.MailTo("one@example.com")) << client.ResultString();
    ASSERT_TRUE(client.MailTo("two@example.com")) << client.ResultString();
    ASSERT_TRUE(client.MailData(SinkLines)) << client.ResultString();
    EXPECT_EQ(client.ResultCode(), 250);
    EXPECT_TRUE(client.Logout());

    const auto messages = sink->Messages();
    ASSERT_EQ(messages.size(), 1u);
    const auto& m = messages[0];
    EXPECT_EQ(m.Get("mail_from"), "sender@example.com");
    EXPECT_EQ(m.Get("mail_options"), "SIZE=" + std::to_string(data.size()));
    EXPECT_EQ(m.All("rcpt"), (std::vector<std::string>{"one@example.com", "two@example.com"}));
    EXPECT_EQ(m.Get("auth"), c.Login);
    EXPECT_EQ(m.Get("tls"), c.Tls ? "yes" : "no");
    EXPECT_EQ(testing::FromHex(m.Get("raw_hex")), data);
}

INSTANTIATE_TEST_SUITE_P(Sessions, SinkSessionTest, ::testing::Range<std::size_t>(0, SinkCases().size()),
                         [](const auto& info) { return std::string(SinkCases()[info.param].Name); });

TEST_F(SinkTest, DeclaredSizeOverLimitIsRefused) {
    auto sink = StartSink({"--size", "1000"});
    ASSERT_TRUE(sink);
    TSMTPSend client;
    client.SetTargetPort(sink->PortText());
    ASSERT_TRUE(client.Login());
    EXPECT_EQ(client.MaxSize(), 1000);
    EXPECT_FALSE(client.MailFrom("sender@example.com", 1001));
    EXPECT_EQ(client.ResultCode(), 552);
    EXPECT_TRUE(client.MailFrom("sender@example.com", 1000)) << client.ResultString();
    EXPECT_TRUE(client.Logout());
    EXPECT_TRUE(sink->Messages().empty());
}

TEST_F(SinkTest, SeveralConversationsOnOneClient) {
    auto sink = StartSink({"--user", "tim", "--password", "s3cret"});
    ASSERT_TRUE(sink);
    TSMTPSend client;
    client.SetTargetPort(sink->PortText());
    client.SetUserName("tim");
    client.SetPassword("s3cret");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client.Login());
        ASSERT_TRUE(client.AuthDone());
        ASSERT_TRUE(client.MailFrom("sender@example.com", 0));
        ASSERT_TRUE(client.MailTo("n" + std::to_string(i) + "@example.com"));
        ASSERT_TRUE(client.MailData({"Subject: " + std::to_string(i), "", "body"}));
        ASSERT_TRUE(client.Logout());
    }
    const auto messages = sink->Messages();
    ASSERT_EQ(messages.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[i].All("rcpt"),
                  std::vector<std::string>{"n" + std::to_string(i) + "@example.com"});
        EXPECT_EQ(testing::FromHex(messages[i].Get("raw_hex")),
                  "Subject: " + std::to_string(i) + "\r\n\r\nbody\r\n");
    }
}

// ---------------------------------------------------------------- credentials

// Accented credentials go out as UTF-8 in every mechanism (RFC 4616, RFC 7628), which
// is what servers compare; in the clear the mechanism that does not show the password
// comes first. Base64 texts computed outside this code for "joão" and "maçã-senha".
struct CredentialCase {
    const char* Name;
    std::vector<Step> Script;
    std::string Sent;
    std::string Mechanism;
};

const std::string Utf8Cram = "am/Do28gNmQ0MzRjYmE4Y2IxZWIxMWZiNGJiZTlkOGE2ZWFlMDM=";
const std::string Utf8Plain = "AGpvw6NvAG1hw6fDoy1zZW5oYQ==";

std::vector<CredentialCase> CredentialCases() {
    const std::string ehlo = "EHLO client.test\r\n";
    return {
        {"plain", Dialog("220 mx", {"250-mx\r\n250 AUTH PLAIN", "235 ok"}),
         ehlo + "AUTH PLAIN " + Utf8Plain + "\r\n", "PLAIN"},
        {"login",
         Dialog("220 mx", {"250-mx\r\n250 AUTH LOGIN", "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok"}),
         ehlo + "AUTH LOGIN\r\nam/Do28=\r\nbWHDp8OjLXNlbmhh\r\n", "LOGIN"},
        {"cram_md5", Dialog("220 mx", {"250-mx\r\n250 AUTH CRAM-MD5", CramChallenge, "235 ok"}),
         ehlo + "AUTH CRAM-MD5\r\n" + Utf8Cram + "\r\n", "CRAM-MD5"},
        {"xoauth2", Dialog("220 mx", {"250-mx\r\n250 AUTH XOAUTH2", "235 ok"}),
         ehlo + "AUTH XOAUTH2 dXNlcj1qb8OjbwFhdXRoPUJlYXJlciBtYcOnw6Mtc2VuaGEBAQ==\r\n", "XOAUTH2"},
        {"cram_md5_first_in_the_clear",
         Dialog("220 mx", {"250-mx\r\n250 AUTH PLAIN LOGIN CRAM-MD5", CramChallenge, "235 ok"}),
         ehlo + "AUTH CRAM-MD5\r\n" + Utf8Cram + "\r\n", "CRAM-MD5"},
        {"cram_md5_refused_then_plain",
         Dialog("220 mx", {"250-mx\r\n250 AUTH=PLAIN CRAM-MD5", CramChallenge, "535 5.7.8 no", "235 ok"}),
         ehlo + "AUTH CRAM-MD5\r\n" + Utf8Cram + "\r\nAUTH PLAIN " + Utf8Plain + "\r\n", "PLAIN"},
    };
}

class CredentialTest : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(CredentialTest, SentAsUtf8) {
    const auto [row, piece] = GetParam();
    const CredentialCase c = CredentialCases()[row];
    ScriptedSmtpServer server(c.Script, piece);
    auto client = ClientFor(server);
    client->SetUserName("jo\xC3\xA3o");
    client->SetPassword("ma\xC3\xA7\xC3\xA3-senha");
    ASSERT_TRUE(client->Login());
    EXPECT_TRUE(client->AuthDone());
    EXPECT_EQ(client->AuthMechanism(), c.Mechanism);
    EXPECT_EQ(TranscriptAfterClose(*client, server), c.Sent);
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, CredentialTest, RowsInPieces(CredentialCases().size()),
                         RowInPieceName<CredentialCases>);

// A real server's check of the same credentials, and the order of the mechanisms with
// and without TLS when it offers all three.
struct RealLoginCase {
    const char* Name;
    const char* Mode;
    std::vector<std::string> Extra;
    std::string Password;
    bool Auth;
    std::string Mechanism;
};

class RealLoginTest : public SinkTest, public ::testing::WithParamInterface<RealLoginCase> {};

TEST_P(RealLoginTest, AccentedCredentialsLogIn) {
    const RealLoginCase& c = GetParam();
    const bool tls = std::string(c.Mode) != "plain";
    if (tls && !TlsPluginPresent()) GTEST_SKIP() << "the OpenSSL plug-in is not built into this socket";
    if (tls && !HaveCert) GTEST_SKIP() << "openssl could not make a test certificate";
    auto args = TlsArgs(c.Mode);
    args.insert(args.end(), {"--user", "jo\xC3\xA3o", "--password", "ma\xC3\xA7\xC3\xA3-senha", "--cram"});
    args.insert(args.end(), c.Extra.begin(), c.Extra.end());
    auto sink = StartSink(args);
    ASSERT_TRUE(sink);
    TSMTPSend client;
    client.SetTargetPort(sink->PortText());
    client.SetTimeout(10000);
    client.SetFullSSL(tls);
    client.SetUserName("jo\xC3\xA3o");
    client.SetPassword(c.Password);
    ASSERT_TRUE(client.Login()) << client.ResultString() << " / " << client.Sock().LastErrorDesc();
    EXPECT_EQ(client.AuthDone(), c.Auth) << client.ResultString();
    EXPECT_EQ(client.AuthMechanism(), c.Mechanism);
    EXPECT_TRUE(client.Logout());
}

INSTANTIATE_TEST_SUITE_P(
    Sink, RealLoginTest,
    ::testing::Values(
        RealLoginCase{"clear_prefers_cram_md5", "plain", {}, "ma\xC3\xA7\xC3\xA3-senha", true, "CRAM-MD5"},
        RealLoginCase{"tls_keeps_plain_first", "smtps", {}, "ma\xC3\xA7\xC3\xA3-senha", true, "PLAIN"},
        RealLoginCase{
            "login", "smtps", {"--exclude-auth", "PLAIN"}, "ma\xC3\xA7\xC3\xA3-senha", true, "LOGIN"},
        // The last mechanism tried is the last the server offers in the client's order.
        RealLoginCase{"wrong_password_tries_all", "plain", {}, "maca-senha", false, "LOGIN"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------- where a login ends

struct LoginStepCase {
    const char* Name;
    std::vector<Step> Script;
    bool Refuse;  // OnBeforeAuth says no
    TLoginStep Ends;
    std::string Sent;
};

std::vector<LoginStepCase> LoginStepCases() {
    const std::string ehlo = "EHLO client.test\r\n";
    return {
        {"greeting_refused", Dialog("554 5.3.2 go away", {}), false, TLoginStep::lsGreeting, ""},
        {"hello_refused", Dialog("220 mx", {"502 no", "501 no"}), false, TLoginStep::lsHello,
         ehlo + "HELO client.test\r\n"},
        {"starttls_refused", Dialog("220 mx", {"250-mx\r\n250 STARTTLS", "454 4.7.0 no TLS"}), false,
         TLoginStep::lsStartTLS, ehlo + "STARTTLS\r\n"},
        // The caller refuses the server on what its hello said: no password goes to it.
        {"refused_before_auth", Dialog("220 mx", {"250-mx\r\n250-SIZE 1000\r\n250 AUTH PLAIN"}), true,
         TLoginStep::lsAuth, ehlo},
        {"refused_after_helo_only", Dialog("220 mx", {"502 no", "250 mx"}), true, TLoginStep::lsAuth,
         ehlo + "HELO client.test\r\n"},
        {"done", Dialog("220 mx", {"250-mx\r\n250 AUTH PLAIN", "235 ok"}), false, TLoginStep::lsDone,
         ehlo + "AUTH PLAIN AHUAcA==\r\n"},
    };
}

class LoginStepTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LoginStepTest, TellsWhereTheLoginEnded) {
    const LoginStepCase c = LoginStepCases()[GetParam()];
    ScriptedSmtpServer server(c.Script);
    auto client = ClientFor(server);
    client->SetAutoTLS(true);
    client->SetUserName("u");
    client->SetPassword("p");
    std::int64_t sizeSeen = -1;
    client->SetOnBeforeAuth([&](const TSMTPSend& Sender) {
        sizeSeen = Sender.MaxSize();
        return !c.Refuse;
    });
    EXPECT_EQ(client->Login(), c.Ends == TLoginStep::lsDone);
    EXPECT_EQ(client->LoginStep(), c.Ends);
    if (c.Refuse) {
        // Asked with what the hello told, and left in step for the caller's QUIT.
        EXPECT_EQ(sizeSeen, client->ESMTP() ? 1000 : 0);
        EXPECT_TRUE(client->Connected());
        EXPECT_TRUE(client->AuthMechanism().empty());
    }
    EXPECT_EQ(TranscriptAfterClose(*client, server), c.Sent);
}

INSTANTIATE_TEST_SUITE_P(Steps, LoginStepTest, ::testing::Range<std::size_t>(0, LoginStepCases().size()),
                         [](const auto& info) { return std::string(LoginStepCases()[info.param].Name); });

}  // namespace
}  // namespace tandrel::smtp
