#include "framework/MessageBox.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>
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

TEST(MessageBoxTest, ExceptionsShowInTheErrorBoxUnderTheApplicationTitle) {
    std::vector<MessageBoxRequest> shown;
    MessageBoxPresenter previous = SetMessageBoxPresenter([&](const MessageBoxRequest& r) {
        shown.push_back(r);
        return IDOK;
    });
    std::unique_ptr<QCoreApplication> app;
    if (QCoreApplication::instance() == nullptr) {
        ShowException(QStringLiteral("kaputt"));
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].caption, QString());
        shown.clear();
        static int argc = 1;
        static char arg0[] = "velmora-test";
        static char* argv[] = {arg0, nullptr};
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    const QString before = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("Velmora - Relativtest"));
    ShowException(QStringLiteral("'-' ist kein gültiger Gleitkommawert"));
    QCoreApplication::setApplicationName(before);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, QStringLiteral("Velmora - Relativtest"));
    EXPECT_EQ(shown[0].text, QStringLiteral("'-' ist kein gültiger Gleitkommawert"));
    EXPECT_EQ(shown[0].flags, unsigned(MB_OK | MB_ICONERROR));
    SetMessageBoxPresenter(previous);
}

TEST(MessageBoxTest, BeepsGoToTheInstalledHandlerAndTheDefaultNeedsNoApplication) {
    int beeps = 0;
    BeepHandler previous = SetBeepHandler([&] { ++beeps; });
    Beep();
    Beep();
    EXPECT_EQ(beeps, 2);
    SetBeepHandler({});
    Beep();  // no application: silent, no crash
    EXPECT_EQ(beeps, 2);
    SetBeepHandler(previous);
}

}  // namespace
}  // namespace velmora
