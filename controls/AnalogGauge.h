#pragma once

#include "framework/Bitmap.h"
#include "framework/WinControl.h"

#include <QPoint>

#include <cstdint>

namespace velmora {

enum TStyle { leftstyle, rightstyle, centerstyle };

enum TSetFaceOption {
    ShowMargin,
    ShowCircles,
    ShowMainTicks,
    ShowSubTicks,
    ShowIndicatorMin,
    ShowIndicatorMid,
    ShowIndicatorMax,
    ShowValues,
    ShowCenter,
    ShowFrame,
    Show3D,
    ShowCaption,
};
// Set of TSetFaceOption: bit n is option n.
using TSetFaceOptions = std::uint16_t;
constexpr TSetFaceOptions FaceOption(TSetFaceOption o) {
    return TSetFaceOptions(1u << o);
}

// Centre, start angle and radius of the scale, derived from the size, the style and the angle.
struct TGaugeGeometry {
    int Cx = 0;
    int Cy = 0;
    double Xf = 0;  // fractional centre abscissa
    double S = 0;   // start angle in degrees
    int R = 0;
};

// A needle over a circular scale. The static face (background, frame, colour bands, ticks,
// dots, numbers, caption) is rendered into the face image whenever a face property, the size
// or the font changes; a new Position only copies the face into the display image, draws the
// needle and the centre disc on the copy and paints it. Both images have the pixel ratio of the
// screen the gauge is on, and follow it (and a picture rendered at another ratio) when painted.
//
// Angles run clockwise on the screen from 0 (pointing left) through 90 (up) to 180 (right).
class TAnalogGauge : public TCustomControl {
public:
    explicit TAnalogGauge(TComponent* owner = nullptr);

    float Position() const { return position_; }
    void SetPosition(float value);
    int Margin() const { return margin_; }
    void SetMargin(int value);
    TStyle Style() const { return style_; }
    void SetStyle(TStyle value);
    int Scale() const { return scale_; }
    void SetScale(int value);  // taken only if > 1; pulls the band limits inside
    int Angle() const { return angle_; }
    void SetAngle(int value);  // taken only in 11..360
    int CirclesRadius() const { return circlesRadius_; }
    void SetCirclesRadius(int value);
    int NumberMainTicks() const { return numberMainTicks_; }
    void SetNumberMainTicks(int value);  // 0 is refused
    int LengthMainTicks() const { return lengthMainTicks_; }
    void SetLengthMainTicks(int value);
    int LengthSubTicks() const { return lengthSubTicks_; }
    void SetLengthSubTicks(int value);
    TSetFaceOptions FaceOptoins() const { return faceOptions_; }
    void SetFaceOptoins(TSetFaceOptions value);
    int IndMaximum() const { return indMaximum_; }
    void SetIndMaximum(int value);  // taken only if 0 < value < Scale
    int IndMinimum() const { return indMinimum_; }
    void SetIndMinimum(int value);  // taken only if 0 < value < Scale
    TColor FaceColor() const { return faceColor_; }
    void SetFaceColor(TColor value);
    TColor CenterColor() const { return centerColor_; }
    void SetCenterColor(TColor value);
    int CenterRadius() const { return centerRadius_; }
    void SetCenterRadius(int value);
    TColor CircleColor() const { return circleColor_; }
    void SetCircleColor(TColor value);
    int ArrowWidth() const { return arrowWidth_; }
    void SetArrowWidth(int value);  // clamped to 1..5; redraws the needle only
    // Caption and Font are the control's; changing either rebuilds the face.
    void SetCaption(const QString& caption);

    void SetBounds(int left, int top, int width, int height) override;

    void RenderFace();
    void DrawNeedle();

    TGaugeGeometry Geometry(bool forNeedle);
    // The rounded point at an angle (degrees) and a distance from the centre of a geometry.
    static QPoint PointAt(const TGaugeGeometry& g, double angle, double distance);
    // The angle of a value on the scale.
    double ValueAngle(const TGaugeGeometry& g, double value) const;

    const TBitmap& FaceImage() const { return face_; }
    const TBitmap& DisplayImage() const { return display_; }

    TNotifyEvent OnOverMax;
    TNotifyEvent OnOverMin;

protected:
    void Paint() override;
    // Paint() covers every pixel: no background fill first.
    void PaintBackground(TCanvas&) override {}
    void Resize() override;
    void Loaded() override;
    void FontChanged() override;
    void TextChanged() override;

private:
    bool Has(TSetFaceOption o) const { return (faceOptions_ & FaceOption(o)) != 0; }
    // How far from the centre anything is drawn, and a length held to it.
    double Reach() const;
    double Held(double length) const;
    // RenderFace, then the position again: what every face property setter ends with.
    void FaceChanged();
    // The position again over the face as it is: what a change of the needle's layer needs.
    void NeedleChanged();
    void ApplyPosition();
    // The images at a pixel ratio; with `render`, the face and the needle drawn again at it.
    void UseRatio(double ratio, bool render);

    TBitmap face_;
    TBitmap display_;
    float position_ = 0;
    int margin_ = 10;
    TStyle style_ = centerstyle;
    int scale_ = 140;
    int angle_ = 120;
    int circlesRadius_ = 3;
    int numberMainTicks_ = 7;
    int lengthMainTicks_ = 15;
    int lengthSubTicks_ = 8;
    TSetFaceOptions faceOptions_ = 0xFCD;
    int indMaximum_ = 80;
    int indMinimum_ = 30;
    TColor faceColor_ = clBtnFace;
    TColor centerColor_ = clGray;
    int centerRadius_ = 8;
    TColor circleColor_ = clBlue;
    int arrowWidth_ = 1;
    int radius_ = 0;  // R of the last derived geometry
    bool constructed_ = false;
};

}  // namespace velmora
