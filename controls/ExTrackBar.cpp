#include "ExTrackBar.h"

#include <cmath>

namespace velmora {

TExTrackBar::TExTrackBar(TComponent* owner) : TTrackBar(owner), labelsInterval_(PageSize()) {}

void TExTrackBar::SetLabels(bool on) {
    if (labels_ == on) {
        return;
    }
    labels_ = on;
    if (on) {
        // Labels need the ticks below (or right of) the channel, where the labels are.
        if (TickMarks() == tmTopLeft) {
            SetTickMarks(tmBottomRight);
        }
        if (TickStyle() != tsAuto) {
            SetTickStyle(tsAuto);
        }
    }
    Invalidate();
}

void TExTrackBar::SetLabelsFirstLast(bool on) {
    if (labelsFirstLast_ != on) {
        labelsFirstLast_ = on;
        Invalidate();
    }
}

void TExTrackBar::SetLabelsLeftTop(int value) {
    if (labelsLeftTop_ != value) {
        labelsLeftTop_ = value;
        Invalidate();
    }
}

void TExTrackBar::SetLabelsText(const QString& text) {
    if (labelsText_ != text) {
        labelsText_ = text;
        Invalidate();
    }
}

void TExTrackBar::SetLabelsFactor(int value) {
    if (value != 0 && labelsFactor_ != value) {
        labelsFactor_ = value;
        Invalidate();
    }
}

void TExTrackBar::SetLabelsFactorOperation(TLabelsFactorOperation value) {
    if (labelsFactorOperation_ != value) {
        labelsFactorOperation_ = value;
        Invalidate();
    }
}

void TExTrackBar::SetLabelsInterval(int value) {
    value = value <= 0 ? 1 : value;
    if (labelsInterval_ != value) {
        labelsInterval_ = value;
        Invalidate();
    }
}

void TExTrackBar::SetSelEnable(bool on) {
    if (selEnable_ == on) {
        return;
    }
    selEnable_ = on;
    if (!IsLoading()) {
        SetSelectionRange(on);
    }
}

QString TExTrackBar::LabelText(int value) const {
    long long number;
    if (labelsFactorOperation_ == foMul) {
        number = (long long)value * labelsFactor_;
    } else {
        // The default rounding mode rounds halves to even.
        number = (long long)std::nearbyint(double(value) / labelsFactor_);
    }
    return QString::number(number) + labelsText_;
}

bool TExTrackBar::LabelOrigin(int value, QPoint* origin) {
    const bool horizontal = Orientation() == trHorizontal;
    const bool end = value == Min() || value == Max();
    if (value < Min() || value > Max() || (end && !labelsFirstLast_) ||
        (!end && value % labelsInterval_ != 0)) {
        return false;
    }
    TCanvas measure;
    measure.SetFont(Font());
    const QString text = LabelText(value);
    const int extent = horizontal ? measure.TextWidth(text) : measure.TextHeight(text);
    int along;
    if (!end) {
        // Centred on the tick of the value.
        along = TickPosition(value) - extent / 2;
    } else {
        const TRect channel = ChannelRect();
        const TRect thumb = ThumbRect();
        const int thumbLength = horizontal ? thumb.Width() : thumb.Height();
        if (value == Min()) {
            along = (horizontal ? channel.Left : channel.Top) + thumbLength / 2 - extent / 2;
            along = std::max(along, 1);
        } else {
            along = (horizontal ? channel.Right : channel.Bottom) - thumbLength / 2 - extent / 2;
            const int limit = horizontal ? Width() : Height();
            if (extent + along >= limit) {
                along = limit - extent - 1;
            }
        }
    }
    *origin = horizontal ? QPoint(along, labelsLeftTop_) : QPoint(labelsLeftTop_, along);
    return true;
}

void TExTrackBar::DrawLabel(int x, int y, const QString& text) {
    TCanvas& c = Canvas();
    if (Enabled()) {
        c.Font().SetColor(Font().Color());
        c.TextOut(x, y, text);
        return;
    }
    // Engraved: a light copy one pixel down and right under the text in the shadow colour.
    c.Font().SetColor(clBtnHighlight);
    c.TextOut(x + 1, y + 1, text);
    c.Font().SetColor(clBtnShadow);
    c.TextOut(x, y, text);
}

void TExTrackBar::Paint() {
    TTrackBar::Paint();
    if (!labels_) {
        return;
    }
    if (TickStyle() != tsAuto) {
        labels_ = false;
        return;
    }
    TCanvas& c = Canvas();
    c.Brush().SetColor(Color());
    c.Brush().SetStyle(bsClear);
    c.SetFont(Font());
    QPoint at;
    // Only the multiples of the interval between Min and Max carry a label.
    const long long interval = labelsInterval_;
    long long v = (long long)Min() + 1;
    const long long remainder = v % interval;
    if (remainder != 0) {
        v += remainder > 0 ? interval - remainder : -remainder;
    }
    for (; v < Max(); v += interval) {
        if (LabelOrigin(int(v), &at)) {
            DrawLabel(at.x(), at.y(), LabelText(int(v)));
        }
    }
    for (int end : {Min(), Max()}) {
        if (labelsFirstLast_ && LabelOrigin(end, &at)) {
            DrawLabel(at.x(), at.y(), LabelText(end));
        }
    }
}

}  // namespace velmora
