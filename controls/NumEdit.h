#pragma once

#include "framework/Edit.h"

namespace velmora {

// A right-aligned single-line edit that accepts only the characters of a decimal number as
// keys (digits, backspace, one minus sign at the start, one decimal separator of the locale)
// and, with Round, reformats its text to RoundingDecimals decimals when the focus leaves,
// when the program sets the text, and (with AutoRounding) when the focus arrives.
//
// Pasted text is not filtered. A text that is not a number is left as it is and reported in
// the application's error box ("'…' ist kein gültiger Gleitkommawert").
class TNumEdit : public TEdit {
public:
    explicit TNumEdit(TComponent* owner = nullptr);

    bool AutoRounding() const { return autoRounding_; }
    void SetAutoRounding(bool on) { autoRounding_ = on; }
    int RoundingDecimals() const { return roundingDecimals_; }
    void SetRoundingDecimals(int value) { roundingDecimals_ = value; }
    bool Round() const { return round_; }
    void SetRound(bool on) { round_ = on; }

    // Replaces the text by its value with RoundingDecimals decimals (0 to 18; a value outside
    // counts as the nearest), rounded halves away from zero, with the locale's decimal
    // separator. A text that is no number is kept and reported; returns whether it was one.
    bool FormatValue();

    // The value of a text under the locale's rules (sign, digits, one decimal separator,
    // exponent, blanks around it); false for a text that is no finite number.
    static bool TextToFloat(const QString& text, double* value);
    // The value with exactly `decimals` decimals, halves away from zero, decimal separator
    // `separator`, no thousands separators; "NAN", "INF" or "-INF" for a value that is no number.
    static QString FormatFixed(double value, int decimals, QChar separator);

protected:
    void KeyPress(QChar& key) override;
    void Change() override;
    void DoEnter() override;
    void DoExit() override;

private:
    bool autoRounding_ = false;
    int roundingDecimals_ = 0;
    bool round_ = false;
    bool keyTyped_ = false;
};

}  // namespace velmora
