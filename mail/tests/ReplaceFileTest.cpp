#include "mail/detail/ReplaceFile.h"
#include "testing/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tandrel::mail {
namespace {

using testing::TempDir;

std::string Read(const std::filesystem::path& Path) {
    std::ifstream file(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::size_t Entries(const std::filesystem::path& Dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(Dir), {}));
}

TEST(ReplaceFileTest, WritesThePiecesAndReplacesAnEarlierFile) {
    TempDir dir;
    const auto path = dir.Path() / "out.eml";
    ReplaceFile(path.string(), {"first\r\n", "", "second\r\n"});
    EXPECT_EQ(Read(path), "first\r\nsecond\r\n");
    ReplaceFile(path.string(), {"new\r\n"});
    EXPECT_EQ(Read(path), "new\r\n");
    EXPECT_EQ(Entries(dir.Path()), 1u);  // nothing left beside it
}

// A name that cannot take the file: the reason comes back, what was there stays, and
// the file written beside is gone again.
TEST(ReplaceFileTest, FailureKeepsWhatWasThereAndLeavesNothing) {
    TempDir dir;
    const auto folder = dir.Path() / "pasta";
    std::filesystem::create_directory(folder);
    std::ofstream(folder / "inside") << "kept";
    try {
        ReplaceFile(folder.string(), {"x"});
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::is_a_directory) << e.what();
        EXPECT_NE(std::string(e.what()).find("cannot write " + folder.string()), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(Read(folder / "inside"), "kept");
    EXPECT_EQ(Entries(dir.Path()), 1u);

    const auto nowhere = dir.Path() / "no-such-folder" / "out.eml";
    try {
        ReplaceFile(nowhere.string(), {"x"});
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory) << e.what();
    }
    EXPECT_EQ(Entries(dir.Path()), 1u);
}

}  // namespace
}  // namespace tandrel::mail
