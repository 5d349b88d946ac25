#include "controls/DsGroup.h"
#include "framework/GraphicControl.h"
#include "tests/support/GuiTest.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

class DsGroupTest : public GuiTest {
protected:
    static int TextHeight(const TDsGroup& g) {
        TCanvas c;
        c.SetFont(g.Font());
        return c.TextHeight(QStringLiteral("H"));
    }
    static int CaptionWidth(const TDsGroup& g) {
        TCanvas c;
        c.SetFont(g.Font());
        return c.TextWidth(g.Caption()) + 2;
    }
    static TColor At(const QImage& img, int x, int y) { return FromQRgb(img.pixel(x, y)); }
};

TEST_F(DsGroupTest, InitialValues) {
    TDsGroup g;
    EXPECT_EQ(g.Width(), 145);
    EXPECT_EQ(g.Height(), 105);
    EXPECT_EQ(g.CapAlignment(), caLeft);
    EXPECT_EQ(g.Color_High(), RGB(232, 232, 224));
    EXPECT_EQ(g.Color_Low(), RGB(162, 141, 104));
    EXPECT_EQ(g.CornerRadius(), 3);
    EXPECT_EQ(g.FaceColor(), clNone);
    EXPECT_EQ(g.TextStyle(), txRaised);
    EXPECT_TRUE(g.Ctl3D());
}

TEST_F(DsGroupTest, CornerRadiusClamp) {
    TDsGroup g;
    g.SetCornerRadius(12);
    EXPECT_EQ(g.CornerRadius(), 12);
    g.SetCornerRadius(13);
    EXPECT_EQ(g.CornerRadius(), 16);
    g.SetCornerRadius(-5);
    EXPECT_EQ(g.CornerRadius(), 0);
}

TEST_F(DsGroupTest, CaptionPositions) {
    TDsGroup g;
    g.SetBounds(0, 0, 249, 209);
    g.SetCaption(QStringLiteral(" Output - Level "));
    const int cw = CaptionWidth(g);
    EXPECT_EQ(g.CaptionLeft(), 8);  // radius 3
    g.SetCornerRadius(10);
    EXPECT_EQ(g.CaptionLeft(), 14);
    g.SetCapAlignment(caRight);
    EXPECT_EQ(g.CaptionLeft(), 249 - cw - 14);
    g.SetCornerRadius(3);
    EXPECT_EQ(g.CaptionLeft(), 249 - cw - 8);
    g.SetCapAlignment(caCenter);
    EXPECT_EQ(g.CaptionLeft(), (249 - cw) / 2);
}

TEST_F(DsGroupTest, CaptionCutsTheFrameAndAnEmptyCaptionDoesNot) {
    TDsGroup g;
    g.SetColor(clLime);
    g.SetBounds(0, 0, 145, 105);
    g.SetCaption(QStringLiteral("      "));  // blanks: the cut without ink
    const int th = TextHeight(g);
    const int cw = CaptionWidth(g);
    QImage img = g.RenderImage();
    const int row = th / 2;
    EXPECT_EQ(At(img, 7, row), g.Color_Low());
    for (int x = 8; x < 8 + cw; ++x) {
        EXPECT_EQ(At(img, x, row), clLime) << x;
    }
    EXPECT_EQ(At(img, 8 + cw, row), g.Color_Low());

    g.SetCaption(QString());
    img = g.RenderImage();
    for (int x = 3; x <= 140; ++x) {
        EXPECT_EQ(At(img, x, row), g.Color_Low()) << x;
    }
}

