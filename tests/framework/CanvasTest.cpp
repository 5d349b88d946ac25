#include "framework/Bitmap.h"
#include "framework/Canvas.h"
#include "tests/support/GuiTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace velmora {
namespace {

constexpr TColor kBack = RGB(200, 10, 10);

// A w x h bitmap filled with kBack, black 1-pixel pen, white brush.
struct Surface {
    TBitmap bmp;
    TCanvas& c;
    Surface(int w, int h) : bmp(w, h), c(bmp.Canvas()) {
        c.Brush().SetColor(kBack);
        c.FillRect(Rect(0, 0, w, h));
        c.Brush().SetColor(clWhite);
        c.Pen().SetColor(clBlack);
    }
    // Rows as text: '#' pen black, 'o' white, '.' background, '?' anything else.
    std::string Row(int y) const {
        std::string s;
        for (int x = 0; x < bmp.Width(); ++x) {
            const TColor p = c.Pixels(x, y);
            s += p == clBlack ? '#' : p == clWhite ? 'o' : p == kBack ? '.' : '?';
        }
        return s;
    }
};

TEST(ColorTest, NamedSystemAndRgbColours) {
    EXPECT_EQ(RGB(1, 2, 3), 0x030201u);
    EXPECT_EQ(clRed, RGB(255, 0, 0));
    EXPECT_EQ(clNavy, RGB(0, 0, 128));
    EXPECT_EQ(clBtnFace, 0x8000000Fu);
    EXPECT_EQ(ColorToRGB(clBtnFace), RGB(212, 208, 200));
    EXPECT_EQ(ColorToRGB(clWindowFrame), clBlack);
    EXPECT_EQ(ColorToRGB(clBtnShadow), RGB(128, 128, 128));
    EXPECT_EQ(ColorToRGB(clBtnHighlight), clWhite);
    EXPECT_EQ(ColorToRGB(clNone), clWhite);  // the low three bytes, as the platform takes it
    SetSystemColor(15, RGB(1, 2, 3));
    EXPECT_EQ(ColorToRGB(clBtnFace), RGB(1, 2, 3));
    ResetSystemColors();
    EXPECT_EQ(ColorToRGB(clBtnFace), RGB(212, 208, 200));
    EXPECT_EQ(ToQRgb(clRed), qRgb(255, 0, 0));
    EXPECT_EQ(FromQRgb(qRgb(0, 0, 255)), clBlue);
}

TEST(CanvasTest, RectangleCoversLeftTopToRightBottomExclusive) {
    Surface s(12, 12);
    s.c.Rectangle(0, 0, 10, 10);
    EXPECT_EQ(s.Row(0), "##########..");
    EXPECT_EQ(s.Row(1), "#oooooooo#..");
    EXPECT_EQ(s.Row(8), "#oooooooo#..");
    EXPECT_EQ(s.Row(9), "##########..");
    EXPECT_EQ(s.Row(10), "............");
}

TEST(CanvasTest, ClearPenFillsOnePixelLessAndClearBrushLeavesInside) {
    Surface s(6, 6);
    s.c.Pen().SetStyle(psClear);
    s.c.Rectangle(0, 0, 5, 5);
    EXPECT_EQ(s.Row(0), "oooo..");
    EXPECT_EQ(s.Row(3), "oooo..");
    EXPECT_EQ(s.Row(4), "......");

    Surface t(6, 6);
    t.c.Brush().SetStyle(bsClear);
    t.c.Rectangle(0, 0, 5, 5);
    EXPECT_EQ(t.Row(2), "#...#.");
    t.c.FillRect(Rect(0, 0, 6, 6));  // a clear brush fills nothing
    EXPECT_EQ(t.Row(2), "#...#.");
}

TEST(CanvasTest, LineToLeavesItsEndPointAndRoundsHalvesUp) {
    Surface s(8, 4);
    s.c.MoveTo(0, 0);
    s.c.LineTo(5, 0);
    EXPECT_EQ(s.Row(0), "#####...");
    EXPECT_EQ(s.c.PenPos(), QPoint(5, 0));

    Surface d(6, 4);
    d.c.MoveTo(0, 0);
    d.c.LineTo(4, 2);  // y = i * 2 / 4 with halves up: 0, 1, 1, 2
    EXPECT_EQ(d.Row(0), "#.....");
    EXPECT_EQ(d.Row(1), ".##...");
    EXPECT_EQ(d.Row(2), "...#..");

    Surface back(6, 3);  // right to left, steep lines and single steps
    back.c.MoveTo(5, 1);
    back.c.LineTo(0, 1);
    EXPECT_EQ(back.Row(1), ".#####");
    back.c.MoveTo(2, 2);
    back.c.LineTo(2, 2);  // no length: nothing
    EXPECT_EQ(back.Row(2), "......");
}

TEST(CanvasTest, WidePenCoversPixelsWithinHalfItsWidth) {
    Surface s(12, 10);
    s.c.Pen().SetWidth(2);
    s.c.MoveTo(2, 5);
    s.c.LineTo(8, 5);  // even width: along pixel corners, rows 4 and 5, round ends
    EXPECT_EQ(s.Row(3), "............");
    EXPECT_EQ(s.Row(4), ".########...");
    EXPECT_EQ(s.Row(5), ".########...");
    EXPECT_EQ(s.Row(6), "............");

    Surface t(12, 10);
    t.c.Pen().SetWidth(3);
    t.c.MoveTo(3, 5);
    t.c.LineTo(3, 5);  // a dot of diameter 3 centred on the pixel (corners at 1.41 < 1.5)
    EXPECT_EQ(t.Row(3), "............");
    EXPECT_EQ(t.Row(4), "..###.......");
    EXPECT_EQ(t.Row(6), "..###.......");
    EXPECT_EQ(t.Row(7), "............");
}

TEST(CanvasTest, WidePensFarOutsideTheImageDrawOnlyWhatReachesIt) {
    Surface s(12, 10);
    s.c.Pen().SetWidth(1 << 30);
    s.c.MoveTo(0, -2000000000);
    s.c.LineTo(5, -2000000000);  // half a width of 2^29 does not reach row 0
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(s.Row(y), "............") << y;
    }
    s.c.MoveTo(6, -1000000000);
    s.c.LineTo(6, 2000000000);  // a band over the whole image
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(s.Row(y), "############") << y;
    }
}

