#include "controls/NumEdit.h"
#include "framework/MessageBox.h"
#include "tests/support/GuiTest.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace velmora {
namespace {

// Under German settings, with beeps and message boxes recorded.
class NumEditTest : public GuiTest {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        previousBeep_ = SetBeepHandler([this] { ++beeps; });
        previousPresenter_ = SetMessageBoxPresenter([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            return IDOK;
        });
    }
    void TearDown() override {
        SetBeepHandler(previousBeep_);
        SetMessageBoxPresenter(previousPresenter_);
        QLocale::setDefault(QLocale::c());
    }

    static void Type(TNumEdit& e, const QString& keys) {
        for (QChar k : keys) {
            int key = Qt::Key_unknown;
            if (k.isDigit()) {
                key = Qt::Key_0 + (k.unicode() - '0');
            } else if (k == QLatin1Char('\b')) {
                key = Qt::Key_Backspace;
            } else if (k == QLatin1Char(',')) {
                key = Qt::Key_Comma;
            } else if (k == QLatin1Char('-')) {
                key = Qt::Key_Minus;
            } else if (k.isLetter()) {
                key = Qt::Key_A + (k.toUpper().unicode() - 'A');
            }
            QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, QString(k));
            QApplication::sendEvent(e.Editor(), &down);
        }
    }
    static void Focus(TNumEdit& e, QEvent::Type type) {
        QFocusEvent event(type, Qt::TabFocusReason);
        QApplication::sendEvent(e.Editor(), &event);
    }
    static void Leave(TNumEdit& e) { Focus(e, QEvent::FocusOut); }

    int beeps = 0;
    std::vector<MessageBoxRequest> boxes;

private:
    BeepHandler previousBeep_;
    MessageBoxPresenter previousPresenter_;
};

TEST_F(NumEditTest, InitialValues) {
    TNumEdit e;
    EXPECT_EQ(e.Text(), QStringLiteral("0"));
    EXPECT_FALSE(e.AutoRounding());
    EXPECT_EQ(e.RoundingDecimals(), 0);
    EXPECT_FALSE(e.Round());
    EXPECT_TRUE(e.Editor()->alignment() & Qt::AlignRight);
}

TEST_F(NumEditTest, KeyFilterDigitsLettersAndBackspace) {
    TNumEdit e;
    e.Clear();
    Type(e, QStringLiteral("12"));
    EXPECT_EQ(e.Text(), QStringLiteral("12"));
    EXPECT_EQ(beeps, 0);
    Type(e, QStringLiteral("a"));
    EXPECT_EQ(e.Text(), QStringLiteral("12"));
    EXPECT_EQ(beeps, 1);
    Type(e, QStringLiteral("."));  // not the separator under German settings
    EXPECT_EQ(e.Text(), QStringLiteral("12"));
    EXPECT_EQ(beeps, 2);
    Type(e, QStringLiteral("\b"));
    EXPECT_EQ(e.Text(), QStringLiteral("1"));
    EXPECT_EQ(beeps, 2);

    // The key is filtered after OnKeyPress, which may change it.
    e.OnKeyPress = [](TComponent*, QChar& k) {
        if (k == QLatin1Char('.')) {
            k = QLatin1Char(',');
        }
    };
    Type(e, QStringLiteral(".5"));
    EXPECT_EQ(e.Text(), QStringLiteral("1,5"));
    EXPECT_EQ(beeps, 2);
}

TEST_F(NumEditTest, MinusSignOnlyOnceAndOnlyAtTheStart) {
    TNumEdit e;
    e.SetText(QStringLiteral("12"));
    e.SetSelStart(2);
    Type(e, QStringLiteral("-"));
    EXPECT_EQ(e.Text(), QStringLiteral("12"));
    EXPECT_EQ(beeps, 1);
    e.SetSelStart(0);
    Type(e, QStringLiteral("-"));
    EXPECT_EQ(e.Text(), QStringLiteral("-12"));
    e.SetSelStart(0);
    Type(e, QStringLiteral("-"));  // a second one is dropped silently
    EXPECT_EQ(e.Text(), QStringLiteral("-12"));
    EXPECT_EQ(beeps, 1);
}

