#include "GraphicControl.h"

#include <QPalette>

namespace velmora {

TGraphicControl::TGraphicControl(TComponent* owner) : TControl(owner) {
    setFocusPolicy(Qt::NoFocus);
}

void TGraphicControl::PaintBackground(TCanvas& canvas) {
    QImage* surface = canvas.Image();
    if (surface == nullptr || surface->isNull()) {
        return;
    }
    if (TControl* parent = ParentControl()) {
        // The parent paints before its children, so its surface holds what lies beneath.
        BitBlt(canvas, 0, 0, Width(), Height(), ParentSurfaceOf(parent, canvas.PixelRatio()),
               Left(), Top(), SRCCOPY);
        return;
    }
    const QColor window =
        parentWidget() != nullptr ? parentWidget()->palette().color(QPalette::Window) : Qt::white;
    surface->fill(window);
}

TPaintBox::TPaintBox(TComponent* owner) : TGraphicControl(owner) {
    SetBounds(0, 0, 105, 105);
}

void TPaintBox::Paint() {
    if (OnPaint) {
        OnPaint(this);
    }
}

}  // namespace velmora
