#include "TrackBar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

namespace velmora {

// The slider handles the pointer itself; the track bar draws it (with whatever is drawn over
// it), so the slider paints nothing and lets its parent show through.
class TrackBarSlider : public QSlider {
public:
    explicit TrackBarSlider(TTrackBar* owner) : QSlider(Qt::Horizontal, owner), owner_(owner) {
        setFocusPolicy(Qt::NoFocus);
        // Up the wheel (and the keys mapped by the track bar) moves toward Min.
        setInvertedControls(true);
        ensurePolished();  // the style's palette and attributes before the first drawing
        connect(this, &QSlider::valueChanged, owner_, [this] {
            owner_->Invalidate();
            owner_->Changed();
        });
    }

    using QSlider::initStyleOption;

protected:
    void paintEvent(QPaintEvent*) override {}
    void mousePressEvent(QMouseEvent* event) override {
        if (owner_->focusPolicy() & Qt::ClickFocus) {
            owner_->setFocus(Qt::MouseFocusReason);
        }
        QSlider::mousePressEvent(event);
    }

private:
    TTrackBar* owner_;
};

namespace {

// Distance of the slider from the top (horizontal) or left (vertical) edge.
constexpr int kSliderInset = 4;

}  // namespace

TTrackBar::TTrackBar(TComponent* owner) : TWinControl(owner), slider_(new TrackBarSlider(this)) {
    SetTabStop(true);
    slider_->setRange(0, 10);
    slider_->setSingleStep(lineSize_);
    slider_->setPageStep(pageSize_);
    ApplyTicks();
    ColorChanged();
    SetBounds(0, 0, 150, 45);
    LayoutSlider();
}

TTrackBar::~TTrackBar() = default;

QSlider* TTrackBar::Slider() const {
    return slider_;
}

int TTrackBar::Min() const {
    return slider_->minimum();
}

void TTrackBar::SetMin(int value) {
    if (value <= Max() && value != Min()) {
        slider_->setMinimum(value);
        Invalidate();
    }
}

int TTrackBar::Max() const {
    return slider_->maximum();
}

void TTrackBar::SetMax(int value) {
    if (value >= Min() && value != Max()) {
        slider_->setMaximum(value);
        Invalidate();
    }
}

int TTrackBar::Position() const {
    return slider_->value();
}

void TTrackBar::SetPosition(int value) {
    slider_->setValue(value);  // clamps; announces only a change
}

void TTrackBar::SetOrientation(TTrackBarOrientation value) {
    if (orientation_ == value) {
        return;
    }
    orientation_ = value;
    slider_->setOrientation(value == trHorizontal ? Qt::Horizontal : Qt::Vertical);
    // Min at the top of a vertical bar.
    slider_->setInvertedAppearance(value == trVertical);
    if (!IsLoading()) {
        SetBounds(Left(), Top(), Height(), Width());
    }
    LayoutSlider();
    Invalidate();
}

void TTrackBar::SetFrequency(int value) {
    value = std::max(1, value);
    if (frequency_ != value) {
        frequency_ = value;
        ApplyTicks();
    }
}

void TTrackBar::SetLineSize(int value) {
    lineSize_ = value;
    slider_->setSingleStep(value);
}

void TTrackBar::SetPageSize(int value) {
    pageSize_ = value;
    slider_->setPageStep(value);
}

void TTrackBar::SetTickMarks(TTickMark value) {
    if (tickMarks_ != value) {
        tickMarks_ = value;
        ApplyTicks();
    }
}

void TTrackBar::SetTickStyle(TTickStyle value) {
    if (tickStyle_ != value) {
        tickStyle_ = value;
        ApplyTicks();
    }
}

void TTrackBar::SetSelStart(int value) {
    if (selStart_ != value) {
        selStart_ = value;
        Invalidate();
    }
}

void TTrackBar::SetSelEnd(int value) {
    if (selEnd_ != value) {
        selEnd_ = value;
        Invalidate();
    }
}

void TTrackBar::ApplyTicks() {
    QSlider::TickPosition side = QSlider::NoTicks;
    if (tickStyle_ == tsAuto) {
        switch (tickMarks_) {
            case tmBottomRight:
                side = QSlider::TicksBelow;
                break;
            case tmTopLeft:
                side = QSlider::TicksAbove;
                break;
            case tmBoth:
                side = QSlider::TicksBothSides;
                break;
        }
    }
    slider_->setTickPosition(side);
    slider_->setTickInterval(frequency_);
    LayoutSlider();
    Invalidate();
}

void TTrackBar::LayoutSlider() {
    const QSize natural = slider_->sizeHint();
    if (orientation_ == trHorizontal) {
        slider_->setGeometry(0, kSliderInset, Width(), std::min(natural.height(), Height()));
    } else {
        slider_->setGeometry(kSliderInset, 0, std::min(natural.width(), Width()), Height());
    }
}

void TTrackBar::ColorChanged() {
    // The style derives the colours of channel edges and ticks from the background.
    QPalette palette = slider_->palette();
    palette.setColor(QPalette::Window, ToQColor(Color()));
    slider_->setPalette(palette);
    TWinControl::ColorChanged();
}

void TTrackBar::Resize() {
    LayoutSlider();
    TWinControl::Resize();
}

void TTrackBar::StyleOption(QStyleOptionSlider* option) const {
    slider_->initStyleOption(option);
    option->subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    if (slider_->tickPosition() != QSlider::NoTicks) {
        option->subControls |= QStyle::SC_SliderTickmarks;
    }
    // The track bar holds the keyboard focus on the slider's behalf.
    option->state.setFlag(QStyle::State_HasFocus, hasFocus());
}

TRect TTrackBar::FromSlider(const QRect& r) const {
    const QPoint at = slider_->pos();
    return Rect(r.left() + at.x(), r.top() + at.y(), r.left() + at.x() + r.width(),
                r.top() + at.y() + r.height());
}

TRect TTrackBar::ChannelRect() const {
    QStyleOptionSlider option;
    StyleOption(&option);
    return FromSlider(slider_->style()->subControlRect(QStyle::CC_Slider, &option,
                                                       QStyle::SC_SliderGroove, slider_));
}

TRect TTrackBar::ThumbRect() const {
    QStyleOptionSlider option;
    StyleOption(&option);
    return FromSlider(slider_->style()->subControlRect(QStyle::CC_Slider, &option,
                                                       QStyle::SC_SliderHandle, slider_));
}

int TTrackBar::TickPosition(int value) const {
    QStyleOptionSlider option;
    StyleOption(&option);
    const QStyle* style = slider_->style();
    const int length = style->pixelMetric(QStyle::PM_SliderLength, &option, slider_);
    const int available = style->pixelMetric(QStyle::PM_SliderSpaceAvailable, &option, slider_);
    const int along = QStyle::sliderPositionFromValue(option.minimum, option.maximum, value,
                                                      available, option.upsideDown);
    const int offset = orientation_ == trHorizontal ? slider_->x() : slider_->y();
    return offset + along + length / 2;
}

void TTrackBar::Paint() {
    QStyleOptionSlider option;
    StyleOption(&option);
    const QStyle::SubControls parts = option.subControls;
    const QStyle* style = slider_->style();
    QPainter painter(Canvas().Image());
    // Channel, selection, ticks and thumb one after the other, each from a fresh painter
    // state, so that what one part leaves in the painter never changes the next.
    auto draw = [&](QStyle::SubControl part) {
        painter.save();
        painter.translate(slider_->pos());
        option.subControls = part;
        style->drawComplexControl(QStyle::CC_Slider, &option, &painter, slider_);
        painter.restore();
    };
    // The channel as the classic control has it: unfilled, whatever the style would fill up to
    // the thumb (Fusion fills the groove from its start with the highlight colour). Drawn as at
    // the start, the groove has nothing to fill.
    {
        const int position = option.sliderPosition;
        const int value = option.sliderValue;
        option.sliderPosition = option.sliderValue =
            option.upsideDown ? option.maximum : option.minimum;
        draw(QStyle::SC_SliderGroove);
        option.sliderPosition = position;
        option.sliderValue = value;
    }
    if (selectionRange_ && selEnd_ > selStart_) {
        const TRect channel = ChannelRect();
        const int from = TickPosition(std::max(selStart_, Min()));
        const int to = TickPosition(std::min(selEnd_, Max()));
        const QColor highlight = ToQColor(clHighlight);
        if (orientation_ == trHorizontal) {
            painter.fillRect(QRect(QPoint(std::min(from, to), channel.Top + 1),
                                   QPoint(std::max(from, to), channel.Bottom - 2)),
                             highlight);
        } else {
            painter.fillRect(QRect(QPoint(channel.Left + 1, std::min(from, to)),
                                   QPoint(channel.Right - 2, std::max(from, to))),
                             highlight);
        }
    }
    if (parts & QStyle::SC_SliderTickmarks) {
        draw(QStyle::SC_SliderTickmarks);
    }
    draw(QStyle::SC_SliderHandle);
}

void TTrackBar::Step(long long delta) {
    SetPosition(int(std::clamp<long long>(Position() + delta, Min(), Max())));
}

void TTrackBar::KeyDown(int& key, TShiftState shift) {
    TWinControl::KeyDown(key, shift);
    switch (key) {
        case VK_LEFT:
        case VK_UP:
            Step(-(long long)lineSize_);
            break;
        case VK_RIGHT:
        case VK_DOWN:
            Step(lineSize_);
            break;
        case VK_PRIOR:
            Step(-(long long)pageSize_);
            break;
        case VK_NEXT:
            Step(pageSize_);
            break;
        case VK_HOME:
            SetPosition(Min());
            break;
        case VK_END:
            SetPosition(Max());
            break;
        default:
            break;
    }
}

void TTrackBar::Changed() {
    if (OnChange) {
        OnChange(this);
    }
}

void TTrackBar::focusInEvent(QFocusEvent* event) {
    TWinControl::focusInEvent(event);
    Invalidate();
}

void TTrackBar::focusOutEvent(QFocusEvent* event) {
    TWinControl::focusOutEvent(event);
    Invalidate();
}

}  // namespace velmora
