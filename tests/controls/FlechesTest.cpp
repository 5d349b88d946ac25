#include "controls/Fleches.h"
#include "framework/WinControl.h"
#include "tests/support/GuiTest.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace velmora {
namespace {

using Points = std::vector<QPoint>;

class FlechesTest : public GuiTest {
protected:
    // An arrow line on a lime parent, so untouched pixels read lime.
    void Place(TFleches& f, int w, int h) {
        parent_.SetBounds(0, 0, w, h);
        parent_.SetColor(clLime);
        f.SetParent(&parent_);
        f.SetBounds(0, 0, w, h);
    }
    static TColor At(const QImage& img, int x, int y) { return FromQRgb(img.pixel(x, y)); }
    static int Count(const QImage& img, TColor c) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                n += At(img, x, y) == c ? 1 : 0;
            }
        }
        return n;
    }

    TWinControl parent_;
};

// The dividers of the main window's functions column.
TEST_F(FlechesTest, ArrowLineOfTheMainWindow) {
    TFleches f;
    Place(f, 100, 17);
    f.StyleLigne().SetColor(clYellow);
    f.StyleLigne().SetStyle(psInsideFrame);
    f.SetPositionLigne(Horizontale);
    f.SetPointe1Forme(Ronde);
    f.SetPointe2Forme(Ronde);
    for (auto set : {&TFleches::SetPointe1Longueur, &TFleches::SetPointe2Longueur,
                     &TFleches::SetPointe1Largeur, &TFleches::SetPointe2Largeur,
                     &TFleches::SetPointe1Epaisseur, &TFleches::SetPointe2Epaisseur}) {
        (f.*set)(1);
    }
    const QImage img = f.RenderImage();
    const TFGeometrie& g = f.Geometrie();
    EXPECT_EQ(g.Cy, 8);
    EXPECT_EQ(g.X1, 1);
    EXPECT_EQ(g.X2, 99);
    EXPECT_EQ(f.BoitePointe(Horizontale, feDebut, 1), Rect(0, 8, 1, 8));
    EXPECT_EQ(f.BoitePointe(Horizontale, feFin, 1), Rect(99, 8, 100, 8));
    // The line from (1, 8) to (99, 8), end excluded; the round ends have no height.
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 100; ++x) {
            const bool line = y == 8 && x >= 1 && x <= 98;
            ASSERT_EQ(At(img, x, y), line ? clYellow : clLime) << x << "," << y;
        }
    }
}

TEST_F(FlechesTest, WithoutPointsTheFigureReachesTheEdges) {
    TFleches f;
    Place(f, 60, 40);
    f.SetPositionPointe(Sans);
    f.SetPositionLigne(Horizontale);
    QImage img = f.RenderImage();
    EXPECT_EQ(Count(img, clYellow), 60);
    EXPECT_EQ(At(img, 0, 20), clYellow);
    EXPECT_EQ(At(img, 59, 20), clYellow);

    f.SetPositionLigne(Verticale);
    img = f.RenderImage();
    EXPECT_EQ(Count(img, clYellow), 40);
    EXPECT_EQ(At(img, 30, 0), clYellow);
    EXPECT_EQ(At(img, 30, 39), clYellow);

    f.SetPositionLigne(CompleteDiagonale);
    EXPECT_EQ(f.PositionPointe(), Sans);
    img = f.RenderImage();
    const TFGeometrie& g = f.Geometrie();
    EXPECT_EQ(g.DescDebut, QPoint(0, 0));
    EXPECT_EQ(g.DescFin, QPoint(60, 40));
    EXPECT_EQ(g.MontDebut, QPoint(0, 40));
    EXPECT_EQ(g.MontFin, QPoint(60, 0));
    EXPECT_EQ(At(img, 0, 0), clYellow);
    EXPECT_EQ(At(img, 59, 1), clYellow);  // the rising diagonal, drawn from its end...
    EXPECT_EQ(At(img, 1, 39), clYellow);
    EXPECT_EQ(At(img, 0, 39), clLime);  // ...stops before its start (0, 40)
}

