#include "Canvas.h"

#include "framework/ScaledRaster.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <utility>

namespace velmora {

// ---------------------------------------------------------------------------------------------
// Pen and brush

void TPen::SetColor(TColor c) {
    if (color_ != c) {
        color_ = c;
        Changed();
    }
}

void TPen::SetWidth(int w) {
    w = std::max(1, w);
    if (width_ != w) {
        width_ = w;
        Changed();
    }
}

void TPen::SetStyle(TPenStyle s) {
    if (style_ != s) {
        style_ = s;
        Changed();
    }
}

void TPen::SetMode(TPenMode m) {
    if (mode_ != m) {
        mode_ = m;
        Changed();
    }
}

void TPen::Assign(const TPen& o) {
    color_ = o.color_;
    width_ = o.width_;
    style_ = o.style_;
    mode_ = o.mode_;
    Changed();
}

void TPen::Changed() {
    if (OnChange) {
        OnChange();
    }
}

void TBrush::SetColor(TColor c) {
    if (color_ != c) {
        color_ = c;
        Changed();
    }
}

void TBrush::SetStyle(TBrushStyle s) {
    if (style_ != s) {
        style_ = s;
        Changed();
    }
}

void TBrush::Assign(const TBrush& o) {
    color_ = o.color_;
    style_ = o.style_;
    Changed();
}

void TBrush::Changed() {
    if (OnChange) {
        OnChange();
    }
}

// ---------------------------------------------------------------------------------------------
// Canvas

double TCanvas::PixelRatio() const {
    return image_ != nullptr ? velmora::PictureRatio(*image_) : 1.0;
}

int TCanvas::ImageWidth() const {
    if (image_ == nullptr) {
        return 0;
    }
    return Scaled() ? DeviceGrid(PixelRatio()).Logical(image_->width()) : image_->width();
}

int TCanvas::ImageHeight() const {
    if (image_ == nullptr) {
        return 0;
    }
    return Scaled() ? DeviceGrid(PixelRatio()).Logical(image_->height()) : image_->height();
}

// ---------------------------------------------------------------------------------------------
// Pixel helpers

namespace {

constexpr std::uint32_t kRgbMask = 0x00FFFFFF;
constexpr std::uint32_t kOpaque = 0xFF000000;

// Ternary raster operation: bit i of the code's index byte is the result for
// P = bit 2 of i, S = bit 1, D = bit 0.
std::uint32_t Rop3(std::uint32_t rop, std::uint32_t p, std::uint32_t s, std::uint32_t d) {
    const unsigned index = (rop >> 16) & 0xFF;
    std::uint32_t result = 0;
    for (unsigned i = 0; i < 8; ++i) {
        if ((index >> i) & 1u) {
            result |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
        }
    }
    return result;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

// Integer square root: the largest r with r * r <= v (v >= 0).
std::int64_t ISqrt(std::int64_t v) {
    if (v <= 0) {
        return 0;
    }
    auto r = std::int64_t(std::sqrt(double(v)));
    while (r * r > v) {
        --r;
    }
    while ((r + 1) * (r + 1) <= v) {
        ++r;
    }
    return r;
}

// A logical rectangle given by its corner and size, held to where int sums stay exact.
TRect HeldRect(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
    constexpr std::int64_t kFar = std::int64_t(1) << 30;
    return Rect(int(std::clamp(x, -kFar, kFar)), int(std::clamp(y, -kFar, kFar)),
                int(std::clamp(x + w, -kFar, kFar)), int(std::clamp(y + h, -kFar, kFar)));
}

const std::vector<int>* DashPattern(TPenStyle style) {
    static const std::vector<int> dash = {18, 6};
    static const std::vector<int> dot = {3, 3};
    static const std::vector<int> dashDot = {9, 6, 3, 6};
    static const std::vector<int> dashDotDot = {9, 3, 3, 3, 3, 3};
    switch (style) {
        case psDash:
            return &dash;
        case psDot:
            return &dot;
        case psDashDot:
            return &dashDot;
        case psDashDotDot:
            return &dashDotDot;
        default:
            return nullptr;
    }
}

}  // namespace

// A shape as one pixel interval per row (xl > xr: the row is empty).
struct TCanvas::Spans {
    int top = 0;
    std::vector<int> xl;
    std::vector<int> xr;