TEST(CanvasTest, WideLinesMatchTheDistanceRuleEverywhere) {
    // The rule, pixel by pixel: centre closer than width / 2 to the segment.
    for (int width = 2; width <= 5; ++width) {
        for (int k = 0; k < 24; ++k) {
            const int x0 = (k * 7) % 23;
            const int y0 = (k * 11) % 19;
            const int x1 = (k * 13 + 5) % 23;
            const int y1 = (k * 5 + 3) % 19;
            Surface s(24, 20);
            s.c.Pen().SetWidth(width);
            s.c.MoveTo(x0, y0);
            s.c.LineTo(x1, y1);
            const double shift = width % 2 == 0 ? 0.0 : 0.5;
            const double ax = x0 + shift;
            const double ay = y0 + shift;
            const double vx = x1 - x0;
            const double vy = y1 - y0;
            const double len2 = vx * vx + vy * vy;
            for (int y = 0; y < 20; ++y) {
                for (int x = 0; x < 24; ++x) {
                    const double px = x + 0.5 - ax;
                    const double py = y + 0.5 - ay;
                    const double t =
                        len2 > 0 ? std::clamp((px * vx + py * vy) / len2, 0.0, 1.0) : 0.0;
                    const double ex = px - t * vx;
                    const double ey = py - t * vy;
                    const bool expected = ex * ex + ey * ey < width * width / 4.0;
                    ASSERT_EQ(s.c.Pixels(x, y) == clBlack, expected)
                        << "width " << width << " line " << x0 << "," << y0 << "-" << x1 << ","
                        << y1 << " pixel " << x << "," << y;
                }
            }
        }
    }
}

