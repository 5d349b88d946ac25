#include "controls/Credits.h"
#include "framework/WinControl.h"
#include "tests/support/GuiTest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace velmora {
namespace {

class CreditsTest : public GuiTest {
protected:
    static TColor At(const QImage& img, int x, int y) { return FromQRgb(img.pixel(x, y)); }

    // The font of the main window's credits: Tahoma, 8 point.
    static TFont Tahoma11(TColor color = clBlack) {
        TFont f;
        f.SetName(QStringLiteral("Tahoma"));
        f.SetHeight(-11);
        f.SetColor(color);
        return f;
    }

    // The picture the control should show: background, each line at its y in its own font
    // (centred), border. Lines are (text, font, y).
    struct Line {
        QString text;
        TFont font;
        int y;
    };
    static QImage Expected(int w, int h, TColor back, const std::vector<Line>& lines,
                           bool border = true, TColor borderColor = clWhite) {
        TBitmap b(w, h);
        TCanvas& c = b.Canvas();
        c.Brush().SetColor(back);
        c.FillRect(Rect(0, 0, w, h));
        c.Brush().SetStyle(bsClear);
        for (const Line& l : lines) {
            c.SetFont(l.font);
            c.TextOut(w / 2 - c.TextWidth(l.text) / 2, l.y, l.text);
        }
        if (border) {
            c.Pen().SetColor(borderColor);
            c.Rectangle(0, 0, w, h);
        }
        return b.Image();
    }
};

// ----- line codes

TEST_F(CreditsTest, CodesSetStyleAndAreRemoved) {
    TCreditLine l = ParseCreditLine(QStringLiteral("&b&uTScrollingCredits"));
    EXPECT_EQ(l.Text, QStringLiteral("TScrollingCredits"));
    EXPECT_TRUE(l.Bold);
    EXPECT_TRUE(l.Underline);
    EXPECT_FALSE(l.Italic);
    EXPECT_FALSE(l.HasColor);

    // Codes anywhere, either case, apply to the whole line.
    l = ParseCreditLine(QStringLiteral("Hello &IWor&Bld&U"));
    EXPECT_EQ(l.Text, QStringLiteral("Hello World"));
    EXPECT_TRUE(l.Bold && l.Italic && l.Underline);

    l = ParseCreditLine(QStringLiteral("And put that ampersand in with &&&&"));
    EXPECT_EQ(l.Text, QStringLiteral("And put that ampersand in with &&"));
    EXPECT_FALSE(l.Bold || l.Italic || l.Underline || l.HasColor);

    // Unknown codes and a trailing ampersand disappear with their character.
    l = ParseCreditLine(QStringLiteral("a&xb&"));
    EXPECT_EQ(l.Text, QStringLiteral("ab"));
    l = ParseCreditLine(QStringLiteral("&"));
    EXPECT_EQ(l.Text, QString());
    l = ParseCreditLine(QStringLiteral("&&&"));
    EXPECT_EQ(l.Text, QStringLiteral("&"));
}

TEST_F(CreditsTest, ColourCode) {
    TCreditLine l = ParseCreditLine(QStringLiteral("&c0,255,255;with &&c[red],[green],[blue];"));
    EXPECT_TRUE(l.HasColor);
    EXPECT_EQ(l.Color, RGB(0, 255, 255));
    EXPECT_EQ(l.Text, QStringLiteral("with &c[red],[green],[blue];"));

    l = ParseCreditLine(QStringLiteral("&C255,255,0;Make a line a different color"));
    EXPECT_EQ(l.Color, RGB(255, 255, 0));
    EXPECT_EQ(l.Text, QStringLiteral("Make a line a different color"));

    // The last colour code wins; blanks and a plus sign are read.
    l = ParseCreditLine(QStringLiteral("&c1,2,3;x&c +4 , 5 ,6 ;y"));
    EXPECT_EQ(l.Color, RGB(4, 5, 6));
    EXPECT_EQ(l.Text, QStringLiteral("xy"));
}

TEST_F(CreditsTest, DamagedColourCodesNeverReadPastTheLine) {
    // Out of range: clamped to 0..255, also far beyond any integer.
    TCreditLine l = ParseCreditLine(QStringLiteral("&c300,-5,99999999999999999999999;X"));
    EXPECT_TRUE(l.HasColor);
    EXPECT_EQ(l.Color, RGB(255, 0, 255));
    EXPECT_EQ(l.Text, QStringLiteral("X"));

    // Missing, surplus, empty or non-numeric components: the code goes, the colour stays.
    for (const char* text : {"&c255,0;X", "&c1,2,3,4;X", "&c,,;X", "&cab,1,2;X", "&c1,2,3x;X",
                             "&c;X", "&c-,1,2;X", "&c1,,2;X"}) {
        l = ParseCreditLine(QString::fromLatin1(text));
        EXPECT_FALSE(l.HasColor) << text;
        EXPECT_EQ(l.Text, QStringLiteral("X")) << text;
    }

    // No semicolon: not a colour code; the rest of the line is text.
    l = ParseCreditLine(QStringLiteral("&c255,0,0 red"));
    EXPECT_FALSE(l.HasColor);
    EXPECT_EQ(l.Text, QStringLiteral("255,0,0 red"));
    l = ParseCreditLine(QStringLiteral("end&c"));
    EXPECT_EQ(l.Text, QStringLiteral("end"));
    EXPECT_FALSE(l.HasColor);
}

// ----- the control

TEST_F(CreditsTest, ANewControlHoldsTheSampleLinesAndStandsStill) {
    TScrollingCredits s;
    EXPECT_EQ(s.BoundsRect(), Rect(0, 0, 305, 201));
    ASSERT_EQ(s.Credits().size(), 15);
    EXPECT_EQ(s.Credits()[8], QStringLiteral("&c0,255,255;with &&c[red],[green],[blue];"));
    EXPECT_EQ(s.CreditsFont().Name(), QStringLiteral("Tahoma"));
    EXPECT_EQ(s.Interval(), 50u);
    EXPECT_EQ(s.ScrollOffset(), 0);
    EXPECT_EQ(s.LastAnnounced(), -1);
    EXPECT_FALSE(s.TimerRunning());
}

TEST_F(CreditsTest, StillDisplayCentresEveryLineInItsFont) {
    TScrollingCredits s;
    s.SetBounds(0, 0, 160, 60);
    s.SetCreditsFont(Tahoma11(clWhite));
    TFont italic = Tahoma11(clWhite);
    italic.SetStyle(fsItalic | fsUnderline);
    s.SetCreditsFont(italic);
    s.SetCredits({QStringLiteral("&c255,0,0;Red & plain"), QStringLiteral("&bBold && not italic"),
                  QStringLiteral("&iitalic"), QStringLiteral("4th"), QStringLiteral("5th")});
    const int h = s.LineHeight();
    ASSERT_EQ(h, 13);

    TFont red = italic;
    red.SetColor(clRed);
    TFont bold = italic;
    bold.SetStyle(fsBold);  // bold alone: the base font's italic and underline are gone
    const QImage expected = Expected(160, 60, clBlack,
                                     {{QStringLiteral("Red plain"), red, 4},
                                      {QStringLiteral("Bold & not italic"), bold, 4 + h},
                                      {QStringLiteral("italic"), italic, 4 + 2 * h},
                                      {QStringLiteral("4th"), italic, 4 + 3 * h},
                                      {QStringLiteral("5th"), italic, 4 + 4 * h}});
    EXPECT_EQ(s.RenderImage(), expected);

    // The bold line really differs from a bold italic one.
    TFont boldItalic = bold;
    boldItalic.SetStyle(fsBold | fsItalic);
    EXPECT_NE(s.RenderImage(), Expected(160, 60, clBlack,
                                        {{QStringLiteral("Red plain"), red, 4},
                                         {QStringLiteral("Bold & not italic"), boldItalic, 4 + h},
                                         {QStringLiteral("italic"), italic, 4 + 2 * h},
                                         {QStringLiteral("4th"), italic, 4 + 3 * h},
                                         {QStringLiteral("5th"), italic, 4 + 4 * h}}));
}

TEST_F(CreditsTest, WideLineIsCentredOnItsMiddleAndCutAtBothSides) {
    TScrollingCredits s;
    s.SetBounds(0, 0, 40, 30);
    s.SetCreditsFont(Tahoma11(clYellow));
    const QString text = QStringLiteral("A line far wider than the control");
    s.SetCredits({text});
    s.SetShowBorder(false);
    const QImage img = s.RenderImage();
    EXPECT_EQ(img, Expected(40, 30, clBlack, {{text, Tahoma11(clYellow), 4}}, false));
    // Ink reaches both edges.
    bool left = false;
    bool right = false;
    for (int y = 4; y < 17; ++y) {
        left = left || At(img, 0, y) == clYellow || At(img, 1, y) == clYellow;
        right = right || At(img, 38, y) == clYellow || At(img, 39, y) == clYellow;
    }
    EXPECT_TRUE(left && right);
}

TEST_F(CreditsTest, BorderBackgroundColourAndPicture) {
    TScrollingCredits s;
    s.SetBounds(0, 0, 20, 10);
    s.SetCredits({});
    s.SetBackgroundColor(clNavy);
    s.SetBorderColor(clLime);
    QImage img = s.RenderImage();
    EXPECT_EQ(At(img, 0, 0), clLime);
    EXPECT_EQ(At(img, 19, 9), clLime);
    EXPECT_EQ(At(img, 10, 0), clLime);
    EXPECT_EQ(At(img, 1, 1), clNavy);
    EXPECT_EQ(At(img, 18, 8), clNavy);

    // A picture is stretched over the whole control instead of the colour.
    TBitmap picture(2, 1);
    picture.Canvas().SetPixels(0, 0, clRed);
    picture.Canvas().SetPixels(1, 0, clBlue);
    s.SetBackgroundImage(picture);
    s.SetShowBorder(false);
    img = s.RenderImage();
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(At(img, 0, y), clRed);
        EXPECT_EQ(At(img, 9, y), clRed);
        EXPECT_EQ(At(img, 10, y), clBlue);
        EXPECT_EQ(At(img, 19, y), clBlue);
    }
    // Clearing the picture brings the colour back.
    s.BackgroundImage().SetSize(0, 0);
    EXPECT_EQ(At(s.RenderImage(), 5, 5), clNavy);
}

