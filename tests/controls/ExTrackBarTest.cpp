#include "controls/ExTrackBar.h"
#include "tests/support/GuiTest.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace velmora {
namespace {

class ExTrackBarTest : public GuiTest {
protected:
    // ExTrackBar1 and ExTrackBar2 of the test console.
    static void Console(TExTrackBar& t, bool vertical) {
        if (vertical) {
            t.SetOrientation(trVertical);
            t.SetBounds(12, 28, 45, 153);
        } else {
            t.SetBounds(8, 20, 389, 45);
        }
        t.SetMax(9);
        t.SetFrequency(1);
        t.SetLabelsInterval(1);
        t.SetLabelsFactor(1);
        t.SetLabelsFactorOperation(foMul);
        t.SetColor(RGB(102, 161, 55));
    }
    static QSize TextSize(const TExTrackBar& t, const QString& s) {
        TCanvas c;
        c.SetFont(t.Font());
        return QSize(c.TextWidth(s), c.TextHeight(s));
    }
    // The pixels that the labels change: the bar drawn with labels against it drawn without.
    static QImage WithoutLabels(TExTrackBar& t) {
        t.SetLabels(false);
        QImage img = t.RenderImage();
        t.SetLabels(true);
        return img;
    }
    // Every changed pixel lies in one of the boxes, and every box holds changed pixels.
    static void ExpectInkOnlyIn(const QImage& with, const QImage& without,
                                const std::map<int, QRect>& boxes) {
        std::map<int, int> ink;
        for (int y = 0; y < with.height(); ++y) {
            for (int x = 0; x < with.width(); ++x) {
                if (with.pixel(x, y) == without.pixel(x, y)) {
                    continue;
                }
                bool inside = false;
                for (const auto& [v, box] : boxes) {
                    if (box.contains(x, y)) {
                        ++ink[v];
                        inside = true;
                    }
                }
                EXPECT_TRUE(inside) << "stray pixel at " << x << "," << y;
            }
        }
        for (const auto& [v, box] : boxes) {
            EXPECT_GT(ink[v], 0) << "no ink for the label of " << v;
        }
    }
};

TEST_F(ExTrackBarTest, InitialValues) {
    TExTrackBar t;
    EXPECT_EQ(t.Width(), 150);
    EXPECT_EQ(t.Height(), 45);
    EXPECT_TRUE(t.Labels());
    EXPECT_TRUE(t.LabelsFirstLast());
    EXPECT_EQ(t.LabelsLeftTop(), 30);
    EXPECT_EQ(t.LabelsText(), QString());
    EXPECT_EQ(t.LabelsFactor(), 1);
    EXPECT_EQ(t.LabelsFactorOperation(), foMul);
    EXPECT_EQ(t.LabelsInterval(), t.PageSize());
    EXPECT_EQ(t.LabelsInterval(), 2);
    EXPECT_FALSE(t.SelEnable());
}

TEST_F(ExTrackBarTest, TheConsoleBarsLabelEveryTickAndBothEnds) {
    for (bool vertical : {false, true}) {
        TExTrackBar t;
        Console(t, vertical);
        const TRect channel = t.ChannelRect();
        const TRect thumb = t.ThumbRect();
        const int extentLimit = vertical ? t.Height() : t.Width();
        std::map<int, QRect> boxes;
        for (int v = 0; v <= 9; ++v) {
            const QString text = QString::number(v);
            EXPECT_EQ(t.LabelText(v), text);
            const QSize size = TextSize(t, text);
            const int extent = vertical ? size.height() : size.width();
            int along;
            if (v == 0) {
                const int start = vertical ? channel.Top : channel.Left;
                along = std::max(
                    1, start + (vertical ? thumb.Height() : thumb.Width()) / 2 - extent / 2);
            } else if (v == 9) {
                const int end = vertical ? channel.Bottom : channel.Right;
                along = end - (vertical ? thumb.Height() : thumb.Width()) / 2 - extent / 2;
                if (along + extent >= extentLimit) {
                    along = extentLimit - extent - 1;
                }
            } else {
                along = t.TickPosition(v) - extent / 2;
            }
            const QPoint expected = vertical ? QPoint(30, along) : QPoint(along, 30);
            QPoint origin;
            ASSERT_TRUE(t.LabelOrigin(v, &origin)) << v;
            EXPECT_EQ(origin, expected) << "vertical " << vertical << " value " << v;
            boxes[v] = QRect(expected, size);
        }
        // The ends sit where the thumb's centre can go: the end labels are centred there too
        // (within a pixel of the tick).
        EXPECT_NEAR(boxes[0].center().x() * !vertical + boxes[0].center().y() * vertical,
                    t.TickPosition(0), 1);
        EXPECT_NEAR(boxes[9].center().x() * !vertical + boxes[9].center().y() * vertical,
                    t.TickPosition(9), 1);
        const QImage without = WithoutLabels(t);
        ExpectInkOnlyIn(t.RenderImage(), without, boxes);
    }
}

TEST_F(ExTrackBarTest, IntervalFactorOperationAndSuffix) {
    TExTrackBar t;
    Console(t, false);
    t.SetLabelsInterval(3);
    QPoint at;
    std::vector<int> labelled;
    for (int v = 0; v <= 9; ++v) {
        if (t.LabelOrigin(v, &at)) {
            labelled.push_back(v);
        }
    }
    EXPECT_EQ(labelled, (std::vector<int>{0, 3, 6, 9}));
    t.SetLabelsFirstLast(false);
    EXPECT_FALSE(t.LabelOrigin(0, &at));
    EXPECT_FALSE(t.LabelOrigin(9, &at));
    EXPECT_TRUE(t.LabelOrigin(6, &at));
    std::map<int, QRect> boxes;
    for (int v : {3, 6}) {
        t.LabelOrigin(v, &at);
        boxes[v] = QRect(at, TextSize(t, t.LabelText(v)));
    }
    const QImage without = WithoutLabels(t);
    ExpectInkOnlyIn(t.RenderImage(), without, boxes);

    t.SetLabelsFactorOperation(foDiv);
    t.SetLabelsFactor(2);
    EXPECT_EQ(t.LabelText(5), QStringLiteral("2"));  // 2.5: halves to even
    EXPECT_EQ(t.LabelText(7), QStringLiteral("4"));  // 3.5
    EXPECT_EQ(t.LabelText(3), QStringLiteral("2"));  // 1.5
    t.SetLabelsFactor(-2);
    EXPECT_EQ(t.LabelText(5), QStringLiteral("-2"));
    EXPECT_EQ(t.LabelText(1), QStringLiteral("0"));  // -0.5
    t.SetLabelsFactorOperation(foMul);
    t.SetLabelsFactor(10);
    t.SetLabelsText(QStringLiteral("%"));
    EXPECT_EQ(t.LabelText(5), QStringLiteral("50%"));
    t.SetLabelsFactor(1000000);
    EXPECT_EQ(t.LabelText(9000), QStringLiteral("9000000000%"));  // no overflow

    t.SetLabelsFactor(0);  // refused
    EXPECT_EQ(t.LabelsFactor(), 1000000);
    t.SetLabelsInterval(-3);
    EXPECT_EQ(t.LabelsInterval(), 1);
    t.SetLabelsInterval(0);
    EXPECT_EQ(t.LabelsInterval(), 1);
}

TEST_F(ExTrackBarTest, OtherTickStylesSwitchLabelsOffAtTheNextPaintAndLabelsBringTicksBack) {
    TExTrackBar t;
    Console(t, false);
    t.SetTickStyle(tsManual);
    EXPECT_TRUE(t.Labels());  // not yet
    const QImage img = t.RenderImage();
    EXPECT_FALSE(t.Labels());
    t.SetLabels(false);
    EXPECT_EQ(t.RenderImage(), img);  // that paint drew no labels

    t.SetTickMarks(tmTopLeft);
    t.SetTickStyle(tsNone);
    t.SetLabels(true);
    EXPECT_EQ(t.TickMarks(), tmBottomRight);
    EXPECT_EQ(t.TickStyle(), tsAuto);
    t.SetTickMarks(tmBoth);
    t.SetLabels(false);
    t.SetLabels(true);
    EXPECT_EQ(t.TickMarks(), tmBoth);  // only the top or left position moves
}

TEST_F(ExTrackBarTest, ADisabledBarWritesEachLabelTwiceEngraved) {
    TExTrackBar t;
    Console(t, false);
    t.SetEnabled(false);
    const QImage without = WithoutLabels(t);
    const QImage with = t.RenderImage();
    QImage expected = without;
    TCanvas c(&expected);
    c.Brush().SetStyle(bsClear);
    c.SetFont(t.Font());
    for (int v = 0; v <= 9; ++v) {
        QPoint at;
        ASSERT_TRUE(t.LabelOrigin(v, &at));
        c.Font().SetColor(clBtnHighlight);
        c.TextOut(at.x() + 1, at.y() + 1, t.LabelText(v));
        c.Font().SetColor(clBtnShadow);
        c.TextOut(at.x(), at.y(), t.LabelText(v));
    }
    EXPECT_EQ(with, expected);
    // Both colours show, the font's colour does not.
    bool highlight = false;
    bool shadow = false;
    for (int y = 30; y < with.height(); ++y) {
        for (int x = 0; x < with.width(); ++x) {
            const TColor p = FromQRgb(with.pixel(x, y)) & 0xFFFFFF;
            highlight |= p == ColorToRGB(clBtnHighlight);
            shadow |= p == ColorToRGB(clBtnShadow);
            EXPECT_NE(p, ColorToRGB(t.Font().Color()));
        }
    }
    EXPECT_TRUE(highlight);
    EXPECT_TRUE(shadow);
}

TEST_F(ExTrackBarTest, EndLabelsStayInsideTheBar) {
    TExTrackBar t;
    t.SetBounds(0, 0, 100, 45);
    t.SetMax(9);
    t.SetLabelsText(QStringLiteral(" Prozent"));
    const int tw9 = TextSize(t, t.LabelText(9)).width();
    const int tw0 = TextSize(t, t.LabelText(0)).width();
    QPoint at;
    ASSERT_TRUE(t.LabelOrigin(9, &at));
    EXPECT_EQ(at.x(), 100 - tw9 - 1);  // pulled left, ends one pixel before the edge
    ASSERT_TRUE(t.LabelOrigin(0, &at));
    EXPECT_EQ(at.x(), 1);  // at least 1
    EXPECT_GT(tw0 / 2, t.TickPosition(0));
}

TEST_F(ExTrackBarTest, PositionFromCodeAndSelEnable) {
    TExTrackBar t;
    Console(t, false);
    int changes = 0;
    t.OnChange = [&](TComponent*) { ++changes; };
    t.SetPosition(0);
    EXPECT_EQ(changes, 0);
    t.SetPosition(3);
    t.SetPosition(3);
    EXPECT_EQ(changes, 1);

    // SelEnable switches the selection range of the running control (it shows at the next
    // paint), not while the stored layout is loaded.
    t.SetPosition(9);
    t.SetSelStart(2);
    t.SetSelEnd(6);
    const TRect channel = t.ChannelRect();
    const int y = (channel.Top + channel.Bottom) / 2;
    const QRgb highlight = ToQRgb(ColorToRGB(clHighlight));
    auto selected = [&] { return t.RenderImage().pixel(t.TickPosition(4), y) == highlight; };
    EXPECT_FALSE(selected());
    t.BeginLoading();
    t.SetSelEnable(true);
    t.EndLoading();
    EXPECT_TRUE(t.SelEnable());
    EXPECT_FALSE(selected());
    t.SetSelEnable(false);
    t.SetSelEnable(true);
    EXPECT_TRUE(selected());
    t.SetSelEnable(false);
    EXPECT_FALSE(selected());
}

}  // namespace
}  // namespace velmora