TEST_F(FlechesTest, SegmentsMakeRoomForThePoints) {
    TFleches f;
    Place(f, 100, 60);
    f.SetPointe1Longueur(10);
    f.SetPointe2Longueur(30);
    struct Case {
        TFPositionPointe pointe;
        int y1, y2, x1, x2;
    } cases[] = {
        {Doubles, 10, 30, 10, 70},
        {Gauche, 10, 60, 10, 100},  // only the start is shortened
        {Droite, 0, 50, 0, 90},     // the single point has point 1's length
        {Sans, 0, 60, 0, 100},
    };
    for (const Case& c : cases) {
        f.SetPositionPointe(c.pointe);
        f.RenderImage();
        const TFGeometrie& g = f.Geometrie();
        EXPECT_EQ(g.Cx, 50);
        EXPECT_EQ(g.Cy, 30);
        EXPECT_EQ(g.Y1, c.y1) << c.pointe;
        EXPECT_EQ(g.Y2, c.y2) << c.pointe;
        EXPECT_EQ(g.X1, c.x1) << c.pointe;
        EXPECT_EQ(g.X2, c.x2) << c.pointe;
    }
}

TEST_F(FlechesTest, ElbowsThatEndAtTheTopOrStartAtTheBottom) {
    TFleches f;
    Place(f, 100, 100);
    f.SetPointe1Longueur(10);
    f.SetPointe2Longueur(30);
    struct Case {
        TFPositionLigne ligne;
        TFPositionPointe pointe;
        int y1, y2, x1, x2;
    } cases[] = {
        // The top is the end of CoudeGaucheHaut.
        {CoudeGaucheHaut, Doubles, 30, 70, 10, 70},
        {CoudeGaucheHaut, Gauche, 0, 100, 10, 100},
        {CoudeGaucheHaut, Droite, 10, 90, 0, 90},
        // The bottom is the start of CoudeDroiteBas.
        {CoudeDroiteBas, Doubles, 10, 90, 10, 70},
        {CoudeDroiteBas, Gauche, 10, 90, 10, 100},
        {CoudeDroiteBas, Droite, 0, 100, 0, 90},
        // The other two elbows use the segments as they are.
        {CoudeDroiteHaut, Doubles, 10, 70, 10, 70},
        {CoudeGaucheBas, Droite, 0, 90, 0, 90},
    };
    for (const Case& c : cases) {
        f.SetPositionLigne(c.ligne);
        f.SetPositionPointe(c.pointe);
        f.RenderImage();
        const TFGeometrie& g = f.Geometrie();
        const std::string what = std::to_string(c.ligne) + "/" + std::to_string(c.pointe);
        EXPECT_EQ(g.Y1, c.y1) << what;
        EXPECT_EQ(g.Y2, c.y2) << what;
        EXPECT_EQ(g.X1, c.x1) << what;
        EXPECT_EQ(g.X2, c.x2) << what;
    }

    // CoudeGaucheHaut without visible points: from (50, 30) down to the centre, then left to
    // (10, 50), its last pixel excluded.
    f.SetPositionLigne(CoudeGaucheHaut);
    f.SetPositionPointe(Doubles);
    f.SetPointe1Forme(Ronde);
    f.SetPointe2Forme(Ronde);
    f.SetPointe1Largeur(0);
    f.SetPointe2Largeur(0);
    const QImage img = f.RenderImage();
    EXPECT_EQ(Count(img, clYellow), 20 + 40);
    EXPECT_EQ(At(img, 50, 30), clYellow);
    EXPECT_EQ(At(img, 50, 29), clLime);
    EXPECT_EQ(At(img, 50, 50), clYellow);
    EXPECT_EQ(At(img, 11, 50), clYellow);
    EXPECT_EQ(At(img, 10, 50), clLime);
    EXPECT_EQ(At(img, 51, 50), clLime);
}

TEST_F(FlechesTest, CrossAndXSwitchToPointsAtAllFourEnds) {
    TFleches f;
    f.SetPositionPointe(Gauche);
    f.SetPositionLigne(CompleteDiagonale);
    EXPECT_EQ(f.PositionPointe(), Doubles);
    f.SetPositionPointe(Droite);
    EXPECT_EQ(f.PositionPointe(), Doubles);
    f.SetPositionPointe(Sans);
    EXPECT_EQ(f.PositionPointe(), Sans);
    f.SetPositionLigne(CompleteDroite);
    EXPECT_EQ(f.PositionPointe(), Sans);
    f.SetPositionLigne(Horizontale);
    f.SetPositionPointe(Gauche);
    EXPECT_EQ(f.PositionPointe(), Gauche);
}

