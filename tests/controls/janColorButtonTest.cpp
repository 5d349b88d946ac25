#include "controls/janColorButton.h"
#include "framework/WinControl.h"
#include "tests/support/GuiTest.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

class janColorButtonTest : public GuiTest {
protected:
    static TColor At(const QImage& img, int x, int y) {
        return FromQRgb(img.pixel(x, y)) & 0xFFFFFF;
    }
    static int Count(const QImage& img, TColor c) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                n += At(img, x, y) == c;
            }
        }
        return n;
    }
    // The function column's look: 99 wide, Arial bold, word-wrapped and centred.
    static void FunctionButton(TjanColorButton& b, const QString& caption, int height) {
        b.SetBounds(12, 28, 99, height);
        TFont font;
        font.SetName(QStringLiteral("Arial"));
        font.SetHeight(-11);
        font.SetStyle(fsBold);
        b.SetFont(font);
        b.SetWordWrap(true);
        b.SetCaption(caption);
    }
    struct Look {
        TColor fill;
        TColor topLeft;      // frame colour at the top left corner (fill when frameless)
        TColor bottomRight;  // frame colour at the bottom right corner
        TColor text;
    };
    static void ExpectLook(const QImage& img, const Look& look, const char* what) {
        const int x2 = img.width() - 1;
        const int y2 = img.height() - 1;
        EXPECT_EQ(At(img, 2, 2), look.fill) << what;
        EXPECT_EQ(At(img, 0, 0), look.topLeft) << what;
        EXPECT_EQ(At(img, 0, y2 - 1), look.topLeft) << what;
        EXPECT_EQ(At(img, x2, y2), look.bottomRight) << what;
        EXPECT_EQ(At(img, x2, 1), look.bottomRight) << what;
        EXPECT_GT(Count(img, look.text), 10) << what;
    }
};

TEST_F(janColorButtonTest, InitialValues) {
    TjanColorButton b;
    EXPECT_EQ(b.Width(), 24);
    EXPECT_EQ(b.Height(), 24);
    EXPECT_EQ(b.Alignment(), taCenter);
    EXPECT_TRUE(b.BackBitmap().Empty());
    EXPECT_FALSE(b.WordWrap());
    EXPECT_FALSE(b.Latching());
    EXPECT_FALSE(b.Down());
    EXPECT_TRUE(b.Flat());
    EXPECT_EQ(b.MarginHorizontal(), 8);
    EXPECT_EQ(b.MarginVertical(), 4);
    EXPECT_EQ(b.Color(), clSilver);
    EXPECT_TRUE(b.HotTrack());
    EXPECT_EQ(b.HotColor(), clYellow);
    EXPECT_EQ(b.DownColor(), RGB(169, 169, 169));
    EXPECT_EQ(b.HotFontColor(), clRed);
    EXPECT_EQ(b.DownFontColor(), clBlack);
    EXPECT_FALSE(b.onclick);
}

TEST_F(janColorButtonTest, FillFrameAndTextColourFollowTheState) {
    TjanColorButton b;
    FunctionButton(b, QStringLiteral("Beenden"), 24);
    b.Font().SetColor(clNavy);
    const TColor down = RGB(169, 169, 169);
    const Look idle{clSilver, clSilver, clSilver, clNavy};
    const Look raised{clSilver, clWhite, clGray, clNavy};
    const Look hot{clYellow, clWhite, clGray, clRed};
    const Look pressed{down, clGray, clWhite, clBlack};

    ExpectLook(b.RenderImage(), idle, "idle");
    b.DispatchMouseEnter();
    ExpectLook(b.RenderImage(), hot, "hot");
    b.SetHotTrack(false);  // the raised frame in the idle colours
    ExpectLook(b.RenderImage(), raised, "hot without hot tracking");
    b.SetHotTrack(true);
    b.DispatchMouseDown(mbLeft, ssLeft, 5, 5);
    ExpectLook(b.RenderImage(), pressed, "pressed");
    b.DispatchMouseUp(mbLeft, 0, 5, 5);
    b.SetDown(true);  // hot and down: drawn pressed, not hot
    ExpectLook(b.RenderImage(), pressed, "hot and down");
    b.DispatchMouseLeave();
    ExpectLook(b.RenderImage(), pressed, "down");
    b.SetDown(false);
    ExpectLook(b.RenderImage(), idle, "idle again");
    b.SetFlat(false);
    ExpectLook(b.RenderImage(), raised, "not flat");

    // In a designer every state shows the idle colours with the raised frame.
    b.SetDesigning(true);
    b.DispatchMouseEnter();
    b.DispatchMouseDown(mbLeft, ssLeft, 5, 5);
    ExpectLook(b.RenderImage(), raised, "designing");
}

