#include "AnalogGauge.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace velmora {
namespace {

double Radians(double degrees) {
    return degrees * 2 * std::numbers::pi / 360;
}

// Coordinates are held within this distance of the origin, which keeps every int sum of them
// exact; points beyond it are far outside any image.
constexpr double kFar = 1 << 28;

// Round to the nearest integer, halves to even (the default floating-point rounding mode);
// held to +-kFar, NaN to 0.
int RoundEven(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    return int(std::nearbyint(std::clamp(v, -kFar, kFar)));
}

// The most ticks of one kind a face draws: far more than fit side by side on any scale. Beyond
// that every k-th is drawn (and always the last), so that any NumberMainTicks paints in bounded
// time.
constexpr std::int64_t kMaxTicks = 1024;

std::int64_t TickStep(std::int64_t count) {
    return count <= kMaxTicks ? 1 : (count + kMaxTicks - 1) / kMaxTicks;
}

// The next tick of 0..count after j in steps of `step`, the last one included.
std::int64_t NextTick(std::int64_t j, std::int64_t step, std::int64_t count) {
    return j == count ? count + 1 : std::min(j + step, count);
}

}  // namespace

double TAnalogGauge::Reach() const {
    // Lengths and radii are held to a few times the control's size (and to what a screen could
    // show): what lies beyond is outside the images, and drawing it would only cost time.
    return std::min(16.0 * (double(Width()) + double(Height())) + 1024.0, double(1 << 17));
}

double TAnalogGauge::Held(double length) const {
    const double reach = Reach();
    return std::clamp(length, -reach, reach);
}

TAnalogGauge::TAnalogGauge(TComponent* owner) : TCustomControl(owner) {
    // The images and the size exist from the start; nothing is drawn until the first property
    // change or size notification.
    face_.SetSize(225, 180);
    display_.SetSize(225, 180);
    resize(225, 180);
    TControl::SetCaption(QStringLiteral("mV"));
    constructed_ = true;
}

TGaugeGeometry TAnalogGauge::Geometry(bool forNeedle) {
    // In doubles (exact for any int) and held to the reach: a margin of any size neither
    // overflows nor places the centre or the radius where drawing would take long.
    const double w = Width();
    const double h = Height();
    const double m = margin_;
    TGaugeGeometry g;
    switch (style_) {
        case leftstyle:
            angle_ = std::min(angle_, 90);
            g.S = forNeedle ? 90 : 91;
            g.Xf = Held(m);
            g.Cx = int(g.Xf);
            g.Cy = int(Held(h - m));
            g.R = int(Held(w - 2 * m));
            break;
        case rightstyle:
            angle_ = std::min(angle_, 90);
            g.S = 0;
            g.Xf = Held(w - m);
            g.Cx = int(g.Xf);
            g.Cy = int(Held(h - m));
            g.R = int(Held(w - 2 * m));
            break;
        case centerstyle:
            g.S = (180 - angle_) / 2.0;
            g.Cx = Width() / 2;
            g.Xf = w / 2.0;
            if (angle_ < 180) {
                g.R = RoundEven(Held(((w - 2 * m) / 2.0) / std::cos(Radians(g.S))));
                if (g.R > h - 2 * m) {
                    g.R = int(Held(h - 2 * m));
                }
                // (h - R) div 2 + R, truncating toward zero
                g.Cy = int(Held(double((std::int64_t(Height()) - g.R) / 2 + g.R)));
            } else {
                g.Cy = Height() / 2;
                g.R = int(Held(std::trunc((w - 2 * m) / 2)));
            }
            break;
    }
    radius_ = g.R;
    return g;
}

QPoint TAnalogGauge::PointAt(const TGaugeGeometry& g, double angle, double distance) {
    const double t = Radians(angle);
    if (!std::isfinite(t) || !std::isfinite(distance)) {
        return QPoint(g.Cx, g.Cy);  // no direction or no length: the centre
    }
    return QPoint(RoundEven(g.Xf - std::cos(t) * distance),
                  RoundEven(g.Cy - std::sin(t) * distance));
}

double TAnalogGauge::ValueAngle(const TGaugeGeometry& g, double value) const {
    return g.S + value * angle_ / scale_;
}

