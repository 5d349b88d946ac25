#pragma once

#include "framework/Control.h"

namespace velmora {

// A windowed control: it has a background of its own, filled with Color before Paint(), can
// take the keyboard focus (TabStop) and holds child controls, which it clips.
//
// Ctl3D (with ParentCtl3D, on at first) chooses between the sunken 3D look and a flat one for
// the controls that draw both.
class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner = nullptr);

    bool Ctl3D() const { return ctl3D_; }
    void SetCtl3D(bool on);
    bool ParentCtl3D() const { return parentCtl3D_; }
    void SetParentCtl3D(bool on);

    bool TabStop() const { return focusPolicy() != Qt::NoFocus; }
    void SetTabStop(bool on) { setFocusPolicy(on ? Qt::StrongFocus : Qt::NoFocus); }

protected:
    void PaintBackground(TCanvas& canvas) override;
    virtual void Ctl3DChanged() { Invalidate(); }

private:
    void AdoptCtl3D(bool on);

    bool ctl3D_ = true;
    bool parentCtl3D_ = true;
};

// The windowed control that draws itself completely.
using TCustomControl = TWinControl;

}  // namespace velmora
