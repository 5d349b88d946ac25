#pragma once

#include "framework/Color.h"
#include "framework/Font.h"

#include <QImage>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace velmora {

// Rectangle (left, top, right, bottom); the right and bottom edges are exclusive.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
    bool operator==(const TRect&) const = default;
};

constexpr TRect Rect(int left, int top, int right, int bottom) {
    return TRect{left, top, right, bottom};
}

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };

// Mixing of pen (and shape brush) pixels with the destination, as the classic binary raster
// operations: P is the pen colour, D the destination.
enum TPenMode {
    pmBlack,        // 0
    pmWhite,        // 1
    pmNop,          // D
    pmNot,          // ~D
    pmCopy,         // P
    pmNotCopy,      // ~P
    pmMergePenNot,  // P | ~D
    pmMaskPenNot,   // P & ~D
    pmMergeNotPen,  // ~P | D
    pmMaskNotPen,   // ~P & D
    pmMerge,        // P | D
    pmNotMerge,     // ~(P | D)
    pmMask,         // P & D
    pmNotMask,      // ~(P & D)
    pmXor,          // P ^ D
    pmNotXor,       // ~(P ^ D)
};

enum TBrushStyle { bsSolid, bsClear };

// Pen: colour, width in pixels, style and mode. OnChange runs after every change.
class TPen {
public:
    TColor Color() const { return color_; }
    void SetColor(TColor c);
    int Width() const { return width_; }
    void SetWidth(int w);  // below 1 gives 1
    TPenStyle Style() const { return style_; }
    void SetStyle(TPenStyle s);
    TPenMode Mode() const { return mode_; }
    void SetMode(TPenMode m);
    void Assign(const TPen& other);  // the attributes, not OnChange

    std::function<void()> OnChange;

private:
    void Changed();
    TColor color_ = clBlack;
    int width_ = 1;
    TPenStyle style_ = psSolid;
    TPenMode mode_ = pmCopy;
};

// Brush: colour and style (solid or clear). OnChange runs after every change.
class TBrush {
public:
    TColor Color() const { return color_; }
    void SetColor(TColor c);
    TBrushStyle Style() const { return style_; }
    void SetStyle(TBrushStyle s);
    void Assign(const TBrush& other);

    std::function<void()> OnChange;

private:
    void Changed();
    TColor color_ = clWhite;
    TBrushStyle style_ = bsSolid;
};

// Raster operations of block copies (the classic ternary codes; S source, D destination,
// P the destination canvas's brush colour).
using TRasterOp = std::uint32_t;
constexpr TRasterOp SRCCOPY = 0x00CC0020;      // S
constexpr TRasterOp SRCPAINT = 0x00EE0086;     // S | D
constexpr TRasterOp SRCAND = 0x008800C6;       // S & D
constexpr TRasterOp SRCINVERT = 0x00660046;    // S ^ D
constexpr TRasterOp SRCERASE = 0x00440328;     // S & ~D
constexpr TRasterOp NOTSRCCOPY = 0x00330008;   // ~S
constexpr TRasterOp NOTSRCERASE = 0x001100A6;  // ~(S | D)
constexpr TRasterOp MERGEPAINT = 0x00BB0226;   // ~S | D
constexpr TRasterOp DSTINVERT = 0x00550009;    // ~D
constexpr TRasterOp MERGECOPY = 0x00C000CA;    // P & S
constexpr TRasterOp PATCOPY = 0x00F00021;      // P
constexpr TRasterOp BLACKNESS = 0x00000042;    // 0
constexpr TRasterOp WHITENESS = 0x00FF0062;    // 1
constexpr TRasterOp SRCANDNOT = 0x00220326;    // D & ~S ("AND NOT": keeps D where S is black)

// Flags of DrawText.
enum TDrawTextFlags : unsigned {
    DT_TOP = 0x0000,
    DT_LEFT = 0x0000,
    DT_CENTER = 0x0001,
    DT_RIGHT = 0x0002,
    DT_VCENTER = 0x0004,
    DT_BOTTOM = 0x0008,
    DT_WORDBREAK = 0x0010,
    DT_SINGLELINE = 0x0020,
    DT_EXPANDTABS = 0x0040,
    DT_NOCLIP = 0x0100,
    DT_CALCRECT = 0x0400,
    DT_NOPREFIX = 0x0800,
};

// Returned by Pixels() for a point outside the image.
constexpr TColor CLR_INVALID = 0xFFFFFFFF;

