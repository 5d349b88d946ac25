#pragma once

#include "framework/WinControl.h"

class QLineEdit;

namespace velmora {

class EditLine;

// The platform's single-line edit box (a QLineEdit underneath, filling the control).
//
// - Keys typed into it go through the classic handlers first: KeyDown (OnKeyDown) and, for a
//   key that types a character, KeyPress (OnKeyPress); a handler that sets the key to 0 drops
//   it, one that changes the character makes the edit receive the new one.
// - Change() runs after every change of the text, by typing, pasting or SetText (not when the
//   text set is the one already there), and raises OnChange.
// - DoEnter()/DoExit() run when the keyboard focus arrives or leaves (moves between controls;
//   not when the window is deactivated or a menu opens) and raise OnEnter/OnExit.
// - Font (with its colour) and Color (the background, clWindow at first) are the edit's.
class TEdit : public TWinControl {
public:
    explicit TEdit(TComponent* owner = nullptr);
    ~TEdit() override;

    QString Text() const;
    void SetText(const QString& text);
    void Clear() { SetText(QString()); }
    int MaxLength() const { return maxLength_; }
    void SetMaxLength(int value);  // 0: no limit
    bool ReadOnly() const;
    void SetReadOnly(bool on);

    // Selection: SelStart is where the selection starts (the caret without one); setting it
    // removes the selection. SetSelLength selects from SelStart, limited to the text.
    int SelStart() const;
    void SetSelStart(int value);
    int SelLength() const;
    void SetSelLength(int value);
    QString SelText() const;
    void SelectAll();

    bool Focused() const;
    void SetFocus();

    // The platform control, for driving it with events.
    QLineEdit* Editor() const;

    TNotifyEvent OnChange;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

protected:
    virtual void Change();
    virtual void DoEnter();
    virtual void DoExit();

    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment value);

    void FontChanged() override;
    // The platform widget takes the font as drawn at the new ratio.
    void PixelRatioChanged() override { FontChanged(); }
    void ColorChanged() override;
    void Resize() override;

private:
    friend class EditLine;

    EditLine* editor_;
    TAlignment alignment_ = taLeftJustify;
    int maxLength_ = 0;
};

}  // namespace velmora
