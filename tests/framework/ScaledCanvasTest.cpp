// The canvas on a picture of a pixel ratio above 1: the ratio-1 drawing on a finer grid.
#include "framework/Bitmap.h"
#include "framework/Canvas.h"
#include "framework/ScaledRaster.h"
#include "tests/support/GuiTest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace velmora {
namespace {

constexpr TColor kBack = RGB(200, 210, 220);

// A bitmap of w x h at a ratio, filled with kBack.
TBitmap Picture(int w, int h, double ratio) {
    TBitmap bitmap;
    bitmap.SetPixelRatio(ratio);
    bitmap.SetSize(w, h);
    bitmap.Canvas().Brush().SetColor(kBack);
    bitmap.Canvas().FillRect(Rect(0, 0, w, h));
    return bitmap;
}

// The ratio-1 picture on the grid of a ratio: each device pixel in its logical pixel's colour.
QImage OnGrid(const QImage& one, double ratio) {
    const DeviceGrid grid(ratio);
    QImage out(grid.DeviceSize(one.width(), one.height()), QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            out.setPixel(x, y,
                         one.pixel(int(std::floor(grid.Unmap(x + 0.5))),
                                   int(std::floor(grid.Unmap(y + 0.5)))));
        }
    }
    return out;
}

TEST(DeviceGridTest, LogicalEdgesFallOnWholeDevicePixels) {
    struct Case {
        double ratio;
        int logical;
        int device;
    };
    for (const Case& c : {Case{2, 3, 6}, Case{1.5, 1, 2}, Case{1.5, 2, 3}, Case{1.5, 3, 5},
                          Case{1.5, -1, -1}, Case{1.25, 1, 1}, Case{1.25, 2, 3}, Case{1.25, 3, 4},
                          Case{1.1, 10, 11}, Case{1.5, 873, 1310}, Case{1.5, 569, 854}}) {
        SCOPED_TRACE(testing::Message() << c.ratio << " " << c.logical);
        const DeviceGrid grid(c.ratio);
        EXPECT_EQ(grid.Edge(c.logical), c.device);
        EXPECT_EQ(grid.Map(c.logical + 0.5), (grid.Edge(c.logical) + grid.Edge(c.logical + 1)) / 2);
        EXPECT_DOUBLE_EQ(grid.Unmap(grid.Map(c.logical + 0.3)), c.logical + 0.3);
        EXPECT_EQ(grid.Logical(int(grid.Edge(std::abs(c.logical)))), std::abs(c.logical));
    }
}

// Rectangles, frames, fills, lines along the axes (dashed too), single pixels and block copies:
// at any ratio exactly the ratio-1 pixels on the finer grid, sharp, raster operations included.
// (A wide pen rounds a rectangle's corners, which are then antialiased; a block copy takes device
// pixels, which between places of another phase of the grid, an odd pixel apart at 1.5, moves the
// grid by up to a device pixel.)
TEST(ScaledCanvasTest, StraightDrawingIsTheRatioOnePictureOnTheGrid) {
    const auto draw = [](TCanvas& c) {
        c.Brush().SetColor(clYellow);
        c.FillRect(Rect(1, 1, 9, 4));
        c.FrameRect(Rect(2, 5, 12, 9));
        c.Pen().SetColor(clNavy);
        c.Rectangle(12, 1, 20, 8);
        c.Pen().SetWidth(3);
        c.Pen().SetStyle(psInsideFrame);
        c.Rectangle(22, 1, 44, 10);
        c.Pen().SetStyle(psClear);
        c.Rectangle(1, 10, 8, 15);
        c.Pen().SetStyle(psSolid);
        c.Pen().SetWidth(1);
        c.MoveTo(45, 2);
        c.LineTo(45, 14);  // down
        c.LineTo(58, 14);  // right
        c.LineTo(58, 3);   // up: the end pixels are left out
        c.Pen().SetStyle(psDash);
        c.MoveTo(59, 13);
        c.LineTo(1, 13);  // left, dashed
        c.Pen().SetStyle(psDot);
        c.MoveTo(10, 16);
        c.LineTo(10, 3);
        c.Pen().SetStyle(psSolid);
        c.Pen().SetMode(pmXor);
        c.Pen().SetColor(clWhite);
        c.Brush().SetColor(clFuchsia);
        c.Rectangle(5, 2, 30, 7);
        c.MoveTo(0, 6);
        c.LineTo(60, 6);
        c.Pen().SetMode(pmCopy);
        c.SetPixels(40, 14, clRed);
        BitBlt(c, 48, 4, 6, 6, c, 0, 0, SRCCOPY);  // at places on the same phase of the grid
        BitBlt(c, 30, 13, 8, 3, c, 0, 0, DSTINVERT);
    };
    TBitmap one = Picture(60, 17, 1);
    draw(one.Canvas());
    for (const double ratio : {2.0, 1.5, 1.25}) {
        SCOPED_TRACE(ratio);
        TBitmap scaled = Picture(60, 17, ratio);
        draw(scaled.Canvas());
        EXPECT_EQ(scaled.Width(), 60);
        EXPECT_EQ(scaled.Canvas().ImageWidth(), 60);
        QImage device = scaled.Image();
        device.setDevicePixelRatio(1);
        EXPECT_EQ(device, OnGrid(one.Image(), ratio));
        EXPECT_EQ(scaled.Canvas().Pixels(40, 14), clRed);
        EXPECT_EQ(scaled.Canvas().Pixels(60, 0), CLR_INVALID);
    }
}

