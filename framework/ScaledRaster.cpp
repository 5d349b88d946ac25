#include "ScaledRaster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace velmora {
namespace {

constexpr std::uint32_t kRgbMask = 0x00FFFFFF;
constexpr std::uint32_t kOpaque = 0xFF000000;
// Logical coordinates are held within this distance of the origin: far beyond any picture, and
// still exact in a double after scaling.
constexpr double kFar = double(std::int64_t(1) << 40);
// Rows sampled per device row.
constexpr int kSubRows = 16;

double Held(double v) {
    return std::isnan(v) ? 0.0 : std::clamp(v, -kFar, kFar);
}

int HeldInt(double v) {
    constexpr double kLimit = 1 << 30;
    return int(std::clamp(v, -kLimit, kLimit));
}

}  // namespace

std::uint32_t PenMix(TPenMode mode, std::uint32_t p, std::uint32_t d) {
    switch (mode) {
        case pmBlack:
            return 0;
        case pmWhite:
            return kRgbMask;
        case pmNop:
            return d;
        case pmNot:
            return ~d;
        case pmCopy:
            return p;
        case pmNotCopy:
            return ~p;
        case pmMergePenNot:
            return p | ~d;
        case pmMaskPenNot:
            return p & ~d;
        case pmMergeNotPen:
            return ~p | d;
        case pmMaskNotPen:
            return ~p & d;
        case pmMerge:
            return p | d;
        case pmNotMerge:
            return ~(p | d);
        case pmMask:
            return p & d;
        case pmNotMask:
            return ~(p & d);
        case pmXor:
            return p ^ d;
        case pmNotXor:
            return ~(p ^ d);
    }
    return p;
}

// ---------------------------------------------------------------------------------------------
// Grid

double DeviceGrid::Edge(double k) const {
    // The slack keeps a ratio that a double cannot hold exactly (1.1) from rounding an exact
    // half the wrong way.
    return std::floor(Held(k) * ratio_ + 0.5 + 1e-7);
}

double DeviceGrid::Map(double v) const {
    v = Held(v);
    if (whole_) {
        return v * ratio_;
    }
    const double k = std::floor(v);
    const double e0 = Edge(k);
    return e0 + (v - k) * (Edge(k + 1) - e0);
}

double DeviceGrid::Unmap(double d) const {
    d = Held(d);
    if (whole_) {
        return d / ratio_;
    }
    // The logical pixel whose device span holds d.
    double k = std::ceil((std::floor(d) + 0.5) / ratio_) - 1;
    while (Edge(k + 1) <= d) {
        ++k;
    }
    while (Edge(k) > d) {
        --k;
    }
    const double e0 = Edge(k);
    return k + (d - e0) / (Edge(k + 1) - e0);
}

QRect DeviceGrid::Device(const TRect& r) const {
    const int left = HeldInt(Edge(r.Left));
    const int top = HeldInt(Edge(r.Top));
    return QRect(QPoint(left, top),
                 QPoint(HeldInt(Edge(r.Right)) - 1, HeldInt(Edge(r.Bottom)) - 1));
}

QSize DeviceGrid::DeviceSize(int width, int height) const {
    return QSize(HeldInt(Edge(width)), HeldInt(Edge(height)));
}

int DeviceGrid::Logical(int deviceExtent) const {
    return int(std::lround(deviceExtent / ratio_));
}

double PictureRatio(const QImage& image) {
    const double ratio = image.devicePixelRatio();
    return ratio > 1 ? ratio : 1.0;
}

QImage NewScaledPicture(int width, int height, double ratio) {
    ratio = ratio > 1 ? ratio : 1.0;
    const QSize size = DeviceGrid(ratio).DeviceSize(std::max(0, width), std::max(0, height));
    QImage image(size, QImage::Format_RGB32);
    image.fill(0xFFFFFFFFu);
    image.setDevicePixelRatio(ratio);
    return image;
}

QImage DeviceView(QImage& image) {
    return QImage(image.bits(), image.width(), image.height(), image.bytesPerLine(),
                  QImage::Format_RGB32);
}

// ---------------------------------------------------------------------------------------------
// Regions

