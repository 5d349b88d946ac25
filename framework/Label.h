#pragma once

#include "framework/GraphicControl.h"

namespace velmora {

// A static text: the caption drawn in the control's font on its colour (or over the parent's
// drawing when Transparent), left aligned, on one line per "\n" or word-wrapped to the width.
//
// AutoSize (on at first) fits the control to its text whenever the caption, the font or word
// wrapping changes, and once more when a stored layout has been loaded: both width and height,
// or with WordWrap only the height, as the classic label does. A single "&" marks an accelerator
// and is not shown ("&&" shows one) unless ShowAccelChar is off.
class TLabel : public TGraphicControl {
public:
    explicit TLabel(TComponent* owner = nullptr);

    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool on);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool on);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool on);
    bool ShowAccelChar() const { return showAccelChar_; }
    void SetShowAccelChar(bool on);

protected:
    void Paint() override;
    void Loaded() override;
    void FontChanged() override;
    void TextChanged() override;

private:
    unsigned TextFlags() const;
    void AdjustBounds();

    bool autoSize_ = true;
    bool wordWrap_ = false;
    bool transparent_ = false;
    bool showAccelChar_ = true;
};

}  // namespace velmora