    int Rows() const { return int(xl.size()); }
    bool RowEmpty(int y) const {
        const int i = y - top;
        return i < 0 || i >= Rows() || xl[i] > xr[i];
    }
    // The interior of row i (a non-empty row) after eroding by a diamond of radius w: the pixels
    // that have every pixel within 4-neighbour distance w inside the shape (el > er: none).
    void Interior(int i, int w, int& el, int& er) const {
        el = xl[i];
        er = xr[i];
        for (int d = -w; d <= w; ++d) {
            const int k = w - std::abs(d);
            if (RowEmpty(top + i + d)) {
                el = 1;
                er = 0;
                return;
            }
            el = std::max(el, xl[i + d] + k);
            er = std::min(er, xr[i + d] - k);
        }
    }
};

namespace {

// Pixels of row y whose centres lie inside the ellipse inscribed in (l, t, r, b), in exact
// integer arithmetic on doubled coordinates. Returns false when the row misses the ellipse.
// Exact for boxes within 2^31 pixels of the origin.
bool EllipseRow(std::int64_t l, std::int64_t t, std::int64_t r, std::int64_t b, std::int64_t y,
                std::int64_t& xl, std::int64_t& xr) {
    const std::int64_t a2 = r - l;  // doubled semi-axes
    const std::int64_t b2 = b - t;
    if (a2 <= 0 || b2 <= 0) {
        return false;
    }
    const std::int64_t yy = 2 * y + 1 - (t + b);
    // X^2 b2^2 + Y^2 a2^2 <= a2^2 b2^2  with X = 2x + 1 - (l + r)
    const __int128 rhs = __int128(a2) * a2 * (__int128(b2) * b2 - __int128(yy) * yy);
    if (rhs < 0) {
        return false;
    }
    const auto q = std::int64_t(rhs / (__int128(b2) * b2));  // X^2 <= q (X integer: floor exact)
    const std::int64_t xmax = ISqrt(q);
    // 2x + 1 - (l + r) in [-xmax, xmax]
    const std::int64_t lo = FloorDiv(-xmax + (l + r) - 1 + 1, 2);  // ceil((-xmax + l + r - 1) / 2)
    const std::int64_t hi = FloorDiv(xmax + (l + r) - 1, 2);
    std::int64_t first = lo;
    if (2 * first + 1 - (l + r) < -xmax) {
        ++first;
    }
    if (first > hi) {
        return false;
    }
    xl = first;
    xr = hi;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Drawing

void TCanvas::PlotPen(int x, int y, std::uint32_t pen) {
    if (image_ == nullptr || x < 0 || y < 0 || x >= image_->width() || y >= image_->height()) {
        return;
    }
    auto* line = reinterpret_cast<std::uint32_t*>(image_->scanLine(y));
    const std::uint32_t d = line[x] & kRgbMask;
    line[x] = kOpaque | (PenMix(pen_.Mode(), pen, d) & kRgbMask);
}

void TCanvas::PlotRun(std::uint32_t* line, int from, int to, std::uint32_t pen) {
    if (from > to) {
        return;
    }
    const TPenMode mode = pen_.Mode();
    if (mode == pmCopy) {
        std::fill(line + from, line + to + 1, kOpaque | pen);
        return;
    }
    for (int x = from; x <= to; ++x) {
        line[x] = kOpaque | (PenMix(mode, pen, line[x] & kRgbMask) & kRgbMask);
    }
}

void TCanvas::ThinLine(int x0, int y0, int x1, int y1) {
    const std::uint32_t pen = ToQRgb(pen_.Color()) & kRgbMask;
    const std::vector<int>* pattern = DashPattern(pen_.Style());
    const int dx = x1 - x0;
    const int dy = y1 - y0;
    const int adx = std::abs(dx);
    const int ady = std::abs(dy);
    const int steps = std::max(adx, ady);
    int patternIndex = 0;
    int patternLeft = pattern != nullptr ? (*pattern)[0] : 0;
    for (int i = 0; i < steps; ++i) {
        int x;
        int y;
        if (adx >= ady) {
            x = x0 + (dx > 0 ? i : -i);
            y = y0 + int(FloorDiv(2 * std::int64_t(i) * dy + adx, 2 * std::int64_t(adx)));
        } else {
            y = y0 + (dy > 0 ? i : -i);
            x = x0 + int(FloorDiv(2 * std::int64_t(i) * dx + ady, 2 * std::int64_t(ady)));
        }
        const bool on = pattern == nullptr || (patternIndex % 2) == 0;
        if (on) {
            PlotPen(x, y, pen);
        }
        if (pattern != nullptr && --patternLeft == 0) {
            patternIndex = (patternIndex + 1) % int(pattern->size());
            patternLeft = (*pattern)[patternIndex];
        }
    }
}

void TCanvas::WideLine(int x0, int y0, int x1, int y1, int width) {
    if (image_ == nullptr) {
        return;
    }
    const std::uint32_t pen = ToQRgb(pen_.Color()) & kRgbMask;
    // Even widths run along pixel corners, odd widths through pixel centres.
    const double shift = (width % 2 == 0) ? 0.0 : 0.5;
    const double ax = x0 + shift;
    const double ay = y0 + shift;
    const double bx = x1 + shift;
    const double by = y1 + shift;
    const double radius = width / 2.0;
    const double r2 = radius * radius;
    const double vx = bx - ax;
    const double vy = by - ay;
    const double len2 = vx * vx + vy * vy;
    const double len = std::sqrt(len2);
    // The exact test of one pixel centre: closer than the radius to the segment.
    auto inside = [&](int x, int y) {
        const double px = x + 0.5 - ax;
        const double py = y + 0.5 - ay;
        double t = len2 > 0 ? (px * vx + py * vy) / len2 : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        const double ex = px - t * vx;
        const double ey = py - t * vy;
        return ex * ex + ey * ey < r2;
    };
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // lo <= c * X + d <= hi as an interval of X.
    auto linear = [&](double c, double d, double lo, double hi, double& from, double& to) {
        if (c == 0) {
            if (d < lo || d > hi) {
                return false;
            }
            from = -kInf;
            to = kInf;
            return true;
        }
        from = (lo - d) / c;
        to = (hi - d) / c;
        if (from > to) {
            std::swap(from, to);
        }
        return true;
    };
    // Held to the image in doubles: a wide pen far outside it gives no int out of range.
    const int minY = int(std::max(0.0, std::floor(std::min(ay, by) - radius) - 1));
    const int maxY =
        int(std::min(double(image_->height() - 1), std::ceil(std::max(ay, by) + radius) + 1));
    for (int y = minY; y <= maxY; ++y) {
        // Each row meets the capsule (two discs and the band between them) in one interval of
        // pixel-centre abscissas X; find it roughly, then decide its ends pixel by pixel.
        const double yc = y + 0.5;
        double lo = kInf;
        double hi = -kInf;
        for (const auto& [cx, cy] : {std::pair(ax, ay), std::pair(bx, by)}) {
            const double rest = r2 - (yc - cy) * (yc - cy);
            if (rest >= 0) {
                const double half = std::sqrt(rest);
                lo = std::min(lo, cx - half);
                hi = std::max(hi, cx + half);
            }
        }
        if (len > 0) {
            double f1 = 0;
            double t1 = 0;
            double f2 = 0;
            double t2 = 0;
            const bool band =
                linear(-vy / len, (ax * vy + (yc - ay) * vx) / len, -radius, radius, f1, t1);
            const bool along =
                linear(vx / len2, (-ax * vx + (yc - ay) * vy) / len2, 0.0, 1.0, f2, t2);
            if (band && along && std::max(f1, f2) <= std::min(t1, t2)) {
                lo = std::min(lo, std::max(f1, f2));
                hi = std::max(hi, std::min(t1, t2));
            }
        }
        if (lo > hi) {
            continue;
        }
        const int from = std::max(0, int(std::floor(std::max(lo, -1e9) - 0.5)) - 1);
        const int to = std::min(image_->width() - 1, int(std::ceil(std::min(hi, 1e9) - 0.5)) + 1);
        for (int x = from; x <= to; ++x) {
            if (inside(x, y)) {
                PlotPen(x, y, pen);
            }
        }
    }
}

void TCanvas::LineTo(int x, int y) {
    if (pen_.Style() != psClear) {
        if (Scaled()) {
            ScaledLine(penPos_.x(), penPos_.y(), x, y);
        } else if (pen_.Width() <= 1) {
            ThinLine(penPos_.x(), penPos_.y(), x, y);
        } else {
            WideLine(penPos_.x(), penPos_.y(), x, y, pen_.Width());
        }
    }
    penPos_ = QPoint(x, y);
}

void TCanvas::Polyline(const std::vector<QPoint>& points) {
    if (points.empty()) {
        return;
    }
    const QPoint saved = penPos_;
    MoveTo(points[0].x(), points[0].y());
    for (std::size_t i = 1; i < points.size(); ++i) {
        LineTo(points[i].x(), points[i].y());
    }
    penPos_ = saved;
}

// Fills (the interior when stroking) with the brush and paints the border ring with the pen.
void TCanvas::PaintSpans(const Spans& s, bool fill, bool stroke, int w) {
    if (image_ == nullptr) {
        return;
    }
    const std::uint32_t brush = ToQRgb(brush_.Color()) & kRgbMask;
    const std::uint32_t pen = ToQRgb(pen_.Color()) & kRgbMask;
    const int rows = s.Rows();
    // Only rows and columns inside the image are visited: a shape far larger than the image
    // costs no more than the image.
    const int firstRow = std::max(0, -s.top);
    const int lastRow = std::min(rows, image_->height() - s.top);
    const int maxX = image_->width() - 1;
    // The pixels are fetched once for the shape: each row's own fetch costs a copy-on-write
    // check of the image.
    uchar* const bits = image_->bits();
    const qsizetype bytesPerLine = image_->bytesPerLine();
    for (int i = firstRow; i < lastRow; ++i) {
        const int y = s.top + i;
        if (s.RowEmpty(y)) {
            continue;
        }
        auto* const line = reinterpret_cast<std::uint32_t*>(bits + y * bytesPerLine);
        int el = s.xl[i];
        int er = s.xr[i];
        if (stroke) {
            s.Interior(i, w, el, er);
        }
        if (fill && el <= er) {
            PlotRun(line, std::max(el, 0), std::min(er, maxX), brush);
        }
        if (stroke) {
            // The border: the whole row, or the parts left and right of the interior.
            const int leftEnd = el > er ? s.xr[i] : el - 1;
            PlotRun(line, std::max(s.xl[i], 0), std::min(leftEnd, maxX), pen);
            if (el <= er) {
                PlotRun(line, std::max(er + 1, 0), std::min(s.xr[i], maxX), pen);
            }
        }
    }
}

namespace {

void Normalise(int& l, int& t, int& r, int& b) {
    if (r < l) {
        std::swap(l, r);
    }
    if (b < t) {
        std::swap(t, b);
    }
}

}  // namespace

void TCanvas::PaintShape(int l, int t, int r, int b, int ew, int eh) {
    Normalise(l, t, r, b);
    const bool stroke = pen_.Style() != psClear;
    const bool fill = brush_.Style() != bsClear;
    if (!stroke) {
        --r;
        --b;
    }
    int w = 1;
    if (stroke) {
        w = pen_.Width();
        if (pen_.Style() != psInsideFrame && w > 1) {
            const int e = (w - 1) / 2;
            l -= e;
            t -= e;
            r += e;
            b += e;
            ew += 2 * e;
            eh += 2 * e;
        }
    }
    if (r <= l || b <= t) {
        return;
    }
    ew = std::clamp(ew, 0, r - l);
    eh = std::clamp(eh, 0, b - t);
    if (Scaled()) {
        ScaledShape(l, t, r, b, ew, eh, fill, stroke, w);
        return;
    }
    Spans s;
    s.top = t;
    s.xl.assign(std::size_t(b - t), l);
    s.xr.assign(std::size_t(b - t), r - 1);
    if (ew > 0 && eh > 0) {
        for (int y = t; y < b; ++y) {
            const int i = y - t;
            int cornerTop = 0;
            if (2 * y + 1 < 2 * t + eh) {
                cornerTop = t;  // upper corners
            } else if (2 * y + 1 > 2 * b - eh) {
                cornerTop = b - eh;  // lower corners
            } else {
                continue;
            }
            std::int64_t xl = 0;
            std::int64_t xr = 0;
            if (EllipseRow(l, cornerTop, l + ew, cornerTop + eh, y, xl, xr)) {
                s.xl[i] = int(xl);
            } else {
                s.xl[i] = r;  // empty row
            }
            if (EllipseRow(r - ew, cornerTop, r, cornerTop + eh, y, xl, xr)) {
                s.xr[i] = int(xr);
            } else {
                s.xr[i] = l - 1;
            }
        }
    }
    PaintSpans(s, fill, stroke, w);
}

void TCanvas::Rectangle(int l, int t, int r, int b) {
    PaintShape(l, t, r, b, 0, 0);
}

void TCanvas::RoundRect(int l, int t, int r, int b, int ew, int eh) {
    PaintShape(l, t, r, b, std::abs(ew), std::abs(eh));
}

void TCanvas::Ellipse(int l, int t, int r, int b) {
    Normalise(l, t, r, b);
    PaintShape(l, t, r, b, r - l + 2 * pen_.Width(), b - t + 2 * pen_.Width());
}

void TCanvas::Arc(int left, int top, int right, int bottom, int xs, int ys, int xe, int ye) {
    if (image_ == nullptr || pen_.Style() == psClear) {
        return;
    }
    Normalise(left, top, right, bottom);
    // In 64 bits: the box grown by the pen may leave the range of int. Beyond 2^30 pixels from
    // the origin a box is taken as ending there, which keeps the row arithmetic exact.
    constexpr std::int64_t kFar = std::int64_t(1) << 30;
    std::int64_t l = left;
    std::int64_t t = top;
    std::int64_t r = right;
    std::int64_t b = bottom;
    const double cx = (double(l) + double(r)) / 2.0;
    const double cy = (double(t) + double(b)) / 2.0;
    const int w = pen_.Width();
    if (pen_.Style() != psInsideFrame && w > 1) {
        const int e = (w - 1) / 2;
        l -= e;
        t -= e;
        r += e;
        b += e;
    }
    l = std::clamp(l, -kFar, kFar);
    t = std::clamp(t, -kFar, kFar);
    r = std::clamp(r, -kFar, kFar);
    b = std::clamp(b, -kFar, kFar);
    if (r <= l || b <= t) {
        return;
    }
    // Angles measured counter-clockwise on the screen (y up).
    constexpr double kTwoPi = 2 * std::numbers::pi;
    const double a0 = std::atan2(cy - ys, xs - cx);
    const double a1 = std::atan2(cy - ye, xe - cx);
    double sweep = std::fmod(a1 - a0 + 2 * kTwoPi, kTwoPi);
    if (sweep == 0.0) {
        sweep = kTwoPi;
    }
    if (Scaled()) {
        const RoundRectRegion outer(double(l), double(t), double(r), double(b), double(r - l),
                                    double(b - t));
        const RoundRectRegion inner(double(l + w), double(t + w), double(r - w), double(b - w),
                                    double(r - l - 2 * w), double(b - t - 2 * w));
        const DifferenceRegion ring(outer, inner);
        const SectorRegion sector(ring, cx, cy, a0, sweep);
        const Layer layers[] = {{&sector, ToQRgb(pen_.Color()) & kRgbMask}};
        PaintRegions(*image_, DeviceGrid(PixelRatio()), layers, pen_.Mode());
        return;
    }
    // Only the rows in the image are painted, and only the pen's width of rows beyond its edges
    // decides which of their pixels are border; columns likewise. A huge ellipse costs no more
    // than the image.
    const std::int64_t width = image_->width();
    const std::int64_t height = image_->height();
    const std::int64_t margin = std::int64_t(w) + 1;
    const std::int64_t firstRow = std::max(t, -margin);
    const std::int64_t endRow = std::min(b, height + margin);
    if (firstRow >= endRow || width == 0) {
        return;
    }
    Spans s;
    s.top = int(firstRow);
    s.xl.assign(std::size_t(endRow - firstRow), 0);
    s.xr.assign(std::size_t(endRow - firstRow), -1);
    for (std::int64_t y = firstRow; y < endRow; ++y) {
        std::int64_t xl = 0;
        std::int64_t xr = -1;
        if (EllipseRow(l, t, r, b, y, xl, xr)) {
            // Columns beyond the margin decide nothing in the image: kept at its end.
            s.xl[std::size_t(y - firstRow)] = int(std::clamp(xl, -margin, width + margin));
            s.xr[std::size_t(y - firstRow)] = int(std::clamp(xr, -margin, width + margin));
        }
    }
    const std::uint32_t pen = ToQRgb(pen_.Color()) & kRgbMask;
    for (int y = int(std::max<std::int64_t>(firstRow, 0)); y < std::min(endRow, height); ++y) {
        const int i = y - s.top;
        if (s.RowEmpty(y)) {
            continue;
        }
        int el = 0;
        int er = 0;
        s.Interior(i, w, el, er);
        for (int x = std::max(s.xl[std::size_t(i)], 0),
                 to = int(std::min<std::int64_t>(s.xr[std::size_t(i)], width - 1));
             x <= to; ++x) {
            if (el <= er && x >= el && x <= er) {
                continue;
            }
            const double a = std::atan2(cy - (y + 0.5), (x + 0.5) - cx);
            if (std::fmod(a - a0 + 2 * kTwoPi, kTwoPi) <= sweep) {
                PlotPen(x, y, pen);
            }
        }
    }
}

void TCanvas::Polygon(const std::vector<QPoint>& points) {
    if (image_ == nullptr || points.empty()) {
        return;
    }
    if (brush_.Style() != bsClear && points.size() >= 3 && Scaled()) {
        // Vertices at pixel centres: the filled pixels are those whose centres lie inside.
        std::vector<std::pair<double, double>> shifted;
        shifted.reserve(points.size());
        for (const QPoint& p : points) {
            shifted.emplace_back(p.x() + 0.5, p.y() + 0.5);
        }
        const PolygonRegion inside(std::move(shifted));
        const Layer layers[] = {{&inside, ToQRgb(brush_.Color()) & kRgbMask}};
        PaintRegions(*image_, DeviceGrid(PixelRatio()), layers, pen_.Mode());
    } else if (brush_.Style() != bsClear && points.size() >= 3) {
        const std::uint32_t brush = ToQRgb(brush_.Color()) & kRgbMask;
        int minY = points[0].y();
        int maxY = points[0].y();
        for (const QPoint& p : points) {
            minY = std::min(minY, p.y());
            maxY = std::max(maxY, p.y());
        }
        minY = std::max(minY, 0);
        maxY = std::min(maxY, image_->height());
        std::vector<double> xs;
        const std::size_t n = points.size();
        for (int y = minY; y < maxY; ++y) {
            const double yc = y;
            xs.clear();
            for (std::size_t k = 0; k < n; ++k) {
                const QPoint& a = points[k];
                const QPoint& c = points[(k + 1) % n];
                if ((a.y() <= yc && yc < c.y()) || (c.y() <= yc && yc < a.y())) {
                    xs.push_back(a.x() + (yc - a.y()) * (c.x() - a.x()) / double(c.y() - a.y()));
                }
            }
            std::sort(xs.begin(), xs.end());
            for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
                const int from = int(std::max(std::ceil(xs[k]), 0.0));
                const int to = int(std::min(std::ceil(xs[k + 1]), double(image_->width())));
                for (int x = from; x < to; ++x) {
                    PlotPen(x, y, brush);
                }
            }
        }
    }
    std::vector<QPoint> closed = points;
    closed.push_back(points[0]);
    Polyline(closed);
}

namespace {

void FillColor(QImage* image, const TRect& r, std::uint32_t c) {
    const int l = std::max(r.Left, 0);
    const int rr = std::min(r.Right, image->width());
    const int t = std::max(r.Top, 0);
    const int b = std::min(r.Bottom, image->height());
    if (l >= rr || t >= b) {
        return;
    }
    uchar* const bits = image->bits();
    const qsizetype bytesPerLine = image->bytesPerLine();
    for (int y = t; y < b; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(bits + y * bytesPerLine);
        std::fill(line + l, line + rr, c);
    }
}

}  // namespace

void TCanvas::FillRect(const TRect& r) {
    if (image_ != nullptr && brush_.Style() != bsClear) {
        if (Scaled()) {
            ScaledFill(r, ToQRgb(brush_.Color()), pmCopy);
        } else {
            FillColor(image_, r, ToQRgb(brush_.Color()));
        }
    }
}

void TCanvas::FrameRect(const TRect& r) {
    if (r.IsEmpty() || image_ == nullptr) {
        return;
    }
    const std::uint32_t c = ToQRgb(brush_.Color());
    for (const TRect& side :
         {Rect(r.Left, r.Top, r.Right, r.Top + 1), Rect(r.Left, r.Bottom - 1, r.Right, r.Bottom),
          Rect(r.Left, r.Top, r.Left + 1, r.Bottom), Rect(r.Right - 1, r.Top, r.Right, r.Bottom)}) {
        if (Scaled()) {
            ScaledFill(side, c, pmCopy);
        } else {
            FillColor(image_, side, c);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Drawing at a pixel ratio above 1

void TCanvas::ScaledFill(const TRect& r, std::uint32_t rgb, TPenMode mode) {
    FillDevice(*image_, DeviceGrid(PixelRatio()).Device(r), rgb & kRgbMask, mode);
}

void TCanvas::ScaledLine(int x0, int y0, int x1, int y1) {
    if (image_ == nullptr) {
        return;
    }
    const std::uint32_t pen = ToQRgb(pen_.Color()) & kRgbMask;
    const DeviceGrid grid(PixelRatio());
    const int width = pen_.Width();
    if (width > 1) {
        // Even widths run along pixel corners, odd widths through pixel centres.
        const double shift = (width % 2 == 0) ? 0.0 : 0.5;
        const CapsuleRegion capsule(x0 + shift, y0 + shift, x1 + shift, y1 + shift, width / 2.0);
        const Layer layers[] = {{&capsule, pen}};
        PaintRegions(*image_, grid, layers, pen_.Mode());
        return;
    }
    const std::int64_t dx = std::int64_t(x1) - x0;
    const std::int64_t dy = std::int64_t(y1) - y0;
    const std::int64_t steps = std::max(std::abs(dx), std::abs(dy));
    if (steps == 0) {
        return;
    }
    // The steps drawn, [from, to), as the dash pattern runs along the line.
    std::vector<std::pair<std::int64_t, std::int64_t>> drawn;
    if (const std::vector<int>* pattern = DashPattern(pen_.Style())) {
        std::size_t index = 0;
        for (std::int64_t at = 0; at < steps; index = (index + 1) % pattern->size()) {
            const std::int64_t end = std::min(steps, at + (*pattern)[index]);
            if (index % 2 == 0) {
                drawn.emplace_back(at, end);
            }
            at = end;
        }
    } else {
        drawn.emplace_back(0, steps);
    }
    // Step i is the pixel at major coordinate m0 + i * sign: as an interval of the major axis.
    const bool xMajor = std::abs(dx) >= std::abs(dy);
    const std::int64_t m0 = xMajor ? x0 : y0;
    const bool forward = (xMajor ? dx : dy) > 0;
    std::vector<std::pair<double, double>> runs;
    runs.reserve(drawn.size());
    for (const auto& [from, to] : drawn) {
        if (forward) {
            runs.emplace_back(double(m0 + from), double(m0 + to));
        } else {
            runs.emplace_back(double(m0 - to + 1), double(m0 - from + 1));
        }
    }
    if (!forward) {
        std::reverse(runs.begin(), runs.end());
    }
    if (dx == 0 || dy == 0) {
        // Straight along an axis: whole pixels, device rectangles.
        for (const auto& [from, to] : runs) {
            const TRect r = dy == 0 ? HeldRect(std::int64_t(from), y0, std::int64_t(to - from), 1)
                                    : HeldRect(x0, std::int64_t(from), 1, std::int64_t(to - from));
            ScaledFill(r, pen, pen_.Mode());
        }
        return;
    }
    const BandRegion band(x0, y0, x1, y1, std::move(runs));
    const Layer layers[] = {{&band, pen}};
    PaintRegions(*image_, grid, layers, pen_.Mode());
}

void TCanvas::ScaledShape(int l, int t, int r, int b, int ew, int eh, bool fill, bool stroke,
                          int w) {
    if (image_ == nullptr) {
        return;
    }
    const std::uint32_t brush = ToQRgb(brush_.Color()) & kRgbMask;
    const std::uint32_t pen = ToQRgb(pen_.Color()) & kRgbMask;
    const TPenMode mode = pen_.Mode();
    if (ew == 0 || eh == 0) {
        // A rectangle: its border and inside are rectangles of whole pixels.
        const TRect inside = Rect(l + w, t + w, r - w, b - w);
        if (!stroke || inside.IsEmpty()) {
            if (stroke || fill) {
                ScaledFill(Rect(l, t, r, b), stroke ? pen : brush, mode);
            }
            return;
        }
        for (const TRect& side : {Rect(l, t, r, t + w), Rect(l, b - w, r, b),
                                  Rect(l, t + w, l + w, b - w), Rect(r - w, t + w, r, b - w)}) {
            ScaledFill(side, pen, mode);
        }
        if (fill) {
            ScaledFill(inside, brush, mode);
        }
        return;
    }
    const RoundRectRegion outer(l, t, r, b, ew, eh);
    const RoundRectRegion inner(double(l) + w, double(t) + w, double(r) - w, double(b) - w,
                                double(ew) - 2.0 * w, double(eh) - 2.0 * w);
    const DifferenceRegion border(outer, inner);
    std::vector<Layer> layers;
    if (!stroke) {
        layers.push_back({&outer, brush});
    } else {
        layers.push_back({&border, pen});
        if (fill) {
            layers.push_back({&inner, brush});
        }
    }
    if (stroke || fill) {
        PaintRegions(*image_, DeviceGrid(PixelRatio()), layers, mode);
    }
}

void TCanvas::ScaledTextLine(int x, int y, const QString& text, const TRect* clip,
                             const TRect* bg) {
    const DeviceGrid grid(PixelRatio());
    QImage device = DeviceView(*image_);
    QPainter p(&device);
    if (clip != nullptr) {
        p.setClipRect(grid.Device(*clip));
    }
    if (brush_.Style() != bsClear) {
        const TRect back =
            bg != nullptr ? *bg : Rect(x, y, x + font_.TextWidth(text), y + font_.CellHeight());
        p.fillRect(grid.Device(back), ToQColor(brush_.Color()));
    }
    const QFont font = font_.ToQFont(grid.Ratio());
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setFont(font);
    p.setPen(ToQColor(font_.Color()));
    // The baseline and the start on logical pixel edges, as at 1; the glyphs at the finer size.
    p.translate(grid.Map(x), grid.Map(double(y) + font_.CellAscent()));
    p.scale(grid.Ratio(), grid.Ratio());
    if (const double widening = BoldWidening(font) * font.pixelSize(); widening > 0) {
        // Copies side by side across the widening, at most half a device pixel apart: the stems
        // grow as a bold face's would (drawn glyphs come from the glyph cache; stroking the
        // outlines cost ten times as much).
        const int copies = int(std::ceil(widening * grid.Ratio() * 2)) + 1;
        for (int i = 0; i < copies; ++i) {
            p.drawText(QPointF(widening * (double(i) / (copies - 1) - 0.5), 0), text);
        }
        return;
    }
    p.drawText(QPointF(0, 0), text);
}

// ---------------------------------------------------------------------------------------------
// Text

int TCanvas::TextWidth(const QString& text) const {
    return font_.TextWidth(text);
}

int TCanvas::TextHeight(const QString&) const {
    return font_.CellHeight();
}

void TCanvas::DrawTextLine(int x, int y, const QString& text, const TRect* clip, const TRect* bg) {
    if (image_ == nullptr) {
        return;
    }
    if (Scaled()) {
        ScaledTextLine(x, y, text, clip, bg);
        return;
    }
    const QFont& font = font_.ToQFont();
    QPainter p(image_);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    if (clip != nullptr) {
        p.setClipRect(QRect(clip->Left, clip->Top, clip->Width(), clip->Height()));
    }
    if (brush_.Style() != bsClear) {
        const TRect back =
            bg != nullptr ? *bg : Rect(x, y, x + font_.TextWidth(text), y + font_.CellHeight());
        p.fillRect(QRect(back.Left, back.Top, back.Width(), back.Height()),
                   ToQColor(brush_.Color()));
    }
    p.setFont(font);
    p.setPen(ToQColor(font_.Color()));
    p.drawText(QPoint(x, y + font_.CellAscent()), text);
}

void TCanvas::TextOut(int x, int y, const QString& text) {
    DrawTextLine(x, y, text, nullptr, nullptr);
    penPos_ = QPoint(x + TextWidth(text), y);
}

void TCanvas::TextRect(const TRect& r, int x, int y, const QString& text) {
    DrawTextLine(x, y, text, &r, &r);
}

namespace {

QString StripPrefixes(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace

int TCanvas::DrawText(const QString& input, TRect& rect, unsigned flags) {
    QString text = (flags & DT_NOPREFIX) ? input : StripPrefixes(input);
    text.remove(QLatin1Char('\r'));
    const int lineHeight = font_.CellHeight();

    std::vector<QString> lines;
    if (flags & DT_SINGLELINE) {
        lines.push_back(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    } else {
        const QStringList paragraphs = text.split(QLatin1Char('\n'));
        for (const QString& paragraph : paragraphs) {
            if (!(flags & DT_WORDBREAK)) {
                lines.push_back(paragraph);
                continue;
            }
            const QStringList words = paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (words.isEmpty()) {
                lines.push_back(QString());
                continue;
            }
            QString line = words[0];
            for (qsizetype k = 1; k < words.size(); ++k) {
                const QString candidate = line + QLatin1Char(' ') + words[k];
                if (font_.TextWidth(candidate) <= rect.Width()) {
                    line = candidate;
                } else {
                    lines.push_back(line);
                    line = words[k];
                }
            }
            lines.push_back(line);
        }
    }

    int maxWidth = 0;
    for (const QString& line : lines) {
        maxWidth = std::max(maxWidth, font_.TextWidth(line));
    }
    const int total = lineHeight * int(lines.size());
    if (flags & DT_CALCRECT) {
        rect.Right = rect.Left + maxWidth;
        rect.Bottom = rect.Top + total;
        return total;
    }

    int y = rect.Top;
    if (flags & DT_SINGLELINE) {
        if (flags & DT_VCENTER) {
            y = rect.Top + (rect.Height() - lineHeight) / 2;
        } else if (flags & DT_BOTTOM) {
            y = rect.Bottom - lineHeight;
        }
    }
    const TRect* clip = (flags & DT_NOCLIP) ? nullptr : &rect;
    for (const QString& line : lines) {
        const int w = font_.TextWidth(line);
        int x = rect.Left;
        if (flags & DT_CENTER) {
            x = rect.Left + (rect.Width() - w) / 2;
        } else if (flags & DT_RIGHT) {
            x = rect.Right - w;
        }
        if (!line.isEmpty()) {
            DrawTextLine(x, y, line, clip, nullptr);
        }
        y += lineHeight;
    }
    return total;
}

// ---------------------------------------------------------------------------------------------
// Pixels and block copies

TColor TCanvas::Pixels(int x, int y) const {
    if (image_ == nullptr || x < 0 || y < 0 || x >= ImageWidth() || y >= ImageHeight()) {
        return CLR_INVALID;
    }
    if (Scaled()) {
        const DeviceGrid grid(PixelRatio());
        const int dx = std::min(int(grid.Edge(x)), image_->width() - 1);
        const int dy = std::min(int(grid.Edge(y)), image_->height() - 1);
        return FromQRgb(reinterpret_cast<const std::uint32_t*>(image_->constScanLine(dy))[dx]);
    }
    return FromQRgb(reinterpret_cast<const std::uint32_t*>(image_->constScanLine(y))[x]);
}

void TCanvas::SetPixels(int x, int y, TColor c) {
    if (image_ == nullptr || x < 0 || y < 0 || x >= ImageWidth() || y >= ImageHeight()) {
        return;
    }
    if (Scaled()) {
        ScaledFill(Rect(x, y, x + 1, y + 1), ToQRgb(c), pmCopy);
        return;
    }
    reinterpret_cast<std::uint32_t*>(image_->scanLine(y))[x] = ToQRgb(c);
}

namespace {

void Blit(QImage* dst, int x, int y, int w, int h, const QImage* src, int sx, int sy, TRasterOp rop,
          TColor pattern);
void DeviceBlit(QImage* dst, int x, int y, int w, int h, const QImage* src, int sx, int sy,
                TRasterOp rop, TColor pattern);

// Does the operation read the source at all? (S and ~S give the same result.)
bool UsesSource(TRasterOp rop) {
    const unsigned index = (rop >> 16) & 0xFF;
    for (unsigned i = 0; i < 8; ++i) {
        if (((index >> i) & 1u) != ((index >> (i ^ 2u)) & 1u)) {
            return true;
        }
    }
    return false;
}

// The device rectangle `target` (of which only `visible` is made) filled with the device
// rectangle `from` of a picture, stretched; black where `from` lies outside the picture.
QImage StretchedPart(const QImage& picture, const QRect& from, const QRect& target,
                     const QRect& visible, bool smooth) {
    QImage part(visible.size(), QImage::Format_RGB32);
    part.fill(Qt::black);
    const QImage source(picture.constBits(), picture.width(), picture.height(),
                        picture.bytesPerLine(), QImage::Format_RGB32);
    QPainter painter(&part);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter.drawImage(QRectF(target.translated(-visible.topLeft())), source, QRectF(from));
    return part;
}

}  // namespace

void BitBlt(TCanvas& dest, int x, int y, int w, int h, const TCanvas& source, int sx, int sy,
            TRasterOp rop) {
    Blit(dest.image_, x, y, w, h, source.image_, sx, sy, rop, dest.Brush().Color());
}

void BitBlt(TCanvas& dest, int x, int y, int w, int h, const QImage& source, int sx, int sy,
            TRasterOp rop) {
    Blit(dest.Image(), x, y, w, h, &source, sx, sy, rop, dest.Brush().Color());
}

namespace {

// In the pictures' own coordinates: pixel for pixel at ratio 1, otherwise the device rectangles
// of the logical ones, a source of another ratio stretched to its place.
void Blit(QImage* dst, int x, int y, int w, int h, const QImage* src, int sx, int sy, TRasterOp rop,
          TColor pattern) {
    if (dst == nullptr || w <= 0 || h <= 0) {
        return;
    }
    const bool reads = UsesSource(rop) && src != nullptr;
    const double ratio = PictureRatio(*dst);
    const double sourceRatio = reads ? PictureRatio(*src) : ratio;
    if (ratio == 1 && sourceRatio == 1) {
        DeviceBlit(dst, x, y, w, h, src, sx, sy, rop, pattern);
        return;
    }
    const DeviceGrid grid(ratio);
    const QRect target = grid.Device(HeldRect(x, y, w, h));
    if (sourceRatio == ratio) {
        const TRect from = HeldRect(sx, sy, 0, 0);
        DeviceBlit(dst, target.x(), target.y(), target.width(), target.height(), src,
                   int(grid.Edge(from.Left)), int(grid.Edge(from.Top)), rop, pattern);
        return;
    }
    const QRect visible = target.intersected(QRect(0, 0, dst->width(), dst->height()));
    if (visible.isEmpty()) {
        return;
    }
    const QRect from = DeviceGrid(sourceRatio).Device(HeldRect(sx, sy, w, h));
    const QImage part = StretchedPart(*src, from, target, visible, rop == SRCCOPY);
    DeviceBlit(dst, visible.x(), visible.y(), visible.width(), visible.height(), &part, 0, 0, rop,
               pattern);
}

void DeviceBlit(QImage* dst, int x, int y, int w, int h, const QImage* src, int sx, int sy,
                TRasterOp rop, TColor pattern) {
    if (dst == nullptr || w <= 0 || h <= 0) {
        return;
    }
    const bool usesSource = UsesSource(rop);
    if (usesSource && src == nullptr) {
        return;
    }
    // Clip against the destination, and against the source when it is read.
    if (x < 0) {
        sx -= x;
        w += x;
        x = 0;
    }
    if (y < 0) {
        sy -= y;
        h += y;
        y = 0;
    }
    w = std::min(w, dst->width() - x);
    h = std::min(h, dst->height() - y);
    if (usesSource) {
        if (sx < 0) {
            x -= sx;
            w += sx;
            sx = 0;
        }
        if (sy < 0) {
            y -= sy;
            h += sy;
            sy = 0;
        }
        w = std::min(w, src->width() - sx);
        h = std::min(h, src->height() - sy);
    }
    if (w <= 0 || h <= 0) {
        return;
    }
    QImage copy;
    if (usesSource && src == dst) {
        copy = src->copy(sx, sy, w, h);
        src = &copy;
        sx = 0;
        sy = 0;
    }
    const std::uint32_t p = ToQRgb(pattern) & kRgbMask;
    uchar* const dstBits = dst->bits();
    const qsizetype dstLine = dst->bytesPerLine();
    const uchar* const srcBits = usesSource ? src->constBits() : nullptr;
    const qsizetype srcLine = usesSource ? src->bytesPerLine() : 0;
    for (int row = 0; row < h; ++row) {
        auto* d = reinterpret_cast<std::uint32_t*>(dstBits + (y + row) * dstLine) + x;
        const std::uint32_t* s =
            usesSource ? reinterpret_cast<const std::uint32_t*>(srcBits + (sy + row) * srcLine) + sx
                       : nullptr;
        switch (rop) {
            case SRCCOPY:
                std::memcpy(d, s, std::size_t(w) * 4);
                break;
            case SRCAND:
                for (int i = 0; i < w; ++i) {
                    d[i] = kOpaque | (d[i] & s[i]);
                }
                break;
            case SRCPAINT:
                for (int i = 0; i < w; ++i) {
                    d[i] = kOpaque | d[i] | s[i];
                }
                break;
            case SRCANDNOT:
                for (int i = 0; i < w; ++i) {
                    d[i] = kOpaque | (d[i] & ~s[i]);
                }
                break;
            default:
                for (int i = 0; i < w; ++i) {
                    const std::uint32_t sv = s != nullptr ? s[i] & kRgbMask : 0;
                    d[i] = kOpaque | (Rop3(rop, p, sv, d[i] & kRgbMask) & kRgbMask);
                }
                break;
        }
    }
}

}  // namespace

void TCanvas::CopyRect(const TRect& dest, const TCanvas& source, const TRect& sr) {
    if (source.image_ != nullptr) {
        StretchFrom(dest, *source.image_, sr);
    } else if (dest.Width() == sr.Width() && dest.Height() == sr.Height()) {
        // Without a source, an operation that does not read one still acts.
        BitBlt(*this, dest.Left, dest.Top, dest.Width(), dest.Height(), source, sr.Left, sr.Top,
               copyMode_);
    }
}

void TCanvas::StretchFrom(const TRect& dest, const QImage& src, const TRect& sr) {
    if (dest.Width() == sr.Width() && dest.Height() == sr.Height()) {
        BitBlt(*this, dest.Left, dest.Top, dest.Width(), dest.Height(), src, sr.Left, sr.Top,
               copyMode_);
        return;
    }
    if (image_ == nullptr || dest.IsEmpty() || sr.IsEmpty()) {
        return;
    }
    if (Scaled() || PictureRatio(src) > 1) {
        const QRect target = DeviceGrid(PixelRatio()).Device(dest);
        const QRect visible = target.intersected(QRect(0, 0, image_->width(), image_->height()));
        if (visible.isEmpty()) {
            return;
        }
        const QRect from = DeviceGrid(PictureRatio(src)).Device(sr);
        const QImage part = StretchedPart(src, from, target, visible, copyMode_ == SRCCOPY);
        DeviceBlit(image_, visible.x(), visible.y(), visible.width(), visible.height(), &part, 0, 0,
                   copyMode_, brush_.Color());
        return;
    }
    // Stretch (nearest pixel) into a temporary image, then combine it.
    QImage stretched(dest.Width(), dest.Height(), QImage::Format_RGB32);
    for (int y = 0; y < dest.Height(); ++y) {
        const int syy = sr.Top + int(std::int64_t(y) * sr.Height() / dest.Height());
        auto* out = reinterpret_cast<std::uint32_t*>(stretched.scanLine(y));
        for (int x = 0; x < dest.Width(); ++x) {
            const int sxx = sr.Left + int(std::int64_t(x) * sr.Width() / dest.Width());
            out[x] = src.valid(sxx, syy) ? src.pixel(sxx, syy) : kOpaque;
        }
    }
    BitBlt(*this, dest.Left, dest.Top, dest.Width(), dest.Height(), stretched, 0, 0, copyMode_);
}

void TCanvas::Draw(int x, int y, const QImage& image) {
    const QImage converted = image.format() == QImage::Format_RGB32
                                 ? image
                                 : image.convertToFormat(QImage::Format_RGB32);
    const double ratio = PictureRatio(converted);
    const DeviceGrid grid(ratio);
    const int width = ratio > 1 ? grid.Logical(converted.width()) : converted.width();
    const int height = ratio > 1 ? grid.Logical(converted.height()) : converted.height();
    if (ratio == PixelRatio()) {
        BitBlt(*this, x, y, width, height, converted, 0, 0, SRCCOPY);
    } else {
        StretchDraw(HeldRect(x, y, width, height), converted);
    }
}

void TCanvas::StretchDraw(const TRect& dest, const QImage& image) {
    const QImage converted = image.format() == QImage::Format_RGB32
                                 ? image
                                 : image.convertToFormat(QImage::Format_RGB32);
    const TRasterOp saved = copyMode_;
    copyMode_ = SRCCOPY;
    if (Scaled() || PictureRatio(converted) > 1) {
        // The whole picture, whatever its logical size, fills the rectangle.
        if (image_ != nullptr && !dest.IsEmpty() && !converted.isNull()) {
            const QRect target = DeviceGrid(PixelRatio()).Device(dest);
            const QRect visible =
                target.intersected(QRect(0, 0, image_->width(), image_->height()));
            if (!visible.isEmpty()) {
                const QImage part =
                    StretchedPart(converted, converted.rect(), target, visible, true);
                DeviceBlit(image_, visible.x(), visible.y(), visible.width(), visible.height(),
                           &part, 0, 0, SRCCOPY, brush_.Color());
            }
        }
    } else {
        StretchFrom(dest, converted, Rect(0, 0, converted.width(), converted.height()));
    }
    copyMode_ = saved;
}

}  // namespace velmora
