#include "framework/TrackBar.h"
#include "tests/support/GuiTest.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSlider>

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

class TrackBarTest : public GuiTest {
protected:
    static void Press(QWidget* w, int qtKey) {
        QKeyEvent down(QEvent::KeyPress, qtKey, Qt::NoModifier);
        QApplication::sendEvent(w, &down);
    }
    static void Click(QWidget* w, QPoint p) {
        QMouseEvent down(QEvent::MouseButtonPress, QPointF(p), w->mapToGlobal(QPointF(p)),
                         Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &down);
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(p), w->mapToGlobal(QPointF(p)),
                       Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &up);
    }
};

TEST_F(TrackBarTest, InitialValuesAndRange) {
    TTrackBar t;
    EXPECT_EQ(t.Width(), 150);
    EXPECT_EQ(t.Height(), 45);
    EXPECT_EQ(t.Min(), 0);
    EXPECT_EQ(t.Max(), 10);
    EXPECT_EQ(t.Position(), 0);
    EXPECT_EQ(t.Orientation(), trHorizontal);
    EXPECT_EQ(t.Frequency(), 1);
    EXPECT_EQ(t.LineSize(), 1);
    EXPECT_EQ(t.PageSize(), 2);
    EXPECT_EQ(t.TickMarks(), tmBottomRight);
    EXPECT_EQ(t.TickStyle(), tsAuto);
    EXPECT_TRUE(t.TabStop());

    t.SetMax(-1);  // below Min: ignored
    EXPECT_EQ(t.Max(), 10);
    t.SetMin(11);
    EXPECT_EQ(t.Min(), 0);
    t.SetMax(9);
    EXPECT_EQ(t.Max(), 9);

    t.SetOrientation(trVertical);  // a new orientation turns the bar
    EXPECT_EQ(t.Width(), 45);
    EXPECT_EQ(t.Height(), 150);
}

TEST_F(TrackBarTest, PositionFromCodeAnnouncesOnlyAChange) {
    TTrackBar t;
    t.SetMax(9);
    std::vector<int> seen;
    t.OnChange = [&](TComponent* sender) {
        EXPECT_EQ(sender, &t);
        seen.push_back(t.Position());
    };
    t.SetPosition(3);
    t.SetPosition(3);
    t.SetPosition(42);  // clamped to 9
    t.SetPosition(9);
    t.SetPosition(-5);
    EXPECT_EQ(seen, (std::vector<int>{3, 9, 0}));
}

TEST_F(TrackBarTest, KeysMoveByLineAndPageLikeTheClassicControl) {
    for (TTrackBarOrientation o : {trHorizontal, trVertical}) {
        TTrackBar t;
        t.SetOrientation(o);
        t.SetMax(9);
        t.SetPosition(4);
        Press(&t, Qt::Key_Right);
        EXPECT_EQ(t.Position(), 5);
        Press(&t, Qt::Key_Down);
        EXPECT_EQ(t.Position(), 6);
        Press(&t, Qt::Key_Up);
        Press(&t, Qt::Key_Left);
        EXPECT_EQ(t.Position(), 4);
        Press(&t, Qt::Key_PageDown);
        EXPECT_EQ(t.Position(), 6);
        Press(&t, Qt::Key_PageUp);
        Press(&t, Qt::Key_PageUp);
        EXPECT_EQ(t.Position(), 2);
        Press(&t, Qt::Key_End);
        EXPECT_EQ(t.Position(), 9);
        Press(&t, Qt::Key_PageDown);
        EXPECT_EQ(t.Position(), 9);
        Press(&t, Qt::Key_Home);
        EXPECT_EQ(t.Position(), 0);
        Press(&t, Qt::Key_Left);
        EXPECT_EQ(t.Position(), 0);
    }
    // A key swallowed by OnKeyDown does not move it.
    TTrackBar t;
    t.OnKeyDown = [](TComponent*, int& key, TShiftState) { key = 0; };
    Press(&t, Qt::Key_End);
    EXPECT_EQ(t.Position(), 0);
}

TEST_F(TrackBarTest, APressOnTheChannelPagesTowardItAndThumbFollows) {
    TTrackBar t;
    t.SetBounds(0, 0, 389, 45);
    t.SetMax(9);
    const TRect thumb0 = t.ThumbRect();
    EXPECT_EQ(thumb0.Left, t.ChannelRect().Left);
    QSlider* s = t.Slider();
    const QPoint inSlider(t.TickPosition(8) - s->x(), thumb0.Top + thumb0.Height() / 2 - s->y());
    Click(s, inSlider);
    EXPECT_EQ(t.Position(), 2);
    const TRect thumb2 = t.ThumbRect();
    EXPECT_EQ((thumb2.Left + thumb2.Right) / 2, t.TickPosition(2));
    const QPoint back(t.TickPosition(0) - s->x(), inSlider.y());
    Click(s, back);
    EXPECT_EQ(t.Position(), 0);
}

TEST_F(TrackBarTest, TicksAreDrawnWhereTickPositionSays) {
    // A tick is a short line across the axis beside the thumb; on a plain background the
    // column (or row) of every tick holds pixels that differ from the background, the
    // columns halfway between two ticks hold none in the tick band.
    for (TTrackBarOrientation o : {trHorizontal, trVertical}) {
        TTrackBar t;
        t.SetOrientation(o);
        t.SetColor(clWhite);
        if (o == trHorizontal) {
            t.SetBounds(0, 0, 389, 45);
        } else {
            t.SetBounds(0, 0, 45, 153);
        }
        t.SetMax(9);
        t.SetPosition(9);  // thumb away from the tick at 0
        const QImage img = t.RenderImage();
        const TRect thumb = t.ThumbRect();
        // The band beyond the thumb where the ticks are (bottom or right).
        auto inkAt = [&](int along) {
            int ink = 0;
            for (int across = (o == trHorizontal ? thumb.Bottom : thumb.Right);
                 across < (o == trHorizontal ? t.Height() : t.Width()); ++across) {
                const QRgb p =
                    o == trHorizontal ? img.pixel(along, across) : img.pixel(across, along);
                ink += p != qRgb(255, 255, 255);
            }
            return ink;
        };
        for (int v = 0; v < 9; ++v) {
            EXPECT_GT(inkAt(t.TickPosition(v)), 0) << o << " " << v;
            EXPECT_EQ(inkAt((t.TickPosition(v) + t.TickPosition(v + 1)) / 2), 0) << o << " " << v;
        }
        EXPECT_EQ(t.RenderImage(), img);  // the same picture at every paint
        // Min is at the left or the top.
        EXPECT_LT(t.TickPosition(0), t.TickPosition(9));
        const TRect channel = t.ChannelRect();
        EXPECT_GE(t.TickPosition(0), o == trHorizontal ? channel.Left : channel.Top);
    }
}

TEST_F(TrackBarTest, TickStyleNoneDrawsNoTicks) {
    TTrackBar t;
    t.SetColor(clWhite);
    t.SetTickStyle(tsNone);
    const QImage img = t.RenderImage();
    const TRect thumb = t.ThumbRect();
    for (int y = thumb.Bottom; y < t.Height(); ++y) {
        for (int x = 0; x < t.Width(); ++x) {
            ASSERT_EQ(img.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
        }
    }
}

}  // namespace
}  // namespace velmora
