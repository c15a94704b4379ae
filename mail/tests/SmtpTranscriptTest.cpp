#include "mail/tools/SmtpTranscript.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tandrel::mail::tool {
namespace {

// Who moved the bytes: the server, or the client writing commands, secrets or the message.
enum class By { Server, Client, Secret, Message };
using W = TSmtpTranscript::TWriting;

// Feeds a conversation in pieces of `Piece` bytes, as sockets deliver it.
std::string Play(const std::vector<std::pair<By, std::string>>& Traffic, std::size_t Piece) {
    std::ostringstream out;
    TSmtpTranscript transcript(out);
    for (const auto& [by, bytes] : Traffic)
        for (std::size_t at = 0; at < bytes.size(); at += Piece) {
            const std::string_view part = std::string_view(bytes).substr(at, Piece);
            switch (by) {
                case By::Server: transcript.Read(part); break;
                case By::Client: transcript.Written(part, W::Commands); break;
                case By::Secret: transcript.Written(part, W::Secrets); break;
                case By::Message: transcript.Written(part, W::Message); break;
            }
        }
    transcript.Closed();
    return out.str();
}

TEST(SmtpTranscript, SameLinesWhateverPiecesTheBytesComeIn) {
    const std::vector<std::pair<By, std::string>> traffic{
        {By::Server, "220 mail ESMTP\r\n"},
        {By::Client, "EHLO vm\r\n"},
        {By::Server, "250-mail\r\n250 AUTH PLAIN\r\n"},
        {By::Secret, "AUTH PLAIN AGxvamEAczNuaGE=\r\n"},
        {By::Server, "235 2.7.0 ok\r\n"},
        {By::Client, "DATA\r\n"},
        {By::Server, "354 go\r\n"},
        // A line of a single dot inside the message is doubled; the data ends at "\r\n.\r\n".
        {By::Message, "Subject: x\r\n\r\n..\r\nend\r\n.\r\n"},
        {By::Server, "250 queued\r\n"},
        {By::Client, "QUIT\r\n"},
        {By::Server, "221 bye"},  // cut by the close
    };
    const std::string expected =
        "S: 220 mail ESMTP\nC: EHLO vm\nS: 250-mail\nS: 250 AUTH PLAIN\nC: AUTH PLAIN (hidden)\n"
        "S: 235 2.7.0 ok\nC: DATA\nS: 354 go\nC: (23 bytes of message data)\nC: .\nS: 250 queued\n"
        "C: QUIT\nS: 221 bye\n";
    for (const std::size_t piece : {1u, 2u, 3u, 5u, 1000u}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(Play(traffic, piece), expected);
    }
}

TEST(SmtpTranscript, HidesEveryClientLineOfTheAuthentication) {
    const std::string shown = Play({{By::Secret, "AUTH LOGIN\r\n"},
                                    {By::Server, "334 VXNlcm5hbWU6\r\n"},
                                    {By::Secret, "bG9qYQ==\r\n"},
                                    {By::Server, "334 UGFzc3dvcmQ6\r\n"},
                                    {By::Secret, "czNuaGE=\r\n"},
                                    {By::Server, "535 5.7.8 no\r\n"},
                                    {By::Secret, "AUTH CRAM-MD5\r\n"},
                                    {By::Server, "334 PDEyMzQ+\r\n"},
                                    {By::Secret, "bG9qYSBhYmNk\r\n"},
                                    {By::Server, "235 ok\r\n"},
                                    {By::Client, "MAIL FROM:<a@x>\r\n"}},
                                   7);
    EXPECT_EQ(
        shown,
        "C: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\nC: (hidden)\nS: 334 UGFzc3dvcmQ6\nC: (hidden)\n"
        "S: 535 5.7.8 no\nC: AUTH CRAM-MD5\nS: 334 PDEyMzQ+\nC: (hidden)\nS: 235 ok\nC: MAIL FROM:<a@x>\n");
}

// What the server's codes say decides nothing: a 235 in the middle of a reply, or a
// final code the client does not act on, shows no secret and starts no message.
TEST(SmtpTranscript, ServerCodesDecideNothing) {
    const std::string shown = Play({{By::Secret, "AUTH LOGIN\r\n"},
                                    {By::Server, "334-VXNlcm5hbWU6\r\n235 2.7.0 go on\r\n"},
                                    {By::Secret, "bG9qYQ==\r\n"},
                                    {By::Secret, "czNuaGE=\r\n"},
                                    {By::Server, "235 ok\r\n"},
                                    {By::Client, "DATA\r\n"},
                                    {By::Server, "250-ok\r\n354 go\r\n"},
                                    {By::Client, "QUIT\r\n"}},
                                   3);
    EXPECT_EQ(shown,
              "C: AUTH LOGIN\nS: 334-VXNlcm5hbWU6\nS: 235 2.7.0 go on\nC: (hidden)\nC: (hidden)\nS: 235 ok\n"
              "C: DATA\nS: 250-ok\nS: 354 go\nC: QUIT\n");
}

// A QUIT that travels in the same write as the message's end is a command again.
TEST(SmtpTranscript, CommandAfterTheEndOfDataInOneWrite) {
    const std::string shown = Play({{By::Client, "MAIL FROM:<a@x>\r\nRCPT TO:<b@x>\r\nDATA\r\n"},
                                    {By::Server, "250 ok\r\n250 ok\r\n354 go\r\n"},
                                    {By::Message, "x\r\n.\r\nQUIT\r\n"},
                                    {By::Server, "250 queued\r\n221 bye\r\n"}},
                                   1000);
    EXPECT_EQ(shown,
              "C: MAIL FROM:<a@x>\nC: RCPT TO:<b@x>\nC: DATA\nS: 250 ok\nS: 250 ok\nS: 354 go\n"
              "C: (3 bytes of message data)\nC: .\nC: QUIT\nS: 250 queued\nS: 221 bye\n");
}

TEST(SmtpTranscript, EscapesServerTextAndCountsDataCutShort) {
    const std::string shown = Play({{By::Server, "220 \x1B]0;pwned\x07\r\n"},
                                    {By::Client, "DATA\r\n"},
                                    {By::Server, "354 go\r\n"},
                                    {By::Message, "Subject: x\r\n"}},
                                   4);
    EXPECT_EQ(shown,
              "S: 220 \\x1B]0;pwned\\x07\nC: DATA\nS: 354 go\nC: (12 bytes of message data, unfinished)\n");
}

}  // namespace
}  // namespace tandrel::mail::tool
