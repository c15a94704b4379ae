#include "mime/InlineEncoding.h"
#include "mime/MessHeader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandrel::mime {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Lines = std::vector<std::string>;

// 2026-12-09 01:23:45 local time, so the date line is fixed.
TDateTime FixedDate() { return EncodeDateTime(2026, 12, 9, 1, 23, 45); }

std::string DateLine() { return "Date: " + Rfc822DateTime(FixedDate()); }

TEST(TMessHeaderEncode, OnlyFromGivesFourLinesAndFixesTheDate) {
    TMessHeader header;
    header.SetFrom("a@b.c");
    Lines block;
    header.EncodeHeaders(block);
    ASSERT_EQ(block.size(), 4u);
    EXPECT_EQ(block[0], "From: a@b.c");
    EXPECT_THAT(block[1], ::testing::StartsWith("Date: "));
    EXPECT_EQ(block[2], "MIME-Version: 1.0 (produced by Tandrel)");
    EXPECT_EQ(block[3], "X-mailer: " + std::string(DefaultXMailer));
    EXPECT_NE(header.Date(), TDateTime{});
    EXPECT_EQ(block[1], "Date: " + Rfc822DateTime(header.Date()));

    Lines again;
    header.EncodeHeaders(again);
    EXPECT_EQ(again, block);  // the first date stays
}

TEST(TMessHeaderEncode, EveryFieldInItsPlaceAboveExistingLines) {
    TMessHeader header;
    header.SetCharsetCode(TMimeChar::UTF_8);
    header.SetFrom("\"Loja\" <loja@x.com>");
    header.ToList() = {"a@x.com", "Bea <b@x.com>"};
    header.CCList() = {"c@x.com"};
    header.SetSubject("Plain subject 42");
    header.SetOrganization("Org");
    header.CustomHeaders() = {"X-One: 1", "", "X-Two: 2"};
    header.SetDate(FixedDate());
    header.SetXMailer("Tandrel - MailSender");
    header.SetReplyTo("Resp <r@x.com>");
    header.SetMessageID("  id@x  ");
    header.SetPriority(TMessPriority::MP_high);
    Lines block{"existing"};
    header.EncodeHeaders(block);
    EXPECT_THAT(block,
                ElementsAre("From: \"Loja\" <loja@x.com>", "To: a@x.com, \"Bea\" <b@x.com>",
                            "Subject: Plain subject 42", DateLine(), "CC: c@x.com", "Organization: Org",
                            "MIME-Version: 1.0 (produced by Tandrel)", "X-mailer: Tandrel - MailSender",
                            "Message-ID: <id@x>", "Reply-To: r@x.com", "Priority: urgent", "X-Priority: 1",
                            "X-MSMAIL-Priority: High", "X-One: 1", "X-Two: 2", "existing"));
}

TEST(TMessHeaderEncode, LineBreaksInAddressesNeverStartANewHeaderLine) {
    TMessHeader header;
    header.SetDate(FixedDate());
    header.SetFrom("a@x.com\r\nBcc: spy@evil.example");
    header.ToList() = {"b@x.com\nX-Injected: 1", "\"Name\r\nX-Evil: 2\" <c@x.com>"};
    header.CCList() = {"<d@x.com\r>"};
    header.SetReplyTo("r@x.com\rX-Also: 3");
    Lines block;
    header.EncodeHeaders(block);
    for (const std::string& line : block) EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    EXPECT_EQ(block[0], "From: a@x.com  Bcc: spy@evil.example");
    EXPECT_EQ(block[1], "To: b@x.com X-Injected: 1, \"=?ISO-8859-1?Q?Name=0D=0AX-Evil=3A_2?=\" <c@x.com>");
    EXPECT_THAT(block, ::testing::Contains("CC: d@x.com"));
    EXPECT_THAT(block, ::testing::Contains("Reply-To: r@x.com X-Also: 3"));
}

TEST(TMessHeaderEncode, LineBreaksInIdentifiersNeverStartANewHeaderLine) {
    TMessHeader header;
    header.SetDate(FixedDate());
    header.SetFrom("a@x.com");
    header.SetMessageID(" id@x\r\nBcc: spy@evil.example ");
    header.SetXMailer("Tandrel\nX-Injected: 1");
    header.SetSubject("Linha 1\r\nX-Subject: 2");
    Lines block;
    header.EncodeHeaders(block);
    for (const std::string& line : block) EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    EXPECT_THAT(block, ::testing::Contains("Message-ID: <id@x  Bcc: spy@evil.example>"));
    EXPECT_THAT(block, ::testing::Contains("X-mailer: Tandrel X-Injected: 1"));
}