// The main window's credits: 11 lines of 13 pixels in a control 81 pixels high.
TEST_F(CreditsTest, PassLengthOfTheMainWindowsCredits) {
    TScrollingCredits s;
    s.SetBounds(8, 176, 109, 81);
    s.SetCreditsFont(Tahoma11());
    QStringList lines;
    for (int i = 0; i < 11; ++i) {
        lines << QStringLiteral("Line %1").arg(i);
    }
    s.SetCredits(lines);
    ASSERT_EQ(s.LineHeight(), 13);
    int passes = 0;
    std::vector<int> offsetsAtEnd;
    s.AfterLastCredit = [&](TComponent* sender) {
        EXPECT_EQ(sender, &s);
        ++passes;
        offsetsAtEnd.push_back(s.ScrollOffset());
    };
    s.SetAnimate(true);
    // One line height of the control's canvas font below the bottom edge.
    EXPECT_EQ(s.ScrollOffset(), 81 + 13);
    EXPECT_TRUE(s.TimerRunning());

    int ticks = 0;
    while (passes == 0 && ticks < 1000) {
        s.DispatchTimer();
        ++ticks;
    }
    ASSERT_EQ(passes, 1);
    EXPECT_EQ(ticks, 94 + 144 + 1);  // 94 down to -144, then the tick that ends the pass
    EXPECT_EQ(offsetsAtEnd[0], -144);
    EXPECT_EQ(s.ScrollOffset(), 81);

    // Later passes run from 81 down to -144.
    int minimum = s.ScrollOffset();
    ticks = 0;
    while (passes == 1 && ticks < 1000) {
        minimum = std::min(minimum, s.ScrollOffset());
        s.DispatchTimer();
        ++ticks;
    }
    EXPECT_EQ(minimum, -144);
    EXPECT_EQ(ticks, 81 + 144 + 1);
    EXPECT_EQ(s.ScrollOffset(), 81);
}

