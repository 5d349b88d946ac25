#pragma once

// Measures of a picture drawn at a pixel ratio above 1 against the same picture at ratio 1:
// whether it is merely an enlargement of it (pixel by pixel, as Qt shows a picture of ratio 1 on
// a scaled screen, or smoothly), and whether it still shows the same thing.

#include <QImage>
#include <QPoint>
#include <QSize>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

namespace velmora::test {

// Mean absolute difference per colour channel (0..255) over the given pixels of two pictures.
inline double MeanDifferenceAt(const QImage& a, const QImage& b, const std::vector<QPoint>& at) {
    if (at.empty()) {
        return 0;
    }
    double sum = 0;
    for (const QPoint& p : at) {
        const QRgb x = a.pixel(p);
        const QRgb y = b.pixel(p);
        sum += std::abs(qRed(x) - qRed(y)) + std::abs(qGreen(x) - qGreen(y)) +
               std::abs(qBlue(x) - qBlue(y));
    }
    return sum / (3.0 * double(at.size()));
}

// The same over all pixels of two pictures of one size.
inline double MeanDifference(const QImage& a, const QImage& b) {
    std::vector<QPoint> all;
    all.reserve(std::size_t(a.width()) * std::size_t(a.height()));
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            all.emplace_back(x, y);
        }
    }
    return MeanDifferenceAt(a, b, all);
}

// The picture of ratio 1 enlarged to a device size: pixel by pixel or smoothly.
inline QImage EnlargedByPixels(const QImage& one, QSize size) {
    QImage plain = one;
    plain.setDevicePixelRatio(1);
    return plain.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

inline QImage EnlargedSmoothly(const QImage& one, QSize size) {
    QImage plain = one;
    plain.setDevicePixelRatio(1);
    return plain.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// A picture of a higher ratio brought back to the size of ratio 1, by averaging.
inline QImage Reduced(const QImage& scaled, QSize size) {
    QImage plain = scaled;
    plain.setDevicePixelRatio(1);
    return plain.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The picture with all its pixels in its most frequent colour: what is left when nothing is
// drawn on its background.
inline QImage Emptied(const QImage& picture) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            ++counts[picture.pixel(x, y)];
        }
    }
    QImage empty(picture.size(), QImage::Format_RGB32);
    empty.fill(std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                   return a.second < b.second;
               })->first);
    return empty;
}

// The device pixels of a picture of `size` whose pixel of the ratio-1 picture lies on an edge
// there (differs from its right or lower neighbour): where an enlargement shows.
inline std::vector<QPoint> EdgePixels(const QImage& one, QSize size) {
    const auto edge = [&one](int x, int y) {
        const QRgb p = one.pixel(x, y);
        return (x + 1 < one.width() && one.pixel(x + 1, y) != p) ||
               (y + 1 < one.height() && one.pixel(x, y + 1) != p);
    };
    std::vector<QPoint> at;
    for (int y = 0; y < size.height(); ++y) {
        const int ly = std::min(one.height() - 1, y * one.height() / size.height());
        for (int x = 0; x < size.width(); ++x) {
            const int lx = std::min(one.width() - 1, x * one.width() / size.width());
            if (edge(lx, ly)) {
                at.emplace_back(x, y);
            }
        }
    }
    return at;
}

// Of the aligned 2 x 2 blocks of a ratio-2 picture that lie on an edge of the ratio-1 picture,
// the share that holds more than one colour (none in a picture enlarged pixel by pixel).
inline double MixedEdgeBlocks(const QImage& one, const QImage& two) {
    int edges = 0;
    int mixed = 0;
    for (int y = 0; y + 1 < one.height(); ++y) {
        for (int x = 0; x + 1 < one.width(); ++x) {
            const QRgb p = one.pixel(x, y);
            if (one.pixel(x + 1, y) == p && one.pixel(x, y + 1) == p) {
                continue;
            }
            ++edges;
            const QRgb a = two.pixel(2 * x, 2 * y);
            mixed += two.pixel(2 * x + 1, 2 * y) != a || two.pixel(2 * x, 2 * y + 1) != a ||
                     two.pixel(2 * x + 1, 2 * y + 1) != a;
        }
    }
    return edges == 0 ? 0.0 : double(mixed) / edges;
}

// Of the long straight edges of the ratio-1 picture (the same two colours side by side over
// nine pixels or more along the edge: frames and lines, not letters), the share that a picture of
// a higher ratio keeps sharp: the device pixels on either side of the edge hold those two colours
// exactly. `edge(k)` is the device edge of logical edge k. 1 for a picture without such edges.
template <typename EdgeOf>
double SharpStraightEdges(const QImage& one, const QImage& scaled, EdgeOf edge) {
    constexpr int kReach = 4;  // pixels along the edge on each side
    int straight = 0;
    int sharp = 0;
    // Across the edge between (x, y) and (x + dx, y + dy), running along (dy, dx).
    const auto check = [&](int x, int y, int dx, int dy) {
        const QRgb a = one.pixel(x, y);
        const QRgb b = one.pixel(x + dx, y + dy);
        if (a == b) {
            return;
        }
        for (int k = -kReach; k <= kReach; ++k) {
            if (one.pixel(x + k * dy, y + k * dx) != a ||
                one.pixel(x + dx + k * dy, y + dy + k * dx) != b) {
                return;
            }
        }
        ++straight;
        bool kept = true;
        const int along = dx != 0 ? y : x;
        const int across = dx != 0 ? x : y;
        for (int d = edge(along); d < edge(along + 1); ++d) {
            const QPoint before =
                dx != 0 ? QPoint(edge(across + 1) - 1, d) : QPoint(d, edge(across + 1) - 1);
            const QPoint after =
                dx != 0 ? QPoint(edge(across + 1), d) : QPoint(d, edge(across + 1));
            kept = kept && scaled.pixel(before) == a && scaled.pixel(after) == b;
        }
        sharp += kept;
    };
    for (int y = kReach; y + kReach < one.height(); ++y) {
        for (int x = 0; x + 1 < one.width(); ++x) {
            check(x, y, 1, 0);
        }
    }
    for (int y = 0; y + 1 < one.height(); ++y) {
        for (int x = kReach; x + kReach < one.width(); ++x) {
            check(x, y, 0, 1);
        }
    }
    return straight == 0 ? 1.0 : double(sharp) / straight;
}

}  // namespace velmora::test
