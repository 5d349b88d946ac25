#include "janColorButton.h"

namespace velmora {
namespace {

unsigned AlignmentFlag(TAlignment alignment) {
    switch (alignment) {
        case taRightJustify:
            return DT_RIGHT;
        case taCenter:
            return DT_CENTER;
        case taLeftJustify:
            break;
    }
    return DT_LEFT;
}

}  // namespace

TjanColorButton::TjanColorButton(TComponent* owner) : TGraphicControl(owner) {
    backBitmap_.OnChange = [this] { Invalidate(); };
    SetBounds(0, 0, 24, 24);
}

void TjanColorButton::Changed(bool changed) {
    if (changed) {
        Invalidate();
    }
}

void TjanColorButton::SetAlignment(TAlignment value) {
    Changed(std::exchange(alignment_, value) != value);
}

void TjanColorButton::SetWordWrap(bool on) {
    Changed(std::exchange(wordWrap_, on) != on);
}

void TjanColorButton::SetDown(bool on) {
    Changed(std::exchange(down_, on) != on);
}

void TjanColorButton::SetFlat(bool on) {
    Changed(std::exchange(flat_, on) != on);
}

void TjanColorButton::SetMarginHorizontal(int value) {
    Changed(std::exchange(marginHorizontal_, value) != value);
}

void TjanColorButton::SetMarginVertical(int value) {
    Changed(std::exchange(marginVertical_, value) != value);
}

void TjanColorButton::SetColor(TColor value) {
    Changed(std::exchange(color_, value) != value);
}

void TjanColorButton::FitToCaption() {
    TCanvas measure;  // measuring needs no image
    measure.SetFont(Font());
    if (!wordWrap_) {
        const int width = measure.TextWidth(Caption()) + 2 * marginHorizontal_;
        const int height = measure.TextHeight(Caption()) + 2 * marginVertical_;
        if (Width() < width || Height() < height) {
            SetBounds(Left(), Top(), std::max(Width(), width), std::max(Height(), height));
        }
        return;
    }
    TRect r = Rect(marginHorizontal_, marginVertical_, Width() - marginHorizontal_, Height());
    measure.DrawText(Caption(), r,
                     DT_CALCRECT | DT_WORDBREAK | DT_VCENTER | AlignmentFlag(alignment_));
    const int height = r.Height() + marginVertical_ + 1;
    if (Height() < height) {
        SetHeight(height);
    }
}

void TjanColorButton::Paint() {
    TCanvas& c = Canvas();
    const bool picture = !backBitmap_.Empty();
    c.SetFont(Font());
    FitToCaption();

    const int w = Width();
    const int h = Height();
    TRect text = wordWrap_ ? Rect(marginHorizontal_, marginVertical_, w - marginHorizontal_,
                                  h - marginVertical_)
                           : Rect(marginHorizontal_, 0, w - marginHorizontal_, h);
    const bool sunken = pressed_ || down_;
    if (sunken) {
        text = Rect(text.Left + 1, text.Top + 1, text.Right + 1, text.Bottom + 1);
    }

    enum { kNone, kRaised, kSunken } frame;
    TColor fill = color_;
    TColor textColor = Font().Color();
    if (IsDesigning()) {
        frame = kRaised;
    } else if (sunken) {
        fill = downColor_;
        frame = kSunken;
        textColor = downFontColor_;
    } else if (hot_ && hotTrack_ && !down_) {
        fill = hotColor_;
        frame = kRaised;
        textColor = hotFontColor_;
    } else if (hot_ || !flat_) {
        frame = kRaised;
    } else {
        frame = kNone;
    }

    if (picture) {
        const int pw = backBitmap_.Width();
        const int ph = backBitmap_.Height();
        for (int row = 0; row <= h / ph; ++row) {
            for (int column = 0; column <= w / pw; ++column) {
                c.Draw(column * pw, row * ph, backBitmap_.Image());
            }
        }
    } else {
        c.Brush().SetStyle(bsSolid);
        c.Brush().SetColor(fill);
        c.FillRect(Rect(0, 0, w, h));
    }

    if (frame != kNone) {
        const int x2 = w - 1;
        const int y2 = h - 1;
        const TColor first = frame == kRaised ? clWhite : clGray;
        const TColor second = frame == kRaised ? clGray : clWhite;
        c.Pen().SetStyle(psSolid);
        c.Pen().SetWidth(1);
        c.Pen().SetMode(pmCopy);
        c.Pen().SetColor(first);
        c.MoveTo(x2, 0);
        c.LineTo(0, 0);
        c.LineTo(0, y2);
        c.Pen().SetColor(second);
        c.LineTo(x2, y2);
        c.LineTo(x2, 0);
    }

    c.Brush().SetStyle(bsClear);
    c.Font().SetColor(textColor);
    const unsigned flags =
        (wordWrap_ ? DT_WORDBREAK : DT_SINGLELINE) | DT_VCENTER | AlignmentFlag(alignment_);
    c.DrawText(Caption(), text, flags);
}

void TjanColorButton::MouseDown(TMouseButton, TShiftState, int, int) {
    pressed_ = true;
    Repaint();
}

void TjanColorButton::MouseUp(TMouseButton, TShiftState, int, int) {
    if (latching_) {
        down_ = !down_;
    }
    pressed_ = false;
    Repaint();
}

void TjanColorButton::MouseEnter() {
    hot_ = true;
    Repaint();
}

void TjanColorButton::MouseLeave() {
    hot_ = false;
    Repaint();
}

void TjanColorButton::Click() {
    if (pressed_ && onclick) {
        onclick(this);
    }
}

}  // namespace velmora