TEST_F(CreditsTest, EveryLineIsAnnouncedOncePerPassWhenFirstDrawn) {
    TScrollingCredits s;
    s.SetBounds(0, 0, 109, 81);
    s.SetCreditsFont(Tahoma11());
    const QStringList lines = {QStringLiteral("&bFirst"), QString(), QStringLiteral("&&third"),
                               QStringLiteral("&c1,2,3;fourth"), QStringLiteral("fifth")};
    s.SetCredits(lines);
    const int h = s.LineHeight();
    using Announcements = std::vector<std::pair<QString, int>>;  // text, offset at the time
    Announcements announced;
    std::vector<Announcements> passes;
    s.OnShowCredit = [&](TComponent* sender, const QString& text) {
        EXPECT_EQ(sender, &s);
        announced.emplace_back(text, s.ScrollOffset());
    };
    s.AfterLastCredit = [&](TComponent*) {
        passes.push_back(announced);
        announced.clear();
    };

    s.SetAnimate(true);  // paints at once: the first line, still below the edge, is announced
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0], std::make_pair(QStringLiteral("First"), 81 + 13));

    while (passes.size() < 3) {
        s.DispatchTimer();
        s.RenderImage();  // painting again announces nothing new
    }
    const QStringList texts = {QStringLiteral("First"), QString(), QStringLiteral("&third"),
                               QStringLiteral("fourth"), QStringLiteral("fifth")};
    for (std::size_t p = 0; p < passes.size(); ++p) {
        ASSERT_EQ(passes[p].size(), 5u) << p;
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(passes[p][i].first, texts[i]) << p << " " << i;
            // Line i is reached once the line above it no longer reaches past the bottom.
            const int first = p == 0 ? 81 + 13 : 81;
            EXPECT_EQ(passes[p][i].second, i == 0 ? first : 81 - i * h) << p << " " << i;
        }
    }
    // The tick that ends a pass paints the new one: its first line is announced at once.
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0], std::make_pair(QStringLiteral("First"), 81));
}