TEST(CanvasTest, DashedPenFollowsThePattern) {
    Surface s(30, 1);
    s.c.Pen().SetStyle(psDot);
    s.c.MoveTo(0, 0);
    s.c.LineTo(30, 0);
    EXPECT_EQ(s.Row(0), "###...###...###...###...###...");
}

TEST(CanvasTest, EllipseIsSymmetricAndTouchesItsBox) {
    Surface s(12, 12);
    s.c.Ellipse(0, 0, 10, 10);
    EXPECT_EQ(s.Row(0), "...####.....");
    EXPECT_EQ(s.Row(4), "#oooooooo#..");
    EXPECT_EQ(s.Row(9), "...####.....");
    EXPECT_EQ(s.Row(10), "............");
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            ASSERT_EQ(s.c.Pixels(x, y), s.c.Pixels(9 - x, y)) << x << "," << y;
            ASSERT_EQ(s.c.Pixels(x, y), s.c.Pixels(x, 9 - y)) << x << "," << y;
            ASSERT_EQ(s.c.Pixels(x, y), s.c.Pixels(y, x)) << x << "," << y;
        }
    }
    // The outline is thin: no interior pixel is black, no black pixel lacks an outside neighbour.
    EXPECT_EQ(s.Row(1), ".##oooo##...");

    Surface tiny(4, 4);
    tiny.c.Ellipse(1, 1, 3, 3);  // a 2 x 2 box gives a 2 x 2 dot
    EXPECT_EQ(tiny.Row(0), "....");
    EXPECT_EQ(tiny.Row(1), ".##.");
    EXPECT_EQ(tiny.Row(2), ".##.");
}

TEST(CanvasTest, RoundRectCutsItsCornersWithQuarterEllipses) {
    Surface s(22, 22);
    s.c.RoundRect(0, 0, 20, 20, 10, 10);
    // corner rows as the 10 x 10 ellipse: starts at 3, 1, 1, 0
    EXPECT_EQ(s.Row(0), "...##############.....");
    EXPECT_EQ(s.Row(1), ".##oooooooooooooo##...");
    EXPECT_EQ(s.Row(2), ".#oooooooooooooooo#...");
    EXPECT_EQ(s.Row(3), "#oooooooooooooooooo#..");
    EXPECT_EQ(s.Row(10), "#oooooooooooooooooo#..");
    EXPECT_EQ(s.Row(19), "...##############.....");

    Surface square(6, 6);
    square.c.RoundRect(0, 0, 5, 5, 0, 0);  // no corners: a rectangle
    EXPECT_EQ(square.Row(0), "#####.");
}

TEST(CanvasTest, ArcRunsCounterClockwiseFromStartRayToEndRay) {
    Surface s(22, 22);
    s.c.Arc(0, 0, 20, 20, 20, 10, 10, 0);  // right to top: the upper right quarter
    EXPECT_EQ(s.c.Pixels(19, 9), clBlack);
    EXPECT_EQ(s.c.Pixels(10, 0), clBlack);
    EXPECT_EQ(s.c.Pixels(9, 0), kBack);
    EXPECT_EQ(s.c.Pixels(19, 10), kBack);
    EXPECT_EQ(s.c.Pixels(0, 9), kBack);
    EXPECT_EQ(s.c.Pixels(9, 19), kBack);

    Surface r(22, 22);
    r.c.Arc(0, 0, 20, 20, 10, 0, 20, 10);  // top to right the long way round
    EXPECT_EQ(r.c.Pixels(19, 9), kBack);
    EXPECT_EQ(r.c.Pixels(9, 0), clBlack);
    EXPECT_EQ(r.c.Pixels(0, 9), clBlack);
    EXPECT_EQ(r.c.Pixels(9, 19), clBlack);
    EXPECT_EQ(r.c.Pixels(19, 10), clBlack);

    Surface full(22, 22);
    full.c.Arc(0, 0, 20, 20, 15, 0, 15, 0);  // same ray: the whole ellipse
    Surface ellipse(22, 22);
    ellipse.c.Brush().SetStyle(bsClear);
    ellipse.c.Ellipse(0, 0, 20, 20);
    EXPECT_EQ(full.bmp.Image(), ellipse.bmp.Image());
}

