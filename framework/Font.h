#pragma once

#include "framework/Color.h"

#include <QFont>
#include <QString>

#include <functional>

namespace velmora {

// Font style bits.
enum TFontStyle : unsigned {
    fsBold = 1u << 0,
    fsItalic = 1u << 1,
    fsUnderline = 1u << 2,
    fsStrikeOut = 1u << 3,
};
using TFontStyles = unsigned;

// Font as the window framework describes it.
//
// Height follows the classic convention: a negative height is the character height in pixels
// (the em size; -11 is 8 point at 96 dpi), a positive height the cell height (ascent plus
// descent), from which the em size is derived with the font's own proportions. Size is in points
// at 96 dpi. Family names of the classic desktop are mapped to installed fonts at one place
// (InstallFontSubstitutions): "Arial" to Liberation Sans, "MS Sans Serif" and "Tahoma" to the
// Tahoma of the fonts-wine package when present, else DejaVu Sans. Text is drawn without
// antialiasing.
//
// OnChange runs after every change of an attribute (not copied by Assign).
class TFont {
public:
    TFont();
    TFont(const TFont& other);
    TFont& operator=(const TFont& other);

    void Assign(const TFont& other);

    const QString& Name() const { return name_; }
    void SetName(const QString& name);
    int Height() const { return height_; }
    void SetHeight(int height);
    int Size() const;
    void SetSize(int points);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    TFontStyles Style() const { return style_; }
    void SetStyle(TFontStyles style);
    int Charset() const { return charset_; }
    void SetCharset(int charset);

    bool operator==(const TFont& other) const;

    // The Qt font that draws this font: em size in pixels, no antialiasing, no hinting (hinted at
    // 8 point, a bold face sets its digits into one another).
    const QFont& ToQFont() const;
    // The same for drawing at a pixel ratio: above 1, antialiased in grey levels (glyphs are then
    // drawn from outlines, and a picture may be copied anywhere, so a screen's subpixel order is
    // no concern); otherwise ToQFont().
    QFont ToQFont(double ratio) const;

    // The text cell as the classic platform lays text out: ascent and descent in pixels from
    // the font's Windows metrics (OS/2 usWinAscent and usWinDescent scaled to the em size, each
    // rounded), or Qt's own metrics for a font without them. Qt may prefer a font's typographic
    // metrics, which for Tahoma gives a cell of 11 pixels at 8 point instead of 13.
    int CellAscent() const;
    int CellDescent() const;
    int CellHeight() const { return CellAscent() + CellDescent(); }

    // The advance of `text` in this font, in pixels. Kept per face and text: labels, captions
    // and scales measure the same few texts at every layout and paint.
    int TextWidth(const QString& text) const;

    std::function<void()> OnChange;

private:
    // After every change; `face` when the Qt font that draws it must be built again (not for the
    // colour or the character set).
    void Changed(bool face = true);

    QString name_;
    int height_;
    TColor color_;
    TFontStyles style_ = 0;
    int charset_ = 1;  // default character set
    mutable QFont qfont_;
    mutable QString faceKey_;  // what the face's cell and text widths are kept under
    mutable bool qfontValid_ = false;
    mutable int cellAscent_ = 0;
    mutable int cellDescent_ = 0;
};

// Registers the family substitutions and the fonts of fonts-wine (needs a QGuiApplication).
// Runs once; TFont calls it before it builds its first Qt font.
void InstallFontSubstitutions();

// The em size in pixels that a font of the given family and classic height is drawn with.
int FontPixelSize(const QString& family, int height, TFontStyles style);

// How much (in ems) the outlines of a bold Qt font must be widened to look bold when drawn from
// outlines (antialiased, at a pixel ratio above 1): 0 for a face whose bold outlines are bold.
// Some faces made for small screens (the Tahoma of fonts-wine) carry their bold weight only in
// the bitmaps they embed for small sizes; their bold outlines are no bolder than the regular
// ones. Such a face gets the stems of a bold face: 1.75 times the regular stem (Liberation
// Sans has 1.56, DejaVu Sans 1.94). Measured once per family.
double BoldWidening(const QFont& font);

}  // namespace velmora
