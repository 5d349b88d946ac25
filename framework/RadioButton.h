#pragma once

#include "framework/WinControl.h"

class QRadioButton;

namespace velmora {

class RadioButtonBox;

// The platform's radio button (a QRadioButton underneath, filling the control) with the classic
// rules, which differ from Qt's:
//
// - Checked set to true from code or by the user, when the button was not checked, unchecks the
//   other radio buttons of the same parent control and then runs Click() (OnClick). Setting it
//   when it is already checked, or clicking a checked button, does nothing at all.
// - Checked set to false only unchecks this button; no event runs.
// - The caption is drawn in the control's font on its colour, beside the round mark.
class TRadioButton : public TWinControl {
public:
    explicit TRadioButton(TComponent* owner = nullptr);
    ~TRadioButton() override;

    bool Checked() const { return checked_; }
    void SetChecked(bool on);

    // The platform control, for driving it with events.
    QRadioButton* Button() const;

protected:
    void FontChanged() override;
    // The platform widget takes the font as drawn at the new ratio.
    void PixelRatioChanged() override { FontChanged(); }
    void ColorChanged() override;
    void TextChanged() override;
    void Resize() override;

private:
    friend class RadioButtonBox;

    RadioButtonBox* button_;
    bool checked_ = false;
};

}  // namespace velmora