TEST(CanvasTest, ArcLargerThanTheImageDrawsWhatTheWholeEllipseDrawsThere) {
    for (const int width : {1, 4, 7}) {
        Surface arc(40, 30);
        arc.c.Pen().SetWidth(width);
        arc.c.Arc(-300, 12, 320, 500, 5, 0, 5, 0);  // same ray: the whole ellipse
        Surface ellipse(40, 30);
        ellipse.c.Pen().SetWidth(width);
        ellipse.c.Brush().SetStyle(bsClear);
        ellipse.c.Ellipse(-300, 12, 320, 500);
        EXPECT_EQ(arc.bmp.Image(), ellipse.bmp.Image()) << width;
        EXPECT_EQ(arc.c.Pixels(20, 12 - (width - 1) / 2), clBlack) << width;
    }
}

TEST(CanvasTest, ArcOfAHugeRadiusDrawsOnlyTheImage) {
    // A circle of radius 10^9 whose top passes through row 20: flat across the image.
    Surface s(40, 40);
    s.c.Pen().SetWidth(3);
    s.c.Arc(20 - 1000000000, 20, 20 + 1000000000, 2000000020, 20, 0, 20, 0);
    for (int x = 0; x < 40; ++x) {
        EXPECT_EQ(s.c.Pixels(x, 18), kBack) << x;
        EXPECT_EQ(s.c.Pixels(x, 19), clBlack) << x;
        EXPECT_EQ(s.c.Pixels(x, 21), clBlack) << x;
        EXPECT_EQ(s.c.Pixels(x, 22), kBack) << x;
    }
}

TEST(CanvasTest, WideArcIsABandAroundTheCircle) {
    Surface s(30, 30);
    s.c.Pen().SetWidth(4);
    s.c.Arc(5, 5, 25, 25, 25, 15, 5, 15);  // upper half, width 4 grows the box by 1
    std::string column;
    for (int y = 0; y < 10; ++y) {
        column += s.c.Pixels(15, y) == clBlack ? '#' : '.';
    }
    EXPECT_EQ(column, "....####..");
    EXPECT_EQ(s.c.Pixels(15, 26), kBack);  // lower half untouched
}

TEST(CanvasTest, PolygonFillsInsideAndOutlinesEveryEdge) {
    Surface s(12, 12);
    s.c.Brush().SetColor(clWhite);
    s.c.Polygon({QPoint(0, 0), QPoint(10, 0), QPoint(0, 10)});
    EXPECT_EQ(s.Row(0), "###########.");
    EXPECT_EQ(s.Row(2), "#ooooooo#...");
    EXPECT_EQ(s.Row(10), "#...........");
    EXPECT_EQ(s.Row(11), "............");
    EXPECT_EQ(s.c.PenPos(), QPoint(0, 0));  // a polygon leaves the pen position alone
}

TEST(CanvasTest, PenModesMixWithTheDestination) {
    Surface s(4, 1);
    s.c.Pen().SetColor(RGB(0xFF, 0x0F, 0x00));
    s.c.Pen().SetMode(pmXor);
    s.c.MoveTo(0, 0);
    s.c.LineTo(2, 0);
    EXPECT_EQ(s.c.Pixels(0, 0), kBack ^ RGB(0xFF, 0x0F, 0x00));
    s.c.MoveTo(0, 0);
    s.c.LineTo(2, 0);
    EXPECT_EQ(s.c.Pixels(0, 0), kBack);
    s.c.Pen().SetMode(pmNot);
    s.c.MoveTo(0, 0);
    s.c.LineTo(1, 0);
    EXPECT_EQ(s.c.Pixels(0, 0), ~kBack & 0xFFFFFFu);
    s.c.Pen().SetMode(pmMask);
    s.c.Pen().SetColor(RGB(0x0F, 0xFF, 0xFF));
    s.c.MoveTo(2, 0);
    s.c.LineTo(3, 0);
    EXPECT_EQ(s.c.Pixels(2, 0), kBack & RGB(0x0F, 0xFF, 0xFF));
}