// The ink of a picture against the background: the sum over its pixels of how far each is from
// kBack (1 for a pixel of the pen colour), and where its centre lies, in logical pixels.
struct Ink {
    double amount = 0;
    double x = 0;
    double y = 0;
    bool blended = false;  // pixels between the background and the colour drawn
};

Ink InkOf(const QImage& picture, double ratio, TColor colour) {
    const QRgb back = ToQRgb(kBack);
    const QRgb ink = ToQRgb(colour);
    const double full = std::abs(qRed(ink) - qRed(back)) + std::abs(qGreen(ink) - qGreen(back)) +
                        std::abs(qBlue(ink) - qBlue(back));
    // A device pixel's place and area in logical pixels (one or two device pixels to a logical
    // one at 1.5).
    const DeviceGrid grid(ratio);
    Ink result;
    for (int y = 0; y < picture.height(); ++y) {
        const double height = grid.Unmap(y + 1) - grid.Unmap(y);
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            const double share =
                (std::abs(qRed(p) - qRed(back)) + std::abs(qGreen(p) - qGreen(back)) +
                 std::abs(qBlue(p) - qBlue(back))) /
                full * height * (grid.Unmap(x + 1) - grid.Unmap(x));
            result.amount += share;
            result.x += share * grid.Unmap(x + 0.5);
            result.y += share * grid.Unmap(y + 0.5);
            result.blended = result.blended || (p != back && p != ink);
        }
    }
    result.x /= result.amount;
    result.y /= result.amount;
    return result;
}

struct Shape {
    std::string name;
    std::function<void(TCanvas&)> draw;
    // How far its ink's centre may lie from where it is at 1, in logical pixels, and by how much
    // its amount may differ: text starts on a whole device pixel (at 1.5 up to a third of a pixel
    // off), and its glyphs are drawn from outlines rather than from the bitmaps of small sizes.
    double place = 0.15;
    double ink = 0.1;
};

void PrintTo(const Shape& s, std::ostream* os) {
    *os << s.name;
}

class ScaledShapes : public GuiTestOf<::testing::TestWithParam<Shape>> {};

// Curves, slanted lines and text at 2 and 1.5: antialiased, as much ink as at 1 (what a slanted
// line of one pixel has: a pixel per step), centred where it is at 1.
TEST_P(ScaledShapes, AntialiasedWithTheInkAndPlaceOfTheRatioOnePicture) {
    TBitmap one = Picture(40, 30, 1);
    one.Canvas().Pen().SetColor(clBlack);
    one.Canvas().Brush().SetColor(clBlack);
    GetParam().draw(one.Canvas());
    const Ink at1 = InkOf(one.Image(), 1, clBlack);
    for (const double ratio : {2.0, 1.5}) {
        SCOPED_TRACE(ratio);
        TBitmap scaled = Picture(40, 30, ratio);
        scaled.Canvas().Pen().SetColor(clBlack);
        scaled.Canvas().Brush().SetColor(clBlack);
        GetParam().draw(scaled.Canvas());
        const Ink ink = InkOf(scaled.Image(), ratio, clBlack);
        EXPECT_TRUE(ink.blended);
        EXPECT_NEAR(ink.amount / at1.amount, 1.0, GetParam().ink);
        EXPECT_NEAR(ink.x, at1.x, GetParam().place);
        EXPECT_NEAR(ink.y, at1.y, GetParam().place);
    }
}