TEST_F(FlechesTest, ArrowheadOnAHorizontalLine) {
    TFleches f;
    Place(f, 100, 40);
    f.SetPositionLigne(Horizontale);
    f.SetPointe1Couleur(clRed);
    f.SetPointe2Couleur(clBlue);
    const QImage img = f.RenderImage();
    // The last point built is point 2's: tip at the right edge, base 20 pixels wide.
    EXPECT_EQ(f.Pointe(), (Points{{100, 20}, {80, 30}, {80, 10}}));
    EXPECT_DOUBLE_EQ(f.Geometrie().AngleBiais, 0.0);
    // Point 1: the outline in the line colour, the inside filled with its colour.
    EXPECT_EQ(At(img, 20, 10), clYellow);
    EXPECT_EQ(At(img, 20, 30), clYellow);
    EXPECT_EQ(At(img, 20, 9), clLime);
    EXPECT_EQ(At(img, 20, 31), clLime);
    EXPECT_EQ(At(img, 0, 20), clYellow);  // the tip
    EXPECT_EQ(At(img, 15, 20), clRed);
    EXPECT_EQ(At(img, 85, 20), clBlue);
    EXPECT_EQ(At(img, 50, 20), clYellow);  // the line between the points
    EXPECT_EQ(At(img, 50, 19), clLime);

    // An outline point leaves its inside alone.
    f.SetPointe1Type(Vide);
    EXPECT_EQ(At(f.RenderImage(), 15, 20), clLime);
}

TEST_F(FlechesTest, SkewedArrowheadAndVerticalEnds) {
    TFleches f;
    Place(f, 100, 100);
    // v = 20, s = arctan(20 div 10) = arctan 2, b = floor(cos(arctan 2) * 20) = floor(8.94).
    f.SetPointe2Largeur(40);
    f.SetPointe2Longueur(10);
    f.RenderImage();
    EXPECT_EQ(f.Pointe(), (Points{{50, 100}, {58, 90}, {42, 90}}));
    EXPECT_DOUBLE_EQ(f.Geometrie().AngleBiais, std::atan(2.0));
    // 19 div 20 is 0: no skew.
    f.SetPointe2Largeur(38);
    f.SetPointe2Longueur(20);
    f.RenderImage();
    EXPECT_EQ(f.Pointe(), (Points{{50, 100}, {69, 80}, {31, 80}}));
    f.CreePointe(Verticale, feDebut, 20, 20);
    EXPECT_EQ(f.Pointe(), (Points{{50, 0}, {60, 20}, {40, 20}}));
}

TEST_F(FlechesTest, DiagonalsAreShortenedAlongThemselves) {
    TFleches f;
    Place(f, 100, 50);
    f.SetPositionLigne(DiagonaleGauche);
    f.RenderImage();
    // D = 111.80; 20 along it is 17.89 across and 8.94 down, each coordinate truncated.
    const TFGeometrie& g = f.Geometrie();
    EXPECT_EQ(g.DescDebut, QPoint(17, 8));
    EXPECT_EQ(g.DescFin, QPoint(82, 41));
    EXPECT_EQ(g.MontDebut, QPoint(17, 41));
    EXPECT_EQ(g.MontFin, QPoint(82, 8));
    EXPECT_DOUBLE_EQ(g.AngleDiag, std::atan(2.0));  // arctan(W / H) for a wide control
    // Base points v = 10 away on the perpendicular: (17 + 4.47, 8 - 8.94), (17 - 4.47, 8 + 8.94).
    f.CreePointe(DiagonaleGauche, feDebut, 20, 20);
    EXPECT_EQ(f.Pointe(), (Points{{0, 0}, {21, 0}, {12, 16}}));
    f.CreePointe(DiagonaleDroite, feFin, 20, 20);
    EXPECT_EQ(f.Pointe(), (Points{{100, 0}, {77, 0}, {86, 16}}));
    // Diamond: side corners beside the point 10 from the tip, (8.94, 4.47).
    f.CreeLosange(DiagonaleGauche, feDebut, 20, 20);
    EXPECT_EQ(f.Pointe(), (Points{{0, 0}, {13, -4}, {17, 8}, {4, 13}}));

    // A tall control: arctan(H / W), with sine and cosine swapped.
    Place(f, 50, 100);
    f.RenderImage();
    EXPECT_EQ(g.DescDebut, QPoint(8, 17));
    EXPECT_DOUBLE_EQ(g.AngleDiag, std::atan(2.0));
    f.CreePointe(DiagonaleGauche, feDebut, 20, 20);
    EXPECT_EQ(f.Pointe(), (Points{{0, 0}, {16, 12}, {0, 21}}));

    // Round and square points move the end by their length across and their width down.
    f.SetPointe1Forme(Ronde);
    f.SetPointe1Longueur(6);
    f.SetPointe1Largeur(9);
    f.RenderImage();
    EXPECT_EQ(g.DescDebut, QPoint(6, 9));
    EXPECT_EQ(f.BoitePointe(DiagonaleGauche, feDebut, 9), Rect(0, 0, 6, 9));
    EXPECT_EQ(g.DescFin, QPoint(41, 82));  // point 2 is still an arrowhead
}