RoundRectRegion::RoundRectRegion(double left, double top, double right, double bottom, double ew,
                                 double eh)
    : left_(left),
      top_(top),
      right_(right),
      bottom_(bottom),
      rx_(std::clamp(ew, 0.0, std::max(0.0, right - left)) / 2),
      ry_(std::clamp(eh, 0.0, std::max(0.0, bottom - top)) / 2) {}

void RoundRectRegion::Row(double y, SpanList& out) const {
    if (y < top_ || y >= bottom_ || right_ <= left_) {
        return;
    }
    double inset = 0;
    if (rx_ > 0 && ry_ > 0) {
        double t = 0;
        if (y < top_ + ry_) {
            t = (top_ + ry_ - y) / ry_;
        } else if (y > bottom_ - ry_) {
            t = (y - (bottom_ - ry_)) / ry_;
        }
        if (t > 0) {
            inset = rx_ * (1 - std::sqrt(std::max(0.0, 1 - t * t)));
        }
    }
    if (left_ + inset < right_ - inset) {
        out.emplace_back(left_ + inset, right_ - inset);
    }
}

bool RoundRectRegion::SameRows(double from, double to) const {
    // Between the corners, or wholly above or below the shape.
    return (from >= top_ + ry_ && to <= bottom_ - ry_) || to <= top_ || from >= bottom_;
}

void DifferenceRegion::Row(double y, SpanList& out) const {
    a_.clear();
    b_.clear();
    outer_.Row(y, a_);
    if (a_.empty()) {
        return;
    }
    inner_.Row(y, b_);
    for (const auto& [from, to] : a_) {
        double at = from;
        for (const auto& [cutFrom, cutTo] : b_) {
            if (cutTo <= at || cutFrom >= to) {
                continue;
            }
            if (cutFrom > at) {
                out.emplace_back(at, cutFrom);
            }
            at = std::max(at, cutTo);
        }
        if (at < to) {
            out.emplace_back(at, to);
        }
    }
}

bool SectorRegion::Inside(double x, double y) const {
    constexpr double kTwoPi = 2 * std::numbers::pi;
    const double a = std::atan2(cy_ - y, x - cx_);
    return std::fmod(a - start_ + 2 * kTwoPi, kTwoPi) <= sweep_;
}

void SectorRegion::Row(double y, SpanList& out) const {
    spans_.clear();
    ring_.Row(y, spans_);
    if (spans_.empty()) {
        return;
    }
    if (sweep_ >= 2 * std::numbers::pi) {
        out.insert(out.end(), spans_.begin(), spans_.end());
        return;
    }
    // Where the two rays cross this row: along it the angle changes monotonically between them.
    double cuts[2];
    int count = 0;
    for (const double angle : {start_, start_ + sweep_}) {
        const double s = std::sin(angle);
        if (std::abs(s) > 1e-12) {
            const double t = (cy_ - y) / s;
            if (t >= 0) {
                cuts[count++] = cx_ + t * std::cos(angle);
            }
        }
    }
    if (count == 2 && cuts[1] < cuts[0]) {
        std::swap(cuts[0], cuts[1]);
    }
    for (const auto& [from, to] : spans_) {
        double at = from;
        for (int i = 0; i <= count; ++i) {
            const double end = i < count ? std::clamp(cuts[i], at, to) : to;
            if (end > at && Inside((at + end) / 2, y)) {
                out.emplace_back(at, end);
            }
            at = std::max(at, end);
        }
    }
}

BandRegion::BandRegion(int x0, int y0, int x1, int y1, std::vector<std::pair<double, double>> runs)
    : xMajor_(std::abs(double(x1) - x0) >= std::abs(double(y1) - y0)),
      cx_(x0 + 0.5),
      cy_(y0 + 0.5),
      slope_(xMajor_ ? (double(y1) - y0) / (double(x1) - x0)
                     : (double(x1) - x0) / (double(y1) - y0)),
      runs_(std::move(runs)) {
    if (runs_.empty()) {
        top_ = bottom_ = 0;
    } else if (xMajor_) {
        const double a = cy_ + (runs_.front().first - cx_) * slope_;
        const double b = cy_ + (runs_.back().second - cx_) * slope_;
        top_ = std::min(a, b) - 0.5;
        bottom_ = std::max(a, b) + 0.5;
    } else {
        top_ = runs_.front().first;
        bottom_ = runs_.back().second;
    }
}

