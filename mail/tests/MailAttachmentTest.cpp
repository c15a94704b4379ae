#include "mail/MailAttachment.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tandrel::mail {
namespace {

TEST(MailAttachmentTest, StartsInlineAndClearKeepsDisposition) {
    TMailAttachment a;
    EXPECT_EQ(a.Disposition(), TMailAttachmentDisposition::adInline);
    a.SetFileName("/tmp/x.pdf");
    a.SetDescription("x.pdf");
    a.Stream() = std::string(
        "\0\xff"
        "data",
        6);
    a.SetDisposition(TMailAttachmentDisposition::adAttachment);
    a.Clear();
    EXPECT_EQ(a.FileName(), "");
    EXPECT_EQ(a.Description(), "");
    EXPECT_EQ(a.Stream(), "");
    EXPECT_EQ(a.Disposition(), TMailAttachmentDisposition::adAttachment);
}

TEST(MailAttachmentTest, AssignCopiesEverythingByteForByte) {
    TMailAttachment source;
    source.SetFileName("c:\\dir\\a.xml");
    source.SetDescription("a.xml");
    source.Stream() = std::string("<x>\0\r\n</x>", 10);
    source.SetDisposition(TMailAttachmentDisposition::adAttachment);
    TMailAttachment target;
    target.Stream() = "old content that must go";
    target.Assign(source);
    EXPECT_EQ(target.FileName(), source.FileName());
    EXPECT_EQ(target.Description(), source.Description());
    EXPECT_EQ(target.Stream(), source.Stream());
    EXPECT_EQ(target.Disposition(), TMailAttachmentDisposition::adAttachment);
}

TEST(MailAttachmentsTest, NewAddAndIndexBounds) {
    TMailAttachments list;
    list.New().SetDescription("first");
    auto second = std::make_unique<TMailAttachment>();
    second->SetDescription("second");
    EXPECT_EQ(list.Add(std::move(second)), 1u);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Objects(0).Description(), "first");
    EXPECT_EQ(list.Objects(1).Description(), "second");
    EXPECT_THROW(list.Objects(2), std::out_of_range);
    EXPECT_THROW(list.Delete(2), std::out_of_range);
    EXPECT_THROW(list.Add(nullptr), std::invalid_argument);
    list.Delete(0);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Objects(0).Description(), "second");
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace tandrel::mail
