// A message with every kind of part and header the library composes, against a
// golden file made once and kept: a faster composer may not move a single byte,
// nor change how the message is cut into lines.
//
// To make the golden file again (only when a change of bytes is intended):
//   TANDREL_WRITE_GOLDEN=1 mime/mime_tests --gtest_filter='ComposeGolden*'

#include "mime/MimeMess.h"
#include "testing/ScopedTimeZone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tandrel::mime {
namespace {

using testing::ScopedTimeZone;

const std::filesystem::path kGolden =
    std::filesystem::path(TANDREL_SOURCE_DIR) / "mime/tests/golden/compose_all_kinds.eml";

std::string Joined(const std::vector<std::string>& Lines) {
    std::string out;
    for (const auto& l : Lines) out += l + "\r\n";
    return out;
}

// Everything the composer writes: folded and priority headers, custom lines, a
// preamble and an epilogue, quoted-printable text with long lines, dots and "=",
// HTML, a nested multipart, a binary attachment, an embedded message, and parts the
// caller fills itself: 8bit bytes with line breaks inside one entry, 7bit text,
// quoted-printable binary.
void Build(TMimeMess& Mess) {
    TMessHeader& h = Mess.Header();
    h.SetCharsetCode(TMimeChar::UTF_8);
    h.SetFrom("\"Loja\" <loja@example.com>");
    h.ToList() = {"a@example.com", "\"Ana\" <ana@example.com>"};
    h.CCList() = {"copia@example.com"};
    h.SetSubject("A subject long enough to be folded by the composer at the seventy eighth column");
    h.SetOrganization("Loja Tandrel");
    h.SetReplyTo("\"Vendas\" <vendas@example.com>");
    h.SetPriority(TMessPriority::MP_high);
    h.CustomHeaders() = {"X-Custom: one", "", "X-Other: two"};
    h.SetMessageID(" golden@compose.tandrel.test ");
    h.SetDate(EncodeDateTime(2026, 12, 9, 1, 23, 45));

    TMimePart& root = Mess.AddPartMultipart("mixed", nullptr);
    root.PrePart() = {"This is a multi-part message.", ""};
    root.PostPart() = {"", "epilogue"};
    Mess.AddPartText({"Nome: Jo\xC3\xA3o", ".linha com ponto", "a=b " + std::string(100, 'x'),
                      std::string(90, 'y') + " z", "fim "},
                     &root);
    TMimePart& alternative = Mess.AddPartMultipart("alternative", &root);
    Mess.AddPartHTML({"<p>Ol\xC3\xA1</p>", "<p>" + std::string(120, 'h') + "</p>"}, &alternative);
    Mess.AddPartTextEx({"sete bits"}, &alternative, TMimeChar::UTF_8, false, TMimeEncoding::ME_7BIT);
    std::string binary;
    for (int i = 0; i < 300; ++i) binary += static_cast<char>((i * 13) & 0xFF);
    Mess.AddPartBinary(binary, "dados.bin", &root);
    Mess.AddPartMess({"Subject: inner", "Content-Type: text/plain", "", "inner body", ".dot"}, &root);

    TMimePart& raw = Mess.AddPart(&root);
    raw.SetPrimary("application");
    raw.SetSecondary("x-raw");
    raw.SetEncoding("8bit");
    raw.DecodedLines() = "line one\r\nline two\nthree\rfour";
    raw.EncodePart();
    raw.EncodePartHeader();

    TMimePart& qpBinary = Mess.AddPart(&root);
    qpBinary.SetPrimary("application");
    qpBinary.SetEncoding("quoted-printable");
    qpBinary.DecodedLines() = "bytes\r\n=\xFF" + std::string(80, 'q');
    qpBinary.EncodePart();
    qpBinary.EncodePartHeader();
}

TEST(ComposeGolden, EveryKindOfPartGivesTheGoldenBytesAndLines) {
    ScopedTimeZone zone("<-03>3");
    int next = 0;
    TBoundarySourceOverride boundaries([&] { return "BOUNDARY_" + std::to_string(++next); });
    TMimeMess mess;
    Build(mess);
    mess.EncodeMessage();
    const std::string composed = Joined(mess.Lines());
    if (std::getenv("TANDREL_WRITE_GOLDEN") != nullptr) {
        std::filesystem::create_directories(kGolden.parent_path());
        std::ofstream(kGolden, std::ios::binary) << composed;
    }
    std::ifstream file(kGolden, std::ios::binary);
    const std::string golden{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_EQ(composed, golden);
    // The 8bit entry keeps its own line breaks: one list entry, not three.
    EXPECT_EQ(mess.Lines().size(), 92u);

    // Composed again from the same tree: the same lines.
    const std::vector<std::string> first = mess.Lines();
    mess.EncodeMessage();
    EXPECT_EQ(mess.Lines(), first);
}

}  // namespace
}  // namespace tandrel::mime
