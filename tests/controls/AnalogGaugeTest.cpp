#include "controls/AnalogGauge.h"
#include "tests/support/GuiTest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace velmora {
namespace {

class AnalogGaugeTest : public GuiTest {
protected:
    // The test console's level gauge.
    static std::unique_ptr<TAnalogGauge> ConsoleGauge(bool loading = false) {
        auto g = std::make_unique<TAnalogGauge>();
        if (loading) {
            g->BeginLoading();
        }
        g->SetBounds(12, 20, 225, 153);
        g->SetCaption(QStringLiteral("Lautstärke"));
        g->SetScale(10);
        g->SetAngle(90);
        g->SetCirclesRadius(2);
        g->SetNumberMainTicks(10);
        g->SetLengthSubTicks(10);
        g->SetIndMaximum(2);
        g->SetIndMinimum(1);
        g->SetFaceColor(clSilver);
        g->SetCenterColor(clLime);
        g->SetCenterRadius(8);
        g->SetCircleColor(clBlue);
        g->SetArrowWidth(2);
        TFont f;
        f.SetHeight(-11);
        f.SetColor(clNavy);
        g->SetFont(f);
        return g;
    }
    static TColor Face(const TAnalogGauge& g, int x, int y) {
        return FromQRgb(g.FaceImage().Image().pixel(x, y));
    }
    static TColor Display(const TAnalogGauge& g, int x, int y) {
        return FromQRgb(g.DisplayImage().Image().pixel(x, y));
    }
};

TEST_F(AnalogGaugeTest, ConstructionSetsTheInitialValuesAndDrawsNothing) {
    TAnalogGauge g;
    EXPECT_EQ(g.Width(), 225);
    EXPECT_EQ(g.Height(), 180);
    EXPECT_EQ(g.Scale(), 140);
    EXPECT_EQ(g.Angle(), 120);
    EXPECT_EQ(g.NumberMainTicks(), 7);
    EXPECT_EQ(g.FaceOptoins(), 0xFCD);
    EXPECT_EQ(g.IndMaximum(), 80);
    EXPECT_EQ(g.IndMinimum(), 30);
    EXPECT_EQ(g.FaceColor(), clBtnFace);
    EXPECT_EQ(g.Caption(), QStringLiteral("mV"));
    EXPECT_EQ(g.Style(), centerstyle);
    EXPECT_EQ(g.FaceImage().Width(), 225);
    EXPECT_EQ(g.FaceImage().Height(), 180);
    EXPECT_EQ(FromQRgb(g.FaceImage().Image().pixel(100, 100)), clWhite);  // nothing rendered yet
}

TEST_F(AnalogGaugeTest, ConsoleGaugeGeometryAndValuePoints) {
    auto g = ConsoleGauge();
    for (bool needle : {false, true}) {
        const TGaugeGeometry geo = g->Geometry(needle);
        EXPECT_EQ(geo.S, 45);
        EXPECT_EQ(geo.Cx, 112);
        EXPECT_EQ(geo.Xf, 112.5);
        EXPECT_EQ(geo.Cy, 143);
        EXPECT_EQ(geo.R, 133);  // the width alone would give 145
        EXPECT_EQ(TAnalogGauge::PointAt(geo, g->ValueAngle(geo, 0), geo.R), QPoint(18, 49));
        EXPECT_EQ(TAnalogGauge::PointAt(geo, g->ValueAngle(geo, 2), geo.R), QPoint(52, 24));
        EXPECT_EQ(TAnalogGauge::PointAt(geo, g->ValueAngle(geo, 10), geo.R), QPoint(207, 49));
    }
}

TEST_F(AnalogGaugeTest, OtherStylesGeometry) {
    auto g = ConsoleGauge();
    g->SetStyle(leftstyle);
    TGaugeGeometry l = g->Geometry(false);
    EXPECT_EQ(l.S, 91);
    EXPECT_EQ(g->Geometry(true).S, 90);
    EXPECT_EQ(l.Cx, 10);
    EXPECT_EQ(l.Cy, 143);
    EXPECT_EQ(l.R, 205);
    g->SetStyle(rightstyle);
    TGaugeGeometry r = g->Geometry(false);
    EXPECT_EQ(r.S, 0);
    EXPECT_EQ(r.Cx, 215);
    EXPECT_EQ(r.Xf, 215);
    g->SetStyle(centerstyle);
    g->SetAngle(270);
    TGaugeGeometry c = g->Geometry(false);
    EXPECT_EQ(c.S, -45);
    EXPECT_EQ(c.Cx, 112);
    EXPECT_EQ(c.Cy, 76);
    EXPECT_EQ(c.R, 102);
    g->SetAngle(121);  // fractional start angle
    EXPECT_EQ(g->Geometry(false).S, 29.5);
}

TEST_F(AnalogGaugeTest, ConsoleFaceHasFrameMarginBandTicksAndNumbers) {
    auto g = ConsoleGauge();
    // sunken frame: grey top and left, white bottom and right
    EXPECT_EQ(Face(*g, 0, 5), clGray);
    EXPECT_EQ(Face(*g, 5, 0), clGray);
    EXPECT_EQ(Face(*g, 224, 5), clWhite);
    EXPECT_EQ(Face(*g, 5, 152), clWhite);
    EXPECT_EQ(Face(*g, 1, 5), clSilver);
    // margin rectangle (10, 10, 215, 143)
    EXPECT_EQ(Face(*g, 10, 80), clBlack);
    EXPECT_EQ(Face(*g, 214, 80), clBlack);
    EXPECT_EQ(Face(*g, 215, 80), clSilver);
    // red band, 4 pixels wide around the top of the circle, over the margin line
    EXPECT_EQ(Face(*g, 113, 8), clSilver);
    EXPECT_EQ(Face(*g, 113, 9), clRed);
    EXPECT_EQ(Face(*g, 113, 10), clRed);
    EXPECT_EQ(Face(*g, 113, 12), clRed);
    EXPECT_EQ(Face(*g, 113, 13), clSilver);

    // the band runs from value 2 (63 degrees) to the end of the scale (135 degrees) only
    const TGaugeGeometry geo = g->Geometry(false);
    double minAngle = 360;
    double maxAngle = -360;
    for (int y = 0; y < 153; ++y) {
        for (int x = 0; x < 225; ++x) {
            if (Face(*g, x, y) != clRed) {
                continue;
            }
            const double a =
                180 - std::atan2(geo.Cy - (y + 0.5), (x + 0.5) - geo.Cx) * 180 / 3.14159265358979;
            minAngle = std::min(minAngle, a);
            maxAngle = std::max(maxAngle, a);
        }
    }
    EXPECT_NEAR(minAngle, 63, 1.5);
    EXPECT_NEAR(maxAngle, 135, 1.5);

    // 50 sub-intervals: the inner end of every sub-tick, 11 main ticks
    for (int j = 0; j <= 50; ++j) {
        const QPoint p = TAnalogGauge::PointAt(geo, 45 + j * 90.0 / 50, 133 - 10);
        EXPECT_EQ(Face(*g, p.x(), p.y()), clBlack) << "sub-tick " << j;
    }
    for (int i = 0; i <= 10; ++i) {
        const QPoint p = TAnalogGauge::PointAt(geo, 45 + i * 9.0, 133 - 15);
        EXPECT_EQ(Face(*g, p.x(), p.y()), clBlack) << "main tick " << i;
    }

    // the numbers 0 to 10 and the caption, opaque, in the font colour
    TCanvas measure;
    measure.SetFont(g->Font());
    auto inkIn = [&](int x, int y, int w, int h) {
        int ink = 0;
        for (int yy = y; yy < y + h; ++yy) {
            for (int xx = x; xx < x + w; ++xx) {
                const TColor p = Face(*g, xx, yy);
                ink += p == clNavy;
            }
        }
        return ink;
    };
    const int th = measure.TextHeight(QStringLiteral("0"));
    for (int i = 0; i <= 10; ++i) {
        const QString text = QString::number(i);
        const double t = (45 + i * 9.0) * 2 * 3.141592653589793 / 360;
        const int x = int(std::nearbyint(112.5 - std::cos(t) * (133 - 15 - 5 - i))) -
                      measure.TextWidth(text) / 2;
        const int y = int(std::nearbyint(143 - std::sin(t) * (133 - 15 - 5)));
        EXPECT_GT(inkIn(x, y, measure.TextWidth(text), th), 4) << "number " << i;
        EXPECT_EQ(inkIn(x - 3, y, 3, th), 0) << "left of number " << i;
    }
    const int cw = measure.TextWidth(QStringLiteral("Lautstärke"));
    EXPECT_GT(inkIn(112 - cw / 2, int(std::nearbyint(143 - 133 / 2.0)), cw, th), 20);
}

TEST_F(AnalogGaugeTest, AStoredLayoutRendersTheFaceOnceWhenRead) {
    const auto direct = ConsoleGauge();
    const auto loaded = ConsoleGauge(true);
    loaded->SetPosition(3.5f);
    const QImage whileLoading = loaded->FaceImage().Image();
    EXPECT_NE(whileLoading, direct->FaceImage().Image());  // nothing rendered yet
    loaded->EndLoading();
    direct->SetPosition(3.5f);
    EXPECT_EQ(loaded->FaceImage().Image(), direct->FaceImage().Image());
    EXPECT_EQ(loaded->DisplayImage().Image(), direct->DisplayImage().Image());

    // A new centre disc changes the display as a gauge built with it shows it.
    direct->SetCenterColor(clRed);
    direct->SetCenterRadius(5);
    const auto red = ConsoleGauge(true);
    red->SetCenterColor(clRed);
    red->SetCenterRadius(5);
    red->SetPosition(3.5f);
    red->EndLoading();
    EXPECT_EQ(direct->DisplayImage().Image(), red->DisplayImage().Image());
    EXPECT_NE(direct->DisplayImage().Image(), loaded->DisplayImage().Image());
}

TEST_F(AnalogGaugeTest, NeedleAndCentreDiscOnACopyOfTheFace) {
    auto g = ConsoleGauge();
    g->SetPosition(0);
    EXPECT_EQ(Display(*g, 65, 96), clBlack);  // on the line (112,143)-(18,49), width 2
    EXPECT_EQ(Face(*g, 65, 96), clSilver);
    EXPECT_EQ(Display(*g, 112, 140), clLime);   // inside the disc
    EXPECT_EQ(Display(*g, 104, 142), clBlack);  // its outline
    EXPECT_EQ(Display(*g, 160, 96), Face(*g, 160, 96));

    // every changed pixel lies on the needle or in the disc
    g->SetPosition(7.5f);
    const TGaugeGeometry geo = g->Geometry(true);
    const QPoint tip = TAnalogGauge::PointAt(geo, 45 + 90 * 7.5 / 10, geo.R);
    int changed = 0;
    for (int y = 0; y < 153; ++y) {
        for (int x = 0; x < 225; ++x) {
            if (Display(*g, x, y) == Face(*g, x, y)) {
                continue;
            }
            ++changed;
            const bool inDisc = x >= 104 && x < 120 && y >= 135 && y < 151;
            const double vx = tip.x() - 112.0;
            const double vy = tip.y() - 143.0;
            const double t = std::clamp(
                ((x + 0.5 - 112) * vx + (y + 0.5 - 143) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
            const double d = std::hypot(x + 0.5 - 112 - t * vx, y + 0.5 - 143 - t * vy);
            EXPECT_TRUE(inDisc || d < 1.0) << x << "," << y;
        }
    }
    EXPECT_GT(changed, 150);

    EXPECT_EQ(g->RenderImage(), g->DisplayImage().Image());  // painting copies the display image
}

TEST_F(AnalogGaugeTest, PositionBeyondTheScaleSwingsPastTheEnd) {
    auto g = ConsoleGauge();
    g->SetPosition(15);  // 45 + 135 degrees: straight to the right, past the image edge
    EXPECT_EQ(Display(*g, 200, 142), clBlack);
    EXPECT_EQ(Display(*g, 200, 143), clBlack);
    g->SetPosition(-5);  // before the start: 0 degrees, straight to the left
    EXPECT_EQ(Display(*g, 30, 142), clBlack);
}

TEST_F(AnalogGaugeTest, OverMaxAndOverMinFireEveryTimeThePositionIsApplied) {
    auto g = ConsoleGauge();
    int overMax = 0;
    int overMin = 0;
    TComponent* sender = nullptr;
    g->OnOverMax = [&](TComponent* s) {
        ++overMax;
        sender = s;
    };
    g->OnOverMin = [&](TComponent*) { ++overMin; };
    g->SetPosition(2);  // equal to IndMaximum: nothing
    g->SetPosition(1);  // equal to IndMinimum: nothing
    EXPECT_EQ(overMax, 0);
    EXPECT_EQ(overMin, 0);
    g->SetPosition(2.1f);
    EXPECT_EQ(overMax, 1);
    EXPECT_EQ(sender, g.get());
    g->SetCenterColor(clRed);  // any face property applies the position again
    g->SetAngle(10);           // also a rejected one
    EXPECT_EQ(overMax, 3);
    g->SetBounds(12, 20, 225, 153);
    EXPECT_EQ(overMax, 3);  // a SetBounds without a change of size renders nothing
    g->SetBounds(12, 20, 226, 153);
    EXPECT_EQ(overMax, 4);
    g->SetArrowWidth(3);  // redraws the needle only
    EXPECT_EQ(overMax, 4);
    g->Font().SetHeight(-13);  // a font change rebuilds the face and applies the position
    EXPECT_EQ(overMax, 5);
    g->SetCaption(g->Caption());  // the same caption still rebuilds
    EXPECT_EQ(overMax, 6);
    g->SetPosition(0.5f);
    EXPECT_EQ(overMin, 1);
    EXPECT_EQ(overMax, 6);
}

TEST_F(AnalogGaugeTest, AcceptanceRules) {
    auto g = ConsoleGauge();
    g->SetAngle(10);
    EXPECT_EQ(g->Angle(), 90);
    g->SetAngle(361);
    EXPECT_EQ(g->Angle(), 90);
    g->SetAngle(360);
    EXPECT_EQ(g->Angle(), 360);
    g->SetAngle(120);
    g->SetStyle(leftstyle);
    EXPECT_EQ(g->Angle(), 90);  // capped by the rendering and written back

    g->SetScale(1);
    EXPECT_EQ(g->Scale(), 10);
    g->SetIndMaximum(10);  // not below Scale
    g->SetIndMinimum(0);
    EXPECT_EQ(g->IndMaximum(), 2);
    EXPECT_EQ(g->IndMinimum(), 1);

    g->SetArrowWidth(0);
    EXPECT_EQ(g->ArrowWidth(), 1);
    g->SetArrowWidth(9);
    EXPECT_EQ(g->ArrowWidth(), 5);

    g->SetNumberMainTicks(0);  // would divide by zero: refused
    EXPECT_EQ(g->NumberMainTicks(), 10);
    g->SetNumberMainTicks(-3);  // draws no ticks and no numbers
    EXPECT_EQ(g->NumberMainTicks(), -3);
}

TEST_F(AnalogGaugeTest, ScaleChangePullsTheBandLimitsInside) {
    TAnalogGauge g;
    g.SetScale(10);
    EXPECT_EQ(g.IndMaximum(), 9);
    EXPECT_EQ(g.IndMinimum(), 1);
    TAnalogGauge h;
    h.SetScale(100);  // 80 stays, 100 - 80 = 20 < 30 gives 20
    EXPECT_EQ(h.IndMaximum(), 80);
    EXPECT_EQ(h.IndMinimum(), 20);
}

TEST_F(AnalogGaugeTest, ResizeKeepsTheMinimumSizeAndResizesBothImages) {
    TAnalogGauge g;
    g.SetBounds(0, 0, 40, 30);
    EXPECT_EQ(g.Width(), 60);
    EXPECT_EQ(g.Height(), 50);
    EXPECT_EQ(g.FaceImage().Width(), 60);
    EXPECT_EQ(g.DisplayImage().Height(), 50);
    g.SetBounds(0, 0, 300, 200);
    EXPECT_EQ(g.FaceImage().Width(), 300);
    EXPECT_EQ(FromQRgb(g.FaceImage().Image().pixel(150, 100)) != clWhite, true);
}

TEST_F(AnalogGaugeTest, DegenerateRadiusIsUsedUnchanged) {
    auto g = ConsoleGauge();
    g->SetMargin(113);  // half the width or more: radius below zero, points fold through
    EXPECT_LE(g->Geometry(false).R, 0);
    g->SetPosition(5);
    EXPECT_EQ(g->DisplayImage().Width(), 225);
}

// Ticks closer than a pixel merge into a band: with a billion of them the ring of the main ticks
// is solid along the whole scale, drawn in bounded time.
TEST_F(AnalogGaugeTest, AnyNumberOfTicksPaintsABandAlongTheScale) {
    auto g = ConsoleGauge();
    g->SetFaceOptoins(FaceOption(ShowMainTicks) | FaceOption(ShowSubTicks) |
                      FaceOption(ShowCircles));
    g->SetLengthMainTicks(20);
    g->SetNumberMainTicks(1 << 30);
    const TGaugeGeometry geometry = g->Geometry(false);
    for (int k = 0; k <= 16; ++k) {
        const double angle = geometry.S + g->Angle() * (0.02 + 0.96 * k / 16.0);
        const QPoint p = TAnalogGauge::PointAt(geometry, angle, geometry.R - 12);
        EXPECT_EQ(Face(*g, p.x(), p.y()), clBlack) << k;
    }
    // With their numbers too (each drawn on the face's colour over the ticks).
    g->SetFaceOptoins(g->FaceOptoins() | FaceOption(ShowValues));
    g->SetNumberMainTicks(std::numeric_limits<int>::max());
    EXPECT_EQ(Face(*g, TAnalogGauge::PointAt(geometry, geometry.S + 45, geometry.R - 12).x(),
                   TAnalogGauge::PointAt(geometry, geometry.S + 45, geometry.R - 12).y()),
              clBlack);
}

// Properties at the ends of their range neither overflow nor take long: the face and the
// needle's layer are drawn as far as they reach into the images.
TEST_F(AnalogGaugeTest, PropertiesAtTheEndsOfTheirRangePaint) {
    constexpr int kMax = std::numeric_limits<int>::max();
    constexpr int kMin = std::numeric_limits<int>::min();
    auto g = ConsoleGauge();
    g->SetFaceOptoins(0xFFFF);
    g->SetScale(kMax);
    g->SetNumberMainTicks(3);
    EXPECT_EQ(g->Scale(), kMax);
    for (const int margin : {kMin, kMax, -100000}) {
        for (const TStyle style : {leftstyle, rightstyle, centerstyle}) {
            g->SetStyle(style);
            g->SetMargin(margin);
            EXPECT_EQ(g->FaceImage().Width(), 225);
        }
    }
    g->SetMargin(10);
    g->SetStyle(centerstyle);
    for (const int length : {kMin, kMax}) {
        g->SetLengthMainTicks(length);
        g->SetLengthSubTicks(length);
        g->SetCirclesRadius(length);
    }
    // A centre disc larger than the control covers all of it.
    g->SetCenterRadius(kMax);
    for (const QPoint p : {QPoint(0, 0), QPoint(224, 152), QPoint(112, 3)}) {
        EXPECT_EQ(Display(*g, p.x(), p.y()), clLime) << p.x() << "," << p.y();
    }
    // A position that is no number points nowhere: only the face and the disc are drawn.
    g->SetCenterRadius(8);
    for (const float position : {std::numeric_limits<float>::quiet_NaN(),
                                 std::numeric_limits<float>::infinity(), -3e38f}) {
        g->SetPosition(position);
        const TGaugeGeometry geometry = g->Geometry(true);
        EXPECT_EQ(Display(*g, geometry.Cx, geometry.Cy), clLime);
    }
}

}  // namespace
}  // namespace velmora
