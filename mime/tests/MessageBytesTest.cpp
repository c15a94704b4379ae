#include "mime/MessageBytes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tandrel::mime {
namespace {

using Lines = std::vector<std::string>;

std::string Joined(const Lines& Lines) {
    std::string out;
    for (const auto& l : Lines) out += l + "\r\n";
    return out;
}

struct LinesCase {
    const char* Name;
    Lines Value;
};

class MessageBytesLines : public ::testing::TestWithParam<LinesCase> {};

// Lines go in and come back as they were, also when one holds a line break of its
// own (CR LF, CR or LF); the bytes are the lines each followed by CR LF.
TEST_P(MessageBytesLines, GivesTheLinesBackAndTheirBytes) {
    const Lines& lines = GetParam().Value;
    TMessageBytes bytes;
    bytes.AppendLines(lines);
    EXPECT_EQ(bytes.Lines(), lines);
    EXPECT_EQ(bytes.Joined(), Joined(lines));
    EXPECT_EQ(bytes.Size(), Joined(lines).size());
    EXPECT_EQ(bytes.Empty(), lines.empty());

    // The same lines after plain ones, line by line and appended whole, and plain ones after them.
    TMessageBytes plain;
    plain.AppendLines({"p", "", "q"});
    Lines expected = {"p", "", "q"};
    expected.insert(expected.end(), lines.begin(), lines.end());
    TMessageBytes lineByLine = plain;
    lineByLine.AppendLines(lines);
    EXPECT_EQ(lineByLine.Lines(), expected);
    TMessageBytes appended = plain;
    appended.Append(bytes);
    appended.Append(plain);
    expected.insert(expected.end(), {"p", "", "q"});
    EXPECT_EQ(appended.Lines(), expected);
    EXPECT_EQ(appended.Joined(), Joined(expected));
}

INSTANTIATE_TEST_SUITE_P(Table, MessageBytesLines,
                         ::testing::Values(LinesCase{"none", {}}, LinesCase{"one_empty", {""}},
                                           LinesCase{"plain", {"a", "", "b c"}},
                                           LinesCase{"crlf_inside", {"one\r\ntwo", "three"}},
                                           LinesCase{"bare_cr_and_lf", {"a\rb", "c\n", "\r", "\n", "d"}},
                                           LinesCase{"ends_with_cr", {"x\r", "y"}},
                                           LinesCase{"plain_then_lf_inside", {"a", "b", "c\nd", "e"}}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(MessageBytes, BlocksAreSharedNotCopied) {
    auto block = std::make_shared<const std::string>("QUJD\r\nREVG\r\n");
    TMessageBytes bytes;
    bytes.AppendLine("head");
    bytes.AppendBlock(block);
    bytes.AppendLines({"", "--end--"});
    EXPECT_EQ(bytes.Lines(), (Lines{"head", "QUJD", "REVG", "", "--end--"}));
    EXPECT_EQ(bytes.Joined(), "head\r\nQUJD\r\nREVG\r\n\r\n--end--\r\n");

    const TMessageBytes copy = bytes;
    const auto holds = [&](const TMessageBytes& B) {
        for (const std::string_view piece : B.Pieces())
            if (piece.data() == block->data()) return piece.size() == block->size();
        return false;
    };
    EXPECT_TRUE(holds(bytes));
    EXPECT_TRUE(holds(copy));
    // Every piece is whole lines.
    for (const std::string_view piece : copy.Pieces()) EXPECT_TRUE(piece.ends_with("\r\n")) << piece;
}

// A block whose last line lacks its CR LF: Lines() returns (it once ran on without
// end), and the line ends before the next one, in the bytes as in the lines.
TEST(MessageBytes, BlockWithoutFinalLineEndGetsOne) {
    TMessageBytes bytes;
    bytes.AppendBlock(std::make_shared<const std::string>("QUJD\r\nREVG"));
    bytes.AppendLine("next");
    EXPECT_EQ(bytes.Lines(), (Lines{"QUJD", "REVG", "next"}));
    EXPECT_EQ(bytes.Joined(), "QUJD\r\nREVG\r\nnext\r\n");
    EXPECT_EQ(bytes.Size(), bytes.Joined().size());
    for (const std::string_view piece : bytes.Pieces()) EXPECT_TRUE(piece.ends_with("\r\n")) << piece;

    TMessageBytes single;
    single.AppendBlock(std::make_shared<const std::string>("x"));
    EXPECT_EQ(single.Lines(), Lines{"x"});
    EXPECT_EQ(single.Joined(), "x\r\n");
}

TEST(MessageBytes, EmptyBlockAddsNothingAndClearEmpties) {
    TMessageBytes bytes;
    bytes.AppendBlock(nullptr);
    bytes.AppendBlock(std::make_shared<const std::string>());
    EXPECT_TRUE(bytes.Empty());
    EXPECT_TRUE(bytes.Pieces().empty());
    bytes.AppendLine("a\rb");
    bytes.AppendBlock(std::make_shared<const std::string>("x\r\n"));
    bytes.Clear();
    EXPECT_TRUE(bytes.Empty());
    EXPECT_TRUE(bytes.Lines().empty());
    bytes.AppendLine("c");
    EXPECT_EQ(bytes.Lines(), Lines{"c"});
}

}  // namespace
}  // namespace tandrel::mime
