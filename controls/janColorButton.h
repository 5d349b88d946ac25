#pragma once

#include "framework/Bitmap.h"
#include "framework/GraphicControl.h"

namespace velmora {

// A flat rectangular push button drawn in colours of its own: Color (or the tiled BackBitmap)
// when idle, HotColor with a raised frame while the pointer is over it, DownColor with a
// sunken frame while pressed or latched (Down). The caption is aligned left, right or centred,
// on one line or word-wrapped inside the margins, and the button grows at its next paint until
// the caption fits (FitToCaption). onclick (lower case) is raised by a left click whose press
// began on the button; a latching button toggles Down on every release of any mouse button.
//
// Color is the button's own idle fill, not the framework control's colour; Font's colour is
// the idle text colour. A disabled button looks the same.
class TjanColorButton : public TGraphicControl {
public:
    explicit TjanColorButton(TComponent* owner = nullptr);

    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment value);
    // The button's own copy of the background picture; any change of it repaints.
    TBitmap& BackBitmap() { return backBitmap_; }
    void SetBackBitmap(const TBitmap& picture) { backBitmap_.Assign(picture); }
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool on);
    bool Latching() const { return latching_; }
    void SetLatching(bool on) { latching_ = on; }
    bool Down() const { return down_; }
    void SetDown(bool on);
    bool Flat() const { return flat_; }
    void SetFlat(bool on);
    int MarginHorizontal() const { return marginHorizontal_; }
    void SetMarginHorizontal(int value);
    int MarginVertical() const { return marginVertical_; }
    void SetMarginVertical(int value);
    TColor Color() const { return color_; }
    void SetColor(TColor value);
    bool HotTrack() const { return hotTrack_; }
    void SetHotTrack(bool on) { hotTrack_ = on; }
    TColor HotColor() const { return hotColor_; }
    void SetHotColor(TColor value) { hotColor_ = value; }
    TColor DownColor() const { return downColor_; }
    void SetDownColor(TColor value) { downColor_ = value; }
    TColor HotFontColor() const { return hotFontColor_; }
    void SetHotFontColor(TColor value) { hotFontColor_ = value; }
    TColor DownFontColor() const { return downFontColor_; }
    void SetDownFontColor(TColor value) { downFontColor_ = value; }

    TNotifyEvent onclick;

    // Grows the button (never shrinks it) so that the caption fits in the current font: without
    // WordWrap to the caption's width and height plus both margins each; with WordWrap only in
    // height, to the wrapped caption's height plus one vertical margin and one pixel.
    void FitToCaption();

protected:
    void Paint() override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseEnter() override;
    void MouseLeave() override;
    void Click() override;

private:
    void Changed(bool changed);

    TBitmap backBitmap_;
    TAlignment alignment_ = taCenter;
    bool wordWrap_ = false;
    bool latching_ = false;
    bool down_ = false;
    bool flat_ = true;
    int marginHorizontal_ = 8;
    int marginVertical_ = 4;
    TColor color_ = clSilver;
    bool hotTrack_ = true;
    TColor hotColor_ = clYellow;
    TColor downColor_ = RGB(169, 169, 169);
    TColor hotFontColor_ = clRed;
    TColor downFontColor_ = clBlack;
    bool pressed_ = false;
    bool hot_ = false;
};

}  // namespace velmora