// Drawing canvas with the classic pen, brush and font model on a QImage (Format_RGB32), drawn
// pixel by pixel with the rules below so that every result is exactly predictable.
//
// Coordinates: pixel (x, y) is the unit square [x, x+1) x [y, y+1); shapes given by a
// rectangle cover the pixels Left..Right-1 and Top..Bottom-1. Nothing is antialiased; pixels
// outside the image are clipped.
//
// - LineTo with a 1-pixel pen: Bresenham steps along the major axis from the pen position; the
//   minor coordinate is the exact one rounded with halves toward +infinity. The end point is not
//   painted. Dash patterns (psDash 18 on 6 off, psDot 3/3, psDashDot 9/6/3/6, psDashDotDot
//   9/3/3/3/3/3) run along the major axis, restarting at each LineTo. A wider pen paints every
//   pixel whose centre lies closer than Width/2 to the segment (round caps, end point included);
//   for an even width the segment runs along pixel corners (width 2 at y covers rows y-1 and y),
//   for an odd width through pixel centres. Wide pens are always solid.
// - Closed shapes (Rectangle, RoundRect, Ellipse) are row spans: a pixel belongs to an ellipse
//   of box (L, T, R, B) when its centre lies inside the ellipse inscribed in that box (on the
//   border counts as inside); RoundRect uses quarter ellipses of size ew x eh at its corners.
//   The brush fills the shape; the pen paints its border, the pixels of the shape that lie
//   within Width steps (4-neighbour distance) of a pixel outside it. A pen of width w > 1 first
//   grows the shape by (w - 1) / 2 on each side, except psInsideFrame, which keeps the box.
//   With psClear the shape is filled one pixel smaller at the right and bottom.
// - Arc: the border of the ellipse of the box (same rules), only the pixels whose centre lies
//   on the counter-clockwise (as seen on the screen) sweep from the ray through the start point
//   to the ray through the end point, both rays from the box centre; rays that coincide give the
//   whole ellipse.
// - Polygon: the brush fills, row by row, the pixels from each left crossing of the outline up
//   to (not including) the next right crossing (even-odd rule, vertices at pixel centres, a
//   vertex row belongs to the edge below it); then the pen draws the closed outline.
// - Pen and shape brush pixels are combined with the destination by Pen().Mode(); FillRect,
//   FrameRect, text and block copies ignore the mode.
// - Text: the font's colour; opaque on the brush colour unless the brush is bsClear (then
//   transparent). TextOut's (x, y) is the top left corner of the text cell; TextHeight is the
//   cell height (the font's CellHeight), TextWidth the advance width.
//
// At a pixel ratio above 1 (the image's device pixel ratio, as a control drawn for a scaled
// screen has it) coordinates, sizes and text metrics stay those above, and the image has that
// many more device pixels: logical edge k lies at device edge k * ratio rounded (DeviceGrid), so
// a whole pixel covers whole device pixels and a rectangle's edges stay sharp. Each operation
// paints, at the finer resolution, the region whose sampling at pixel centres gives its ratio-1
// pixels: a rectangle or a fill its rectangle; an ellipse or a rounded rectangle its curve; a
// border the band of the pen's width inside the shape; an arc that band within its sweep; a
// 1-pixel line the band one pixel high (one pixel wide if steep) around the line through the
// centres of its pixels, from the first pixel's edge to the end pixel's, its dashes as long as
// at 1; a wider line the points closer than half its width to its segment; a polygon's fill its
// outline moved by half a pixel right and down.
// - Slanted and curved edges are antialiased (a device pixel mixes the colour by the share of it
//   that is covered) in pmCopy; any other mode acts on the device pixels covered more than half,
//   so that an operation that undoes itself (pmXor, pmNot) still does when repeated.
// - Text is antialiased, drawn at the font's size times the ratio at the place it has at 1.
// - Block copies between pictures of one ratio copy device pixels, from and to the device places
//   of the logical ones. A picture of another ratio is stretched to the logical size it has:
//   smoothly when copied (SRCCOPY), by nearest pixel when combined by another raster operation,
//   so that a mask stays a mask.
// - Pixels() reads the first device pixel of a logical pixel, SetPixels() sets all of them.
// A ratio of 1 or less draws as above, pixel for pixel.
class TCanvas {
public:
    TCanvas() = default;
    explicit TCanvas(QImage* image) : image_(image) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    QImage* Image() const { return image_; }
    void SetImage(QImage* image) { image_ = image; }
    // The image's size in the canvas's coordinates (its device size divided by the ratio).
    int ImageWidth() const;
    int ImageHeight() const;
    // The ratio drawn at: the image's device pixel ratio, 1 when that is not above 1.
    double PixelRatio() const;

    TPen& Pen() { return pen_; }
    const TPen& Pen() const { return pen_; }
    TBrush& Brush() { return brush_; }
    const TBrush& Brush() const { return brush_; }
    TFont& Font() { return font_; }
    const TFont& Font() const { return font_; }
    void SetFont(const TFont& font) { font_.Assign(font); }

    QPoint PenPos() const { return penPos_; }
    void SetPenPos(QPoint p) { penPos_ = p; }
    void MoveTo(int x, int y) { penPos_ = QPoint(x, y); }
    void LineTo(int x, int y);
    void Polyline(const std::vector<QPoint>& points);

