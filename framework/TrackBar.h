#pragma once

#include "framework/WinControl.h"

class QSlider;
class QStyleOptionSlider;

namespace velmora {

enum TTrackBarOrientation { trHorizontal, trVertical };
enum TTickMark { tmBottomRight, tmTopLeft, tmBoth };
enum TTickStyle { tsNone, tsAuto, tsManual };

class TrackBarSlider;

// The platform track bar: a slider with a channel, a thumb and tick marks, laid out, drawn and
// measured by the widget style (a QSlider underneath). The slider keeps its natural thickness
// and sits near the top edge (horizontal) or the left edge (vertical), as the classic control
// does, leaving the rest of the control free; Min is at the left or at the top.
//
// - Position runs from Min to Max; setting it from code to a new value (after clamping) raises
//   OnChange, setting the same value does nothing. A Min above Max (or a Max below Min) is
//   ignored.
// - Keys (while it has the focus): Left/Up one LineSize down, Right/Down one LineSize up,
//   PageUp/PageDown one PageSize, Home/End to Min/Max. The mouse drags the thumb; a press on
//   the channel beside it pages toward the press, repeating while held; the wheel moves by
//   LineSize per notch (up toward Min).
// - Ticks: tsAuto draws one tick every Frequency values on the side that TickMarks names;
//   tsNone and tsManual draw none (there are no manual ticks here).
// - The selection-range style (off at first) draws SelStart..SelEnd in the highlight colour in
//   the channel; switching it takes effect at the next paint.
class TTrackBar : public TWinControl {
public:
    explicit TTrackBar(TComponent* owner = nullptr);
    ~TTrackBar() override;

    int Min() const;
    void SetMin(int value);
    int Max() const;
    void SetMax(int value);
    int Position() const;
    void SetPosition(int value);
    TTrackBarOrientation Orientation() const { return orientation_; }
    void SetOrientation(TTrackBarOrientation value);  // swaps width and height unless loading
    int Frequency() const { return frequency_; }
    void SetFrequency(int value);  // below 1 gives 1
    int LineSize() const { return lineSize_; }
    void SetLineSize(int value);
    int PageSize() const { return pageSize_; }
    void SetPageSize(int value);
    TTickMark TickMarks() const { return tickMarks_; }
    void SetTickMarks(TTickMark value);
    TTickStyle TickStyle() const { return tickStyle_; }
    void SetTickStyle(TTickStyle value);
    int SelStart() const { return selStart_; }
    void SetSelStart(int value);
    int SelEnd() const { return selEnd_; }
    void SetSelEnd(int value);

    TNotifyEvent OnChange;

    // Geometry as the style lays it out, in the control's coordinates (right and bottom
    // exclusive): the channel, the thumb at the current position, and the centre of the tick of
    // a value along the bar's axis (x for a horizontal bar, y for a vertical one).
    TRect ChannelRect() const;
    TRect ThumbRect() const;
    int TickPosition(int value) const;

    // The platform control, for driving it with pointer events.
    QSlider* Slider() const;

protected:
    void Paint() override;
    void Resize() override;
    void ColorChanged() override;
    void KeyDown(int& key, TShiftState shift) override;
    // Runs after every change of Position; raises OnChange.
    virtual void Changed();

    bool SelectionRange() const { return selectionRange_; }
    void SetSelectionRange(bool on) { selectionRange_ = on; }

    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class TrackBarSlider;
    void StyleOption(QStyleOptionSlider* option) const;
    TRect FromSlider(const QRect& r) const;
    void ApplyTicks();
    void Step(long long delta);
    void LayoutSlider();

    TrackBarSlider* slider_;
    TTrackBarOrientation orientation_ = trHorizontal;
    int frequency_ = 1;
    int lineSize_ = 1;
    int pageSize_ = 2;
    TTickMark tickMarks_ = tmBottomRight;
    TTickStyle tickStyle_ = tsAuto;
    int selStart_ = 0;
    int selEnd_ = 0;
    bool selectionRange_ = false;
};

}  // namespace velmora