TEST(CanvasTest, PixelsOutsideTheImageAreInvalidAndIgnored) {
    Surface s(3, 3);
    EXPECT_EQ(s.c.Pixels(-1, 0), CLR_INVALID);
    EXPECT_EQ(s.c.Pixels(3, 0), CLR_INVALID);
    s.c.SetPixels(5, 5, clBlack);
    s.c.SetPixels(1, 1, clBtnFace);
    EXPECT_EQ(s.c.Pixels(1, 1), RGB(212, 208, 200));
    s.c.Rectangle(-5, -5, 50, 50);  // clipped, nothing breaks
    EXPECT_EQ(s.c.Pixels(1, 1), clWhite);
}

// Shapes much larger than the image draw exactly the part that falls inside it.
TEST(CanvasTest, ShapesFarLargerThanTheImageAreClippedExactly) {
    Surface s(6, 4);
    s.c.Rectangle(-1000000, 1, 1000000, 1000000);
    EXPECT_EQ(s.Row(0), "......");
    EXPECT_EQ(s.Row(1), "######");
    EXPECT_EQ(s.Row(2), "oooooo");
    EXPECT_EQ(s.Row(3), "oooooo");

    Surface e(6, 4);
    e.c.Pen().SetWidth(3);
    // Grown by 1 for the pen: the top edge at row 1, nearly flat here, 3 pixels thick.
    e.c.Ellipse(-200000, 2, 200006, 400000);
    EXPECT_EQ(e.Row(0), "......");
    EXPECT_EQ(e.Row(1), "######");
    EXPECT_EQ(e.Row(3), "######");

    Surface p(6, 4);
    // Edges of slope nearly 1 meet at (3, 2).
    p.c.Polygon({QPoint(-500000, -500000), QPoint(500000, -500000), QPoint(3, 2)});
    EXPECT_EQ(p.Row(0), ".#ooo#");
    EXPECT_EQ(p.Row(1), "..#o#.");
    EXPECT_EQ(p.Row(2), "...#..");
    EXPECT_EQ(p.Row(3), "......");
}

TEST(CanvasTest, BlockCopiesCombineWithTheRasterOperations) {
    TBitmap src(4, 1);
    TBitmap dst(4, 1);
    const TColor s0 = RGB(0xF0, 0x0F, 0xAA);
    const TColor d0 = RGB(0x3C, 0x3C, 0x55);
    struct Case {
        TRasterOp rop;
        TColor expected;
    };
    const Case cases[] = {
        {SRCCOPY, s0},
        {SRCAND, s0 & d0},
        {SRCPAINT, s0 | d0},
        {SRCINVERT, s0 ^ d0},
        {SRCANDNOT, d0 & ~s0 & 0xFFFFFF},
        {SRCERASE, s0 & ~d0 & 0xFFFFFF},
        {NOTSRCCOPY, ~s0 & 0xFFFFFF},
        {DSTINVERT, ~d0 & 0xFFFFFF},
        {MERGEPAINT, (~s0 | d0) & 0xFFFFFF},
        {BLACKNESS, clBlack},
        {WHITENESS, clWhite},
    };
    for (const Case& c : cases) {
        src.Canvas().SetPixels(0, 0, s0);
        dst.Canvas().SetPixels(0, 0, d0);
        BitBlt(dst.Canvas(), 0, 0, 1, 1, src.Canvas(), 0, 0, c.rop);
        EXPECT_EQ(dst.Canvas().Pixels(0, 0), c.expected) << std::hex << c.rop;
    }
}