void TAnalogGauge::RenderFace() {
    const int w = Width();
    const int h = Height();
    const double m = margin_;
    TCanvas& c = face_.Canvas();

    c.SetFont(Font());
    c.Brush().SetColor(faceColor_);
    c.Brush().SetStyle(bsSolid);
    c.FillRect(Rect(0, 0, w, h));

    if (Has(ShowFrame)) {
        if (Has(Show3D)) {
            c.Pen().SetWidth(2);
            c.Pen().SetColor(clGray);
            c.MoveTo(w, 0);
            c.LineTo(0, 0);
            c.LineTo(0, h);
            c.Pen().SetColor(clWhite);
            c.LineTo(w, h);
            c.LineTo(w, 0);
        } else {
            c.Pen().SetColor(clBlack);
            c.Rectangle(0, 0, w, h);
        }
    }
    if (Has(ShowMargin)) {
        c.Pen().SetColor(clBlack);
        c.Pen().SetWidth(1);
        c.Rectangle(int(Held(m)), int(Held(m)), int(Held(double(w) - m)), int(Held(double(h) - m)));
    }

    const TGaugeGeometry g = Geometry(false);
    const int r = g.R;

    if (Has(ShowCaption)) {
        const double t = Radians(g.S + angle_ / 2.0);
        const QString& text = Caption();
        c.TextOut(RoundEven(g.Xf - std::cos(t) * r / 2.0) - c.TextWidth(text) / 2,
                  RoundEven(g.Cy - std::sin(t) * r / 2.0), text);
    }

    const QPoint start = PointAt(g, g.S, r);
    const QPoint end = PointAt(g, g.S + angle_, r);
    const QPoint atMax = PointAt(g, ValueAngle(g, indMaximum_), r);
    const QPoint atMin = PointAt(g, ValueAngle(g, indMinimum_), r);
    auto band = [&](TColor color, QPoint from, QPoint to) {
        c.Pen().SetWidth(4);
        c.Pen().SetColor(color);
        c.Arc(g.Cx - r, g.Cy - r, g.Cx + r, g.Cy + r, from.x(), from.y(), to.x(), to.y());
    };
    if (Has(ShowIndicatorMax)) {
        band(clRed, end, atMax);
    }
    if (Has(ShowIndicatorMid) && indMinimum_ < indMaximum_) {
        band(clYellow, atMax, atMin);
    }
    if (Has(ShowIndicatorMin)) {
        band(clGreen, atMin, start);
    }

    c.Pen().SetColor(clBlack);
    c.Pen().SetWidth(1);

    const std::int64_t n = numberMainTicks_;
    const double subTick = Held(double(r) - lengthSubTicks_);
    const double mainTick = Held(double(r) - lengthMainTicks_);
    const int dot = int(Held(circlesRadius_));
    if (Has(ShowSubTicks)) {
        const std::int64_t count = 5 * n;
        const std::int64_t step = TickStep(count);
        for (std::int64_t j = 0; j <= count; j = NextTick(j, step, count)) {
            const double t = g.S + double(j) * angle_ / double(count);
            const QPoint a = PointAt(g, t, subTick);
            const QPoint b = PointAt(g, t, r);
            c.MoveTo(a.x(), a.y());
            c.LineTo(b.x(), b.y());
        }
    }
    const std::int64_t step = TickStep(n);
    for (std::int64_t i = 0; i <= n; i = NextTick(i, step, n)) {
        const double t = g.S + double(i) * angle_ / double(n);
        if (Has(ShowMainTicks)) {
            const QPoint a = PointAt(g, t, mainTick);
            const QPoint b = PointAt(g, t, r);
            c.MoveTo(a.x(), a.y());
            c.LineTo(b.x(), b.y());
        }
        if (Has(ShowCircles)) {
            const QPoint p = PointAt(g, t, r);
            c.Brush().SetColor(circleColor_);
            c.Ellipse(p.x() - dot, p.y() - dot, p.x() + dot, p.y() + dot);
        }
        if (Has(ShowValues)) {
            c.Brush().SetColor(faceColor_);
            const QString text = QString::number(i * scale_ / n);
            const double rad = Radians(t);
            const int x = RoundEven(g.Xf - std::cos(rad) * Held(mainTick - 5 - double(i))) -
                          c.TextWidth(text) / 2;
            const int y = RoundEven(g.Cy - std::sin(rad) * Held(mainTick - 5));
            c.TextOut(x, y, text);
        }
    }
}

void TAnalogGauge::DrawNeedle() {
    const TGaugeGeometry g = Geometry(true);
    TCanvas& c = display_.Canvas();
    c.Pen().SetWidth(arrowWidth_);
    const QPoint tip = PointAt(g, g.S + double(angle_) * position_ / scale_, g.R);
    c.MoveTo(g.Cx, g.Cy);
    c.LineTo(tip.x(), tip.y());
    if (Has(ShowCenter)) {
        const int disc = int(Held(centerRadius_));
        c.Brush().SetColor(centerColor_);
        c.Ellipse(g.Cx - disc, g.Cy - disc, g.Cx + disc, g.Cy + disc);
    }
}

void TAnalogGauge::Paint() {
    TCanvas& c = Canvas();
    UseRatio(c.PixelRatio(), true);
    BitBlt(c, 0, 0, Width(), Height(), display_.Canvas(), 0, 0, SRCCOPY);
}

