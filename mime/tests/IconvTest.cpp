#include "mime/Iconv.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

namespace tandrel::mime {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

class IconvBinding : public ::testing::Test {
protected:
    void SetUp() override {
        if (!InitIconvInterface()) GTEST_SKIP() << "the C library's iconv cannot be bound here";
    }
};

TEST_F(IconvBinding, ConvertsAndReportsConsumedBytes) {
    EXPECT_TRUE(IsIconvloaded());
    TIconvConverter conv(IconvOpen("UCS-2BE", "WINDOWS-1252"));
    ASSERT_TRUE(conv.IsOpen());
    std::string out = "old";
    EXPECT_EQ(IconvConvert(conv.Get(), "A\x80", out), 2u);
    EXPECT_EQ(out, "\x00\x41\x20\xAC"s);
}

TEST_F(IconvBinding, UnknownNameGivesInvalidHandle) {
    TIconvHandle h = IconvOpen("NO-SUCH-CHARSET", "UTF-8");
    EXPECT_EQ(h, InvalidIconvHandle);
    IconvClose(h);  // closing an invalid handle is harmless
    EXPECT_EQ(h, InvalidIconvHandle);
    std::string out = "x";
    EXPECT_EQ(IconvConvert(InvalidIconvHandle, "abc", out), 0u);
    EXPECT_EQ(out, "");
}

TEST_F(IconvBinding, IgnoreSkipsWhatTheTargetLacks) {
    TIconvConverter conv(IconvOpenIgnore("WINDOWS-1252", "UTF-8"));
    ASSERT_TRUE(conv.IsOpen());
    EXPECT_EQ(conv.Convert("a\xC5\x82z\xC3\xA7"), "az\xE7");
}

TEST_F(IconvBinding, InvalidInputIsSkippedNotFatal) {
    TIconvConverter conv(IconvOpen("UCS-2BE", "UTF-8"));
    ASSERT_TRUE(conv.IsOpen());
    std::string out;
    EXPECT_EQ(IconvConvert(conv.Get(),
                           "a\xFF"
                           "b\xC3",
                           out),
              4u);
    EXPECT_EQ(out, "\x00\x61\x00\x62"s);
}

TEST_F(IconvBinding, TranslitAndLongOutputAreNotCutOff) {
    TIconvConverter conv(IconvOpenTranslit("ASCII", "UTF-8"));
    ASSERT_TRUE(conv.IsOpen());
    const std::string out = conv.Convert("\xC2\xBD");  // one half: transliterated to several characters
    EXPECT_FALSE(out.empty());
    std::string many;
    for (int i = 0; i < 1000; ++i) many += "\xC2\xBD";
    EXPECT_EQ(conv.Convert(many).size(), out.size() * 1000);
}

TEST_F(IconvBinding, StatefulTargetEndsInInitialState) {
    TIconvConverter conv(IconvOpen("ISO-2022-JP", "UTF-8"));
    ASSERT_TRUE(conv.IsOpen());
    EXPECT_EQ(conv.Convert("\xE3\x81\x82"), "\x1B$B$\"\x1B(B");
}

TEST_F(IconvBinding, ConverterMovesOwnership) {
    TIconvConverter a(IconvOpen("UTF-8", "ISO-8859-1"));
    ASSERT_TRUE(a.IsOpen());
    TIconvConverter b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(b.Convert("\xE7"), "\xC3\xA7");
    a = std::move(b);
    EXPECT_EQ(a.Convert("\xE7"), "\xC3\xA7");
}

TEST_F(IconvBinding, UnboundOpensNothingUntilBoundAgain) {
    TIconvConverter before(IconvOpen("UTF-8", "ISO-8859-1"));
    ASSERT_TRUE(before.IsOpen());
    EXPECT_TRUE(DestroyIconvInterface());
    EXPECT_FALSE(DestroyIconvInterface());
    EXPECT_FALSE(IsIconvloaded());
    EXPECT_EQ(IconvOpen("UTF-8", "ISO-8859-1"), InvalidIconvHandle);
    EXPECT_EQ(before.Convert("\xE7"), "");
    ASSERT_TRUE(InitIconvInterface());
    EXPECT_EQ(before.Convert("\xE7"), "\xC3\xA7");
}

// Input placed at the very end of a readable page, with an unreadable page
// after it: a converter that reads past the input crashes the test.
class TInputAtPageEnd {
public:
    explicit TInputAtPageEnd(std::string_view Input)
        : FPageSize(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
        void* pages =
            mmap(nullptr, 2 * FPageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) return;
        FPages = static_cast<char*>(pages);
        mprotect(FPages + FPageSize, FPageSize, PROT_NONE);
        FInput = FPages + FPageSize - Input.size();
        std::memcpy(FInput, Input.data(), Input.size());
        FSize = Input.size();
    }
    ~TInputAtPageEnd() {
        if (FPages) munmap(FPages, 2 * FPageSize);
    }
    TInputAtPageEnd(const TInputAtPageEnd&) = delete;
    TInputAtPageEnd& operator=(const TInputAtPageEnd&) = delete;
    [[nodiscard]] bool Ready() const { return FPages != nullptr; }
    [[nodiscard]] std::string_view Input() const { return {FInput, FSize}; }

private:
    std::size_t FPageSize;
    char* FPages = nullptr;
    char* FInput = nullptr;
    std::size_t FSize = 0;
};

TEST_F(IconvBinding, IsoCnExtReaderStaysWithinItsInput) {
    // glibc's own ISO-2022-CN-EXT reader runs on past a stray shift byte.
    for (const std::string_view input : {"\x0e"sv, "ab\x0e"sv, "\x1b$)A\x0e"sv, "\x02\x0e"sv}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(input)));
        TInputAtPageEnd placed(input);
        ASSERT_TRUE(placed.Ready());
        for (const char* name : {"ISO-2022-CN-EXT", "iso2022cnext"}) {
            TIconvConverter conv(IconvOpenIgnore("UCS-2BE", name));
            ASSERT_TRUE(conv.IsOpen());
            std::string out;
            EXPECT_EQ(IconvConvert(conv.Get(), placed.Input(), out), input.size());
        }
    }
}

TEST_F(IconvBinding, IsoCnExtTextIsStillRead) {
    // GB 2312 after SO, then CNS 11643 plane 2 through SS2.
    TIconvConverter conv(IconvOpen("UTF-8", "ISO-2022-CN-EXT"));
    ASSERT_TRUE(conv.IsOpen());
    EXPECT_EQ(conv.Convert("a\x1b$)A\x0e\x56\x50\x0f"
                           "b\x1b$*H\x1bN\x21\x21"),
              "a\xE4\xB8\xAD"
              "b\xE4\xB9\x82");
}

}  // namespace
}  // namespace tandrel::mime
