#include "Hemibtn.h"

#include "framework/ScaledRaster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

namespace velmora {
namespace {

// Light from the upper left and from the viewer: L = (-k, -k, +k) in screen axes.
constexpr double kLight = 0.5773502692;

constexpr std::uint32_t kOpaque = 0xFF000000u;
constexpr std::uint32_t kRgb = 0x00FFFFFFu;
constexpr std::uint32_t kWhitePixel = 0xFFFFFFFFu;

const QString kImageOut = QStringLiteral("ImageOut");
const QString kImageIn = QStringLiteral("ImageIn");
const QString kImageMask = QStringLiteral("ImageMask");
const QString kImageGlyph = QStringLiteral("ImageGlyph");

// Halves to even (the default floating-point rounding mode).
int RoundEven(double v) {
    return int(std::nearbyint(v));
}
int Ceil(double v) {
    return int(std::ceil(v));
}
int Floor(double v) {
    return int(std::floor(v));
}

double LightDot(double nx, double ny, double nz) {
    return -kLight * nx + -kLight * ny + kLight * nz;
}

std::uint32_t Grey(int level) {
    return kOpaque | (std::uint32_t(level) * 0x010101u);
}

std::uint32_t Pixel(int r, int g, int b) {
    return kOpaque | (std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | std::uint32_t(b);
}

// c + Round(c * s) kept within 0..255 (a non-finite shade gives a defined result too).
int Shade(int c, double s) {
    const double v = c + std::nearbyint(c * s);
    if (!(v > 0)) {
        return 0;
    }
    return v > 255 ? 255 : int(v);
}

// Direct access to the pixels of an RGB32 image; writes outside it are dropped, reads outside it
// give a value that is no colour at all.
class PixelGrid {
public:
    explicit PixelGrid(QImage& image)
        : bits_(reinterpret_cast<std::uint32_t*>(image.bits())),
          stride_(image.bytesPerLine() / 4),
          width_(image.width()),
          height_(image.height()) {}

    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    void Put(int x, int y, std::uint32_t c) {
        if (Inside(x, y)) {
            bits_[std::ptrdiff_t(y) * stride_ + x] = c;
        }
    }
    std::uint32_t At(int x, int y) const {
        return Inside(x, y) ? bits_[std::ptrdiff_t(y) * stride_ + x] : 0;
    }

private:
    std::uint32_t* bits_;
    std::ptrdiff_t stride_;
    int width_;
    int height_;
};

QImage WhiteImage(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kWhitePixel);
    return image;
}

void BlackEllipse(QImage& image, int l, int t, int r, int b) {
    TCanvas c(&image);
    c.Pen().SetColor(clBlack);
    c.Brush().SetColor(clBlack);
    c.Ellipse(l, t, r, b);
}

void Combine(QImage& dest, QImage& source, TRasterOp rop) {
    TCanvas d(&dest);
    const TCanvas s(&source);
    BitBlt(d, 0, 0, dest.width(), dest.height(), s, 0, 0, rop);
}

// A bevel ring: the ellipse of the box is walked through its first quadrant with the midpoint
// algorithm, and around every point a square stamp of shaded pixels is mirrored into all four
// quadrants. Each stamp pixel is shaded with the normal of a cone around the ring, tilted
// outward (raised) or inward (lowered).
void ShadedRing(QImage& image, int l, int t, int r, int b, int bevelWidth, bool raised) {
    PixelGrid grid(image);
    const double a = (r - l - 1) / 2.0;
    const double bb = (b - t - 1) / 2.0;
    const double cx = l + a;
    const double cy = t + bb;
    const int s = Ceil(bevelWidth / 2.0) + 1;
    const double tilt = raised ? 1.0 : -1.0;
    // Offsets beyond these reach no pixel of the image in any quadrant.
    const int iReach = Ceil(std::abs(cx)) + image.width() + 2;
    const int jReach = Ceil(std::abs(cy)) + image.height() + 2;

    const auto shade = [](double nx, double ny, double nz) {
        return Grey(std::clamp(RoundEven(128 * LightDot(nx, ny, nz)) + 128, 0, 255));
    };
    const auto stamp = [&](double x, double y) {
        const int rx = RoundEven(x);
        const int ry = RoundEven(y);
        const int jFirst = std::max(ry - s, -jReach);
        const int jLast = std::min(ry + s, jReach);
        const int iFirst = std::max(rx - s, -iReach);
        const int iLast = std::min(rx + s, iReach);
        for (int j = jFirst; j <= jLast; ++j) {
            for (int i = iFirst; i <= iLast; ++i) {
                if (i == 0 && j == 0) {
                    // No direction here; the corner pixel lies outside the disc.
                    grid.Put(0, 0, shade(0, 0, 1));
                    continue;
                }
                const double radius = std::sqrt(double(i) * i + double(j) * j);
                const double len = std::numbers::sqrt2 * radius;
                const double nx = tilt * i / len;
                const double ny = tilt * j / len;
                const double nz = radius / len;
                grid.Put(Ceil(cx + i), Ceil(cy - j), shade(nx, -ny, nz));
                grid.Put(Ceil(cx + i), Floor(cy + j), shade(nx, ny, nz));
                grid.Put(Floor(cx - i), Floor(cy + j), shade(-nx, ny, nz));
                grid.Put(Floor(cx - i), Ceil(cy - j), shade(-nx, -ny, nz));
            }
        }
    };

    const double a2 = a * a;
    const double b2 = bb * bb;
    double x = 0;
    double y = bb;
    double d1 = b2 - a2 * bb + a2 / 4;
    stamp(x, y);
    while ((x + 1) * b2 < (y - 0.5) * a2) {
        if (d1 < 0) {
            d1 += b2 * (2 * x + 3);
            x += 1;
        } else {
            d1 += b2 * (2 * x + 3) + a2 * (2 - 2 * y);
            x += 1;
            y -= 1;
        }
        stamp(x, y);
    }
    double d2 = b2 * (x + 0.5) * (x + 0.5) + a2 * (y - 1) * (y - 1) - a2 * b2;
    while (y > 0) {
        if (d2 < 0) {
            d2 += b2 * (2 * x + 2) + a2 * (3 - 2 * y);
            x += 1;
            y -= 1;
        } else {
            d2 += a2 * (3 - 2 * y);
            y -= 1;
        }
        stamp(x, y);
    }
}

}  // namespace

THemisphereButton::THemisphereButton(TComponent* owner) : TGraphicControl(owner) {
    // Pressing and releasing are tracked here (a press counts only on the face).
    SetClickEvents(false);
    imageOut_.SetPixelFormat(pf32bit);
    imageIn_.SetPixelFormat(pf32bit);
    imageMask_.SetPixelFormat(pf32bit);
    SetBounds(0, 0, 25, 25);
}

// ----- properties

template <typename T>
void THemisphereButton::Store(T& field, T value) {
    if (field != value) {
        field = value;
        Changed();
    }
}

void THemisphereButton::Changed() {
    BuildImages();
    Invalidate();
}

void THemisphereButton::SetAttenControl(double value) {
    Store(attenControl_, value);
}
void THemisphereButton::SetBevelInner(THemisphereBevel value) {
    Store(bevelInner_, value);
}
void THemisphereButton::SetBevelOuter(THemisphereBevel value) {
    Store(bevelOuter_, value);
}
void THemisphereButton::SetBevelWidth(int value) {
    // Wider bevels than any button can hold would only make rendering crawl.
    if (value > 0 && value <= kMaxBevelWidth) {
        Store(bevelWidth_, value);
    }
}
void THemisphereButton::SetBorderColor(TColor value) {
    Store(borderColor_, value);
}
void THemisphereButton::SetBorderStyle(TBorderStyle value) {
    Store(borderStyle_, value);
}
void THemisphereButton::SetFaceColor(TColor value) {
    Store(faceColor_, value);
}
void THemisphereButton::SetFaceShaded(bool value) {
    Store(faceShaded_, value);
}
void THemisphereButton::SetFaceTransparent(bool value) {
    Store(faceTransparent_, value);
}
void THemisphereButton::SetGlyphShaded(bool value) {
    Store(glyphShaded_, value);
}
void THemisphereButton::SetGlyphMapped(bool value) {
    Store(glyphMapped_, value);
}
void THemisphereButton::SetGlyphTransparent(bool value) {
    Store(glyphTransparent_, value);
}
void THemisphereButton::SetNumGlyphs(int value) {
    Store(numGlyphs_, value);
}

void THemisphereButton::SetGlyphIndex(int value) {
    if (value > 0 && (IsLoading() || value <= numGlyphs_)) {
        Store(glyphIndex_, value);
    }
}

void THemisphereButton::SetGlyph(const TBitmap* value) {
    if (value == &glyph_) {
        return;
    }
    if (value != nullptr) {
        glyph_.Assign(*value);
        glyphValid_ = true;
        const int w = glyph_.Width();
        const int h = glyph_.Height();
        numGlyphs_ = h != 0 && w % h == 0 ? w / h : 1;
        glyphIndex_ = 1;
    } else {
        glyphValid_ = false;
    }
    Changed();
}

void THemisphereButton::SetGroupIndex(int value) {
    groupIndex_ = value;
}

void THemisphereButton::SetDown(bool value) {
    if (down_ != value) {
        down_ = value;
        Repaint();
    }
}

template <typename F>
void THemisphereButton::ForEachInGroup(F f) {
    if (Owner() == nullptr) {
        return;
    }
    for (TComponent* c : Owner()->Components()) {
        auto* b = dynamic_cast<THemisphereButton*>(c);
        if (b != nullptr && b != this && b->groupIndex_ == groupIndex_) {
            f(b);
        }
    }
}

void THemisphereButton::SetAllowAllUp(bool value) {
    if (allowAllUp_ == value) {
        return;
    }
    allowAllUp_ = value;
    if (!IsLoading() && groupIndex_ != 0) {
        ForEachInGroup([value](THemisphereButton* b) { b->allowAllUp_ = value; });
    }
}

void THemisphereButton::FontChanged() {
    Changed();
}

void THemisphereButton::TextChanged() {
    Changed();
}

void THemisphereButton::SetBounds(int left, int top, int width, int height) {
    TGraphicControl::SetBounds(left, top, width, height);
    if (Width() != lastWidth_ || Height() != lastHeight_) {
        if (!IsLoading()) {
            Changed();
        }
        lastWidth_ = Width();
        lastHeight_ = Height();
    }
}

void THemisphereButton::Loaded() {
    TGraphicControl::Loaded();
    // Stored images stand in for rendering; render only if they are missing or do not fit.
    const QSize size(Width(), Height());
    if (imageOut_.Image().size() != size || imageIn_.Image().size() != size ||
        imageMask_.Image().size() != size) {
        BuildImages();
    }
    Invalidate();
}

// ----- stored images

void THemisphereButton::ReadGlyphValid(bool value) {
    glyphValid_ = value;
}

QStringList THemisphereButton::StoredImageNames() const {
    QStringList names{kImageOut, kImageIn, kImageMask};
    if (glyphValid_) {
        names.append(kImageGlyph);
    }
    return names;
}

const TBitmap* THemisphereButton::StoredImage(const QString& name) const {
    if (name == kImageOut) {
        return &imageOut_;
    }
    if (name == kImageIn) {
        return &imageIn_;
    }
    if (name == kImageMask) {
        return &imageMask_;
    }
    if (name == kImageGlyph) {
        return &glyph_;
    }
    return nullptr;
}

TBitmap* THemisphereButton::StoredImage(const QString& name) {
    return const_cast<TBitmap*>(std::as_const(*this).StoredImage(name));
}

QByteArray THemisphereButton::WriteStoredImage(const QString& name) const {
    const TBitmap* image = StoredImage(name);
    return image != nullptr ? EncodeBitmapFile(image->Image(), 32) : QByteArray();
}

bool THemisphereButton::ReadStoredImage(const QString& name, const QByteArray& data,
                                        QString* error) {
    TBitmap* image = StoredImage(name);
    if (image == nullptr) {
        if (error != nullptr) {
            *error = QStringLiteral("Unknown stored image \"%1\"").arg(name);
        }
        return false;
    }
    QString why;
    if (!image->LoadFromBytes(data, &why)) {
        if (error != nullptr) {
            *error = QStringLiteral("%1: %2").arg(name, why);
        }
        return false;
    }
    image->SetPixelFormat(pf32bit);
    Invalidate();
    return true;
}

// ----- rendering

// The images of a rendering, built in the steps below. At a pixel ratio above 1 the pixel steps
// work on the device pixels (sizes and the bevel width times the ratio), and caption and border
// are drawn in the control's coordinates at that ratio.
struct THemisphereButton::Layers {
    int w = 0;  // device pixels
    int h = 0;
    int bw = 0;
    double ratio = 1;
    QImage glyph;     // the glyph strip at the ratio
    QImage discMask;  // black inside the outer bevel
    QImage faceMask;  // black on the face
    QImage mask;      // black where the button is
    QImage outerRing;
    QImage innerRing;
    QImage faceOut;
    QImage faceIn;
};

void THemisphereButton::BuildImages() {
    if (IsLoading() || Width() < 2 || Height() < 2) {
        return;
    }
    scaled_ = ScaledImages{};
    Layers layers;
    Render(layers, 1.0);
    imageOut_.Assign(layers.faceOut);
    imageIn_.Assign(layers.faceIn);
    imageMask_.Assign(layers.mask);
    for (TBitmap* image : {&imageOut_, &imageIn_, &imageMask_}) {
        image->SetPixelFormat(pf32bit);
    }
}

void THemisphereButton::Render(Layers& layers, double ratio) const {
    const DeviceGrid grid(ratio);
    layers.ratio = ratio;
    layers.w = int(grid.Edge(Width()));
    layers.h = int(grid.Edge(Height()));
    layers.bw = ratio > 1 ? std::max(1, int(std::lround(bevelWidth_ * ratio))) : bevelWidth_;
    layers.glyph = glyph_.Image();
    if (ratio > 1 && glyphValid_ && !layers.glyph.isNull()) {
        // By nearest pixel: a glyph's transparent colour must stay one colour.
        const int cells = std::max(numGlyphs_, 1);
        const int cell = int(std::lround(layers.glyph.width() / cells * ratio));
        layers.glyph = layers.glyph.scaled(std::max(1, cell * cells),
                                           std::max(1, int(grid.Edge(layers.glyph.height()))));
    }
    MakeMasks(layers);
    MakeBevelRings(layers);
    ShadeFace(layers);
    WriteCaption(layers);
    Compose(layers);
}

void THemisphereButton::MakeMasks(Layers& layers) const {
    const int w = layers.w;
    const int h = layers.h;
    const int bw = layers.bw;
    const int n = BevelCount();
    const bool outer = bevelOuter_ != hbNone;
    const bool inner = bevelInner_ != hbNone;
    // Inside the outer band, the face, and the whole ellipse.
    layers.discMask = WhiteImage(w, h);
    if (n > 0) {
        BlackEllipse(layers.discMask, bw, bw, w - bw, h - bw);
    } else {
        BlackEllipse(layers.discMask, 0, 0, w, h);
    }
    layers.faceMask = layers.discMask;
    if (outer && inner) {
        layers.faceMask = WhiteImage(w, h);
        BlackEllipse(layers.faceMask, 2 * bw, 2 * bw, w - 2 * bw, h - 2 * bw);
    }
    layers.mask = WhiteImage(w, h);
    BlackEllipse(layers.mask, 0, 0, w, h);
}

// Shaded rings of the bevels, cut to the bands between the masks.
void THemisphereButton::MakeBevelRings(Layers& layers) const {
    const int w = layers.w;
    const int h = layers.h;
    const int bw = layers.bw;
    const bool outer = bevelOuter_ != hbNone;
    const bool inner = bevelInner_ != hbNone;
    if (outer) {
        layers.outerRing = WhiteImage(w, h);
        const int e = Floor(bw / 2.0);
        ShadedRing(layers.outerRing, e, e, w - e, h - e, bw, bevelOuter_ == hbRaised);
        Combine(layers.outerRing, layers.discMask, SRCAND);
    }
    if (inner && outer) {
        layers.innerRing = WhiteImage(w, h);
        const int e = Ceil(1.5 * bw);
        ShadedRing(layers.innerRing, e, e, w - e, h - e, bw, bevelInner_ == hbRaised);
        Combine(layers.innerRing, layers.faceMask, SRCAND);
        Combine(layers.innerRing, layers.discMask, SRCANDNOT);
    } else if (inner) {
        layers.innerRing = WhiteImage(w, h);
        const int e = Ceil(bw / 2.0);
        ShadedRing(layers.innerRing, e, e, w - e, h - e, bw, bevelInner_ == hbRaised);
        Combine(layers.innerRing, layers.discMask, SRCAND);
    }
}

// The dome lit from the upper left, with the glyph laid flat or wrapped around it, pixel by
// pixel in both states (pressed is lit from the other side).
void THemisphereButton::ShadeFace(Layers& layers) const {
    const int w = layers.w;
    const int h = layers.h;
    const int bw = layers.bw;
    const int n = BevelCount();
    layers.faceOut = WhiteImage(w, h);
    layers.faceIn = WhiteImage(w, h);
    {
        PixelGrid out(layers.faceOut);
        PixelGrid in(layers.faceIn);
        PixelGrid faceGrid(layers.faceMask);
        PixelGrid maskGrid(layers.mask);
        const double cxr = w / 2.0;
        const double cyr = h / 2.0;
        const int wf = w - n * bw;
        const int hf = h - n * bw;
        const int faceR = GetRValue(faceColor_);
        const int faceG = GetGValue(faceColor_);
        const int faceB = GetBValue(faceColor_);

        const QImage& glyph = layers.glyph;
        const bool useGlyph = glyphValid_ && !glyph.isNull();
        int gw = 0;
        int gh = 0;
        int offset = 0;
        std::uint32_t transparent = 0;
        if (useGlyph) {
            gh = glyph.height();
            // A strip count below 1 would divide by zero: the whole glyph is then one cell.
            if (numGlyphs_ <= 1) {
                gw = glyph.width();
            } else {
                gw = glyph.width() / numGlyphs_;
                offset = (glyphIndex_ - 1) * gw;
            }
            transparent = glyph.pixel(0, gh - 1) & kRgb;
        }

        const auto pixel = [&](int x, int y, double nx, double ny, double nz) {
            int r = faceR;
            int g = faceG;
            int b = faceB;
            bool isGlyph = false;
            if (useGlyph) {
                int gx = 0;
                int gy = 0;
                if (glyphMapped_) {
                    gx = Floor(std::atan2(nz, -nx) * (gw - 1) / std::numbers::pi);
                    gy = Floor(std::atan2(nz, -ny) * (gh - 1) / std::numbers::pi);
                } else {
                    gx = Floor(gw / 2.0 + x - cxr);
                    gy = Floor(gh / 2.0 + y - cyr);
                }
                // A cell beyond the strip (GlyphIndex above the cell count) has no pixels.
                if (gx >= 0 && gx < gw && gy >= 0 && gy < gh && offset + gx < glyph.width()) {
                    const std::uint32_t p = glyph.pixel(offset + gx, gy) & kRgb;
                    if (!(glyphTransparent_ && p == transparent)) {
                        r = int((p >> 16) & 0xFF);
                        g = int((p >> 8) & 0xFF);
                        b = int(p & 0xFF);
                        isGlyph = true;
                    }
                }
            }
            if (!isGlyph && faceTransparent_) {
                if (faceGrid.Inside(x, y) && faceGrid.At(x, y) != kWhitePixel) {
                    maskGrid.Put(x, y, kWhitePixel);
                }
                return;
            }
            if ((faceShaded_ && !isGlyph) || (glyphShaded_ && isGlyph)) {
                const double s = LightDot(nx, ny, nz) * attenControl_;
                out.Put(x, y, Pixel(Shade(r, s), Shade(g, s), Shade(b, s)));
                in.Put(x, y, Pixel(Shade(r, -s), Shade(g, -s), Shade(b, -s)));
            } else {
                out.Put(x, y, Pixel(r, g, b));
                in.Put(x, y, Pixel(r, g, b));
            }
        };

        const int rows = Floor(hf / 2.0);
        for (int j = 0; j <= rows; ++j) {
            const double v = j / cyr;
            const int m = Ceil(std::sqrt(1 - v * v) * wf / 2);
            if (m <= 1) {
                continue;
            }
            for (int i = 0; i <= m; ++i) {
                const double u = i / cxr;
                const double depth = 1 - std::sqrt(u * u + v * v);
                pixel(Ceil(cxr + i), Floor(cyr - j), u, -v, depth);
                pixel(Ceil(cxr + i), Ceil(cyr + j), u, v, depth);
                pixel(Floor(cxr - i), Ceil(cyr + j), -u, v, depth);
                pixel(Floor(cxr - i), Floor(cyr - j), -u, -v, depth);
            }
        }
    }
}

void THemisphereButton::WriteCaption(Layers& layers) const {
    const int w = Width();
    const int h = Height();
    if (!Caption().isEmpty()) {
        const auto write = [this, w, h, &layers](QImage& image, const TColor* colour) {
            image.setDevicePixelRatio(layers.ratio);
            TCanvas c(&image);
            c.SetFont(Font());
            if (colour != nullptr) {
                c.Font().SetColor(*colour);
            }
            c.Brush().SetStyle(bsClear);
            const int x = RoundEven((w - 2 - c.TextWidth(Caption())) / 2.0);
            const int y = RoundEven((h - 2 - c.TextHeight(Caption())) / 2.0);
            c.TextOut(x, y, Caption());
            image.setDevicePixelRatio(1);
        };
        write(layers.faceOut, nullptr);
        write(layers.faceIn, nullptr);
        if (faceTransparent_) {
            const TColor black = clBlack;
            write(layers.mask, &black);
            if (layers.ratio > 1) {
                // The antialiased letters made a mask again: black where they are darker.
                PixelGrid mask(layers.mask);
                for (int y = 0; y < layers.h; ++y) {
                    for (int x = 0; x < layers.w; ++x) {
                        const std::uint32_t p = mask.At(x, y);
                        mask.Put(x, y, qGray(p) < 128 ? kOpaque : kWhitePixel);
                    }
                }
            }
        }
    }
}

// The face inside the bevels, the bevels the same in both states, the border over all.
void THemisphereButton::Compose(Layers& layers) const {
    const int w = Width();
    const int h = Height();
    const int bw = bevelWidth_;
    const int n = BevelCount();
    if (n > 0) {
        Combine(layers.faceOut, layers.faceMask, SRCANDNOT);
        Combine(layers.faceIn, layers.faceMask, SRCANDNOT);
    }
    for (QImage* ring : {&layers.outerRing, &layers.innerRing}) {
        if (!ring->isNull()) {
            Combine(layers.faceOut, *ring, SRCPAINT);
            Combine(layers.faceIn, *ring, SRCPAINT);
        }
    }
    if (borderStyle_ == bsSingle) {
        const int e = n * bw;
        for (QImage* image : {&layers.faceOut, &layers.faceIn}) {
            image->setDevicePixelRatio(layers.ratio);
            TCanvas c(image);
            c.Pen().SetColor(borderColor_);
            c.Pen().SetWidth(1);
            c.Brush().SetStyle(bsClear);
            c.Ellipse(e, e, w - e, h - e);
            image->setDevicePixelRatio(1);
        }
    }
}

// ----- hit test and mouse

bool THemisphereButton::HitTest(int x, int y) const {
    const int b = bevelWidth_ * BevelCount();
    const double rx = Width() / 2.0 - b;
    const double ry = Height() / 2.0 - b;
    if (!(rx > 0 && ry > 0)) {
        return false;
    }
    const double dx = (x - Width() / 2.0) / rx;
    const double dy = (y - Height() / 2.0) / ry;
    return dx * dx + dy * dy <= 1;
}

void THemisphereButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (!Enabled() || !HitTest(x, y)) {
        return;
    }
    TGraphicControl::MouseDown(button, shift, x, y);
    if (button == mbLeft) {
        tracking_ = true;
        downAtPress_ = down_;
        SetDown(true);
        if ((shift & ssDouble) != 0 && OnDblClick) {
            OnDblClick(this);
        }
    }
}

