#include "DsGroup.h"

namespace velmora {

TDsGroup::TDsGroup(TComponent* owner) : TWinControl(owner) {
    SetBounds(0, 0, 145, 105);
}

void TDsGroup::SetCapAlignment(TCapAlignment value) {
    if (capAlignment_ != value) {
        capAlignment_ = value;
        Invalidate();
    }
}

void TDsGroup::SetColor_High(TColor value) {
    if (colorHigh_ != value) {
        colorHigh_ = value;
        Invalidate();
    }
}

void TDsGroup::SetColor_Low(TColor value) {
    if (colorLow_ != value) {
        colorLow_ = value;
        Invalidate();
    }
}

void TDsGroup::SetCornerRadius(int value) {
    if (value < 0) {
        value = 0;
    } else if (value > 12) {
        value = 16;
    }
    if (cornerRadius_ != value) {
        cornerRadius_ = value;
        Invalidate();
    }
}

void TDsGroup::SetFaceColor(TColor value) {
    if (faceColor_ != value) {
        faceColor_ = value;
        Invalidate();
    }
}

void TDsGroup::SetTextStyle(TTextStyle value) {
    if (textStyle_ != value) {
        textStyle_ = value;
        Invalidate();
    }
}

int TDsGroup::CaptionWidth() {
    TCanvas measure;  // measuring needs no image
    measure.SetFont(Font());
    return Caption().isEmpty() ? 0 : measure.TextWidth(Caption()) + 2;
}

int TDsGroup::CaptionLeft() {
    const int r = cornerRadius_;
    const int cw = CaptionWidth();
    switch (capAlignment_) {
        case caLeft:
            return r >= 4 ? r + 4 : 8;
        case caCenter:
            return (Width() - cw) / 2;
        case caRight:
            return r >= 4 ? Width() - cw - 4 - r : Width() - cw - 8;
    }
    return 8;
}

void TDsGroup::Paint() {
    TCanvas& c = Canvas();
    const int w = Width();
    const int h = Height();
    const int r = cornerRadius_;
    const bool ctl3D = Ctl3D();

    c.SetFont(Font());
    const int th = c.TextHeight(QStringLiteral("H"));
    const TRect f = Rect(0, th / 2, w - 1, h - 1);
    const TRect f1 = Rect(f.Left + 1, f.Top + 1, f.Right + 1, f.Bottom + 1);

    c.Pen().SetWidth(1);
    c.Pen().SetStyle(psSolid);
    if (ctl3D && r > 0) {
        c.Brush().SetStyle(bsClear);
        c.Pen().SetColor(colorHigh_);
        c.RoundRect(f1.Left, f1.Top, f1.Right, f1.Bottom, 2 * r, 2 * r);
        c.Pen().SetColor(colorLow_);
        c.RoundRect(f.Left, f.Top, f.Right, f.Bottom, 2 * r, 2 * r);
    } else if (ctl3D) {
        c.Brush().SetStyle(bsSolid);
        c.Brush().SetColor(colorHigh_);
        c.FrameRect(f1);
        c.Brush().SetColor(colorLow_);
        c.FrameRect(f);
    } else if (r == 0) {
        c.Brush().SetStyle(bsSolid);
        c.Brush().SetColor(clWindowFrame);
        c.FrameRect(f);
    } else {
        c.Brush().SetStyle(bsClear);
        c.Pen().SetColor(clWindowFrame);
        c.RoundRect(0, th / 2, w, h, 2 * r, 2 * r);
    }

    const int cw = CaptionWidth();
    const int x = CaptionLeft();
    const TRect k0 = Rect(x, 0, x + cw, th);
    c.Brush().SetStyle(bsSolid);
    c.Brush().SetColor(Color());
    c.FillRect(k0);

    if (ctl3D && faceColor_ != clNone) {
        c.Pen().SetColor(faceColor_);
        c.Brush().SetColor(faceColor_);
        if (r == 0) {
            c.Rectangle(2, th / 2 + 2, w - 2, h - 2);
        } else {
            c.RoundRect(2, th / 2 + 2, w - 2, h - 2, 2 * (r - 2), 2 * (r - 2));
        }
    }

    c.Brush().SetStyle(bsClear);
    constexpr unsigned kFlags = DT_CENTER | DT_SINGLELINE;
    auto write = [&](TColor color, int dx, int dy) {
        TRect k = Rect(k0.Left + dx, k0.Top + dy, k0.Right + dx, k0.Bottom + dy);
        c.Font().SetColor(color);
        c.DrawText(Caption(), k, kFlags);
    };
    if (!ctl3D) {
        write(clWindowFrame, 0, 0);
        return;
    }
    switch (textStyle_) {
        case txLowered:
            write(colorHigh_, 1, 1);
            break;
        case txRaised:
            write(colorHigh_, -1, -1);
            break;
        case txShadowed:
            write(colorLow_, 2, 2);
            break;
        case txNone:
            break;
    }
    write(Font().Color(), 0, 0);
}

}  // namespace velmora
