#include "framework/Font.h"
#include "tests/support/GuiTest.h"

#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(FontTest, HeightAndPointSizeFollowTheClassicConversion) {
    TFont f;
    EXPECT_EQ(f.Name(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(f.Height(), -11);
    EXPECT_EQ(f.Size(), 8);
    EXPECT_EQ(f.Color(), clWindowText);
    f.SetSize(10);
    EXPECT_EQ(f.Height(), -13);
    f.SetSize(8);
    EXPECT_EQ(f.Height(), -11);
    f.SetHeight(-32);
    EXPECT_EQ(f.Size(), 24);
    EXPECT_EQ(FontPixelSize(QStringLiteral("Arial"), -11, 0), 11);
    EXPECT_EQ(FontPixelSize(QStringLiteral("Arial"), -32, fsBold), 32);
}

TEST(FontTest, ChangesNotifyAndAssignCopiesAttributesOnly) {
    TFont a;
    int changes = 0;
    a.OnChange = [&] { ++changes; };
    a.SetColor(clRed);
    a.SetColor(clRed);  // no change, no notification
    a.SetStyle(fsBold | fsItalic);
    EXPECT_EQ(changes, 2);
    TFont b;
    b.Assign(a);
    EXPECT_TRUE(b == a);
    EXPECT_FALSE(b.OnChange);
}

class FontFamilyTest : public GuiTest {};

TEST_F(FontFamilyTest, ClassicFamiliesMapToInstalledFonts) {
    TFont arial;
    arial.SetName(QStringLiteral("Arial"));
    EXPECT_EQ(QFontInfo(arial.ToQFont()).family(), QStringLiteral("Liberation Sans"));

    TFont dialog;  // MS Sans Serif
    const QString expected = QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))
                                 ? QStringLiteral("Tahoma")
                                 : QStringLiteral("DejaVu Sans");
    EXPECT_EQ(QFontInfo(dialog.ToQFont()).family(), expected);
    EXPECT_EQ(dialog.ToQFont().pixelSize(), 11);
    EXPECT_FALSE(dialog.ToQFont().styleStrategy() & QFont::PreferAntialias);
    EXPECT_TRUE(dialog.ToQFont().styleStrategy() & QFont::NoAntialias);
}

TEST_F(FontFamilyTest, PositiveHeightIsTheCellHeight) {
    TFont f;
    f.SetName(QStringLiteral("Arial"));
    f.SetHeight(12);
    // Liberation Sans: ascent + descent is 1.117 em, so a 12-pixel cell is an 11-pixel em.
    EXPECT_EQ(f.ToQFont().pixelSize(), 11);
    f.SetHeight(40);
    EXPECT_EQ(f.ToQFont().pixelSize(), 36);
    const QFontMetrics m(f.ToQFont());
    EXPECT_NEAR(m.height(), 40, 1);
}

// Text cells as the classic platform lays them out: Tahoma at 8 point is 13 pixels high with its
// baseline 11 pixels below the top, although Qt would measure the face's typographic metrics.
TEST_F(FontFamilyTest, CellFollowsTheWindowsMetrics) {
    if (!QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))) {
        GTEST_SKIP() << "fonts-wine is not installed";
    }
    for (const char* name : {"Tahoma", "MS Sans Serif"}) {
        TFont f;
        f.SetName(QString::fromLatin1(name));
        EXPECT_EQ(f.CellAscent(), 11) << name;
        EXPECT_EQ(f.CellDescent(), 2) << name;
        EXPECT_EQ(f.CellHeight(), 13) << name;
        f.SetHeight(-32);
        EXPECT_EQ(f.CellHeight(), 32 + 7) << name;
        // A positive height is that cell: 13 pixels is the 11-pixel em again.
        f.SetHeight(13);
        EXPECT_EQ(f.ToQFont().pixelSize(), 11) << name;
    }
    // Faces that Qt measures by the same metrics keep Qt's cell.
    TFont arial;
    arial.SetName(QStringLiteral("Arial"));
    const QFontMetrics m(arial.ToQFont());
    EXPECT_EQ(arial.CellAscent(), m.ascent());
    EXPECT_EQ(arial.CellHeight(), m.height());
}

// Widths are kept per face and text: the same text in another face, size or style, measured right
// after it, is that face's width, and a kept width is the one Qt measures.
TEST_F(FontFamilyTest, TextWidthsAreThoseOfTheirOwnFace) {
    struct Case {
        const char* family;
        int height;
        TFontStyles style;
    };
    const Case cases[] = {{"Arial", -11, 0},
                          {"Arial", -11, fsBold},
                          {"Arial", -32, fsBold},
                          {"Tahoma", -11, 0},
                          {"Courier New", -11, 0}};
    for (const QString& text : {QStringLiteral("Wert übernehmen"), QStringLiteral("8000Hz"),
                                QStringLiteral("iiii"), QString()}) {
        for (int round = 0; round < 2; ++round) {  // measured, then kept
            for (const Case& c : cases) {
                TFont f;
                f.SetName(QString::fromLatin1(c.family));
                f.SetHeight(c.height);
                f.SetStyle(c.style);
                EXPECT_EQ(f.TextWidth(text), QFontMetrics(f.ToQFont()).horizontalAdvance(text))
                    << c.family << " " << c.height << " " << c.style << " " << text.toStdString();
            }
        }
    }
}

}  // namespace
}  // namespace velmora
