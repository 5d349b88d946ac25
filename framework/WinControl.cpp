#include "WinControl.h"

namespace velmora {

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

void TWinControl::SetCtl3D(bool on) {
    parentCtl3D_ = false;
    AdoptCtl3D(on);
}

void TWinControl::SetParentCtl3D(bool on) {
    parentCtl3D_ = on;
    if (auto* p = dynamic_cast<TWinControl*>(parentWidget()); on && p != nullptr) {
        AdoptCtl3D(p->ctl3D_);
    }
}

void TWinControl::AdoptCtl3D(bool on) {
    if (ctl3D_ == on) {
        return;
    }
    ctl3D_ = on;
    Ctl3DChanged();
    for (QObject* child : children()) {
        if (auto* c = dynamic_cast<TWinControl*>(child); c != nullptr && c->parentCtl3D_) {
            c->AdoptCtl3D(on);
        }
    }
}

void TWinControl::PaintBackground(TCanvas& canvas) {
    canvas.Brush().SetStyle(bsSolid);
    canvas.Brush().SetColor(Color());
    canvas.FillRect(ClientRect());
}

}  // namespace velmora
