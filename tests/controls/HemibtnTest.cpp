#include "controls/Hemibtn.h"
#include "framework/WinControl.h"
#include "tests/support/GuiTest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace velmora {
namespace {

class HemibtnTest : public GuiTest {
protected:
    static TColor At(const TBitmap& b, int x, int y) { return FromQRgb(b.Image().pixel(x, y)); }
    static TColor At(const QImage& img, int x, int y) { return FromQRgb(img.pixel(x, y)); }
    static TColor Grey(int v) { return RGB(v, v, v); }

    // The test console's threshold button: 41 x 41, green face, one lowered bevel of 2.
    static void MakeConsoleButton(THemisphereButton& b) {
        b.SetBounds(0, 0, 41, 41);
        b.SetFaceColor(RGB(0, 128, 0));
        b.SetBevelOuter(hbLowered);
        b.SetBevelInner(hbNone);
        b.SetBevelWidth(2);
        b.SetAttenControl(1);
    }

    // A strip of cells of one colour each, height 16, bottom-left pixel of the given colour.
    static TBitmap Strip(const std::vector<TColor>& cells, TColor corner) {
        TBitmap strip(int(cells.size()) * 16, 16);
        for (int c = 0; c < int(cells.size()); ++c) {
            strip.Canvas().Brush().SetColor(cells[std::size_t(c)]);
            strip.Canvas().FillRect(Rect(c * 16, 0, c * 16 + 16, 16));
        }
        strip.Canvas().SetPixels(0, 15, corner);
        return strip;
    }
};

TEST_F(HemibtnTest, ConstructionRendersOnce) {
    THemisphereButton b;
    ASSERT_EQ(b.ImageOut().Width(), 25);
    EXPECT_EQ(b.ImageMask().Height(), 25);
    EXPECT_EQ(At(b.ImageMask(), 12, 12), clBlack);
    // Grey face 128 at the centre: the same light as the green one.
    EXPECT_EQ(At(b.ImageOut(), 12, 12), Grey(202));
    EXPECT_EQ(At(b.ImageIn(), 12, 12), Grey(54));
}

TEST_F(HemibtnTest, ConsoleButtonPixels) {
    THemisphereButton b;
    MakeConsoleButton(b);
    const TBitmap& out = b.ImageOut();
    const TBitmap& in = b.ImageIn();
    ASSERT_EQ(out.Width(), 41);
    EXPECT_EQ(At(out, 20, 20), RGB(0, 202, 0));
    EXPECT_EQ(At(in, 20, 20), RGB(0, 54, 0));
    EXPECT_EQ(At(out, 10, 10), RGB(0, 223, 0));
    EXPECT_EQ(At(in, 10, 10), RGB(0, 33, 0));
    EXPECT_EQ(At(out, 30, 30), RGB(0, 91, 0));
    EXPECT_EQ(At(in, 30, 30), RGB(0, 165, 0));
    for (const TBitmap* img : {&out, &in}) {
        EXPECT_EQ(At(*img, 6, 6), Grey(106));
        EXPECT_EQ(At(*img, 20, 1), Grey(128));
        EXPECT_EQ(At(*img, 39, 20), Grey(233));
    }
    EXPECT_EQ(At(b.ImageMask(), 20, 0), clBlack);
    EXPECT_EQ(At(b.ImageMask(), 0, 0), clWhite);
    EXPECT_EQ(At(b.ImageMask(), 40, 40), clWhite);

    // The pressed face is the up face with the light reversed, and the bevel is the same in
    // both: every green value of the disc pairs up to 256, every bevel pixel is equal.
    int facePixels = 0;
    for (int y = 0; y < 41; ++y) {
        for (int x = 0; x < 41; ++x) {
            if (!b.HitTest(x, y) || At(b.ImageMask(), x, y) != clBlack) {
                continue;
            }
            const TColor o = At(out, x, y);
            const TColor i = At(in, x, y);
            if (GetRValue(o) == 0) {
                ++facePixels;
                EXPECT_EQ(GetGValue(o) + GetGValue(i), 256) << x << "," << y;
            } else {
                EXPECT_EQ(o, i) << x << "," << y;
            }
        }
    }
    EXPECT_GT(facePixels, 900);
}

TEST_F(HemibtnTest, BevelRingsAndBorder) {
    THemisphereButton b;
    MakeConsoleButton(b);
    b.SetBevelInner(hbRaised);
    // Outer band from the edge to A (2, 2, 39, 39), inner band from A to F (4, 4, 37, 37).
    EXPECT_EQ(At(b.ImageOut(), 20, 1), Grey(128));
    EXPECT_EQ(At(b.ImageOut(), 20, 3), Grey(233));
    EXPECT_EQ(At(b.ImageIn(), 20, 3), Grey(233));
    EXPECT_FALSE(b.HitTest(20, 3));
    EXPECT_TRUE(b.HitTest(20, 5));
    b.SetBevelInner(hbLowered);
    EXPECT_EQ(At(b.ImageOut(), 20, 3), Grey(128));
    b.SetBevelOuter(hbRaised);
    EXPECT_EQ(At(b.ImageOut(), 20, 1), Grey(233));

    // An inner bevel alone takes the outer band's place.
    b.SetBevelOuter(hbNone);
    b.SetBevelInner(hbLowered);
    EXPECT_EQ(At(b.ImageOut(), 39, 20), Grey(233));
    EXPECT_EQ(At(b.ImageOut(), 20, 20), RGB(0, 202, 0));

    b.SetBevelInner(hbNone);
    b.SetBorderColor(clRed);
    b.SetBorderStyle(bsSingle);
    EXPECT_EQ(At(b.ImageOut(), 20, 0), clRed);
    EXPECT_EQ(At(b.ImageIn(), 0, 20), clRed);
    EXPECT_EQ(At(b.ImageOut(), 20, 20), RGB(0, 202, 0));
}

TEST_F(HemibtnTest, HitTestLeavesOutBevelsAndCorners) {
    THemisphereButton b;
    MakeConsoleButton(b);
    EXPECT_TRUE(b.HitTest(20, 20));
    EXPECT_TRUE(b.HitTest(20, 3));
    EXPECT_FALSE(b.HitTest(20, 2));   // just outside the face's edge (radius 18.5)
    EXPECT_FALSE(b.HitTest(20, 1));   // on the bevel
    EXPECT_FALSE(b.HitTest(0, 0));    // corner
    EXPECT_FALSE(b.HitTest(39, 20));  // bevel on the right
    // A point exactly on the face's edge belongs to it (42 x 42: centre 21, radius 19).
    b.SetBounds(0, 0, 42, 42);
    EXPECT_TRUE(b.HitTest(21, 2));
    EXPECT_TRUE(b.HitTest(40, 21));
    EXPECT_FALSE(b.HitTest(21, 1));
    // Bevels wider than the button leave no face at all.
    b.SetBevelWidth(30);
    EXPECT_FALSE(b.HitTest(20, 20));
}

TEST_F(HemibtnTest, SetterRules) {
    THemisphereButton b;
    b.SetBevelWidth(0);
    b.SetBevelWidth(-3);
    EXPECT_EQ(b.BevelWidth(), 2);
    b.SetBevelWidth(THemisphereButton::kMaxBevelWidth + 1);
    EXPECT_EQ(b.BevelWidth(), 2);
    b.SetBevelWidth(5);
    EXPECT_EQ(b.BevelWidth(), 5);
    b.SetGlyphIndex(2);  // above NumGlyphs
    b.SetGlyphIndex(0);
    EXPECT_EQ(b.GlyphIndex(), 1);
    b.SetNumGlyphs(-4);  // stored without a check
    EXPECT_EQ(b.NumGlyphs(), -4);
}

TEST_F(HemibtnTest, SystemColourFaceUsesItsLowBytes) {
    THemisphereButton b;
    MakeConsoleButton(b);
    b.SetFaceColor(clBtnFace);  // 0x8000000F: red 15, green 0, blue 0
    EXPECT_EQ(At(b.ImageOut(), 20, 20), RGB(24, 0, 0));
    EXPECT_EQ(At(b.ImageIn(), 20, 20), RGB(6, 0, 0));
    b.SetFaceShaded(false);
    EXPECT_EQ(At(b.ImageOut(), 20, 20), RGB(15, 0, 0));
    EXPECT_EQ(At(b.ImageIn(), 10, 30), RGB(15, 0, 0));
}

TEST_F(HemibtnTest, TinyButtonKeepsItsImages) {
    THemisphereButton b;
    MakeConsoleButton(b);
    const QImage before = b.ImageOut().Image();
    b.SetBounds(0, 0, 1, 25);
    EXPECT_EQ(b.ImageOut().Image(), before);
    b.SetFaceColor(clRed);
    EXPECT_EQ(b.ImageOut().Image(), before);
    b.SetBounds(0, 0, 25, 1);
    b.SetBounds(0, 0, 2, 2);
    EXPECT_EQ(b.ImageOut().Width(), 2);
}

TEST_F(HemibtnTest, GlyphCellsAndTransparency) {
    THemisphereButton b;
    MakeConsoleButton(b);
    b.SetFaceShaded(false);
    b.SetGlyphShaded(false);
    const TBitmap strip = Strip({clRed, clBlue, clYellow}, clRed);
    b.SetGlyph(&strip);
    EXPECT_TRUE(b.GlyphValid());
    EXPECT_EQ(b.NumGlyphs(), 3);
    EXPECT_EQ(b.GlyphIndex(), 1);
    b.SetGlyphIndex(4);
    EXPECT_EQ(b.GlyphIndex(), 1);

    // Cell 1 is all the transparent colour (its bottom-left pixel): only the face shows.
    EXPECT_EQ(At(b.ImageOut(), 20, 20), RGB(0, 128, 0));
    b.SetGlyphTransparent(false);
    EXPECT_EQ(At(b.ImageOut(), 20, 20), clRed);

    // Cell 2 centred at natural size: x = 20.5 - 8 .. 20.5 + 8 covers columns 13..28.
    b.SetGlyphIndex(2);
    EXPECT_EQ(b.GlyphIndex(), 2);
    EXPECT_EQ(At(b.ImageOut(), 13, 13), clBlue);
    EXPECT_EQ(At(b.ImageIn(), 28, 28), clBlue);
    EXPECT_EQ(At(b.ImageOut(), 12, 20), RGB(0, 128, 0));
    EXPECT_EQ(At(b.ImageOut(), 29, 20), RGB(0, 128, 0));

    // Shaded glyph pixels take the face's light.
    b.SetGlyphIndex(3);
    b.SetGlyphShaded(true);
    EXPECT_EQ(At(b.ImageOut(), 20, 20), RGB(255, 255, 0));
    EXPECT_EQ(At(b.ImageIn(), 20, 20), RGB(108, 108, 0));

    // Taking the glyph away shows the plain face again.
    b.SetGlyph(nullptr);
    EXPECT_FALSE(b.GlyphValid());
    EXPECT_EQ(At(b.ImageOut(), 20, 20), RGB(0, 128, 0));
}

TEST_F(HemibtnTest, ZeroGlyphCountShowsTheWholeGlyph) {
    THemisphereButton b;
    MakeConsoleButton(b);
    b.SetGlyphShaded(false);
    const TBitmap strip = Strip({clRed, clBlue}, clLime);
    b.SetGlyph(&strip);
    EXPECT_EQ(b.NumGlyphs(), 2);
    b.SetNumGlyphs(0);
    // 32 wide as one cell: columns 4.5 .. 36.5, left half red and right half blue.
    EXPECT_EQ(At(b.ImageOut(), 10, 20), clRed);
    EXPECT_EQ(At(b.ImageOut(), 30, 20), clBlue);

    // A glyph whose width is no multiple of its height is one cell; an empty one shows nothing.
    TBitmap odd(20, 16);
    b.SetGlyph(&odd);
    EXPECT_EQ(b.NumGlyphs(), 1);
    TBitmap empty;
    b.SetGlyph(&empty);
    EXPECT_TRUE(b.GlyphValid());
    EXPECT_EQ(At(b.ImageIn(), 20, 20), RGB(0, 54, 0));
}

TEST_F(HemibtnTest, MappedGlyphWrapsAroundTheDome) {
    THemisphereButton b;
    MakeConsoleButton(b);
    b.SetGlyphShaded(false);
    b.SetGlyphTransparent(false);
    const TBitmap strip = Strip({clRed, clBlue}, clRed);
    b.SetGlyph(&strip);
    b.SetNumGlyphs(1);  // one cell of 32 x 16
    b.SetGlyphMapped(true);
    // The whole face is covered: left of the centre the red half, right of it the blue half.
    EXPECT_EQ(At(b.ImageOut(), 8, 20), clRed);
    EXPECT_EQ(At(b.ImageOut(), 8, 8), clRed);
    EXPECT_EQ(At(b.ImageOut(), 32, 20), clBlue);
    EXPECT_EQ(At(b.ImageIn(), 32, 32), clBlue);
}

TEST_F(HemibtnTest, CaptionIsCentred) {
    THemisphereButton b;
    MakeConsoleButton(b);
    b.SetFaceShaded(false);
    TFont font;
    font.SetColor(clBlack);
    b.SetFont(font);
    b.SetCaption(QStringLiteral("OK"));
    TCanvas c;
    c.SetFont(b.Font());
    const int tw = c.TextWidth(QStringLiteral("OK"));
    const int th = c.TextHeight(QStringLiteral("OK"));
    const int x0 = int(std::nearbyint((41 - 2 - tw) / 2.0));
    const int y0 = int(std::nearbyint((41 - 2 - th) / 2.0));
    int black = 0;
    for (int y = 0; y < 41; ++y) {
        for (int x = 0; x < 41; ++x) {
            if (At(b.ImageOut(), x, y) == clBlack && b.HitTest(x, y)) {
                ++black;
                EXPECT_TRUE(x >= x0 && x < x0 + tw && y >= y0 && y < y0 + th) << x << "," << y;
                EXPECT_EQ(At(b.ImageIn(), x, y), clBlack);
            }
        }
    }
    EXPECT_GT(black, 10);
}

TEST_F(HemibtnTest, TransparentFaceLetsTheBackgroundThrough) {
    TWinControl parent;
    parent.SetBounds(0, 0, 60, 60);
    parent.SetColor(clBlue);
    auto* b = new THemisphereButton(&parent);
    b->SetParent(&parent);
    MakeConsoleButton(*b);
    TFont font;
    font.SetColor(clRed);
    b->SetFont(font);
    b->SetFaceTransparent(true);
    EXPECT_EQ(At(b->ImageMask(), 20, 20), clWhite);  // the face
    EXPECT_EQ(At(b->ImageMask(), 20, 1), clBlack);   // the bevel
    b->SetCaption(QStringLiteral("WWW"));
    const QImage shown = b->RenderImage();
    EXPECT_EQ(At(shown, 0, 0), clBlue);
    EXPECT_EQ(At(shown, 20, 1), Grey(128));
    int red = 0;
    int blue = 0;
    for (int y = 4; y < 37; ++y) {
        for (int x = 4; x < 37; ++x) {
            if (At(b->ImageMask(), x, y) == clBlack) {
                EXPECT_EQ(At(shown, x, y), At(b->ImageOut(), x, y));
                red += At(shown, x, y) == clRed ? 1 : 0;
            } else {
                blue += At(shown, x, y) == clBlue ? 1 : 0;
            }
        }
    }
    EXPECT_GT(red, 10);  // the caption stays visible on the mask
    EXPECT_GT(blue, 500);
}

TEST_F(HemibtnTest, PaintComposesOverTheParent) {
    TWinControl parent;
    parent.SetBounds(0, 0, 100, 80);
    parent.SetColor(clBlue);
    auto* b = new THemisphereButton(&parent);
    b->SetParent(&parent);
    MakeConsoleButton(*b);
    b->SetBounds(10, 20, 41, 41);
    QImage shown = b->RenderImage();
    EXPECT_EQ(At(shown, 0, 0), clBlue);
    EXPECT_EQ(At(shown, 40, 40), clBlue);
    EXPECT_EQ(At(shown, 20, 20), RGB(0, 202, 0));
    EXPECT_EQ(At(shown, 6, 6), Grey(106));
    b->SetDown(true);
    shown = b->RenderImage();
    EXPECT_EQ(At(shown, 20, 20), RGB(0, 54, 0));
    EXPECT_EQ(At(shown, 0, 40), clBlue);
}

struct MouseLog {
    int downs = 0;
    int ups = 0;
    int clicks = 0;
    int doubles = 0;
    int moves = 0;
    void Attach(THemisphereButton& b) {
        b.OnMouseDown = [this](TComponent*, TMouseButton, TShiftState, int, int) { ++downs; };
        b.OnMouseUp = [this](TComponent*, TMouseButton, TShiftState, int, int) { ++ups; };
        b.OnClick = [this](TComponent*) { ++clicks; };
        b.OnDblClick = [this](TComponent*) { ++doubles; };
        b.OnMouseMove = [this](TComponent*, TShiftState, int, int) { ++moves; };
    }
};

TEST_F(HemibtnTest, PlainButtonTracksThePointer) {
    THemisphereButton b;
    MakeConsoleButton(b);
    MouseLog log;
    log.Attach(b);

    // Presses on the bevel or in a corner are ignored entirely.
    b.DispatchMouseDown(mbLeft, ssLeft, 20, 1);
    b.DispatchMouseDown(mbLeft, ssLeft, 0, 0);
    EXPECT_EQ(log.downs, 0);
    EXPECT_FALSE(b.Down());

    b.DispatchMouseDown(mbLeft, ssLeft, 20, 20);
    EXPECT_EQ(log.downs, 1);
    EXPECT_TRUE(b.Down());
    EXPECT_EQ(At(b.RenderImage(), 20, 20), RGB(0, 54, 0));
    b.DispatchMouseMove(ssLeft, 0, 0);
    EXPECT_FALSE(b.Down());
    EXPECT_EQ(At(b.RenderImage(), 20, 20), RGB(0, 202, 0));
    b.DispatchMouseMove(ssLeft, 15, 25);
    EXPECT_TRUE(b.Down());
    EXPECT_EQ(log.moves, 2);
    b.DispatchMouseUp(mbLeft, 0, 15, 25);
    EXPECT_EQ(log.clicks, 1);
    EXPECT_EQ(log.ups, 1);
    EXPECT_FALSE(b.Down());

    // Released elsewhere: only OnMouseUp, and the button is up again even without a move.
    b.DispatchMouseDown(mbLeft, ssLeft, 20, 20);
    b.DispatchMouseUp(mbLeft, 0, 60, 60);
    EXPECT_EQ(log.clicks, 1);
    EXPECT_EQ(log.ups, 2);
    EXPECT_FALSE(b.Down());

    // A right press raises OnMouseDown but does not press the button.
    b.DispatchMouseDown(mbRight, ssRight, 20, 20);
    EXPECT_EQ(log.downs, 3);
    EXPECT_FALSE(b.Down());
    b.DispatchMouseUp(mbRight, 0, 20, 20);
    EXPECT_EQ(log.clicks, 1);

    // A double click raises OnDblClick once and no click before it.
    b.DispatchMouseDown(mbLeft, ssLeft, 20, 20);
    b.DispatchMouseUp(mbLeft, 0, 20, 20);
    b.DispatchMouseDoubleClick(ssLeft, 20, 20);
    b.DispatchMouseUp(mbLeft, 0, 20, 20);
    EXPECT_EQ(log.doubles, 1);
    EXPECT_EQ(log.clicks, 3);

    // Disabled: nothing at all.
    b.SetEnabled(false);
    b.DispatchMouseDown(mbLeft, ssLeft, 20, 20);
    b.DispatchMouseUp(mbLeft, 0, 20, 20);
    EXPECT_EQ(log.downs, 5);
    EXPECT_EQ(log.clicks, 3);
    EXPECT_FALSE(b.Down());
}

class HemibtnGroupTest : public HemibtnTest {
protected:
    void SetUp() override {
        owner_ = std::make_unique<TComponent>();
        for (auto& b : buttons_) {
            b = std::make_unique<THemisphereButton>(owner_.get());
            MakeConsoleButton(*b);
            b->SetGroupIndex(1);
        }
        buttons_[2]->SetGroupIndex(2);
    }
    static void ClickOn(THemisphereButton& b) {
        b.DispatchMouseDown(mbLeft, ssLeft, 20, 20);
        b.DispatchMouseUp(mbLeft, 0, 20, 20);
    }
    THemisphereButton& first() { return *buttons_[0]; }
    THemisphereButton& second() { return *buttons_[1]; }
    THemisphereButton& other() { return *buttons_[2]; }