TEST_F(janColorButtonTest, ColourSettersThatOnlyStoreShowAtTheNextPaint) {
    // Counts paints of a shown button.
    class Counting : public TjanColorButton {
    public:
        int paints = 0;

    protected:
        void Paint() override {
            ++paints;
            TjanColorButton::Paint();
        }
    };
    TWinControl parent;
    parent.SetBounds(0, 0, 120, 60);
    Counting b;
    b.SetParent(&parent);
    b.SetBounds(10, 10, 99, 24);
    b.SetCaption(QStringLiteral("Homepage"));
    parent.show();
    QApplication::processEvents();
    b.DispatchMouseEnter();  // hot: painted at once
    const int afterEnter = b.paints;
    EXPECT_GT(afterEnter, 0);

    b.SetHotColor(clAqua);
    b.SetHotFontColor(clBlue);
    b.SetDownColor(clNavy);
    b.SetDownFontColor(clWhite);
    b.SetHotTrack(true);
    b.SetLatching(true);
    QApplication::processEvents();
    EXPECT_EQ(b.paints, afterEnter);
    const QImage img = b.RenderImage();
    EXPECT_EQ(At(img, 2, 2), clAqua);
    EXPECT_GT(Count(img, clBlue), 10);

    const int before = b.paints;
    b.SetColor(clLime);  // these repaint
    b.SetMarginHorizontal(6);
    QApplication::processEvents();
    EXPECT_GT(b.paints, before);
}

TEST_F(janColorButtonTest, ACaptionThatDoesNotFitGrowsTheButtonAtTheNextPaint) {
    TjanColorButton b;
    b.SetCaption(QStringLiteral("Post an Autor"));
    TCanvas measure;
    measure.SetFont(b.Font());
    const int tw = measure.TextWidth(b.Caption());
    const int th = measure.TextHeight(b.Caption());
    ASSERT_GT(tw + 16, 24);
    b.RenderImage();
    EXPECT_EQ(b.Width(), tw + 16);
    EXPECT_EQ(b.Height(), std::max(24, th + 8));
    b.SetBounds(0, 0, 200, 40);  // never shrinks
    b.RenderImage();
    EXPECT_EQ(b.Width(), 200);
    EXPECT_EQ(b.Height(), 40);

    // Word-wrapped, the button only grows downward: to the wrapped height + one margin + 1.
    TjanColorButton w;
    w.SetWordWrap(true);
    w.SetBounds(0, 0, 60, 10);
    w.SetCaption(QStringLiteral("Kurve abspeichern jetzt"));
    TRect r = Rect(8, 4, 52, 10);
    const int wrapped = measure.DrawText(w.Caption(), r, DT_CALCRECT | DT_WORDBREAK);
    ASSERT_GT(wrapped, th);  // more than one line
    w.RenderImage();
    EXPECT_EQ(w.Width(), 60);
    EXPECT_EQ(w.Height(), wrapped + 4 + 1);
}

TEST_F(janColorButtonTest, TheReportButtonKeepsItsSize) {
    TjanColorButton b;
    FunctionButton(b, QStringLiteral("Bericht\nerstellen"), 37);
    TCanvas measure;
    measure.SetFont(b.Font());
    TRect r = Rect(8, 4, 91, 37);
    const int wrapped = measure.DrawText(b.Caption(), r, DT_CALCRECT | DT_WORDBREAK);
    EXPECT_LE(wrapped, 37 - 4 - 1);
    EXPECT_GT(wrapped, measure.TextHeight(QStringLiteral("B")));  // two lines
    const QImage img = b.RenderImage();
    EXPECT_EQ(b.Width(), 99);
    EXPECT_EQ(b.Height(), 37);
    // Wrapped text starts at the top of the text rectangle: no ink above the margin.
    for (int y = 0; y < 4; ++y) {
        for (int x = 1; x < 98; ++x) {
            ASSERT_EQ(At(img, x, y), clSilver) << x << "," << y;
        }
    }
}