TEST_F(NumEditTest, ASecondSeparatorSelectsWhatFollowsTheFirst) {
    TNumEdit e;
    e.SetText(QStringLiteral("3,5"));
    e.SetSelStart(1);
    Type(e, QStringLiteral(","));
    EXPECT_EQ(e.Text(), QStringLiteral("3,5"));
    EXPECT_EQ(e.SelStart(), 2);
    EXPECT_EQ(e.SelLength(), 1);
    EXPECT_EQ(e.SelText(), QStringLiteral("5"));
    EXPECT_EQ(beeps, 0);
    Type(e, QStringLiteral("7"));  // replaces the selection
    EXPECT_EQ(e.Text(), QStringLiteral("3,7"));
    // A separator anywhere is fine once.
    e.SetText(QStringLiteral("35"));
    e.SetSelStart(0);
    Type(e, QStringLiteral(","));
    EXPECT_EQ(e.Text(), QStringLiteral(",35"));
}

TEST_F(NumEditTest, LeavingTheBoxRoundsHalvesAwayFromZero) {
    TNumEdit e;
    e.SetRound(true);
    e.SetRoundingDecimals(2);
    const struct {
        const char* typed;
        int decimals;
        const char* shown;
    } cases[] = {
        {"3,14159", 2, "3,14"}, {"2", 2, "2,00"},     {"2,5", 0, "3"},      {"-2,5", 0, "-3"},
        {"0,125", 2, "0,13"},   {"2,675", 2, "2,68"}, {"1,005", 2, "1,01"}, {"-0,001", 2, "0,00"},
        {"9,995", 2, "10,00"},  {",5", 0, "1"},       {"7,", 1, "7,0"},     {"0", 3, "0,000"},
    };
    for (const auto& c : cases) {
        e.Clear();
        e.SetRoundingDecimals(c.decimals);
        Type(e, QString::fromUtf8(c.typed));
        EXPECT_EQ(e.Text(), QString::fromUtf8(c.typed)) << "typing is never disturbed";
        Leave(e);
        EXPECT_EQ(e.Text(), QString::fromUtf8(c.shown)) << c.typed;
    }
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(NumEditTest, TextSetByTheProgramIsFormattedAtOnceOnlyWhenNoKeyWasTyped) {
    TNumEdit e;
    e.SetRound(true);
    e.SetRoundingDecimals(2);
    e.SetText(QStringLiteral("7"));
    EXPECT_EQ(e.Text(), QStringLiteral("7,00"));
    Type(e, QStringLiteral("\b\b\b\b5"));
    e.SetText(QStringLiteral("8"));  // a key was typed since the last formatting
    EXPECT_EQ(e.Text(), QStringLiteral("8"));
    Leave(e);
    EXPECT_EQ(e.Text(), QStringLiteral("8,00"));
    e.SetText(QStringLiteral("9,999"));
    EXPECT_EQ(e.Text(), QStringLiteral("10,00"));
    e.Clear();  // an empty text is never formatted
    EXPECT_EQ(e.Text(), QString());
    Leave(e);
    EXPECT_EQ(e.Text(), QString());
    // A rejected key clears the typed state too.
    Type(e, QStringLiteral("x"));
    e.SetText(QStringLiteral("1"));
    EXPECT_EQ(e.Text(), QStringLiteral("1,00"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(NumEditTest, WithoutRoundNothingIsReformattedAndFocusArrivalNeedsAutoRounding) {
    TNumEdit e;
    e.SetRoundingDecimals(2);
    e.SetText(QStringLiteral("7"));
    Focus(e, QEvent::FocusIn);
    Leave(e);
    EXPECT_EQ(e.Text(), QStringLiteral("7"));

    e.SetRound(true);
    Type(e, QStringLiteral("5"));
    Focus(e, QEvent::FocusIn);
    EXPECT_EQ(e.Text(), QStringLiteral("75"));
    e.SetAutoRounding(true);
    Focus(e, QEvent::FocusIn);
    EXPECT_EQ(e.Text(), QStringLiteral("75,00"));
}

TEST_F(NumEditTest, NoEventsOfItsOwnForChangeEnterAndExit) {
    TNumEdit e;
    int events = 0;
    e.OnChange = [&](TComponent*) { ++events; };
    e.OnEnter = [&](TComponent*) { ++events; };
    e.OnExit = [&](TComponent*) { ++events; };
    Type(e, QStringLiteral("12"));
    e.SetText(QStringLiteral("3"));
    Focus(e, QEvent::FocusIn);
    Leave(e);
    EXPECT_EQ(events, 0);
}

TEST_F(NumEditTest, ATextThatIsNoNumberIsReportedAndKept) {
    TNumEdit e;
    e.SetRound(true);
    for (const char* text : {"-", ",", "-,"}) {
        boxes.clear();
        e.Clear();
        Type(e, QString::fromUtf8(text));
        Leave(e);
        EXPECT_EQ(e.Text(), QString::fromUtf8(text));
        ASSERT_EQ(boxes.size(), 1u) << text;
        EXPECT_EQ(
            boxes[0].text,
            QStringLiteral("'%1' ist kein gültiger Gleitkommawert").arg(QString::fromUtf8(text)));
        EXPECT_EQ(boxes[0].caption, ApplicationTitle());
        EXPECT_EQ(boxes[0].flags, unsigned(MB_OK | MB_ICONERROR));
    }
}

TEST_F(NumEditTest, PastedTextIsNotFilteredAndNeverCrashesIt) {
    TNumEdit e;
    e.SetRound(true);
    e.SetRoundingDecimals(1);
    e.Clear();
    e.Editor()->insert(QStringLiteral("abc"));  // as a paste does
    EXPECT_EQ(e.Text(), QStringLiteral("abc"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("'abc' ist kein gültiger Gleitkommawert"));

    const QString huge(400, QLatin1Char('9'));
    e.Clear();
    e.Editor()->insert(huge);  // beyond the floating-point range
    EXPECT_EQ(e.Text(), huge);
    EXPECT_EQ(boxes.size(), 2u);

    e.Clear();
    e.Editor()->insert(QStringLiteral(" 1,25e2 "));
    EXPECT_EQ(e.Text(), QStringLiteral("125,0"));
    e.Clear();
    e.Editor()->insert(QStringLiteral("1e-400"));
    EXPECT_EQ(e.Text(), QStringLiteral("0,0"));
    e.Clear();
    e.Editor()->insert(QStringLiteral("1e308"));
    EXPECT_EQ(e.Text().size(), 309 + 2);
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(NumEditTest, ConversionAndFormattingRules) {
    double v = 0;
    EXPECT_TRUE(TNumEdit::TextToFloat(QStringLiteral(" 12,5 "), &v));
    EXPECT_EQ(v, 12.5);
    EXPECT_TRUE(TNumEdit::TextToFloat(QStringLiteral("+3"), &v));
    EXPECT_EQ(v, 3.0);
    EXPECT_TRUE(TNumEdit::TextToFloat(QStringLiteral("-1E3"), &v));
    EXPECT_EQ(v, -1000.0);
    EXPECT_TRUE(TNumEdit::TextToFloat(QStringLiteral("5,"), &v));
    EXPECT_EQ(v, 5.0);
    for (const char* bad : {"", "  ", "1.5", "1,2,3", "--1", "1e", "1e+", "e5", "1 2", "0x10",
                            "inf", "nan", "1e999"}) {
        EXPECT_FALSE(TNumEdit::TextToFloat(QString::fromUtf8(bad), &v)) << bad;
    }
    const QChar comma = QLatin1Char(',');
    EXPECT_EQ(TNumEdit::FormatFixed(2.5, 0, comma), QStringLiteral("3"));
    EXPECT_EQ(TNumEdit::FormatFixed(-0.5, 0, comma), QStringLiteral("-1"));
    EXPECT_EQ(TNumEdit::FormatFixed(0.4, 0, comma), QStringLiteral("0"));
    EXPECT_EQ(TNumEdit::FormatFixed(-0.4, 0, comma), QStringLiteral("0"));
    EXPECT_EQ(TNumEdit::FormatFixed(999.96, 1, comma), QStringLiteral("1000,0"));
    EXPECT_EQ(TNumEdit::FormatFixed(1e20, 0, comma), QStringLiteral("100000000000000000000"));
    EXPECT_EQ(TNumEdit::FormatFixed(0.0005, 3, QLatin1Char('.')), QStringLiteral("0.001"));
    EXPECT_EQ(TNumEdit::FormatFixed(0.0004, 3, comma), QStringLiteral("0,000"));
    EXPECT_EQ(TNumEdit::FormatFixed(1.5, -3, comma), QStringLiteral("2"));  // at least 0
    EXPECT_EQ(TNumEdit::FormatFixed(1.5, 99, comma),
              QStringLiteral("1,500000000000000000"));  // at most 18
}

TEST_F(NumEditTest, FormatFixedOfAValueThatIsNoNumberNamesIt) {
    const QChar comma = QLatin1Char(',');
    EXPECT_EQ(TNumEdit::FormatFixed(std::numeric_limits<double>::quiet_NaN(), 2, comma),
              QStringLiteral("NAN"));
    EXPECT_EQ(TNumEdit::FormatFixed(std::numeric_limits<double>::infinity(), 0, comma),
              QStringLiteral("INF"));
    EXPECT_EQ(TNumEdit::FormatFixed(-std::numeric_limits<double>::infinity(), 3, comma),
              QStringLiteral("-INF"));
}

}  // namespace
}  // namespace velmora
