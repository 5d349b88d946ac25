#pragma once

#include "framework/WinControl.h"

class QPlainTextEdit;

namespace velmora {

class MemoEditor;

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// The platform's multi-line edit box (a QPlainTextEdit underneath, filling the control).
//
// Text is what the classic control holds: its lines separated by CR LF. Lines are set with
// SetLines, each followed by CR LF, so one empty line is "\r\n" (two lines on the screen, and
// not an empty text). Text typed by the user has its line breaks as CR LF too. Tab moves the
// focus on (WantTabs off); Return starts a new line.
class TMemo : public TWinControl {
public:
    explicit TMemo(TComponent* owner = nullptr);
    ~TMemo() override;

    QString Text() const;
    void SetText(const QString& text);
    void Clear() { SetText(QString()); }
    // The lines of the text (a final CR LF ends the last line rather than starting a new one).
    QStringList Lines() const;
    void SetLines(const QStringList& lines);

    TScrollStyle ScrollBars() const { return scrollBars_; }
    void SetScrollBars(TScrollStyle value);

    bool Focused() const;
    void SetFocus();

    // The platform control, for driving it with events.
    QPlainTextEdit* Editor() const;

    TNotifyEvent OnChange;

protected:
    void FontChanged() override;
    // The platform widget takes the font as drawn at the new ratio.
    void PixelRatioChanged() override { FontChanged(); }
    void ColorChanged() override;
    void Resize() override;

private:
    QPlainTextEdit* editor_;
    TScrollStyle scrollBars_ = ssNone;
};

}  // namespace velmora
