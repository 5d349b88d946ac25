#include "framework/Edit.h"
#include "tests/support/GuiTest.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

class EditTest : public GuiTest {
protected:
    static void Type(TEdit& e, int qtKey, const QString& text) {
        QKeyEvent down(QEvent::KeyPress, qtKey, Qt::NoModifier, text);
        QApplication::sendEvent(e.Editor(), &down);
    }
    static void Focus(TEdit& e, QEvent::Type type, Qt::FocusReason reason) {
        QFocusEvent event(type, reason);
        QApplication::sendEvent(e.Editor(), &event);
    }
};

TEST_F(EditTest, TypedKeysPassTheClassicHandlersWhichMayDropOrChangeThem) {
    TEdit e;
    e.OnKeyPress = [](TComponent*, QChar& key) {
        if (key == QLatin1Char('.')) {
            key = QLatin1Char(',');
        } else if (key == QLatin1Char('x')) {
            key = QChar();
        }
    };
    std::vector<int> downs;
    e.OnKeyDown = [&](TComponent*, int& key, TShiftState) {
        downs.push_back(key);
        if (key == VK_HOME) {
            key = 0;
        }
    };
    Type(e, Qt::Key_1, QStringLiteral("1"));
    Type(e, Qt::Key_Period, QStringLiteral("."));
    Type(e, Qt::Key_X, QStringLiteral("x"));
    Type(e, Qt::Key_5, QStringLiteral("5"));
    EXPECT_EQ(e.Text(), QStringLiteral("1,5"));
    Type(e, Qt::Key_Home, QString());  // swallowed: the caret stays at the end
    Type(e, Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_EQ(e.Text(), QStringLiteral("1,"));
    EXPECT_EQ(downs, (std::vector<int>{'1', 'X', '5', VK_HOME, VK_BACK}));

    // A handler that turns a character into backspace makes the edit delete.
    e.OnKeyPress = [](TComponent*, QChar& key) { key = QChar(8); };
    Type(e, Qt::Key_A, QStringLiteral("a"));
    EXPECT_EQ(e.Text(), QStringLiteral("1"));
}

TEST_F(EditTest, ChangeFollowsEveryNewTextAndFocusMovesRaiseEnterAndExit) {
    TEdit e;
    std::vector<QString> log;
    e.OnChange = [&](TComponent* s) {
        EXPECT_EQ(s, &e);
        log.push_back(e.Text());
    };
    e.OnEnter = [&](TComponent*) { log.push_back(QStringLiteral("enter")); };
    e.OnExit = [&](TComponent*) { log.push_back(QStringLiteral("exit")); };
    e.SetText(QStringLiteral("12"));
    e.SetText(QStringLiteral("12"));  // the same text: no change
    Type(e, Qt::Key_3, QStringLiteral("3"));
    e.Clear();
    Focus(e, QEvent::FocusIn, Qt::TabFocusReason);
    Focus(e, QEvent::FocusOut, Qt::ActiveWindowFocusReason);  // window deactivated
    Focus(e, QEvent::FocusOut, Qt::PopupFocusReason);         // context menu
    Focus(e, QEvent::FocusOut, Qt::MouseFocusReason);
    EXPECT_EQ(log, (std::vector<QString>{"12", "123", "", "enter", "exit"}));
}

TEST_F(EditTest, SelectionStartLengthAndLimits) {
    TEdit e;
    e.SetText(QStringLiteral("3,5"));
    e.SetSelStart(2);
    EXPECT_EQ(e.SelStart(), 2);
    EXPECT_EQ(e.SelLength(), 0);
    e.SetSelLength(3);  // limited to the text
    EXPECT_EQ(e.SelStart(), 2);
    EXPECT_EQ(e.SelLength(), 1);
    EXPECT_EQ(e.SelText(), QStringLiteral("5"));
    e.SetSelStart(99);
    EXPECT_EQ(e.SelStart(), 3);
    e.SetSelStart(-4);
    EXPECT_EQ(e.SelStart(), 0);
    e.SelectAll();
    EXPECT_EQ(e.SelLength(), 3);

    e.SetMaxLength(2);
    e.SetText(QStringLiteral("12345"));
    EXPECT_EQ(e.Text(), QStringLiteral("12"));
    e.SetMaxLength(0);
    e.SetText(QStringLiteral("12345"));
    EXPECT_EQ(e.Text(), QStringLiteral("12345"));
    e.SetReadOnly(true);
    Type(e, Qt::Key_6, QStringLiteral("6"));
    EXPECT_EQ(e.Text(), QStringLiteral("12345"));
}

TEST_F(EditTest, FontColourAndBackgroundReachTheEdit) {
    TEdit e;
    EXPECT_EQ(e.Color(), clWindow);
    EXPECT_FALSE(e.ParentColor());
    e.SetColor(clYellow);
    e.Font().SetColor(clRed);
    e.Font().SetName(QStringLiteral("Arial"));
    EXPECT_EQ(e.Editor()->palette().color(QPalette::Base), QColor(255, 255, 0));
    EXPECT_EQ(e.Editor()->palette().color(QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(e.Editor()->font(), e.Font().ToQFont());
    e.SetBounds(0, 0, 45, 22);
    EXPECT_EQ(e.Editor()->geometry(), QRect(0, 0, 45, 22));
}

}  // namespace
}  // namespace velmora