TEST_F(DsGroupTest, EtchedSquareAndFlatFrames) {
    TDsGroup g;
    g.SetColor(clLime);
    g.SetCornerRadius(0);
    const int th = TextHeight(g);
    QImage img = g.RenderImage();
    EXPECT_EQ(At(img, 0, th / 2 + 5), g.Color_Low());
    EXPECT_EQ(At(img, 1, th / 2 + 5), g.Color_High());
    EXPECT_EQ(At(img, 2, th / 2 + 5), clLime);
    EXPECT_EQ(At(img, 143, 103), g.Color_Low());  // F ends at W - 1, H - 1 (exclusive)
    EXPECT_EQ(At(img, 144, 104), g.Color_High());
    EXPECT_EQ(At(img, 20, th / 2), g.Color_Low());
    EXPECT_EQ(At(img, 20, th / 2 + 1), g.Color_High());

    g.SetCtl3D(false);
    img = g.RenderImage();
    EXPECT_EQ(At(img, 0, th / 2 + 5), clBlack);  // window frame colour
    EXPECT_EQ(At(img, 1, th / 2 + 5), clLime);
    EXPECT_EQ(At(img, 144, 104), clLime);

    g.SetCornerRadius(5);  // flat and rounded: the full box (0, TH div 2, W, H)
    img = g.RenderImage();
    EXPECT_EQ(At(img, 0, 60), clBlack);
    EXPECT_EQ(At(img, 144, 60), clBlack);
    EXPECT_EQ(At(img, 0, th / 2), clLime);  // the corner is cut

    g.SetCtl3D(true);
    img = g.RenderImage();
    EXPECT_EQ(At(img, 0, 60), g.Color_Low());
    EXPECT_EQ(At(img, 1, 60), g.Color_High());
    EXPECT_EQ(At(img, 143, 60), g.Color_Low());
    EXPECT_EQ(At(img, 144, 60), g.Color_High());
    EXPECT_EQ(At(img, 0, th / 2), clLime);
}

TEST_F(DsGroupTest, FaceOnlyWith3D) {
    TDsGroup g;
    g.SetColor(clLime);
    g.SetFaceColor(clYellow);
    const int th = TextHeight(g);
    QImage img = g.RenderImage();
    EXPECT_EQ(At(img, 72, 50), clYellow);
    EXPECT_EQ(At(img, 2, 50), clYellow);
    EXPECT_EQ(At(img, 142, 50), clYellow);  // the face box ends at W - 2 (exclusive)
    EXPECT_EQ(At(img, 143, 50), g.Color_Low());
    EXPECT_EQ(At(img, 72, th / 2 + 2), clYellow);
    g.SetCtl3D(false);
    img = g.RenderImage();
    EXPECT_EQ(At(img, 72, 50), clLime);
}

TEST_F(DsGroupTest, RaisedCaptionShowsItsLightCopyUpAndLeft) {
    TDsGroup g;
    g.SetColor(clLime);
    g.SetCaption(QStringLiteral("Kanäle"));
    TFont f;
    f.SetColor(clNavy);
    g.SetFont(f);
    g.SetTextStyle(txNone);
    const QImage plain = g.RenderImage();
    g.SetTextStyle(txRaised);
    const QImage raised = g.RenderImage();
    int ink = 0;
    for (int y = 1; y < 30; ++y) {
        for (int x = 1; x < 145; ++x) {
            if (At(plain, x, y) == clNavy) {
                ++ink;
                const TColor up = At(raised, x - 1, y - 1);
                EXPECT_TRUE(up == g.Color_High() || up == clNavy) << x << "," << y;
                EXPECT_EQ(At(raised, x, y), clNavy);
            }
            if (At(raised, x, y) != At(plain, x, y)) {
                EXPECT_EQ(At(raised, x, y), g.Color_High()) << x << "," << y;
            }
        }
    }
    EXPECT_GT(ink, 20);

    g.SetTextStyle(txShadowed);  // dark copy two pixels down and right
    const QImage shadowed = g.RenderImage();
    int shadow = 0;
    for (int y = 1; y < 20; ++y) {
        for (int x = 1; x < 100; ++x) {
            if (At(plain, x, y) == clNavy && At(shadowed, x + 2, y + 2) == g.Color_Low()) {
                ++shadow;
            }
        }
    }
    EXPECT_GT(shadow, 5);
}

TEST_F(DsGroupTest, ChildrenSitInsideAndSeeTheGroupBeneath) {
    TDsGroup outer;
    outer.SetColor(clLime);
    outer.SetBounds(8, 128, 857, 433);
    outer.SetColor_Low(clYellow);
    TDsGroup inner;
    inner.SetParent(&outer);
    inner.SetBounds(16, 20, 249, 209);
    EXPECT_EQ(inner.Color(), clLime);  // parent colour
    EXPECT_EQ(inner.mapTo(&outer, QPoint(0, 0)), QPoint(16, 20));

    TPaintBox box;  // a windowless child covering the whole group shows its drawing
    box.SetParent(&inner);
    box.SetBounds(0, 0, 249, 209);
    const QImage group = inner.RenderImage();
    EXPECT_EQ(box.RenderImage(), group);
}

}  // namespace
}  // namespace velmora