TEST_F(CreditsTest, ScrollingPicture) {
    TScrollingCredits s;
    s.SetBounds(0, 0, 109, 40);
    s.SetCreditsFont(Tahoma11(clWhite));
    s.SetCredits({QStringLiteral("one"), QStringLiteral("&c0,255,0;two"), QStringLiteral("three"),
                  QStringLiteral("four")});
    s.SetAnimate(true);
    for (int i = 0; i < 40; ++i) {
        s.DispatchTimer();
    }
    const int y = s.ScrollOffset();
    EXPECT_EQ(y, 40 + 13 - 40);
    const TFont white = Tahoma11(clWhite);
    const TFont green = Tahoma11(clLime);
    EXPECT_EQ(s.RenderImage(), Expected(109, 40, clBlack,
                                        {{QStringLiteral("one"), white, y},
                                         {QStringLiteral("two"), green, y + 13},
                                         {QStringLiteral("three"), white, y + 26}}));
    // The display copies the off-screen picture.
    EXPECT_EQ(s.RenderImage(), s.Buffer().Image());

    // Switching scrolling off keeps the offset and shows the still display.
    s.SetAnimate(false);
    EXPECT_FALSE(s.TimerRunning());
    EXPECT_EQ(s.RenderImage(), Expected(109, 40, clBlack,
                                        {{QStringLiteral("one"), white, 4},
                                         {QStringLiteral("two"), green, 17},
                                         {QStringLiteral("three"), white, 30},
                                         {QStringLiteral("four"), white, 43}}));
}

TEST_F(CreditsTest, EveryFrameOfAPassShowsTheLinesInViewAtTheirPlace) {
    TScrollingCredits s;
    s.SetBounds(0, 0, 109, 81);
    s.SetCreditsFont(Tahoma11());
    s.SetBackgroundColor(RGB(102, 161, 55));
    const QStringList credits = {QStringLiteral("&bVelmora"), QStringLiteral("Relativtest"),
                                 QString(), QStringLiteral("&i&c255,0,0;Dank"),
                                 QStringLiteral("gjpqy Unterlängen")};
    s.SetCredits(credits);
    s.SetAnimate(true);
    TFont bold = Tahoma11();
    bold.SetStyle(fsBold);
    TFont red = Tahoma11(RGB(255, 0, 0));
    red.SetStyle(fsItalic);
    const std::vector<std::pair<QString, TFont>> lines = {
        {QStringLiteral("Velmora"), bold},
        {QStringLiteral("Relativtest"), Tahoma11()},
        {QString(), Tahoma11()},
        {QStringLiteral("Dank"), red},
        {QStringLiteral("gjpqy Unterlängen"), Tahoma11()}};
    for (int tick = 0; tick < 81 + 5 * 13 + 4; ++tick) {
        s.DispatchTimer();
        std::vector<Line> expected;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const int y = s.ScrollOffset() + int(i) * 13;
            if (y + 13 > 0 && y < 81 + 13) {
                expected.push_back({lines[i].first, lines[i].second, y});
            }
        }
        ASSERT_EQ(s.Buffer().Image(), Expected(109, 81, RGB(102, 161, 55), expected))
            << "tick " << tick << ", offset " << s.ScrollOffset();
    }
}