std::vector<Shape> Shapes() {
    return {
        {"Ellipse", [](TCanvas& c) { c.Ellipse(3, 4, 30, 22); }},
        {"EllipseBorder",
         [](TCanvas& c) {
             c.Brush().SetStyle(bsClear);
             c.Pen().SetWidth(3);
             c.Ellipse(5, 5, 33, 25);
         }},
        {"RoundRect",
         [](TCanvas& c) {
             c.Brush().SetColor(kBack);
             c.RoundRect(2, 3, 36, 27, 16, 12);
         }},
        {"Arc",
         [](TCanvas& c) {
             c.Pen().SetWidth(4);
             c.Arc(4, 4, 36, 36, 36, 4, 4, 20);
         }},
        {"Polygon",
         [](TCanvas& c) {
             c.Pen().SetStyle(psClear);  // the fill alone
             c.Polygon({{3, 3}, {35, 10}, {12, 27}});
         }},
        {"SlantedLine",
         [](TCanvas& c) {
             c.MoveTo(2, 3);
             c.LineTo(37, 19);
         }},
        {"SteepDashedLine",
         [](TCanvas& c) {
             c.Pen().SetStyle(psDashDot);
             c.MoveTo(30, 28);
             c.LineTo(18, 1);
         }},
        {"WideLine",
         [](TCanvas& c) {
             c.Pen().SetWidth(2);
             c.MoveTo(4, 25);
             c.LineTo(34, 6);
         }},
        {"Text",
         [](TCanvas& c) {
             c.Brush().SetStyle(bsClear);
             c.Font().SetColor(clBlack);
             c.Font().SetName(QStringLiteral("Arial"));
             c.Font().SetStyle(fsBold);
             c.TextOut(3, 8, QStringLiteral("Hz"));
         },
         0.5, 0.2},
    };
}

INSTANTIATE_TEST_SUITE_P(Canvas, ScaledShapes, ::testing::ValuesIn(Shapes()),
                         [](const auto& info) { return info.param.name; });

// Shapes far larger than the picture, or far outside it, cost no more than the picture and draw
// what falls into it, as at 1: the device pixels agree with the ratio-1 pixels on the grid except
// where antialiasing mixes a few along the edges.
class ScaledCanvasText : public GuiTest {};

TEST_F(ScaledCanvasText, ShapesFarBeyondThePictureDrawWhatFallsIntoIt) {
    const std::function<void(TCanvas&)> draws[] = {
        [](TCanvas& c) {
            c.Pen().SetWidth(3);
            c.Arc(20 - 1000000000, 20, 20 + 1000000000, 2000000020, 20, 0, 20, 0);
        },
        [](TCanvas& c) {
            c.Pen().SetWidth(3);
            c.Ellipse(-200000, 2, 200006, 400000);
        },
        [](TCanvas& c) {
            c.Polygon({{-500000, -500000}, {500000, -500000}, {30, 20}});
        },
        [](TCanvas& c) {
            c.Pen().SetWidth(1 << 30);
            c.MoveTo(6, -1000000000);
            c.LineTo(6, 2000000000);
        },
        [](TCanvas& c) {
            c.MoveTo(-100000, -100000);  // (at 1 a thin line costs its length)
            c.LineTo(100000, 100000);
            c.TextOut(2000000000, 5, QStringLiteral("far"));
            c.Rectangle(-1000000, 1, 1000000, 1000000);
        },
    };
    for (const auto& draw : draws) {
        TBitmap one = Picture(40, 30, 1);
        one.Canvas().Pen().SetColor(clBlack);
        draw(one.Canvas());
        for (const double ratio : {2.0, 1.5}) {
            TBitmap scaled = Picture(40, 30, ratio);
            scaled.Canvas().Pen().SetColor(clBlack);
            draw(scaled.Canvas());
            const QImage expected = OnGrid(one.Image(), ratio);
            int same = 0;
            for (int y = 0; y < expected.height(); ++y) {
                for (int x = 0; x < expected.width(); ++x) {
                    same += scaled.Image().pixel(x, y) == expected.pixel(x, y);
                }
            }
            EXPECT_GT(same, 0.9 * expected.width() * expected.height()) << ratio;
        }
    }
}