TEST(CanvasTest, BlockCopyIsClippedToBothImages) {
    TBitmap src(3, 3);
    src.Canvas().Brush().SetColor(clRed);
    src.Canvas().FillRect(Rect(0, 0, 3, 3));
    TBitmap dst(4, 4);
    dst.Canvas().Brush().SetColor(clWhite);
    dst.Canvas().FillRect(Rect(0, 0, 4, 4));
    BitBlt(dst.Canvas(), -1, 2, 10, 10, src.Canvas(), 0, 0, SRCCOPY);
    // source columns 1..2 land on 0..1, source rows 0..1 on rows 2..3
    EXPECT_EQ(dst.Canvas().Pixels(0, 2), clRed);
    EXPECT_EQ(dst.Canvas().Pixels(1, 3), clRed);
    EXPECT_EQ(dst.Canvas().Pixels(2, 2), clWhite);
    EXPECT_EQ(dst.Canvas().Pixels(0, 1), clWhite);
    BitBlt(dst.Canvas(), 0, 0, 2, 2, src.Canvas(), -5, -5, SRCCOPY);  // nothing of the source
    EXPECT_EQ(dst.Canvas().Pixels(0, 0), clWhite);
}

TEST(CanvasTest, CopyRectStretchesByNearestPixel) {
    TBitmap src(2, 1);
    src.Canvas().SetPixels(0, 0, clRed);
    src.Canvas().SetPixels(1, 0, clBlue);
    TBitmap dst(4, 2);
    dst.Canvas().CopyRect(Rect(0, 0, 4, 2), src.Canvas(), Rect(0, 0, 2, 1));
    EXPECT_EQ(dst.Canvas().Pixels(1, 1), clRed);
    EXPECT_EQ(dst.Canvas().Pixels(2, 0), clBlue);
}

class CanvasTextTest : public GuiTest {};

TEST_F(CanvasTextTest, OpaqueTextFillsItsCellAndTransparentTextLeavesTheBackground) {
    Surface opaque(60, 20);
    opaque.c.Font().SetName(QStringLiteral("Arial"));
    opaque.c.Brush().SetColor(clYellow);
    opaque.c.TextOut(2, 2, QStringLiteral("Ag"));
    const int w = opaque.c.TextWidth(QStringLiteral("Ag"));
    const int h = opaque.c.TextHeight(QStringLiteral("Ag"));
    ASSERT_GT(w, 5);
    ASSERT_GT(h, 10);
    int ink = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 60; ++x) {
            const TColor p = opaque.c.Pixels(x, y);
            const bool inCell = x >= 2 && x < 2 + w && y >= 2 && y < 2 + h;
            if (!inCell) {
                ASSERT_EQ(p, kBack) << x << "," << y;
            } else {
                ASSERT_TRUE(p == clYellow || p == clBlack) << x << "," << y;  // no antialiasing
                ink += p == clBlack;
            }
        }
    }
    EXPECT_GT(ink, 10);
    EXPECT_EQ(opaque.c.PenPos(), QPoint(2 + w, 2));

    Surface clear(60, 20);
    clear.c.Font().SetName(QStringLiteral("Arial"));
    clear.c.Brush().SetStyle(bsClear);
    clear.c.TextOut(2, 2, QStringLiteral("Ag"));
    int inkClear = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 60; ++x) {
            const TColor p = clear.c.Pixels(x, y);
            ASSERT_TRUE(p == kBack || p == clBlack);
            inkClear += p == clBlack;
        }
    }
    EXPECT_EQ(inkClear, ink);  // the same glyph pixels
}

TEST_F(CanvasTextTest, TextSitsOnTheBaselineOfItsCell) {
    for (const char* name : {"Arial", "MS Sans Serif"}) {
        Surface s(30, 30);
        s.c.Font().SetName(QString::fromLatin1(name));
        s.c.Brush().SetStyle(bsClear);
        s.c.TextOut(3, 5, QStringLiteral("H"));
        int lowest = -1;
        for (int y = 0; y < 30; ++y) {
            lowest = s.Row(y).find('#') != std::string::npos ? y : lowest;
        }
        EXPECT_EQ(lowest, 5 + s.c.Font().CellAscent() - 1) << name;
        EXPECT_EQ(s.c.TextHeight(QStringLiteral("H")), s.c.Font().CellHeight()) << name;
    }
}

