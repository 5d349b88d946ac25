#pragma once

#include "framework/Canvas.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <cmath>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace velmora {

// The classic binary raster operation of a pen: P the pen colour, D the destination (24 bits).
std::uint32_t PenMix(TPenMode mode, std::uint32_t p, std::uint32_t d);

// The device pixels of a picture drawn at a pixel ratio above 1, in the logical coordinates of
// the control that draws it.
//
// Logical edge k (the left edge of pixel k) lies at device edge k * ratio rounded, halves up:
// a whole logical pixel covers whole device pixels (two at 2; one or two by turns at 1.5), so
// the edges of rectangles and straight lines fall on device pixel edges and stay sharp. Between
// two edges the mapping is linear. A picture of logical size w x h has Edge(w) x Edge(h) device
// pixels, as the window system gives a widget of that size.
class DeviceGrid {
public:
    explicit DeviceGrid(double ratio) : ratio_(ratio), whole_(ratio == std::floor(ratio)) {}

    double Ratio() const { return ratio_; }
    double Edge(double k) const;
    double Map(double v) const;
    // The logical coordinate of device coordinate d (the inverse of Map).
    double Unmap(double d) const;
    // The device rectangle of a logical one, held to the range of int.
    QRect Device(const TRect& r) const;
    QSize DeviceSize(int width, int height) const;
    // The logical extent of a picture Edge(extent) device pixels wide.
    int Logical(int deviceExtent) const;

private:
    double ratio_;
    bool whole_;  // a whole ratio (2, 3): the mapping is a plain product
};

// The ratio a picture is drawn at: its own device pixel ratio, 1 for anything not above 1.
double PictureRatio(const QImage& image);
// A picture of the logical size at a ratio (1 when not above 1): device pixels, white.
QImage NewScaledPicture(int width, int height, double ratio);
// The same pixels as a picture of ratio 1, for drawing in device coordinates.
QImage DeviceView(QImage& image);

// The logical x intervals [first, second) of a region on the horizontal line at logical y,
// in increasing order and disjoint.
using SpanList = std::vector<std::pair<double, double>>;

// A region of the plane in logical coordinates, given row by row.
class Region {
public:
    virtual ~Region() = default;
    // The logical rows [Top, Bottom) outside which the region is empty.
    virtual double Top() const = 0;
    virtual double Bottom() const = 0;
    // Appends the intervals of the line at y to `out` (which the caller has cleared).
    virtual void Row(double y, SpanList& out) const = 0;
    // Whether every line in [from, to) has the same intervals (which then need one look).
    virtual bool SameRows(double /*from*/, double /*to*/) const { return false; }
};

// A rectangle whose corners are quarter ellipses of ew x eh (a rectangle with 0, an ellipse with
// the box's own size).
class RoundRectRegion : public Region {
public:
    RoundRectRegion(double left, double top, double right, double bottom, double ew, double eh);
    double Top() const override { return top_; }
    double Bottom() const override { return bottom_; }
    void Row(double y, SpanList& out) const override;
    bool SameRows(double from, double to) const override;

private:
    double left_, top_, right_, bottom_, rx_, ry_;
};

// What of `outer` lies outside `inner`.
class DifferenceRegion : public Region {
public:
    DifferenceRegion(const Region& outer, const Region& inner) : outer_(outer), inner_(inner) {}
    double Top() const override { return outer_.Top(); }
    double Bottom() const override { return outer_.Bottom(); }
    void Row(double y, SpanList& out) const override;
    bool SameRows(double from, double to) const override {
        return outer_.SameRows(from, to) && inner_.SameRows(from, to);
    }

private:
    const Region& outer_;
    const Region& inner_;
    mutable SpanList a_, b_;
};

// What of `ring` lies in the sector from the ray at angle `start` counter-clockwise (as seen on
// the screen) through `sweep` radians, the rays starting at (cx, cy).
class SectorRegion : public Region {
public:
    SectorRegion(const Region& ring, double cx, double cy, double start, double sweep)
        : ring_(ring), cx_(cx), cy_(cy), start_(start), sweep_(sweep) {}
    double Top() const override { return ring_.Top(); }
    double Bottom() const override { return ring_.Bottom(); }
    void Row(double y, SpanList& out) const override;

private:
    bool Inside(double x, double y) const;
    const Region& ring_;
    double cx_, cy_, start_, sweep_;
    mutable SpanList spans_;
};

// A 1-pixel line: the band one pixel high (wide, for a steep line) around the line through the
// centres of its pixels, made of runs along its major axis (one run for a solid line, one per
// dash otherwise). Runs are [from, to) in the major coordinate, in increasing order.
class BandRegion : public Region {
public:
    BandRegion(int x0, int y0, int x1, int y1, std::vector<std::pair<double, double>> runs);
    double Top() const override { return top_; }
    double Bottom() const override { return bottom_; }
    void Row(double y, SpanList& out) const override;

private:
    bool xMajor_;
    double cx_, cy_;  // the centre of the first pixel
    double slope_;    // minor per major
    std::vector<std::pair<double, double>> runs_;
    double top_, bottom_;
};

// The points closer than `radius` to the segment from a to b.
class CapsuleRegion : public Region {
public:
    CapsuleRegion(double ax, double ay, double bx, double by, double radius);
    double Top() const override { return std::min(ay_, by_) - radius_; }
    double Bottom() const override { return std::max(ay_, by_) + radius_; }
    void Row(double y, SpanList& out) const override;
    // A vertical segment has the same intervals between its ends.
    bool SameRows(double from, double to) const override {
        return ax_ == bx_ && from >= std::min(ay_, by_) && to <= std::max(ay_, by_);
    }

private:
    double ax_, ay_, bx_, by_, radius_;
};

// The inside of a closed polygon by the even-odd rule.
class PolygonRegion : public Region {
public:
    explicit PolygonRegion(std::vector<std::pair<double, double>> points);
    double Top() const override { return top_; }
    double Bottom() const override { return bottom_; }
    void Row(double y, SpanList& out) const override;

private:
    std::vector<std::pair<double, double>> points_;
    double top_, bottom_;
    mutable std::vector<double> crossings_;
};

// A region painted in a colour (24-bit RGB).
struct Layer {
    const Region* region;
    std::uint32_t rgb;
};

// Paints regions that do not overlap into a picture at the grid's ratio. With pmCopy each device
// pixel mixes the colours by the share of it that each region covers (antialiased); with any
// other mode a pixel is combined with the colour of the region that covers more than half of it,
// so that an operation that undoes itself (pmXor, pmNot) still does when drawn twice. The
// regions' rows are sampled 16 times per device row; across a row coverage is exact.
void PaintRegions(QImage& image, const DeviceGrid& grid, std::span<const Layer> layers,
                  TPenMode mode);

// Combines the device rectangle (clipped to the picture) with a colour by a pen mode.
void FillDevice(QImage& image, const QRect& rect, std::uint32_t rgb, TPenMode mode);

}  // namespace velmora
