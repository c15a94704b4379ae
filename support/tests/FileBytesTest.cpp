#include "support/FileBytes.h"
#include "support/LargeBytes.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace tandrel::support {
namespace {

using testing::TempDir;

std::string Pattern(std::size_t Size) {
    std::string bytes;
    for (std::size_t i = 0; i < Size; ++i) bytes.push_back(static_cast<char>((i * 7) ^ (i >> 9)));
    return bytes;
}

// Written in pieces (empty ones, more pieces than one system call takes, a room
// large enough for huge pages), read back whole.
TEST(FileBytes, WrittenPiecesReadBackAsOneString) {
    TempDir dir;
    const std::string name = (dir.Path() / "out.bin").string();
    const std::string big = Pattern((6 << 20) + 3);
    std::vector<std::string_view> pieces{"", "head\r\n", big, ""};
    std::string expected = "head\r\n" + big;
    const std::string unit = "0123456789";
    for (int i = 0; i < 3000; ++i) {
        pieces.emplace_back(unit.data() + i % 10, 1);
        expected += unit[static_cast<std::size_t>(i % 10)];
    }
    WriteFileBytes(name, pieces);
    EXPECT_EQ(ReadFileBytes(name), expected);
    WriteFileBytes(name, {"shorter"});
    EXPECT_EQ(ReadFileBytes(name), "shorter");
    WriteFileBytes(name, {});
    EXPECT_EQ(ReadFileBytes(name), "");
}

// Lines end at LF or CR LF, also where a read of 64 KiB ends between the CR and
// the LF or in the middle of a line.
TEST(FileBytes, LinesComeWithoutTheirEnds) {
    TempDir dir;
    const std::string name = (dir.Path() / "body.txt").string();
    const std::string crAtTheEdge = std::string(64 * 1024 - 1, 'c') + "\r\nnext";
    const std::string longLine(150 * 1024, 'l');
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {"\n", {""}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"cr\rinside\r\r\n", {"cr\rinside\r"}},
        {crAtTheEdge, {std::string(64 * 1024 - 1, 'c'), "next"}},
        {longLine + "\n" + longLine, {longLine, longLine}},
    };
    for (const auto& [content, lines] : cases) {
        std::ofstream(name, std::ios::binary | std::ios::trunc) << content;
        EXPECT_EQ(ReadFileLines(name), lines) << content.size() << " bytes";
    }
    EXPECT_THROW((void)ReadFileLines((dir.Path() / "missing").string()), std::system_error);
}

TEST(FileBytes, AFileWithoutASizeIsReadToItsEnd) {
    TempDir dir;
    const std::string name = (dir.Path() / "fifo").string();
    ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
    const std::string content = Pattern(300 * 1024);
    std::thread writer([&] { std::ofstream(name, std::ios::binary) << content; });
    const std::string read = ReadFileBytes(name);
    writer.join();
    EXPECT_EQ(read, content);
}

TEST(FileBytes, FailuresCarryTheSystemReasonAndTheName) {
    TempDir dir;
    const std::string missing = (dir.Path() / "missing.bin").string();
    try {
        (void)ReadFileBytes(missing);
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
        EXPECT_NE(std::string(e.what()).find("cannot read " + missing), std::string::npos);
    }
    const std::string noFolder = (dir.Path() / "no" / "file.eml").string();
    try {
        WriteFileBytes(noFolder, {"x"});
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
        EXPECT_NE(std::string(e.what()).find("cannot write " + noFolder), std::string::npos);
    }
    EXPECT_THROW((void)ReadFileBytes(dir.Path().string()), std::system_error);
}

TEST(LargeBytes, ResizeKeepsTheContentAndZeroesTheRest) {
    for (const std::size_t size : {std::size_t{10}, std::size_t{5} << 20}) {
        std::string value = "kept";
        ResizeLarge(value, size);
        ASSERT_EQ(value.size(), size);
        EXPECT_EQ(value.substr(0, 4), "kept");
        EXPECT_EQ(value.find_first_not_of('\0', 4), std::string::npos);
        ReserveLarge(value, 1);
        EXPECT_EQ(value.size(), size);
    }
}

}  // namespace
}  // namespace tandrel::support
