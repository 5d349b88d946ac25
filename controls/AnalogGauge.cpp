#include "AnalogGauge.h"

#include <cmath>
#include <numbers>

namespace velmora {
namespace {

double Radians(double degrees) {
    return degrees * 2 * std::numbers::pi / 360;
}

// Round to the nearest integer, halves to even (the default floating-point rounding mode).
int RoundEven(double v) {
    return int(std::nearbyint(v));
}

}  // namespace

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
    const int w = Width();
    const int h = Height();
    const int m = margin_;
    TGaugeGeometry g;
    switch (style_) {
        case leftstyle:
            angle_ = std::min(angle_, 90);
            g.S = forNeedle ? 90 : 91;
            g.Cx = m;
            g.Xf = m;
            g.Cy = h - m;
            g.R = w - 2 * m;
            break;
        case rightstyle:
            angle_ = std::min(angle_, 90);
            g.S = 0;
            g.Cx = w - m;
            g.Xf = w - m;
            g.Cy = h - m;
            g.R = w - 2 * m;
            break;
        case centerstyle:
            g.S = (180 - angle_) / 2.0;
            g.Cx = w / 2;
            g.Xf = w / 2.0;
            if (angle_ < 180) {
                g.R = RoundEven(((w - 2 * m) / 2.0) / std::cos(Radians(g.S)));
                if (g.R > h - 2 * m) {
                    g.R = h - 2 * m;
                }
                g.Cy = (h - g.R) / 2 + g.R;
            } else {
                g.Cy = h / 2;
                g.R = (w - 2 * m) / 2;
            }
            break;
    }
    radius_ = g.R;
    return g;
}

QPoint TAnalogGauge::PointAt(const TGaugeGeometry& g, double angle, double distance) {
    const double t = Radians(angle);
    return QPoint(RoundEven(g.Xf - std::cos(t) * distance),
                  RoundEven(g.Cy - std::sin(t) * distance));
}

double TAnalogGauge::ValueAngle(const TGaugeGeometry& g, double value) const {
    return g.S + value * angle_ / scale_;
}

void TAnalogGauge::RenderFace() {
    const int w = Width();
    const int h = Height();
    const int m = margin_;
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
        c.Rectangle(m, m, w - m, h - m);
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

    const int n = numberMainTicks_;
    if (Has(ShowSubTicks)) {
        for (int j = 0; j <= 5 * n; ++j) {
            const double t = g.S + double(j * angle_) / (5 * n);
            const QPoint a = PointAt(g, t, r - lengthSubTicks_);
            const QPoint b = PointAt(g, t, r);
            c.MoveTo(a.x(), a.y());
            c.LineTo(b.x(), b.y());
        }
    }
    for (int i = 0; i <= n; ++i) {
        const double t = g.S + double(i * angle_) / n;
        if (Has(ShowMainTicks)) {
            const QPoint a = PointAt(g, t, r - lengthMainTicks_);
            const QPoint b = PointAt(g, t, r);
            c.MoveTo(a.x(), a.y());
            c.LineTo(b.x(), b.y());
        }
        if (Has(ShowCircles)) {
            const QPoint p = PointAt(g, t, r);
            c.Brush().SetColor(circleColor_);
            c.Ellipse(p.x() - circlesRadius_, p.y() - circlesRadius_, p.x() + circlesRadius_,
                      p.y() + circlesRadius_);
        }
        if (Has(ShowValues)) {
            c.Brush().SetColor(faceColor_);
            const QString text = QString::number(i * scale_ / n);
            const double rad = Radians(t);
            const int x = RoundEven(g.Xf - std::cos(rad) * (r - lengthMainTicks_ - 5 - i)) -
                          c.TextWidth(text) / 2;
            const int y = RoundEven(g.Cy - std::sin(rad) * (r - lengthMainTicks_ - 5));
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
        c.Brush().SetColor(centerColor_);
        c.Ellipse(g.Cx - centerRadius_, g.Cy - centerRadius_, g.Cx + centerRadius_,
                  g.Cy + centerRadius_);
    }
}

void TAnalogGauge::Paint() {
    BitBlt(Canvas(), 0, 0, Width(), Height(), display_.Canvas(), 0, 0, SRCCOPY);
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
    RenderFace();
    ApplyPosition();
}

void TAnalogGauge::Loaded() {
    TCustomControl::Loaded();
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