TEST(TMessHeaderEncode, PriorityLines) {
    struct Row {
        TMessPriority priority;
        Lines lines;
    };
    for (const Row& row :
         {Row{TMessPriority::MP_high, {"Priority: urgent", "X-Priority: 1", "X-MSMAIL-Priority: High"}},
          Row{TMessPriority::MP_low, {"Priority: non-urgent", "X-Priority: 5", "X-MSMAIL-Priority: low"}},
          Row{TMessPriority::MP_normal, {}}, Row{TMessPriority::MP_unknown, {}}}) {
        TMessHeader header;
        header.SetDate(FixedDate());
        header.SetMessageID("m@x");
        header.SetPriority(row.priority);
        Lines block;
        header.EncodeHeaders(block);
        Lines tail(block.begin() + 5, block.end());  // after From, Date, MIME, X-mailer, Message-ID
        EXPECT_EQ(tail, row.lines) << static_cast<int>(row.priority);
    }
}

TEST(TMessHeaderEncode, SubjectIsEncodedOnlyWhenItNeedsIt) {
    struct Row {
        const char* subject;
        bool encoded;
    };
    for (const Row& row : {Row{"Dados Cadastrais 2026", false}, Row{"Re: hello", true}, Row{"a, b", true},
                           Row{"Cadastro conclu\xC3\xAD"
                               "do",
                               true},
                           Row{"under_score", false}}) {
        TMessHeader header;
        header.SetCharsetCode(TMimeChar::UTF_8);
        header.SetSubject(row.subject);
        header.SetDate(FixedDate());
        Lines block;
        header.EncodeHeaders(block);
        const std::string expected =
            row.encoded ? "Subject: =?UTF-8?Q?" : std::string("Subject: ") + row.subject;
        EXPECT_THAT(block[1], ::testing::StartsWith(expected)) << row.subject;
    }
}

TEST(TMessHeaderEncode, EmptyAddressEntriesAreSkippedOnlyBeforeTheFirst) {
    TMessHeader header;
    header.ToList() = {"", "a@x", "", "b@x"};
    header.CCList() = {"", ""};
    header.SetDate(FixedDate());
    Lines block;
    header.EncodeHeaders(block);
    EXPECT_EQ(block[1], "To: a@x, , b@x");
    for (const auto& line : block) EXPECT_FALSE(line.starts_with("CC:")) << line;
}

struct PriorityCase {
    const char* name;
    const char* line;
    TMessPriority priority;
};

class ParsePriorityTest : public ::testing::TestWithParam<PriorityCase> {};