void THemisphereButton::MouseMove(TShiftState shift, int x, int y) {
    if (tracking_ && !downAtPress_) {
        SetDown(HitTest(x, y));
    }
    TGraphicControl::MouseMove(shift, x, y);
}

void THemisphereButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (tracking_ && button == mbLeft) {
        tracking_ = false;
        if (HitTest(x, y)) {
            Click();
            if (groupIndex_ == 0) {
                SetDown(false);
            } else if (allowAllUp_ || !downAtPress_) {
                ForEachInGroup([](THemisphereButton* b) { b->SetDown(false); });
                SetDown(!downAtPress_);
            }
        } else {
            // Without a move over the edge the press would leave the button stuck down.
            SetDown(downAtPress_);
        }
    }
    TGraphicControl::MouseUp(button, shift, x, y);
}

// ----- painting

void THemisphereButton::Paint() {
    if (IsLoading()) {
        return;
    }
    TCanvas& canvas = Canvas();
    if (canvas.PixelRatio() > 1) {
        PaintScaled(canvas);
        return;
    }
    const int w = imageMask_.Width();
    const int h = imageMask_.Height();
    // The parent's drawing keeps the surroundings, the disc comes from the image.
    QImage work = WhiteImage(w, h);
    TCanvas workCanvas(&work);
    BitBlt(workCanvas, 0, 0, w, h, canvas, 0, 0, SRCCOPY);
    BitBlt(workCanvas, 0, 0, w, h, imageMask_.Canvas(), 0, 0, SRCAND);
    QImage second = WhiteImage(w, h);
    TCanvas secondCanvas(&second);
    const TBitmap& image = down_ ? imageIn_ : imageOut_;
    BitBlt(secondCanvas, 0, 0, w, h, image.Image(), 0, 0, SRCCOPY);
    BitBlt(secondCanvas, 0, 0, w, h, imageMask_.Canvas(), 0, 0, SRCANDNOT);
    BitBlt(workCanvas, 0, 0, w, h, secondCanvas, 0, 0, SRCPAINT);
    BitBlt(canvas, 0, 0, w, h, workCanvas, 0, 0, SRCCOPY);
}