    void Rectangle(int left, int top, int right, int bottom);
    void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
    void RoundRect(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);
    void Ellipse(int left, int top, int right, int bottom);
    void Ellipse(const TRect& r) { Ellipse(r.Left, r.Top, r.Right, r.Bottom); }
    void Arc(int left, int top, int right, int bottom, int xStart, int yStart, int xEnd, int yEnd);
    void Polygon(const std::vector<QPoint>& points);

    // Fills the rectangle with the brush colour (nothing with a clear brush).
    void FillRect(const TRect& r);
    // One-pixel frame of the rectangle in the brush colour.
    void FrameRect(const TRect& r);

    void TextOut(int x, int y, const QString& text);
    // Text clipped to the rectangle, background (when opaque) filling the whole rectangle.
    void TextRect(const TRect& r, int x, int y, const QString& text);
    int TextWidth(const QString& text) const;
    int TextHeight(const QString& text) const;

    // Formatted text in the rectangle (the classic DrawText): DT_LEFT/DT_CENTER/DT_RIGHT,
    // DT_TOP/DT_VCENTER/DT_BOTTOM (vertical placement only with DT_SINGLELINE), DT_WORDBREAK
    // (lines break between words where the next word would pass the right edge; a word wider
    // than the rectangle stands alone on its line; "\n" always breaks unless DT_SINGLELINE),
    // DT_NOCLIP, DT_NOPREFIX ("&&" gives "&" and a single "&" is dropped unless this is set),
    // DT_CALCRECT (measure only: the rectangle's right and bottom are set to the extent of the
    // text and nothing is drawn). Returns the height of the text.
    int DrawText(const QString& text, TRect& rect, unsigned flags);

    TColor Pixels(int x, int y) const;
    void SetPixels(int x, int y, TColor c);

    // Block copy from a canvas (or the canvas itself) with a raster operation; clipped to both
    // images. CopyRect stretches (nearest pixel) when the sizes differ.
    void CopyRect(const TRect& dest, const TCanvas& source, const TRect& sourceRect);
    TRasterOp CopyMode() const { return copyMode_; }
    void SetCopyMode(TRasterOp rop) { copyMode_ = rop; }
    void Draw(int x, int y, const QImage& image);
    void StretchDraw(const TRect& dest, const QImage& image);

    // Kept for code that brackets drawing; a canvas is used from one thread only.
    void Lock() {}
    void Unlock() {}

private:
    friend void BitBlt(TCanvas&, int, int, int, int, const TCanvas&, int, int, TRasterOp);
    // Stretches `source` (nearest pixel) onto `dest` with the copy mode.
    void StretchFrom(const TRect& dest, const QImage& source, const TRect& sourceRect);

    struct Spans;
    void PlotPen(int x, int y, std::uint32_t pen);
    // PlotPen for the pixels `from` to `to` of the image's row `line`, all inside the image.
    void PlotRun(std::uint32_t* line, int from, int to, std::uint32_t pen);
    void PaintSpans(const Spans& shape, bool fill, bool stroke, int strokeWidth);
    void PaintShape(int left, int top, int right, int bottom, int ew, int eh);
    void ThinLine(int x0, int y0, int x1, int y1);
    void WideLine(int x0, int y0, int x1, int y1, int width);
    void DrawTextLine(int x, int y, const QString& text, const TRect* clip, const TRect* bg);

    // The same at a ratio above 1.
    bool Scaled() const { return PixelRatio() > 1; }
    void ScaledLine(int x0, int y0, int x1, int y1);
    void ScaledShape(int l, int t, int r, int b, int ew, int eh, bool fill, bool stroke, int w);
    void ScaledTextLine(int x, int y, const QString& text, const TRect* clip, const TRect* bg);
    // Fills a logical rectangle with a colour, combined by a pen mode.
    void ScaledFill(const TRect& r, std::uint32_t rgb, TPenMode mode);

    QImage* image_ = nullptr;
    TPen pen_;
    TBrush brush_;
    TFont font_;
    QPoint penPos_;
    TRasterOp copyMode_ = SRCCOPY;
};

// Block transfer of w x h pixels from (sx, sy) of the source to (x, y) of the destination with
// a raster operation; the pattern P of the ternary codes is the destination's brush colour.
// The areas are clipped to both images. Source and destination may be the same canvas when the
// areas do not overlap.
void BitBlt(TCanvas& dest, int x, int y, int w, int h, const TCanvas& source, int sx, int sy,
            TRasterOp rop);
// The same from an image that is only read (Format_RGB32).
void BitBlt(TCanvas& dest, int x, int y, int w, int h, const QImage& source, int sx, int sy,
            TRasterOp rop);

}  // namespace velmora
