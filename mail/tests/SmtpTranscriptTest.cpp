#include "mail/tools/SmtpTranscript.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tandrel::mail::tool {
namespace {

// Feeds a conversation in pieces of `piece` bytes, as sockets deliver it.
std::string Play(const std::vector<std::pair<bool, std::string>>& traffic, std::size_t piece) {
    std::ostringstream out;
    TSmtpTranscript transcript(out);
    for (const auto& [writing, bytes] : traffic)
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            transcript.Traffic(writing, std::string_view(bytes).substr(at, piece));
    transcript.Closed();
    return out.str();
}

TEST(SmtpTranscript, SameLinesWhateverPiecesTheBytesComeIn) {
    const std::vector<std::pair<bool, std::string>> traffic{
        {false, "220 mail ESMTP\r\n"},
        {true, "EHLO vm\r\n"},
        {false, "250-mail\r\n250 AUTH PLAIN\r\n"},
        {true, "AUTH PLAIN AGxvamEAczNuaGE=\r\n"},
        {false, "235 2.7.0 ok\r\n"},
        {true, "DATA\r\n"},
        {false, "354 go\r\n"},
        // A line of a single dot inside the message is doubled; the data ends at "\r\n.\r\n".
        {true, "Subject: x\r\n\r\n..\r\nend\r\n.\r\n"},
        {false, "250 queued\r\n"},
        {true, "QUIT\r\n"},
        {false, "221 bye"},  // cut by the close
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

TEST(SmtpTranscript, HidesEveryClientAnswerUntilTheAuthenticationEnds) {
    const std::string shown = Play({{true, "AUTH LOGIN\r\n"},
                                    {false, "334 VXNlcm5hbWU6\r\n"},
                                    {true, "bG9qYQ==\r\n"},
                                    {false, "334 UGFzc3dvcmQ6\r\n"},
                                    {true, "czNuaGE=\r\n"},
                                    {false, "535 5.7.8 no\r\n"},
                                    {true, "AUTH CRAM-MD5\r\n"},
                                    {false, "334 PDEyMzQ+\r\n"},
                                    {true, "bG9qYSBhYmNk\r\n"},
                                    {false, "235 ok\r\n"},
                                    {true, "MAIL FROM:<a@x>\r\n"}},
                                   7);
    EXPECT_EQ(shown,
              "C: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\nC: (hidden)\nS: 334 UGFzc3dvcmQ6\nC: (hidden)\n"
              "S: 535 5.7.8 no\nC: AUTH CRAM-MD5\nS: 334 PDEyMzQ+\nC: (hidden)\nS: 235 ok\nC: MAIL FROM:<a@x>\n");
}

TEST(SmtpTranscript, EscapesServerTextAndCountsDataCutShort) {
    const std::string shown = Play({{false, "220 \x1B]0;pwned\x07\r\n"},
                                    {true, "DATA\r\n"},
                                    {false, "354 go\r\n"},
                                    {true, "Subject: x\r\n"}},
                                   4);
    EXPECT_EQ(shown, "S: 220 \\x1B]0;pwned\\x07\nC: DATA\nS: 354 go\nC: (12 bytes of message data, unfinished)\n");
}

}  // namespace
}  // namespace tandrel::mail::tool
