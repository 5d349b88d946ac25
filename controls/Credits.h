#pragma once

#include "framework/Bitmap.h"
#include "framework/GraphicControl.h"

#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <vector>

namespace velmora {

// Raised with a line's text (its codes removed) when the line is drawn for the first time in a
// pass of the scroll.
using TCreditEvent = std::function<void(TComponent* Sender, const QString& CreditText)>;

// A credit line with its formatting codes taken out.
struct TCreditLine {
    QString Text;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool HasColor = false;
    TColor Color = clBlack;
};

// Reads the codes of a credit line, left to right: "&&" is a literal ampersand, "&b", "&i", "&u"
// (either case) make the whole line bold, italic or underlined, "&cR,G,B;" gives it a colour;
// an ampersand before any other character, or at the end, is dropped with that character.
//
// A colour code ends at the next semicolon. Its three components are decimal numbers (blanks
// around them and a sign are allowed); a value outside 0..255 is clamped to it. A code whose
// components are missing, surplus or not numbers is removed but leaves the colour alone; "&c"
// without any semicolon after it is dropped like an unknown code and the rest stays text.
TCreditLine ParseCreditLine(const QString& line);

// A windowless list of centred text lines, standing still or scrolling upwards by one pixel per
// timer tick in an endless loop. Each paint draws the whole picture into an off-screen bitmap of
// the control's size (at the pixel ratio painted at) and copies it in one step, so scrolling
// does not flicker.
//
// While scrolling, a line is announced through OnShowCredit once per pass, when it is first
// drawn (lines just below the bottom edge count as drawn); AfterLastCredit follows the tick
// that finds the whole list above the top edge, and the next pass starts at the bottom edge.
// The timer ticks on the user-interface thread and runs only while Animate and the control's
// own Visible are both set and Interval is not 0.
class TScrollingCredits : public TGraphicControl {
public:
    explicit TScrollingCredits(TComponent* owner = nullptr);

    const QStringList& Credits() const { return credits_; }
    void SetCredits(const QStringList& lines);  // paints at once (not while loading)
    TFont& CreditsFont() { return creditsFont_; }
    void SetCreditsFont(const TFont& font);
    TColor BackgroundColor() const { return backgroundColor_; }
    void SetBackgroundColor(TColor value);
    TColor BorderColor() const { return borderColor_; }
    void SetBorderColor(TColor value);
    bool Animate() const { return animate_; }
    // Restarts the scroll one line height below the bottom edge, then paints (not while loading).
    void SetAnimate(bool value);
    std::uint32_t Interval() const { return interval_; }
    void SetInterval(std::uint32_t value);
    // The control's own visibility: a hidden control paints nothing and does not tick. Hides
    // the framework's property of the same name.
    bool Visible() const { return visible_; }
    void SetVisible(bool value);
    // Stretched over the control instead of the background colour when not empty; any change
    // of the picture invalidates.
    TBitmap& BackgroundImage() { return backgroundImage_; }
    void SetBackgroundImage(const TBitmap& picture) { backgroundImage_.Assign(picture); }
    bool ShowBorder() const { return showBorder_; }
    void SetShowBorder(bool value);

    TCreditEvent OnShowCredit;
    TNotifyEvent AfterLastCredit;

    // Scroll state: the y of the first line's top, and the index of the last line announced
    // in this pass (-1: none).
    int ScrollOffset() const { return offset_; }
    int LastAnnounced() const { return lastAnnounced_; }
    bool TimerRunning() const { return timer_.isActive(); }
    // The height of one line: the height of "A" in CreditsFont.
    int LineHeight() const;
    // The off-screen picture as last painted.
    const TBitmap& Buffer() const { return buffer_; }

    // Entry of the timer's tick, public so that tests can drive the scroll as the timer does.
    void DispatchTimer() { TimerTick(); }

protected:
    void Paint() override;
    virtual void DoShowCredit(const QString& creditText);
    virtual void DoAfterLastCredit();

private:
    void TimerTick();
    void UpdateTimer();

    // Each line parsed, with its font and width: worked out once, not at every tick.
    struct LineLayout {
        TCreditLine line;
        TFont font;
        int width;
    };
    const std::vector<LineLayout>& Layout() const;
    // At the picture's pixel ratio; at most StripRows rows.
    const QImage& Strip(int width, int lineHeight, double ratio) const;
    static int StripRows(double ratio);

    static constexpr int kStillTop = 4;

    QStringList credits_;
    TFont creditsFont_;
    TColor backgroundColor_ = clBlack;
    TColor borderColor_ = clWhite;
    bool animate_ = false;
    std::uint32_t interval_ = 50;
    bool visible_ = true;
    TBitmap backgroundImage_;
    bool showBorder_ = true;

    TBitmap buffer_;
    QTimer timer_;
    int offset_ = 0;
    int lastAnnounced_ = -1;
    mutable std::vector<LineLayout> layout_;  // empty: to be worked out
    mutable QImage strip_;
    mutable int stripWidth_ = 0;
    mutable int stripRows_ = 0;
    mutable int stripLineHeight_ = 0;
    mutable TColor stripColor_ = clNone;
    mutable std::size_t stripLines_ = 0;
};

}  // namespace velmora