// Modes other than pmCopy act on whole device pixels: pmXor drawn twice leaves the picture as it
// was, pmNot inverts without mixing.
TEST(ScaledCanvasTest, RasterOperationsActOnCoveredPixelsOnly) {
    TBitmap picture = Picture(30, 20, 1.5);
    TCanvas& c = picture.Canvas();
    for (int x = 0; x < 30; x += 3) {
        c.Brush().SetColor(RGB(x * 8, 255 - x * 8, 90));
        c.FillRect(Rect(x, 0, x + 2, 20));
    }
    const QImage before = picture.Image().copy();
    c.Pen().SetMode(pmXor);
    c.Pen().SetColor(RGB(90, 200, 17));
    c.Brush().SetColor(RGB(1, 2, 3));
    for (int pass = 0; pass < 2; ++pass) {
        c.Ellipse(2, 2, 25, 17);
        c.Polygon({{1, 18}, {15, 1}, {28, 18}});
        c.MoveTo(0, 19);
        c.LineTo(29, 0);
    }
    EXPECT_EQ(picture.Image(), before);
    c.Pen().SetMode(pmNot);
    c.Ellipse(2, 2, 25, 17);
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            const QRgb was = before.pixel(x, y);
            const QRgb now = picture.Image().pixel(x, y);
            ASSERT_TRUE(now == was || now == (~was | 0xFF000000u)) << x << "," << y;
        }
    }
}

// Block copies between pictures of one ratio copy device pixels; a picture of another ratio is
// stretched to its logical size: smoothly when copied, by nearest pixel when it is a mask.
TEST(ScaledCanvasTest, PicturesOfAnotherRatioTakeTheirLogicalSize) {
    TBitmap source = Picture(10, 10, 2);
    source.Canvas().Pen().SetColor(clRed);
    source.Canvas().Ellipse(1, 1, 9, 9);
    TBitmap copy = Picture(10, 10, 2);
    BitBlt(copy.Canvas(), 0, 0, 10, 10, source.Canvas(), 0, 0, SRCCOPY);
    EXPECT_EQ(copy.Image(), source.Image());

    QImage checker(4, 4, QImage::Format_RGB32);  // ratio 1
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            checker.setPixel(x, y, (x + y) % 2 ? 0xFF000000u : 0xFFFFFFFFu);
        }
    }
    TBitmap target = Picture(10, 10, 2);
    target.Canvas().Draw(3, 2, checker);
    const QImage& drawn = target.Image();
    EXPECT_EQ(drawn.pixel(5, 3), ToQRgb(kBack));    // left of it
    EXPECT_EQ(drawn.pixel(14, 12), ToQRgb(kBack));  // below and right of it
    bool blended = false;
    for (int y = 4; y < 12; ++y) {
        for (int x = 6; x < 14; ++x) {
            EXPECT_NE(drawn.pixel(x, y), ToQRgb(kBack));
            blended = blended || (drawn.pixel(x, y) != 0xFF000000u && drawn.pixel(x, y) != ~0u);
        }
    }
    EXPECT_TRUE(blended);

    TBitmap masked = Picture(10, 10, 2);
    BitBlt(masked.Canvas(), 0, 0, 4, 4, checker, 0, 0, SRCAND);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const QRgb p = masked.Image().pixel(x, y);
            EXPECT_TRUE(p == 0xFF000000u || p == ToQRgb(kBack)) << x << "," << y;
        }
    }
}

// A bitmap keeps its logical size through a change of ratio, and its ratio while it is empty.
TEST(ScaledCanvasTest, BitmapsKeepTheirSizeAndRatio) {
    TBitmap bitmap;
    bitmap.SetPixelRatio(1.5);
    EXPECT_TRUE(bitmap.Empty());
    bitmap.SetSize(21, 10);
    EXPECT_EQ(bitmap.PixelRatio(), 1.5);
    EXPECT_EQ(bitmap.Image().size(), QSize(32, 15));
    EXPECT_EQ(bitmap.Width(), 21);
    bitmap.SetPixelRatio(2);
    EXPECT_EQ(bitmap.Image().size(), QSize(42, 20));
    EXPECT_EQ(bitmap.Height(), 10);
    TBitmap copy(bitmap);
    EXPECT_EQ(copy.PixelRatio(), 2.0);
    ASSERT_TRUE(copy.LoadFromBytes(EncodeBitmapFile(QImage(3, 3, QImage::Format_RGB32), 24)));
    EXPECT_EQ(copy.PixelRatio(), 1.0);
    EXPECT_EQ(copy.Width(), 3);
}

}  // namespace
}  // namespace velmora