void BandRegion::Row(double y, SpanList& out) const {
    if (y < top_ || y >= bottom_) {
        return;
    }
    if (!xMajor_) {
        for (const auto& [from, to] : runs_) {
            if (y >= from && y < to) {
                const double x = cx_ + (y - cy_) * slope_;
                out.emplace_back(x - 0.5, x + 0.5);
                return;
            }
        }
        return;
    }
    double lo = -kFar;
    double hi = kFar;
    if (slope_ != 0) {
        const double a = cx_ + (y - 0.5 - cy_) / slope_;
        const double b = cx_ + (y + 0.5 - cy_) / slope_;
        lo = std::min(a, b);
        hi = std::max(a, b);
    }
    for (const auto& [from, to] : runs_) {
        const double a = std::max(lo, from);
        const double b = std::min(hi, to);
        if (a < b) {
            out.emplace_back(a, b);
        }
    }
}

CapsuleRegion::CapsuleRegion(double ax, double ay, double bx, double by, double radius)
    : ax_(ax), ay_(ay), bx_(bx), by_(by), radius_(radius) {}

void CapsuleRegion::Row(double y, SpanList& out) const {
    const double r2 = radius_ * radius_;
    double lo = kFar;
    double hi = -kFar;
    for (const auto& [cx, cy] : {std::pair(ax_, ay_), std::pair(bx_, by_)}) {
        const double rest = r2 - (y - cy) * (y - cy);
        if (rest >= 0) {
            const double half = std::sqrt(rest);
            lo = std::min(lo, cx - half);
            hi = std::max(hi, cx + half);
        }
    }
    const double vx = bx_ - ax_;
    const double vy = by_ - ay_;
    const double len2 = vx * vx + vy * vy;
    if (len2 > 0) {
        const double len = std::sqrt(len2);
        // lo <= c * x + d <= hi as an interval of x (all x when c is 0 and d fits).
        auto within = [](double c, double d, double low, double high, double& from, double& to) {
            if (c == 0) {
                from = -kFar;
                to = kFar;
                return d >= low && d <= high;
            }
            from = (low - d) / c;
            to = (high - d) / c;
            if (from > to) {
                std::swap(from, to);
            }
            return true;
        };
        double f1 = 0;
        double t1 = 0;
        double f2 = 0;
        double t2 = 0;
        // Within the radius of the line, and between the perpendiculars through its ends.
        if (within(-vy / len, (ax_ * vy + (y - ay_) * vx) / len, -radius_, radius_, f1, t1) &&
            within(vx / len2, (-ax_ * vx + (y - ay_) * vy) / len2, 0.0, 1.0, f2, t2) &&
            std::max(f1, f2) <= std::min(t1, t2)) {
            lo = std::min(lo, std::max(f1, f2));
            hi = std::max(hi, std::min(t1, t2));
        }
    }
    if (lo < hi) {
        out.emplace_back(lo, hi);
    }
}

PolygonRegion::PolygonRegion(std::vector<std::pair<double, double>> points)
    : points_(std::move(points)), top_(0), bottom_(0) {
    if (!points_.empty()) {
        const auto [low, high] =
            std::minmax_element(points_.begin(), points_.end(),
                                [](const auto& a, const auto& b) { return a.second < b.second; });
        top_ = low->second;
        bottom_ = high->second;
    }
}

