// Each drawn control on a scaled screen: drawn at the screen's own resolution, not its ratio-1
// picture enlarged, and still the same picture.
#include "controls/AnalogGauge.h"
#include "controls/Credits.h"
#include "controls/DsGroup.h"
#include "controls/ExTrackBar.h"
#include "controls/Fleches.h"
#include "controls/Hemibtn.h"
#include "controls/janColorButton.h"
#include "framework/Label.h"
#include "framework/ScaledRaster.h"

#include "tests/support/GuiTest.h"
#include "tests/support/ScaledPictures.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace velmora {
namespace {

struct DrawnControl {
    std::string name;
    // Whether it draws frames or lines along its sides, which stay sharp at any ratio.
    bool framed;
    std::function<std::unique_ptr<TControl>()> make;
};

void PrintTo(const DrawnControl& c, std::ostream* os) {
    *os << c.name;
}

TFont Font(const char* name, int height, TFontStyles style = 0) {
    TFont font;
    font.SetName(QString::fromLatin1(name));
    font.SetHeight(height);
    font.SetStyle(style);
    return font;
}

// The controls as the test console has them.
std::vector<DrawnControl> DrawnControls() {
    return {
        {"Gauge", true,
         [] {
             auto g = std::make_unique<TAnalogGauge>();
             g->SetBounds(0, 0, 225, 153);
             g->SetCaption(QStringLiteral("Lautstärke"));
             g->SetScale(10);
             g->SetNumberMainTicks(10);
             g->SetIndMaximum(8);
             g->SetPosition(3.5F);
             return g;
         }},
        {"RoundButton", false,
         [] {
             auto b = std::make_unique<THemisphereButton>();
             b->SetBounds(0, 0, 41, 41);
             b->SetFaceColor(clGreen);
             b->SetBevelWidth(2);
             b->SetBorderStyle(bsSingle);
             return b;
         }},
        {"ColourButton", true,
         [] {
             auto b = std::make_unique<TjanColorButton>();
             b->SetBounds(0, 0, 99, 24);
             b->SetFont(Font("Arial", -11, fsBold));
             b->SetCaption(QStringLiteral("Zurücksetzen"));
             b->SetColor(clSilver);
             b->SetFlat(false);
             return b;
         }},
        {"TrackBar", true,
         [] {
             auto t = std::make_unique<TExTrackBar>();
             t->SetBounds(0, 0, 389, 45);
             t->SetMax(9);
             t->SetLabels(true);
             t->SetLabelsFirstLast(true);
             t->SetLabelsInterval(1);
             t->SetLabelsLeftTop(28);
             t->SetPosition(3);
             return t;
         }},
        {"GroupBox", true,
         [] {
             auto g = std::make_unique<TDsGroup>();
             g->SetBounds(0, 0, 160, 80);
             g->SetCaption(QStringLiteral("  Ausgabefrequenz  "));
             g->SetCornerRadius(8);
             return g;
         }},
        {"Label", false,
         [] {
             auto l = std::make_unique<TLabel>();
             l->SetFont(Font("MS Sans Serif", -11, fsBold));
             l->SetCaption(QStringLiteral("Wert übernehmen"));
             return l;
         }},
        {"Credits", true,
         [] {
             auto c = std::make_unique<TScrollingCredits>();
             c->SetBounds(0, 0, 109, 81);
             c->SetCredits({QStringLiteral("&bVelmora"), QStringLiteral("Relativtest V 1.00"),
                            QStringLiteral("(c) 2026"), QString(),
                            QStringLiteral("&bDas Velmora-Team")});
             c->SetAnimate(true);
             for (int i = 0; i < 60; ++i) {
                 c->DispatchTimer();
             }
             return c;
         }},
        {"Arrows", false,
         [] {
             auto f = std::make_unique<TFleches>();
             f->SetBounds(0, 0, 100, 40);
             f->SetPositionLigne(DiagonaleDroite);
             f->SetPointe2Forme(Ronde);
             return f;
         }},
    };
}

class ScaledDrawing : public GuiTestOf<::testing::TestWithParam<DrawnControl>> {};

// At 2 and at 1.5 the picture has the screen's device pixels and is drawn at that resolution:
// not the ratio-1 picture enlarged pixel by pixel (as Qt shows a picture of ratio 1 on a scaled
// screen: at 2 every aligned 2 x 2 block one colour), nor smoothly (as a kept picture of the
// wrong ratio would be stretched: its frames blurred), while it shows the same thing in the same
// places. Back at 1 it is the ratio-1 picture again, pixel for pixel.
TEST_P(ScaledDrawing, DrawnAtTheScreensResolutionNotEnlarged) {
    const std::unique_ptr<TControl> control = GetParam().make();
    const QImage one = control->RenderImage(1);
    for (const double ratio : {2.0, 1.5}) {
        SCOPED_TRACE(ratio);
        const QImage scaled = control->RenderImage(ratio);
        const QSize size = DeviceGrid(ratio).DeviceSize(control->Width(), control->Height());
        ASSERT_EQ(scaled.size(), size);
        EXPECT_EQ(scaled.devicePixelRatio(), ratio);

        // Where the ratio-1 picture has edges, the two ways of enlarging it differ by `blur`.
        const std::vector<QPoint> edges = test::EdgePixels(one, size);
        ASSERT_FALSE(edges.empty());
        const QImage byPixels = test::EnlargedByPixels(one, size);
        const QImage smoothly = test::EnlargedSmoothly(one, size);
        const double blur = test::MeanDifferenceAt(byPixels, smoothly, edges);
        if (GetParam().framed) {
            // Its frames lie on whole device pixels: sharp, whatever blurred picture is near.
            const DeviceGrid grid(ratio);
            EXPECT_GT(
                test::SharpStraightEdges(one, scaled, [&grid](int k) { return int(grid.Edge(k)); }),
                0.95);
        }
        if (ratio == 2.0) {
            EXPECT_GT(test::MixedEdgeBlocks(one, scaled), 0.05);
        }
        EXPECT_GT(test::MeanDifferenceAt(scaled, byPixels, edges), 0.25 * blur);
        EXPECT_GT(test::MeanDifferenceAt(scaled, smoothly, edges), 0.4 * blur);

        // The same picture: seen from a distance (a third of the ratio-1 size, where glyphs drawn
        // from outlines and from a face's small bitmaps, or a line one or two device pixels wide,
        // look alike) it differs from the ratio-1 picture by less than half of what an empty
        // picture of its background would.
        const QSize distant(std::max(1, one.width() / 3), std::max(1, one.height() / 3));
        const QImage empty = test::Emptied(one);
        EXPECT_LT(
            test::MeanDifference(test::Reduced(scaled, distant), test::Reduced(one, distant)),
            0.5 * test::MeanDifference(test::Reduced(empty, distant), test::Reduced(one, distant)));
    }
    EXPECT_EQ(control->RenderImage(1), one);
}

INSTANTIATE_TEST_SUITE_P(Controls, ScaledDrawing, ::testing::ValuesIn(DrawnControls()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace velmora