TEST_F(CanvasTextTest, TextMeasures) {
    TBitmap b(10, 10);
    TCanvas& c = b.Canvas();
    EXPECT_EQ(c.TextWidth(QString()), 0);
    EXPECT_GT(c.TextWidth(QStringLiteral("WW")), c.TextWidth(QStringLiteral("W")));
    c.Font().SetHeight(-22);
    const int big = c.TextHeight(QStringLiteral("H"));
    c.Font().SetHeight(-11);
    EXPECT_GT(big, c.TextHeight(QStringLiteral("H")) + 8);
}

TEST_F(CanvasTextTest, DrawTextCentresSingleLinesAsTextOutWould) {
    const QString text = QStringLiteral("Mitte");
    Surface a(80, 30);
    a.c.Brush().SetStyle(bsClear);
    TRect r = Rect(0, 0, 80, 30);
    a.c.DrawText(text, r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    Surface b(80, 30);
    b.c.Brush().SetStyle(bsClear);
    b.c.TextOut((80 - b.c.TextWidth(text)) / 2, (30 - b.c.TextHeight(text)) / 2, text);
    EXPECT_EQ(a.bmp.Image(), b.bmp.Image());

    Surface right(80, 30);
    right.c.Brush().SetStyle(bsClear);
    right.c.DrawText(text, r, DT_SINGLELINE | DT_RIGHT | DT_BOTTOM);
    Surface ref(80, 30);
    ref.c.Brush().SetStyle(bsClear);
    ref.c.TextOut(80 - ref.c.TextWidth(text), 30 - ref.c.TextHeight(text), text);
    EXPECT_EQ(right.bmp.Image(), ref.bmp.Image());
}

TEST_F(CanvasTextTest, DrawTextBreaksWordsAndMeasures) {
    TBitmap b(100, 100);
    TCanvas& c = b.Canvas();
    const int lh = c.TextHeight(QStringLiteral("H"));
    const int wide = c.TextWidth(QStringLiteral("Bericht erstellen"));

    TRect r = Rect(5, 5, 5 + wide, 50);
    EXPECT_EQ(c.DrawText(QStringLiteral("Bericht erstellen"), r, DT_WORDBREAK | DT_CALCRECT), lh);
    EXPECT_EQ(r.Bottom, 5 + lh);
    EXPECT_EQ(r.Right, 5 + wide);

    r = Rect(5, 5, 5 + wide - 1, 50);  // one pixel too narrow: two lines
    EXPECT_EQ(c.DrawText(QStringLiteral("Bericht erstellen"), r, DT_WORDBREAK | DT_CALCRECT),
              2 * lh);
    EXPECT_EQ(r.Right, 5 + c.TextWidth(QStringLiteral("erstellen")));

    r = Rect(0, 0, 3, 50);  // a word wider than the box stays whole on its line
    EXPECT_EQ(c.DrawText(QStringLiteral("Bericht"), r, DT_WORDBREAK | DT_CALCRECT), lh);
    EXPECT_EQ(r.Right, c.TextWidth(QStringLiteral("Bericht")));

    r = Rect(0, 0, 200, 50);  // explicit line breaks, and prefixes
    EXPECT_EQ(c.DrawText(QStringLiteral("Bericht\nerstellen"), r, DT_WORDBREAK | DT_CALCRECT),
              2 * lh);
    r = Rect(0, 0, 200, 50);
    c.DrawText(QStringLiteral("A&&B"), r, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(r.Right, c.TextWidth(QStringLiteral("A&B")));
    r = Rect(0, 0, 200, 50);
    c.DrawText(QStringLiteral("A&&B"), r, DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
    EXPECT_EQ(r.Right, c.TextWidth(QStringLiteral("A&&B")));
}

TEST_F(CanvasTextTest, DrawTextClipsToItsRectangle) {
    Surface s(60, 20);
    s.c.Brush().SetStyle(bsClear);
    TRect r = Rect(0, 0, 6, 20);
    s.c.DrawText(QStringLiteral("WWWWWW"), r, DT_SINGLELINE);
    for (int y = 0; y < 20; ++y) {
        for (int x = 6; x < 60; ++x) {
            ASSERT_EQ(s.c.Pixels(x, y), kBack);
        }
    }
}

}  // namespace
}  // namespace velmora