TEST_F(FlechesTest, DiamondsAtAxisParallelEnds) {
    TFleches f;
    Place(f, 100, 40);
    f.SetPositionLigne(Horizontale);
    f.SetPointe1Forme(Losange);
    f.SetPointe2Forme(Losange);
    f.RenderImage();
    EXPECT_EQ(f.Pointe(), (Points{{100, 20}, {90, 30}, {80, 20}, {90, 10}}));
    f.CreeLosange(Horizontale, feDebut, 20, 20);
    EXPECT_EQ(f.Pointe(), (Points{{0, 20}, {10, 30}, {20, 20}, {10, 10}}));
    const QImage img = f.RenderImage();
    EXPECT_EQ(At(img, 10, 10), clYellow);
    EXPECT_EQ(At(img, 10, 20), clYellow);  // filled in the point colour, yellow too
    EXPECT_EQ(At(img, 10, 31), clLime);

    Place(f, 40, 100);
    f.SetPositionLigne(Verticale);
    f.RenderImage();
    EXPECT_EQ(f.Pointe(), (Points{{20, 100}, {10, 90}, {20, 80}, {30, 90}}));
    f.CreeLosange(Verticale, feDebut, 20, 20);
    EXPECT_EQ(f.Pointe(), (Points{{20, 0}, {10, 10}, {20, 20}, {30, 10}}));
}

TEST_F(FlechesTest, SquaresAndCirclesFillTheirBoxes) {
    TFleches f;
    Place(f, 100, 100);
    f.SetPositionLigne(CompleteDroite);
    f.SetPointe1Forme(Carre);
    f.SetPointe2Forme(Carre);
    f.SetPointe1Longueur(10);
    f.SetPointe2Longueur(10);
    f.SetPointe1Couleur(clRed);
    f.SetPointe2Couleur(clBlue);
    const QImage img = f.RenderImage();
    EXPECT_EQ(f.BoitePointe(Verticale, feDebut, 20), Rect(40, 0, 60, 10));
    // Point 1 at the left and the top, point 2 at the right and the bottom.
    EXPECT_EQ(At(img, 45, 5), clRed);
    EXPECT_EQ(At(img, 5, 45), clRed);
    EXPECT_EQ(At(img, 55, 95), clBlue);
    EXPECT_EQ(At(img, 95, 55), clBlue);
    EXPECT_EQ(At(img, 40, 0), clYellow);  // outline
    EXPECT_EQ(At(img, 59, 9), clYellow);
    EXPECT_EQ(At(img, 60, 5), clLime);
    EXPECT_EQ(At(img, 50, 50), clYellow);  // the cross

    // Circles at the four corners of an X; a thick outline grows them.
    f.SetPositionLigne(CompleteDiagonale);
    f.SetPointe1Forme(Ronde);
    f.SetPointe2Forme(Ronde);
    f.SetPointe1Largeur(10);
    f.SetPointe2Largeur(10);
    QImage x = f.RenderImage();
    EXPECT_EQ(f.BoitePointe(DiagonaleDroite, feDebut, 10), Rect(0, 90, 10, 100));
    EXPECT_EQ(At(x, 5, 5), clRed);
    EXPECT_EQ(At(x, 5, 95), clRed);
    EXPECT_EQ(At(x, 95, 5), clBlue);
    EXPECT_EQ(At(x, 95, 95), clBlue);
    EXPECT_EQ(At(x, 0, 0), clLime);  // outside the circle
    EXPECT_EQ(At(x, 50, 50), clYellow);
    f.SetPointe1Epaisseur(3);
    x = f.RenderImage();
    EXPECT_EQ(At(x, 5, 1), clYellow);
    EXPECT_EQ(At(x, 5, 3), clRed);
}