    // Declared first so that it outlives the buttons.
    std::unique_ptr<TComponent> owner_;
    std::unique_ptr<THemisphereButton> buttons_[3];
};

TEST_F(HemibtnGroupTest, AtMostOneDown) {
    other().SetDown(true);
    MouseLog log;
    log.Attach(second());
    ClickOn(first());
    EXPECT_TRUE(first().Down());
    ClickOn(second());
    EXPECT_FALSE(first().Down());
    EXPECT_TRUE(second().Down());
    // Clicking the down button keeps it down and still clicks.
    ClickOn(second());
    EXPECT_TRUE(second().Down());
    EXPECT_EQ(log.clicks, 2);
    // While pressing the down button, leaving the face does not release it.
    second().DispatchMouseDown(mbLeft, ssLeft, 20, 20);
    second().DispatchMouseMove(ssLeft, 0, 0);
    EXPECT_TRUE(second().Down());
    second().DispatchMouseUp(mbLeft, 0, 0, 0);
    EXPECT_TRUE(second().Down());
    // Another group is not touched.
    EXPECT_TRUE(other().Down());
}

TEST_F(HemibtnGroupTest, AllowAllUpReleasesTheDownButton) {
    first().SetAllowAllUp(true);
    EXPECT_TRUE(second().AllowAllUp());
    EXPECT_FALSE(other().AllowAllUp());
    ClickOn(first());
    EXPECT_TRUE(first().Down());
    ClickOn(first());
    EXPECT_FALSE(first().Down());
    EXPECT_FALSE(second().Down());
    second().SetAllowAllUp(false);
    EXPECT_FALSE(first().AllowAllUp());

    // While loading, and outside a group, only the button itself changes.
    owner_->BeginLoading();
    first().SetAllowAllUp(true);
    EXPECT_FALSE(second().AllowAllUp());
    owner_->EndLoading();
    second().SetGroupIndex(0);
    second().SetAllowAllUp(true);
    EXPECT_TRUE(second().AllowAllUp());
    EXPECT_FALSE(other().AllowAllUp());
}

TEST_F(HemibtnTest, StoredImagesRoundTrip) {
    THemisphereButton b;
    MakeConsoleButton(b);
    EXPECT_EQ(b.StoredImageNames(),
              QStringList({QStringLiteral("ImageOut"), QStringLiteral("ImageIn"),
                           QStringLiteral("ImageMask")}));
    const QByteArray out = b.WriteStoredImage(QStringLiteral("ImageOut"));
    const QByteArray in = b.WriteStoredImage(QStringLiteral("ImageIn"));
    const QByteArray mask = b.WriteStoredImage(QStringLiteral("ImageMask"));
    EXPECT_EQ(out.size(), 6778);
    EXPECT_EQ(out.mid(0, 2), QByteArray("BM"));
    EXPECT_EQ(quint8(out[28]), 32);  // bits per pixel
    EXPECT_TRUE(b.WriteStoredImage(QStringLiteral("Nothing")).isEmpty());

    // A loaded button shows the stored images, not a rendering of its properties.
    TComponent owner;
    THemisphereButton loaded(&owner);
    owner.BeginLoading();
    loaded.SetBounds(8, 20, 41, 41);
    loaded.SetFaceColor(clRed);
    loaded.SetGlyphIndex(7);  // any positive value while loading
    EXPECT_EQ(loaded.GlyphIndex(), 7);
    EXPECT_EQ(loaded.ImageOut().Width(), 25);  // nothing rendered
    loaded.ReadGlyphValid(false);
    EXPECT_TRUE(loaded.ReadStoredImage(QStringLiteral("ImageOut"), out));
    EXPECT_TRUE(loaded.ReadStoredImage(QStringLiteral("ImageIn"), in));
    EXPECT_TRUE(loaded.ReadStoredImage(QStringLiteral("ImageMask"), mask));
    owner.EndLoading();
    EXPECT_EQ(loaded.ImageOut().Image(), b.ImageOut().Image());
    EXPECT_EQ(loaded.ImageIn().Image(), b.ImageIn().Image());
    EXPECT_EQ(loaded.ImageMask().Image(), b.ImageMask().Image());
    EXPECT_EQ(loaded.WriteStoredImage(QStringLiteral("ImageIn")), in);
    // Moving renders nothing; a change at run time renders the properties.
    loaded.SetBounds(0, 0, 41, 41);
    EXPECT_EQ(At(loaded.ImageOut(), 20, 20), RGB(0, 202, 0));
    loaded.SetBorderColor(clBlue);
    EXPECT_EQ(At(loaded.ImageOut(), 20, 20), RGB(255, 0, 0));
    EXPECT_EQ(At(loaded.ImageIn(), 20, 20), RGB(108, 0, 0));

    // The mute button's images are 37 x 37.
    b.SetBounds(0, 0, 37, 37);
    EXPECT_EQ(b.WriteStoredImage(QStringLiteral("ImageMask")).size(), 5530);
}

TEST_F(HemibtnTest, StoredGlyphRoundTrip) {
    THemisphereButton b;
    const TBitmap strip = Strip({clRed, clBlue}, clWhite);
    b.SetGlyph(&strip);
    EXPECT_EQ(b.StoredImageNames().last(), QStringLiteral("ImageGlyph"));
    const QByteArray glyph = b.WriteStoredImage(QStringLiteral("ImageGlyph"));

    THemisphereButton loaded;
    loaded.BeginLoading();
    loaded.ReadGlyphValid(true);
    ASSERT_TRUE(loaded.ReadStoredImage(QStringLiteral("ImageGlyph"), glyph));
    loaded.EndLoading();
    EXPECT_TRUE(loaded.GlyphValid());
    EXPECT_EQ(loaded.Glyph().Image(), b.Glyph().Image());
}

TEST_F(HemibtnTest, DamagedStoredImagesAreRejected) {
    THemisphereButton b;
    MakeConsoleButton(b);
    const QImage out = b.ImageOut().Image();
    const QImage mask = b.ImageMask().Image();
    const QByteArray good = b.WriteStoredImage(QStringLiteral("ImageOut"));

    QString error;
    EXPECT_FALSE(b.ReadStoredImage(QStringLiteral("ImageOut"), good.left(500), &error));
    EXPECT_FALSE(error.isEmpty());
    QByteArray wrongSignature = good;
    wrongSignature[0] = 'X';
    error.clear();
    EXPECT_FALSE(b.ReadStoredImage(QStringLiteral("ImageMask"), wrongSignature, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("ImageMask"))) << error.toStdString();
    QByteArray hugeSize = good;
    hugeSize[22] = char(0xFF);
    hugeSize[23] = char(0xFF);
    hugeSize[24] = char(0xFF);
    hugeSize[25] = char(0x7F);
    EXPECT_FALSE(b.ReadStoredImage(QStringLiteral("ImageOut"), hugeSize));
    EXPECT_FALSE(b.ReadStoredImage(QStringLiteral("ImageOut"), QByteArray()));
    error.clear();
    EXPECT_FALSE(b.ReadStoredImage(QStringLiteral("ImageSideways"), good, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(b.ImageOut().Image(), out);
    EXPECT_EQ(b.ImageMask().Image(), mask);

    // A loaded button whose images did not arrive whole renders them after loading.
    TComponent owner;
    THemisphereButton loaded(&owner);
    owner.BeginLoading();
    loaded.SetBounds(0, 0, 41, 41);
    loaded.SetFaceColor(RGB(0, 128, 0));
    EXPECT_FALSE(loaded.ReadStoredImage(QStringLiteral("ImageOut"), good.left(100)));
    owner.EndLoading();
    EXPECT_EQ(At(loaded.ImageOut(), 20, 20), RGB(0, 202, 0));
}

}  // namespace
}  // namespace velmora