TEST_P(ParsePriorityTest, FirstWordAfterColon) {
    EXPECT_EQ(TMessHeader::ParsePriority(GetParam().line), GetParam().priority);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ParsePriorityTest,
    ::testing::Values(PriorityCase{"one", "X-Priority: 1 (Highest)", TMessPriority::MP_high},
                      PriorityCase{"two", "X-Priority: 2", TMessPriority::MP_high},
                      PriorityCase{"three", "X-Priority: 3", TMessPriority::MP_normal},
                      PriorityCase{"five", "X-Priority: 5", TMessPriority::MP_low},
                      PriorityCase{"six", "X-Priority: 6", TMessPriority::MP_unknown},
                      PriorityCase{"urgent", "Priority: URGENT", TMessPriority::MP_high},
                      PriorityCase{"medium", "Importance: Medium", TMessPriority::MP_normal},
                      PriorityCase{"nonUrgent", "Priority: non-urgent", TMessPriority::MP_low},
                      PriorityCase{"noPriority", "Priority: no-priority", TMessPriority::MP_low},
                      PriorityCase{"unknownWord", "Priority: whenever", TMessPriority::MP_unknown},
                      PriorityCase{"empty", "Priority:", TMessPriority::MP_unknown},
                      PriorityCase{"tabAfterColon", "X-Priority:\t1", TMessPriority::MP_high}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TMessHeaderDecode, ReadsWhatEncodeWrote) {
    TMessHeader out;
    out.SetCharsetCode(TMimeChar::UTF_8);
    out.SetFrom("\"Jos\xC3\xA9 da Silva, Ltda: Matriz\" <jose@x.com.br>");
    out.ToList() = {"a@x.com", "\"S\xC3\xA3o Paulo\" <sp@x.com>"};
    out.CCList() = {"c@x.com"};
    out.SetSubject(
        "Ol\xC3\xA1: cadastro, conclu\xC3\xAD"
        "do");
    out.SetOrganization("Org");
    out.CustomHeaders() = {"X-Custom: one", "X-Custom: two"};
    out.SetDate(FixedDate());
    out.SetXMailer("Mailer");
    out.SetMessageID("id@x");
    out.SetPriority(TMessPriority::MP_low);
    Lines block;
    out.EncodeHeaders(block);
    block.emplace_back();
    block.emplace_back("body");

    TMessHeader in;
    in.SetPriority(TMessPriority::MP_high);
    in.DecodeHeaders(block);
    EXPECT_EQ(in.From(), "\"Jos\xC3\xA9 da Silva, Ltda: Matriz\" <jose@x.com.br>");
    EXPECT_THAT(in.ToList(), ElementsAre("a@x.com", "\"S\xC3\xA3o Paulo\" <sp@x.com>"));
    EXPECT_THAT(in.CCList(), ElementsAre("c@x.com"));
    EXPECT_EQ(in.Subject(), out.Subject());
    EXPECT_EQ(in.Organization(), "Org");
    EXPECT_EQ(in.XMailer(), "Mailer");
    EXPECT_EQ(in.MessageID(), "id@x");
    EXPECT_EQ(in.Priority(), TMessPriority::MP_low);
    EXPECT_EQ(Rfc822DateTime(in.Date()), Rfc822DateTime(FixedDate()));
    EXPECT_THAT(in.CustomHeaders(), ElementsAre("X-Custom: one", "X-Custom: two"));
    EXPECT_EQ(in.FindHeader("x-custom"), "one");
    Lines all;
    in.FindHeaderList("X-CUSTOM", all);
    EXPECT_THAT(all, ElementsAre("one", "two"));
    EXPECT_EQ(in.FindHeader("X-None"), "");
}

// A display name read back names the address it was written with, whatever it holds.
TEST(TMessHeaderDecode, DisplayNamesNeverBringTheirOwnAddress) {
    for (const std::string name : {"Ana\" <chefe@x.com> \"", "Loja \"Boa Vista\"", "a\\b <c@x>",
                                   "Ana <b@x>, C", "=?UTF-8?Q?x?=", "Jos\xC3\xA9"}) {
        std::string quoted = "\"";
        for (const char c : name) {
            if (c == '"' || c == '\\') quoted += '\\';
            quoted += c;
        }
        TMessHeader out;
        out.SetCharsetCode(TMimeChar::UTF_8);
        out.SetTargetCharset(TMimeChar::CP1252);
        out.SetFrom(quoted + "\" <loja@x.com>");
        out.ToList() = {quoted + "\" <cliente@x.com>"};
        out.SetReplyTo(quoted + "\" <r@x.com>");
        Lines block;
        out.EncodeHeaders(block);
        block.emplace_back();

        TMessHeader in;
        in.SetCharsetCode(TMimeChar::UTF_8);
        in.DecodeHeaders(block);
        EXPECT_EQ(GetEmailAddr(in.From()), "loja@x.com") << name;
        EXPECT_EQ(GetEmailDesc(in.From()), name);
        ASSERT_EQ(in.ToList().size(), 1u) << name;
        EXPECT_EQ(GetEmailAddr(in.ToList()[0]), "cliente@x.com") << name;
        EXPECT_EQ(GetEmailDesc(in.ToList()[0]), name);
    }
    // A name as it stands is kept as it was read.
    TMessHeader in;
    in.DecodeHeaders(
        {"From: \"=?UTF-8?Q?Ana_=3Cchefe=40x=3E?=\" <ana@x>", "Reply-To: =?UTF-8?Q?=22R=22?= <r@x>"});
    EXPECT_EQ(in.From(), "\"Ana <chefe@x>\" <ana@x>");
    EXPECT_EQ(in.ReplyTo(), "\"\\\"R\\\"\" <r@x>");
}

TEST(TMessHeaderDecode, FirstKnownPriorityWinsAndContentLinesAreSwallowed) {
    TMessHeader in;
    in.DecodeHeaders({"X-MSMAIL-Priority: Low", "X-Priority: 1", "Content-Type: text/plain",
                      "MIME-Version: 1.0", "X-Other: kept", "", "Priority: normal"});
    EXPECT_EQ(in.Priority(), TMessPriority::MP_high);
    EXPECT_THAT(in.CustomHeaders(), ElementsAre("X-Other: kept"));
}

TEST(TMessHeaderDecode, AnyBlankAfterTheColon) {
    TMessHeader in;
    in.DecodeHeaders({"From:\tAna <a@x.com>", "To:\t b@x.com,\tc@x.com",
                      "Subject:\t=?UTF-8?Q?Ol=C3=A1?=", "Message-ID:\t<id@x>", "X-mailer:\tM"});
    EXPECT_EQ(in.From(), "Ana <a@x.com>");
    EXPECT_THAT(in.ToList(), ElementsAre("b@x.com", "c@x.com"));
    EXPECT_EQ(in.Subject(), "Ol\xC3\xA1");
    EXPECT_EQ(in.MessageID(), "id@x");
    EXPECT_EQ(in.XMailer(), "M");
}

TEST(TMessHeaderClear, KeepsCharsets) {
    TMessHeader header;
    header.SetCharsetCode(TMimeChar::UTF_8);
    header.SetTargetCharset(TMimeChar::UTF_8);
    header.SetSubject("s");
    header.SetDate(FixedDate());
    header.SetPriority(TMessPriority::MP_high);
    header.ToList() = {"x"};
    header.Clear();
    EXPECT_EQ(header.Subject(), "");
    EXPECT_EQ(header.Date(), TDateTime{});
    EXPECT_EQ(header.Priority(), TMessPriority::MP_unknown);
    EXPECT_THAT(header.ToList(), IsEmpty());
    EXPECT_EQ(header.CharsetCode(), TMimeChar::UTF_8);
    EXPECT_EQ(header.TargetCharset(), TMimeChar::UTF_8);
}

}  // namespace
}  // namespace tandrel::mime