// At a pixel ratio above 1 the button is rendered at the screen's own resolution, once per
// ratio and rendering; its round outline is antialiased: an edge pixel mixes the parent's
// drawing with the button's by the share of it that the ellipse covers.
void THemisphereButton::PaintScaled(TCanvas& canvas) {
    const double ratio = canvas.PixelRatio();
    if (Width() < 2 || Height() < 2) {
        return;
    }
    if (scaled_.ratio != ratio) {
        Layers layers;
        Render(layers, ratio);
        scaled_.ratio = ratio;
        scaled_.out = layers.faceOut;
        scaled_.in = layers.faceIn;
        scaled_.mask = layers.mask;
        scaled_.cover = QImage(layers.w, layers.h, QImage::Format_RGB32);
        scaled_.cover.fill(kWhitePixel);
        scaled_.cover.setDevicePixelRatio(ratio);
        const RoundRectRegion outline(0, 0, Width(), Height(), Width(), Height());
        const Layer black[] = {{&outline, 0}};
        PaintRegions(scaled_.cover, DeviceGrid(ratio), black, pmCopy);
    }
    QImage* target = canvas.Image();
    const QImage& image = down_ ? scaled_.in : scaled_.out;
    const int w = std::min(target->width(), image.width());
    const int h = std::min(target->height(), image.height());
    const double cx = image.width() / 2.0;
    const double cy = image.height() / 2.0;
    const auto inside = [this](int x, int y) {
        return (reinterpret_cast<const std::uint32_t*>(scaled_.mask.constScanLine(y))[x] & kRgb) ==
               0;
    };
    const auto pixel = [&image](int x, int y) {
        return reinterpret_cast<const std::uint32_t*>(image.constScanLine(y))[x];
    };
    for (int y = 0; y < h; ++y) {
        auto* const line = reinterpret_cast<std::uint32_t*>(target->scanLine(y));
        const auto* const cover =
            reinterpret_cast<const std::uint32_t*>(scaled_.cover.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const int share = 255 - qRed(cover[x]);
            if (share == 0) {
                continue;
            }
            if (share == 255) {
                if (inside(x, y)) {
                    line[x] = pixel(x, y);
                }
                continue;
            }
            // An edge pixel outside the mask takes the colour of its neighbour toward the centre.
            std::uint32_t colour = pixel(x, y);
            if (!inside(x, y)) {
                const int nx = std::clamp(x + (x + 0.5 < cx ? 1 : -1), 0, w - 1);
                const int ny = std::clamp(y + (y + 0.5 < cy ? 1 : -1), 0, h - 1);
                if (inside(nx, ny)) {
                    colour = pixel(nx, ny);
                }
            }
            const std::uint32_t back = line[x];
            const auto mix = [share](std::uint32_t a, std::uint32_t b, int shift) {
                const int va = int((a >> shift) & 0xFF);
                const int vb = int((b >> shift) & 0xFF);
                return std::uint32_t((vb * share + va * (255 - share) + 127) / 255) << shift;
            };
            line[x] = kOpaque | mix(back, colour, 16) | mix(back, colour, 8) | mix(back, colour, 0);
        }
    }
}

}  // namespace velmora
