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

}  // namespace
}  // namespace velmora
