#include "framework/MessageBox.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

TEST(MessageBoxTest, InstalledPresenterSeesTheRequestAndAnswersIt) {
    std::vector<MessageBoxRequest> shown;
    MessageBoxPresenter previous = SetMessageBoxPresenter([&](const MessageBoxRequest& r) {
        shown.push_back(r);
        return IDYES;
    });

    EXPECT_EQ(MessageBox(QStringLiteral("Wirklich?"), QStringLiteral("   Achtung!"),
                         MB_YESNO | MB_ICONQUESTION),
              IDYES);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, QStringLiteral("Wirklich?"));
    EXPECT_EQ(shown[0].caption, QStringLiteral("   Achtung!"));
    EXPECT_EQ(shown[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));

    SetMessageBoxPresenter(previous);
}

TEST(MessageBoxTest, WithoutApplicationTheDefaultAnswersWithoutBlocking) {
    SetMessageBoxPresenter({});
    EXPECT_EQ(MessageBox(QStringLiteral("x"), QStringLiteral("Error"), MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBox(QStringLiteral("x"), QStringLiteral("Frage"), MB_YESNO), IDNO);
}

}  // namespace
}  // namespace velmora
