#include "RadioButton.h"

#include <QPalette>
#include <QRadioButton>

namespace velmora {

// The Qt button, whose own toggling is replaced by the classic rule: a click can only check.
class RadioButtonBox : public QRadioButton {
public:
    explicit RadioButtonBox(TRadioButton* owner) : QRadioButton(owner), owner_(owner) {
        setAutoExclusive(false);
    }

protected:
    void nextCheckState() override { owner_->SetChecked(true); }

private:
    TRadioButton* owner_;
};

TRadioButton::TRadioButton(TComponent* owner)
    : TWinControl(owner), button_(new RadioButtonBox(this)) {
    setFocusProxy(button_);
    SetTabStop(true);
    SetBounds(0, 0, 113, 17);
    FontChanged();
    ColorChanged();
}

TRadioButton::~TRadioButton() = default;

QRadioButton* TRadioButton::Button() const {
    return button_;
}

void TRadioButton::SetChecked(bool on) {
    if (checked_ == on) {
        return;
    }
    checked_ = on;
    button_->setChecked(on);
    if (!on) {
        return;
    }
    if (QWidget* parent = parentWidget()) {
        for (QObject* child : parent->children()) {
            if (auto* other = dynamic_cast<TRadioButton*>(child);
                other != nullptr && other != this) {
                other->SetChecked(false);
            }
        }
    }
    Click();
}

void TRadioButton::FontChanged() {
    button_->setFont(Font().ToQFont(PixelRatio()));
    QPalette palette = button_->palette();
    palette.setColor(QPalette::WindowText, ToQColor(Font().Color()));
    palette.setColor(QPalette::ButtonText, ToQColor(Font().Color()));
    button_->setPalette(palette);
    TWinControl::FontChanged();
}

void TRadioButton::ColorChanged() {
    QPalette palette = button_->palette();
    palette.setColor(QPalette::Window, ToQColor(Color()));
    button_->setPalette(palette);
    TWinControl::ColorChanged();
}

void TRadioButton::TextChanged() {
    button_->setText(Caption());  // "&" marks the accelerator in both worlds
    TWinControl::TextChanged();
}

void TRadioButton::Resize() {
    button_->setGeometry(0, 0, Width(), Height());
    TWinControl::Resize();
}

}  // namespace velmora