TEST_F(janColorButtonTest, ClicksLatchingAndTheRightMouseButton) {
    TjanColorButton b;
    b.SetBounds(0, 0, 99, 24);
    b.SetCaption(QStringLiteral("Zurücksetzen"));
    std::vector<bool> clicks;  // Down as onclick sees it
    b.onclick = [&](TComponent* sender) {
        EXPECT_EQ(sender, &b);
        clicks.push_back(b.Down());
    };
    const TColor down = RGB(169, 169, 169);

    // A right-button press on a plain button shows the pressed look until release, nothing more.
    b.DispatchMouseDown(mbRight, ssRight, 5, 5);
    EXPECT_EQ(At(b.RenderImage(), 2, 2), down);
    b.DispatchMouseUp(mbRight, 0, 5, 5);
    EXPECT_EQ(At(b.RenderImage(), 2, 2), clSilver);
    EXPECT_TRUE(clicks.empty());
    EXPECT_FALSE(b.Down());

    // A left click raises onclick; a release without a press on the button does not, nor a
    // release outside it.
    b.DispatchMouseDown(mbLeft, ssLeft, 5, 5);
    b.DispatchMouseUp(mbLeft, 0, 5, 5);
    b.DispatchMouseUp(mbLeft, 0, 5, 5);
    b.DispatchMouseDown(mbLeft, ssLeft, 5, 5);
    b.DispatchMouseUp(mbLeft, 0, 150, 5);
    EXPECT_EQ(clicks, (std::vector<bool>{false}));
    EXPECT_EQ(At(b.RenderImage(), 2, 2), clSilver);

    // Latching: every release toggles Down, the right button too (without onclick); onclick
    // sees Down from before the toggle.
    clicks.clear();
    b.SetLatching(true);
    b.DispatchMouseDown(mbRight, ssRight, 5, 5);
    b.DispatchMouseUp(mbRight, 0, 5, 5);
    EXPECT_TRUE(b.Down());
    EXPECT_EQ(At(b.RenderImage(), 2, 2), down);
    b.DispatchMouseDown(mbLeft, ssLeft, 5, 5);
    b.DispatchMouseUp(mbLeft, 0, 5, 5);
    EXPECT_FALSE(b.Down());
    b.DispatchMouseDown(mbLeft, ssLeft, 5, 5);
    b.DispatchMouseUp(mbLeft, 0, 5, 5);
    EXPECT_TRUE(b.Down());
    b.DispatchMouseDown(mbMiddle, ssMiddle, 5, 5);
    b.DispatchMouseUp(mbMiddle, 0, 5, 5);
    EXPECT_FALSE(b.Down());
    EXPECT_EQ(clicks, (std::vector<bool>{true, false}));
}

TEST_F(janColorButtonTest, CaptionAlignmentAndThePressedShift) {
    TjanColorButton b;
    b.SetBounds(0, 0, 99, 24);
    b.SetCaption(QStringLiteral("Homepage"));
    b.Font().SetColor(clBlack);
    auto inkColumns = [&](int* first, int* last) {
        const QImage img = b.RenderImage();
        *first = img.width();
        *last = -1;
        for (int x = 1; x < img.width() - 1; ++x) {
            for (int y = 1; y < img.height() - 1; ++y) {
                if (At(img, x, y) == b.Font().Color()) {
                    *first = std::min(*first, x);
                    *last = std::max(*last, x);
                }
            }
        }
    };
    TCanvas measure;
    measure.SetFont(b.Font());
    const int tw = measure.TextWidth(b.Caption());
    int first = 0;
    int last = 0;
    b.SetAlignment(taLeftJustify);
    inkColumns(&first, &last);
    EXPECT_GE(first, 8);
    EXPECT_LE(first, 9);
    b.SetAlignment(taRightJustify);
    inkColumns(&first, &last);
    EXPECT_LE(last, 99 - 8 - 1);
    EXPECT_GE(last, 99 - 8 - 2);
    const int rightLast = last;
    b.SetDown(true);  // pressed or down: the text moves one pixel right and down
    b.SetDownFontColor(clBlack);
    inkColumns(&first, &last);
    EXPECT_EQ(last, rightLast + 1);
    b.SetDown(false);
    b.SetAlignment(taCenter);
    inkColumns(&first, &last);
    EXPECT_NEAR(first, (99 - tw) / 2, 1);
}

TEST_F(janColorButtonTest, ABackgroundPictureIsTiledFromTheTopLeftCorner) {
    TjanColorButton b;
    TBitmap picture(10, 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            picture.Canvas().SetPixels(x, y, RGB(20 * x, 20 * y, 100));
        }
    }
    b.SetBackBitmap(picture);
    picture.Canvas().SetPixels(0, 0, clRed);  // the button keeps its own copy
    EXPECT_EQ(b.BackBitmap().Width(), 10);
    const QImage img = b.RenderImage();
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            ASSERT_EQ(At(img, x, y), RGB(20 * (x % 10), 20 * (y % 10), 100)) << x << "," << y;
        }
    }
    // The frame is drawn over the picture; a change of the picture shows.
    b.DispatchMouseEnter();
    const QImage hot = b.RenderImage();
    EXPECT_EQ(At(hot, 0, 0), clWhite);
    EXPECT_EQ(At(hot, 5, 5), RGB(100, 100, 100));
    b.BackBitmap().SetSize(0, 0);
    EXPECT_EQ(At(b.RenderImage(), 5, 5), clYellow);
}

}  // namespace
}  // namespace velmora
