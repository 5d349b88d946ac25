#pragma once

#include "framework/WinControl.h"

namespace velmora {

enum TCapAlignment { caLeft, caCenter, caRight };
enum TTextStyle { txNone, txLowered, txRaised, txShadowed };

// A group box that draws its own frame: an etched line with rounded (or square) corners in two
// colours, an optional face inside, and the caption cut into the top edge at the left, centre or
// right, plain, engraved, embossed or with a shadow. Child controls are placed inside it with
// SetParent, at coordinates relative to it, and are clipped to it.
class TDsGroup : public TWinControl {
public:
    explicit TDsGroup(TComponent* owner = nullptr);

    TCapAlignment CapAlignment() const { return capAlignment_; }
    void SetCapAlignment(TCapAlignment value);
    TColor Color_High() const { return colorHigh_; }
    void SetColor_High(TColor value);
    TColor Color_Low() const { return colorLow_; }
    void SetColor_Low(TColor value);
    int CornerRadius() const { return cornerRadius_; }
    void SetCornerRadius(int value);  // below 0 gives 0, above 12 gives 16
    TColor FaceColor() const { return faceColor_; }
    void SetFaceColor(TColor value);  // clNone: no face
    TTextStyle TextStyle() const { return textStyle_; }
    void SetTextStyle(TTextStyle value);

    // The caption's left edge for the current font, caption, alignment and radius.
    int CaptionLeft();

protected:
    void Paint() override;

private:
    int CaptionWidth();

    TCapAlignment capAlignment_ = caLeft;
    TColor colorHigh_ = RGB(232, 232, 224);
    TColor colorLow_ = RGB(162, 141, 104);
    int cornerRadius_ = 3;
    TColor faceColor_ = clNone;
    TTextStyle textStyle_ = txRaised;
};

}  // namespace velmora
