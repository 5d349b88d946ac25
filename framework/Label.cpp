#include "Label.h"

namespace velmora {

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) {
    SetBounds(0, 0, 65, 17);
}

void TLabel::SetAutoSize(bool on) {
    if (autoSize_ != on) {
        autoSize_ = on;
        AdjustBounds();
    }
}

void TLabel::SetWordWrap(bool on) {
    if (wordWrap_ != on) {
        wordWrap_ = on;
        AdjustBounds();
        Invalidate();
    }
}

void TLabel::SetTransparent(bool on) {
    if (transparent_ != on) {
        transparent_ = on;
        Invalidate();
    }
}

void TLabel::SetShowAccelChar(bool on) {
    if (showAccelChar_ != on) {
        showAccelChar_ = on;
        AdjustBounds();
        Invalidate();
    }
}

unsigned TLabel::TextFlags() const {
    unsigned flags = DT_LEFT;
    if (wordWrap_) {
        flags |= DT_WORDBREAK;
    }
    if (!showAccelChar_) {
        flags |= DT_NOPREFIX;
    }
    return flags;
}

void TLabel::Paint() {
    TCanvas& c = Canvas();
    if (!transparent_) {
        c.Brush().SetStyle(bsSolid);
        c.Brush().SetColor(Color());
        c.FillRect(ClientRect());
    }
    c.Brush().SetStyle(bsClear);
    c.SetFont(Font());
    TRect r = ClientRect();
    c.DrawText(Caption(), r, TextFlags());
}

void TLabel::AdjustBounds() {
    if (!autoSize_ || IsLoading()) {
        return;
    }
    TCanvas measure;
    measure.SetFont(Font());
    TRect r = Rect(0, 0, wordWrap_ ? Width() : 0, 0);
    // An empty caption still takes the height of one line.
    const QString text = Caption().isEmpty() ? QStringLiteral(" ") : Caption();
    measure.DrawText(text, r, TextFlags() | DT_CALCRECT);
    SetBounds(Left(), Top(), wordWrap_ ? Width() : r.Width(), r.Height());
}

void TLabel::Loaded() {
    TGraphicControl::Loaded();
    AdjustBounds();
}

void TLabel::FontChanged() {
    AdjustBounds();
    TGraphicControl::FontChanged();
}

void TLabel::TextChanged() {
    AdjustBounds();
    TGraphicControl::TextChanged();
}

}  // namespace velmora
