#pragma once

#include "framework/Control.h"

namespace velmora {

// A windowless (lightweight) control: it has no background of its own and paints over its
// parent's drawing. Before Paint() its canvas holds the parent control's drawing beneath it
// (or the parent widget's window colour when the parent is no TControl), so a Paint() that
// leaves pixels alone lets the parent show through. It takes no keyboard focus.
class TGraphicControl : public TControl {
public:
    explicit TGraphicControl(TComponent* owner = nullptr);

protected:
    void PaintBackground(TCanvas& canvas) override;
};

// A windowless control whose drawing is done by its OnPaint event (on Canvas()).
class TPaintBox : public TGraphicControl {
public:
    explicit TPaintBox(TComponent* owner = nullptr);

    TNotifyEvent OnPaint;

protected:
    void Paint() override;
};

}  // namespace velmora