TEST_F(FlechesTest, SinglePointUsesPointOnesAttributes) {
    TFleches f;
    Place(f, 100, 40);
    f.SetPositionLigne(Horizontale);
    f.SetPositionPointe(Droite);
    f.SetPointe1Forme(Carre);
    f.SetPointe1Longueur(10);
    f.SetPointe1Largeur(10);
    f.SetPointe1Couleur(clRed);
    f.SetPointe2Couleur(clBlue);
    const QImage img = f.RenderImage();
    EXPECT_EQ(f.Geometrie().X1, 0);
    EXPECT_EQ(f.Geometrie().X2, 90);
    EXPECT_EQ(At(img, 95, 18), clRed);
    EXPECT_EQ(At(img, 0, 20), clYellow);
    EXPECT_EQ(At(img, 0, 19), clLime);
    EXPECT_EQ(Count(img, clBlue), 0);
}

TEST_F(FlechesTest, PenAndBrushOfTheLine) {
    TFleches f;
    Place(f, 60, 40);
    f.SetPositionLigne(Horizontale);
    f.SetPositionPointe(Sans);
    f.StyleLigne().SetWidth(3);
    f.StyleLigne().SetColor(clNavy);
    QImage img = f.RenderImage();
    EXPECT_EQ(At(img, 30, 19), clNavy);
    EXPECT_EQ(At(img, 30, 21), clNavy);
    EXPECT_EQ(At(img, 30, 22), clLime);
    // The pen's mode mixes the line with what lies beneath: lime xor navy.
    f.StyleLigne().SetMode(pmXor);
    img = f.RenderImage();
    EXPECT_EQ(At(img, 30, 20), clLime ^ clNavy);
    // A clear pen draws no line and no outline, but the point is still filled.
    f.StyleLigne().SetMode(pmCopy);
    f.StyleLigne().SetStyle(psClear);
    f.SetPositionPointe(Gauche);
    f.SetPointe1Couleur(clRed);
    img = f.RenderImage();
    EXPECT_EQ(Count(img, clNavy), 0);
    EXPECT_GT(Count(img, clRed), 0);
}

TEST_F(FlechesTest, OwnerBecomesTheParentThroughOnCreate) {
    TWinControl owner;
    TFleches f(&owner);
    EXPECT_EQ(f.BoundsRect(), Rect(0, 0, 100, 100));
    EXPECT_TRUE(bool(f.OnClick));          // preset to the repaint
    EXPECT_EQ(f.parentWidget(), nullptr);  // OnCreate is never raised by the control itself
    f.OnCreate(&f);
    EXPECT_EQ(f.parentWidget(), &owner);

    TFleches lonely(&f);  // a windowless owner is no parent
    lonely.OnCreate(&lonely);
    EXPECT_EQ(lonely.parentWidget(), nullptr);
}

TEST_F(FlechesTest, AbsurdSizesDrawWithoutHarm) {
    TFleches f;
    Place(f, 50, 50);
    for (TFPositionLigne l : {Verticale, DiagonaleDroite, CoudeGaucheHaut, CompleteDiagonale}) {
        for (TFFormePointe forme : {Classic, Ronde, Carre, Losange}) {
            f.SetPositionLigne(l);
            f.SetPointe1Forme(forme);
            f.SetPointe2Forme(forme);
            f.SetPointe1Longueur(INT_MIN);
            f.SetPointe1Largeur(INT_MAX);
            f.SetPointe2Longueur(0);
            f.SetPointe2Largeur(-7);
            f.SetPointe1Epaisseur(INT_MAX);
            f.SetPointe2Epaisseur(-3);
            const QImage img = f.RenderImage();
            EXPECT_EQ(img.size(), QSize(50, 50));
        }
    }
    EXPECT_EQ(f.Pointe1Longueur(), INT_MIN);  // stored as given
    EXPECT_EQ(f.Pointe1Epaisseur(), INT_MAX);
    Place(f, 0, 0);
    EXPECT_TRUE(f.RenderImage().isNull() || f.RenderImage().size().isEmpty());
}

}  // namespace
}  // namespace velmora