void PolygonRegion::Row(double y, SpanList& out) const {
    crossings_.clear();
    const std::size_t n = points_.size();
    for (std::size_t k = 0; k < n; ++k) {
        const auto& [ax, ay] = points_[k];
        const auto& [cx, cy] = points_[(k + 1) % n];
        if ((ay <= y && y < cy) || (cy <= y && y < ay)) {
            crossings_.push_back(ax + (y - ay) * (cx - ax) / (cy - ay));
        }
    }
    std::sort(crossings_.begin(), crossings_.end());
    for (std::size_t k = 0; k + 1 < crossings_.size(); k += 2) {
        if (crossings_[k] < crossings_[k + 1]) {
            out.emplace_back(crossings_[k], crossings_[k + 1]);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Painting

namespace {

// The coverage of one device row by one region, summed over the row's samples: the share of
// each pixel that the region's intervals cover.
class CoverageRow {
public:
    explicit CoverageRow(int width)
        : width_(width),
          partial_(std::size_t(width) + 1, 0.0F),
          runs_(std::size_t(width) + 1, 0.0F) {}

    // Adds the device interval [a, b) with a weight; `touched` collects the pixels it reaches.
    void Add(double a, double b, float weight, std::vector<std::pair<int, int>>& touched) {
        a = std::max(a, 0.0);
        b = std::min(b, double(width_));
        if (!(b > a)) {
            return;
        }
        const int first = int(a);
        const int last = std::min(int(b), width_);
        if (first == last) {
            partial_[std::size_t(first)] += float(b - a) * weight;
        } else {
            partial_[std::size_t(first)] += float(first + 1 - a) * weight;
            // Whole pixels between as a run: +weight where it starts, -weight past its end.
            runs_[std::size_t(first) + 1] += weight;
            runs_[std::size_t(last)] -= weight;
            if (last < width_) {
                partial_[std::size_t(last)] += float(b - last) * weight;
            }
        }
        touched.emplace_back(first, std::min(last, width_ - 1));
    }

    // Walks the pixels of a range (one that holds whole intervals), giving each its coverage,
    // and clears them.
    template <typename F>
    void Take(int from, int to, F&& f) {
        float run = 0;
        for (int x = from; x <= to; ++x) {
            run += runs_[std::size_t(x)];
            f(x, std::clamp(partial_[std::size_t(x)] + run, 0.0F, 1.0F));
            partial_[std::size_t(x)] = 0;
            runs_[std::size_t(x)] = 0;
        }
        runs_[std::size_t(width_)] = 0;
    }

private:
    int width_;
    std::vector<float> partial_;
    std::vector<float> runs_;
};

}  // namespace

void PaintRegions(QImage& image, const DeviceGrid& grid, std::span<const Layer> layers,
                  TPenMode mode) {
    const int width = image.width();
    const int height = image.height();
    if (layers.empty() || width <= 0 || height <= 0 || mode == pmNop) {
        return;
    }
    double top = kFar;
    double bottom = -kFar;
    for (const Layer& layer : layers) {
        top = std::min(top, layer.region->Top());
        bottom = std::max(bottom, layer.region->Bottom());
    }
    const int firstRow = int(std::max(0.0, std::floor(grid.Map(Held(top)))));
    const int endRow = int(std::min(double(height), std::ceil(grid.Map(Held(bottom)))));
    if (firstRow >= endRow) {
        return;
    }
    // Beyond these an interval reaches no pixel: held there, so that no huge value is mapped.
    const double leftmost = grid.Unmap(0) - 1;
    const double rightmost = grid.Unmap(width) + 1;

    std::vector<CoverageRow> coverage;
    coverage.reserve(layers.size());
    for (std::size_t i = 0; i < layers.size(); ++i) {
        coverage.emplace_back(width);
    }
    std::vector<std::pair<int, int>> touched;
    std::vector<float> shares(layers.size() * std::size_t(width));
    const auto share = [&shares, width](std::size_t layer, int x) {
        return shares[layer * std::size_t(width) + std::size_t(x)];
    };
    SpanList spans;
    constexpr float kWeight = 1.0F / kSubRows;
    uchar* const bits = image.bits();
    const qsizetype bytesPerLine = image.bytesPerLine();

    for (int row = firstRow; row < endRow; ++row) {
        touched.clear();
        // A device row lies within one logical row: its samples are evenly spaced in it.
        const double rowTop = grid.Unmap(row);
        const double rowHeight = grid.Unmap(row + 1) - rowTop;
        bool same = true;
        for (const Layer& layer : layers) {
            same = same && layer.region->SameRows(rowTop, rowTop + rowHeight);
        }
        const int samples = same ? 1 : kSubRows;
        const float weight = same ? 1.0F : kWeight;
        for (int s = 0; s < samples; ++s) {
            const double y = rowTop + rowHeight * (s + 0.5) / samples;
            for (std::size_t i = 0; i < layers.size(); ++i) {
                spans.clear();
                layers[i].region->Row(y, spans);
                for (auto [from, to] : spans) {
                    from = std::clamp(from, leftmost, rightmost);
                    to = std::clamp(to, leftmost, rightmost);
                    if (to > from) {
                        coverage[i].Add(grid.Map(from), grid.Map(to), weight, touched);
                    }
                }
            }
        }
        if (touched.empty()) {
            continue;
        }
        // Ranges that overlap or touch are walked as one.
        std::sort(touched.begin(), touched.end());
        std::size_t merged = 0;
        for (std::size_t k = 1; k < touched.size(); ++k) {
            if (touched[k].first <= touched[merged].second + 1) {
                touched[merged].second = std::max(touched[merged].second, touched[k].second);
            } else {
                touched[++merged] = touched[k];
            }
        }
        touched.resize(merged + 1);

        auto* const line = reinterpret_cast<std::uint32_t*>(bits + row * bytesPerLine);
        for (const auto& [from, to] : touched) {
            // Each layer's coverage of the range, then the pixels mixed with all layers at once.
            for (std::size_t i = 0; i < layers.size(); ++i) {
                float* const into = shares.data() + i * std::size_t(width);
                coverage[i].Take(from, to, [into](int x, float c) { into[x] = c; });
            }
            for (int x = from; x <= to; ++x) {
                const std::uint32_t d = line[x] & kRgbMask;
                if (mode == pmCopy) {
                    // Inside a region (most of a large shape's pixels): its colour.
                    std::size_t inside = 0;
                    while (inside < layers.size() && share(inside, x) < 1.0F) {
                        ++inside;
                    }
                    if (inside < layers.size()) {
                        line[x] = kOpaque | layers[inside].rgb;
                        continue;
                    }
                    int rest = 256;
                    int r = 0;
                    int g = 0;
                    int b = 0;
                    for (std::size_t i = 0; i < layers.size(); ++i) {
                        const int w = std::min(rest, int(std::lround(share(i, x) * 256)));
                        if (w <= 0) {
                            continue;
                        }
                        rest -= w;
                        const std::uint32_t c = layers[i].rgb;
                        r += w * int((c >> 16) & 0xFF);
                        g += w * int((c >> 8) & 0xFF);
                        b += w * int(c & 0xFF);
                    }
                    if (rest == 256) {
                        continue;
                    }
                    r += rest * int((d >> 16) & 0xFF);
                    g += rest * int((d >> 8) & 0xFF);
                    b += rest * int(d & 0xFF);
                    line[x] = kOpaque | (std::uint32_t((r + 128) >> 8) << 16) |
                              (std::uint32_t((g + 128) >> 8) << 8) | std::uint32_t((b + 128) >> 8);
                } else {
                    std::size_t best = 0;
                    for (std::size_t i = 1; i < layers.size(); ++i) {
                        if (share(i, x) > share(best, x)) {
                            best = i;
                        }
                    }
                    if (share(best, x) > 0.5F) {
                        line[x] = kOpaque | (PenMix(mode, layers[best].rgb, d) & kRgbMask);
                    }
                }
            }
        }
    }
}

void FillDevice(QImage& image, const QRect& rect, std::uint32_t rgb, TPenMode mode) {
    const QRect r = rect.intersected(QRect(0, 0, image.width(), image.height()));
    if (r.isEmpty() || mode == pmNop) {
        return;
    }
    uchar* const bits = image.bits();
    const qsizetype bytesPerLine = image.bytesPerLine();
    for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* const line = reinterpret_cast<std::uint32_t*>(bits + y * bytesPerLine);
        if (mode == pmCopy) {
            std::fill(line + r.left(), line + r.right() + 1, kOpaque | (rgb & kRgbMask));
            continue;
        }
        for (int x = r.left(); x <= r.right(); ++x) {
            line[x] = kOpaque | (PenMix(mode, rgb, line[x] & kRgbMask) & kRgbMask);
        }
    }
}

}  // namespace velmora