void TAnalogGauge::UseRatio(double ratio, bool render) {
    if (face_.PixelRatio() == ratio && display_.PixelRatio() == ratio) {
        return;
    }
    face_.SetPixelRatio(ratio);
    display_.SetPixelRatio(ratio);
    if (render) {
        RenderFace();
        BitBlt(display_.Canvas(), 0, 0, Width(), Height(), face_.Canvas(), 0, 0, SRCCOPY);
        DrawNeedle();
    }
}

void TAnalogGauge::ApplyPosition() {
    SetPosition(position_);
}

void TAnalogGauge::SetPosition(float value) {
    position_ = value;
    if (double(indMaximum_) < double(position_) && OnOverMax) {
        OnOverMax(this);
    }
    if (double(indMinimum_) > double(position_) && OnOverMin) {
        OnOverMin(this);
    }
    BitBlt(display_.Canvas(), 0, 0, Width(), Height(), face_.Canvas(), 0, 0, SRCCOPY);
    DrawNeedle();
    Repaint();
}

void TAnalogGauge::FaceChanged() {
    // While a stored layout is read the face is rendered once, when it has been read.
    if (!constructed_ || IsLoading()) {
        return;
    }
    UseRatio(PixelRatio(), false);
    RenderFace();
    ApplyPosition();
}

void TAnalogGauge::Loaded() {
    TCustomControl::Loaded();
    UseRatio(PixelRatio(), false);
    RenderFace();
    ApplyPosition();
}

void TAnalogGauge::SetMargin(int value) {
    margin_ = value;
    FaceChanged();
}

void TAnalogGauge::SetStyle(TStyle value) {
    style_ = value;
    FaceChanged();
}

void TAnalogGauge::SetScale(int value) {
    if (value > 1) {
        scale_ = value;
        if (indMaximum_ >= value) {
            indMaximum_ = value - 1;
        }
        if (value - indMaximum_ < indMinimum_) {
            indMinimum_ = value - indMaximum_;
        }
    }
    FaceChanged();
}

void TAnalogGauge::SetAngle(int value) {
    if (value >= 11 && value <= 360) {
        angle_ = value;
    }
    FaceChanged();
}

void TAnalogGauge::SetCirclesRadius(int value) {
    circlesRadius_ = value;
    FaceChanged();
}

void TAnalogGauge::SetNumberMainTicks(int value) {
    // Zero would divide every tick angle and number by zero: refused.
    if (value != 0) {
        numberMainTicks_ = value;
    }
    FaceChanged();
}

void TAnalogGauge::SetLengthMainTicks(int value) {
    lengthMainTicks_ = value;
    FaceChanged();
}

void TAnalogGauge::SetLengthSubTicks(int value) {
    lengthSubTicks_ = value;
    FaceChanged();
}

void TAnalogGauge::SetFaceOptoins(TSetFaceOptions value) {
    faceOptions_ = value;
    FaceChanged();
}

void TAnalogGauge::SetIndMaximum(int value) {
    if (value > 0 && value < scale_) {
        indMaximum_ = value;
    }
    FaceChanged();
}

void TAnalogGauge::SetIndMinimum(int value) {
    if (value > 0 && value < scale_) {
        indMinimum_ = value;
    }
    FaceChanged();
}

void TAnalogGauge::SetFaceColor(TColor value) {
    faceColor_ = value;
    FaceChanged();
}

// The centre disc is drawn with the needle, over a copy of the face: the face stays as it is.
void TAnalogGauge::SetCenterColor(TColor value) {
    centerColor_ = value;
    NeedleChanged();
}

void TAnalogGauge::SetCenterRadius(int value) {
    centerRadius_ = value;
    NeedleChanged();
}

void TAnalogGauge::NeedleChanged() {
    if (constructed_ && !IsLoading()) {
        ApplyPosition();
    }
}

void TAnalogGauge::SetCircleColor(TColor value) {
    circleColor_ = value;
    FaceChanged();
}

void TAnalogGauge::SetArrowWidth(int value) {
    arrowWidth_ = std::clamp(value, 1, 5);
    BitBlt(display_.Canvas(), 0, 0, Width(), Height(), face_.Canvas(), 0, 0, SRCCOPY);
    DrawNeedle();
    Repaint();
}

void TAnalogGauge::SetCaption(const QString& caption) {
    if (caption == Caption()) {
        FaceChanged();  // the face is rebuilt whatever the value
    } else {
        TControl::SetCaption(caption);  // TextChanged rebuilds it
    }
}

void TAnalogGauge::TextChanged() {
    FaceChanged();
}

void TAnalogGauge::FontChanged() {
    FaceChanged();
}

void TAnalogGauge::SetBounds(int left, int top, int width, int height) {
    TCustomControl::SetBounds(left, top, std::max(width, 60), std::max(height, 50));
}

void TAnalogGauge::Resize() {
    face_.SetSize(Width(), Height());
    display_.SetSize(Width(), Height());
    FaceChanged();
    TCustomControl::Resize();
}

}  // namespace velmora
