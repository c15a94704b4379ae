// Messages in the shapes common mail programs write (tests/data/corpus, see its
// README), read by our parser on both roads and by Python's email package: the same
// tree, types, file names, decoded bytes and subject.

#include "mime/MimeMess.h"

#include "mime/AsciiText.h"
#include "mime/Codings.h"
#include "mime/MD5.h"
#include "mime/detail/MimePartText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "testing/ChildProcess.h"

namespace tandrel::mime {
namespace {

namespace fs = std::filesystem;

const fs::path& CorpusFolder() {
    static const fs::path folder = fs::path(TANDREL_SOURCE_DIR) / "mime/tests/data/corpus";
    return folder;
}

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(CorpusFolder()))
        if (entry.path().extension() == ".eml") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadBytes(const fs::path& File) {
    std::ifstream in(File, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The line road keeps a body as lines and ends each with CR LF, so it cannot tell the
// line break that RFC 2046 gives to the boundary after a body from the body's own:
// there the comparison leaves the line breaks at the end of a body out.
std::string_view Trimmed(std::string_view Bytes, bool TrimFinalBreakss) {
    while (TrimFinalBreakss && Bytes.ends_with("\r\n")) Bytes.remove_suffix(2);
    return Bytes;
}

void AddNode(TMimePart& Part, int Depth, bool TrimFinalBreaks, std::string& Out) {
    Out += std::string(2 * static_cast<std::size_t>(Depth), ' ') + LowerAscii(Part.Primary() + "/" + Part.Secondary());
    if (Part.PrimaryCode() == TMimePrimary::MP_MULTIPART || Part.PrimaryCode() == TMimePrimary::MP_MESSAGE) {
        Out += "\n";
        for (int i = 0; i < Part.GetSubPartCount(); ++i) AddNode(*Part.GetSubPart(i), Depth + 1, TrimFinalBreaks, Out);
        return;
    }
    if (!Part.FileName().empty()) Out += " file=" + Part.FileName();
    Part.SetConvertCharset(false);  // the transfer-decoded bytes, as Python gives them
    Part.DecodePart();
    const std::string_view bytes = Trimmed(Part.DecodedLines(), TrimFinalBreaks);
    Out += " bytes=" + std::to_string(bytes.size()) + " " + StrToHex(MD5(bytes)) + "\n";
}

std::string TreeOf(TMimeMess& Mess, bool TrimFinalBreaks) {
    std::string out = "subject: " + Mess.Header().Subject() + "\n";
    AddNode(Mess.MessagePart(), 0, TrimFinalBreaks, out);
    return out;
}

std::string PythonTree(const std::string& File, bool TrimFinalBreaks) {
    const std::string script = std::string(TANDREL_SOURCE_DIR) + "/mime/tests/read_message_tree.py";
    std::vector<std::string> argv{TANDREL_PYTHON, script, File};
    if (TrimFinalBreaks) argv.emplace_back("--trim-final-breaks");
    testing::ChildProcess python(argv, {.MergeStderr = true});
    EXPECT_EQ(python.Wait(), 0) << python.Output();
    return python.Output();
}

class CorpusReadLikePython : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!fs::exists(TANDREL_PYTHON)) GTEST_SKIP() << "no " << TANDREL_PYTHON << " on this machine";
        File = (CorpusFolder() / GetParam()).string();
        Bytes = ReadBytes(File);
        Mess.Header().SetCharsetCode(TMimeChar::UTF_8);
    }
    std::string File, Bytes;
    TMimeMess Mess;
};

TEST_P(CorpusReadLikePython, OnTheLineRoad) {
    Mess.Lines() = detail::SplitLines(Bytes);
    Mess.DecodeMessage();
    EXPECT_EQ(TreeOf(Mess, true), PythonTree(File, true));
}

TEST_P(CorpusReadLikePython, OnTheByteRoad) {
    const std::size_t split = Bytes.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos);
    Mess.DecodeMessageBinary(detail::SplitLines(std::string_view(Bytes).substr(0, split)),
                             std::string_view(Bytes).substr(split + 4));
    EXPECT_EQ(TreeOf(Mess, false), PythonTree(File, false));
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusReadLikePython, ::testing::ValuesIn(CorpusFiles()), [](const auto& info) {
    std::string name = fs::path(info.param).stem().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

}  // namespace
}  // namespace tandrel::mime