TEST_F(CreditsTest, EmptyListEndsAPassEveryHeightPlusTwoTicks) {
    TScrollingCredits s;
    s.SetBounds(0, 0, 50, 10);
    s.SetCreditsFont(Tahoma11());
    s.SetCredits({});
    std::vector<int> ends;
    int tick = 0;
    s.AfterLastCredit = [&](TComponent*) { ends.push_back(tick); };
    s.SetAnimate(true);
    EXPECT_EQ(s.ScrollOffset(), 10 + 13);
    for (tick = 1; tick <= 60; ++tick) {
        s.DispatchTimer();
    }
    // 23 down to -1, then the tick that finds -1; then every 10 + 2 ticks.
    EXPECT_EQ(ends, (std::vector<int>{25, 37, 49}));
}

TEST_F(CreditsTest, OwnVisibilityHidesAndStopsTheScroll) {
    TWinControl parent;
    parent.SetBounds(0, 0, 200, 100);
    parent.SetColor(clLime);
    TScrollingCredits s;
    s.SetParent(&parent);
    s.SetBounds(10, 10, 109, 81);
    s.SetAnimate(true);
    for (int i = 0; i < 30; ++i) {
        s.DispatchTimer();
    }
    ASSERT_GE(s.LastAnnounced(), 0);
    int announcements = 0;
    s.OnShowCredit = [&](TComponent*, const QString&) { ++announcements; };

    s.SetVisible(false);
    EXPECT_FALSE(s.Visible());
    EXPECT_FALSE(s.TimerRunning());
    EXPECT_EQ(s.ScrollOffset(), 81);
    EXPECT_EQ(s.LastAnnounced(), -1);
    // A hidden control draws nothing: the parent shows through.
    const QImage img = s.RenderImage();
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            ASSERT_EQ(At(img, x, y), clLime) << x << "," << y;
        }
    }
    s.DispatchTimer();
    EXPECT_EQ(announcements, 0);

    s.SetVisible(true);
    EXPECT_TRUE(s.TimerRunning());
    EXPECT_EQ(s.ScrollOffset(), 81);
    EXPECT_EQ(At(s.RenderImage(), 0, 0), clWhite);  // the border again
    EXPECT_EQ(announcements, 1);                    // the first line, below the edge

    // Setting the same value changes nothing.
    s.DispatchTimer();
    s.SetVisible(true);
    EXPECT_EQ(s.ScrollOffset(), 80);
}

TEST_F(CreditsTest, IntervalDrivesTheTimer) {
    TScrollingCredits s;
    s.SetInterval(70);
    EXPECT_EQ(s.Interval(), 70u);
    EXPECT_FALSE(s.TimerRunning());
    s.SetAnimate(true);
    EXPECT_TRUE(s.TimerRunning());
    // Zero stops the ticks instead of spinning.
    s.SetInterval(0);
    EXPECT_FALSE(s.TimerRunning());
    s.SetInterval(1);
    EXPECT_TRUE(s.TimerRunning());

    // The timer really scrolls, on this thread's event loop.
    const int start = s.ScrollOffset();
    QElapsedTimer clock;
    clock.start();
    while (s.ScrollOffset() > start - 3 && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    EXPECT_LE(s.ScrollOffset(), start - 3);
    s.SetAnimate(false);
    EXPECT_FALSE(s.TimerRunning());
}

TEST_F(CreditsTest, AnimateRestartsFromBelowTheBottomEdge) {
    TScrollingCredits s;
    s.SetBounds(0, 0, 100, 50);
    s.SetAnimate(true);
    for (int i = 0; i < 20; ++i) {
        s.DispatchTimer();
    }
    EXPECT_EQ(s.ScrollOffset(), 50 + 13 - 20);
    s.SetAnimate(false);
    EXPECT_EQ(s.ScrollOffset(), 63);  // the offset is set on every change
    s.SetAnimate(true);
    EXPECT_EQ(s.ScrollOffset(), 63);
}

}  // namespace
}  // namespace velmora
