#include "Credits.h"

#include "framework/ScaledRaster.h"

#include <cmath>

#include <algorithm>
#include <limits>

namespace velmora {
namespace {

// One colour component: optional blanks, an optional sign, decimal digits, optional blanks.
// Large values saturate; the result is clamped to 0..255.
bool ParseComponent(QStringView text, int& value) {
    text = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    long long v = 0;
    for (; i < text.size(); ++i) {
        const char16_t ch = text[i].unicode();
        if (ch < u'0' || ch > u'9') {
            return false;
        }
        v = std::min(v * 10 + (ch - u'0'), 1000LL);
    }
    value = negative ? 0 : int(std::min(v, 255LL));
    return true;
}

bool ParseColor(QStringView code, TColor& color) {
    int rgb[3] = {0, 0, 0};
    int count = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= code.size(); ++i) {
        if (i < code.size() && code[i] != u',') {
            continue;
        }
        if (count == 3 || !ParseComponent(code.mid(start, i - start), rgb[count])) {
            return false;
        }
        ++count;
        start = i + 1;
    }
    if (count != 3) {
        return false;
    }
    color = RGB(rgb[0], rgb[1], rgb[2]);
    return true;
}

QStringList SampleCredits() {
    return {
        QStringLiteral("&b&uTScrollingCredits"),
        QStringLiteral("by the Velmora developers, 2000"),
        QString(),
        QStringLiteral("This version includes basic formatting!!"),
        QStringLiteral("&bMake a line bold with &&b"),
        QStringLiteral("&uMake a line underlined with &&u"),
        QStringLiteral("&iMake a line italicized with &&i"),
        QStringLiteral("&c255,255,0;Make a line a different color"),
        QStringLiteral("&c0,255,255;with &&c[red],[green],[blue];"),
        QString(),
        QStringLiteral("And put that ampersand in with &&&&"),
        QString(),
        QStringLiteral("&bPlease let me know if you find"),
        QStringLiteral("&bthis component useful."),
        QStringLiteral("velmora@example.org"),
    };
}

}  // namespace

TCreditLine ParseCreditLine(const QString& line) {
    TCreditLine out;
    out.Text.reserve(line.size());
    const qsizetype n = line.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (line[i] != u'&') {
            out.Text += line[i];
            continue;
        }
        if (++i == n) {
            break;  // a lone ampersand at the end
        }
        switch (line[i].unicode()) {
            case u'&':
                out.Text += u'&';
                break;
            case u'b':
            case u'B':
                out.Bold = true;
                break;
            case u'i':
            case u'I':
                out.Italic = true;
                break;
            case u'u':
            case u'U':
                out.Underline = true;
                break;
            case u'c':
            case u'C': {
                const qsizetype end = line.indexOf(u';', i + 1);
                if (end < 0) {
                    break;  // not a colour code after all: the rest is text
                }
                TColor color = clBlack;
                if (ParseColor(QStringView(line).mid(i + 1, end - i - 1), color)) {
                    out.HasColor = true;
                    out.Color = color;
                }
                i = end;
                break;
            }
            default:
                break;  // an unknown code: both characters are dropped
        }
    }
    return out;
}

TScrollingCredits::TScrollingCredits(TComponent* owner)
    : TGraphicControl(owner), credits_(SampleCredits()) {
    creditsFont_.SetName(QStringLiteral("Tahoma"));
    creditsFont_.SetColor(clWhite);
    creditsFont_.OnChange = [this] {
        layout_.clear();
        strip_ = QImage();
        Invalidate();
    };
    backgroundImage_.OnChange = [this] { Invalidate(); };
    timer_.setInterval(int(interval_));
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { TimerTick(); });
    SetBounds(0, 0, 305, 201);
}

void TScrollingCredits::SetCredits(const QStringList& lines) {
    credits_ = lines;
    layout_.clear();
    strip_ = QImage();
    if (!IsLoading()) {
        Paint();
    }
}

const std::vector<TScrollingCredits::LineLayout>& TScrollingCredits::Layout() const {
    if (layout_.size() != std::size_t(credits_.size())) {
        layout_.clear();
        TCanvas measure;
        for (const QString& text : credits_) {
            LineLayout item{ParseCreditLine(text), creditsFont_, 0};
            item.font.SetColor(item.line.HasColor ? item.line.Color : creditsFont_.Color());
            // Bold replaces the font's own style; italic and underline add to it.
            TFontStyles style = creditsFont_.Style();
            if (item.line.Bold) {
                style = fsBold;
            }
            if (item.line.Italic) {
                style |= fsItalic;
            }
            if (item.line.Underline) {
                style |= fsUnderline;
            }
            item.font.SetStyle(style);
            measure.SetFont(item.font);
            item.width = measure.TextWidth(item.line.Text);
            layout_.push_back(std::move(item));
        }
    }
    return layout_;
}

void TScrollingCredits::SetCreditsFont(const TFont& font) {
    creditsFont_.Assign(font);  // invalidates through OnChange
}

void TScrollingCredits::SetBackgroundColor(TColor value) {
    backgroundColor_ = value;
    Invalidate();
}

void TScrollingCredits::SetBorderColor(TColor value) {
    borderColor_ = value;
    Invalidate();
}

void TScrollingCredits::SetShowBorder(bool value) {
    showBorder_ = value;
    Invalidate();
}

void TScrollingCredits::SetAnimate(bool value) {
    // The first line starts one line height below the bottom edge, measured in the font that
    // the control's own canvas has now.
    offset_ = Height() + Canvas().TextHeight(QStringLiteral("A"));
    animate_ = value;
    UpdateTimer();
    if (!IsLoading()) {
        Paint();
    }
}

void TScrollingCredits::SetInterval(std::uint32_t value) {
    interval_ = value;
    timer_.setInterval(int(std::min<std::uint32_t>(value, std::numeric_limits<int>::max())));
    UpdateTimer();
}

void TScrollingCredits::SetVisible(bool value) {
    if (visible_ == value) {
        return;
    }
    visible_ = value;
    UpdateTimer();
    offset_ = Height();
    lastAnnounced_ = -1;
    if (TControl* parent = ParentControl()) {
        parent->Invalidate();
    } else if (QWidget* widget = parentWidget()) {
        widget->update();
    }
    Invalidate();
}

void TScrollingCredits::UpdateTimer() {
    // A zero interval stops the timer rather than ticking as fast as the event loop turns.
    if (animate_ && visible_ && interval_ != 0) {
        if (!timer_.isActive()) {
            timer_.start();
        }
    } else {
        timer_.stop();
    }
}

int TScrollingCredits::LineHeight() const {
    return creditsFont_.CellHeight();  // the height of any text in the font, kept with the font
}

void TScrollingCredits::DoShowCredit(const QString& creditText) {
    if (OnShowCredit) {
        OnShowCredit(this, creditText);
    }
}

void TScrollingCredits::DoAfterLastCredit() {
    if (AfterLastCredit) {
        AfterLastCredit(this);
    }
}

void TScrollingCredits::TimerTick() {
    const std::int64_t h = LineHeight();
    const std::int64_t n = credits_.size();
    if (offset_ < -(n * h)) {
        DoAfterLastCredit();
        offset_ = Height();
        lastAnnounced_ = -1;
    } else {
        --offset_;
    }
    Paint();
}

// All lines drawn once on the background, with a line's height to spare above and below: a
// tick of the scroll then copies the part in view instead of drawing every line again.
const QImage& TScrollingCredits::Strip(int width, int lineHeight, double ratio) const {
    const std::vector<LineLayout>& lines = Layout();
    if (strip_.isNull() || stripWidth_ != width || PictureRatio(strip_) != ratio ||
        stripLineHeight_ != lineHeight || stripColor_ != backgroundColor_ ||
        stripLines_ != lines.size()) {
        const std::int64_t height = (std::int64_t(lines.size()) + 2) * lineHeight;
        const int logicalHeight = int(std::min<std::int64_t>(height, StripRows(ratio)));
        strip_ = NewScaledPicture(width, logicalHeight, ratio);
        stripWidth_ = width;
        TCanvas c(&strip_);
        c.Brush().SetStyle(bsSolid);
        c.Brush().SetColor(backgroundColor_);
        c.FillRect(Rect(0, 0, width, logicalHeight));
        c.Brush().SetStyle(bsClear);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            c.SetFont(lines[i].font);
            c.TextOut(width / 2 - lines[i].width / 2, int((std::int64_t(i) + 1) * lineHeight),
                      lines[i].line.Text);
        }
        stripRows_ = logicalHeight;
        stripLineHeight_ = lineHeight;
        stripColor_ = backgroundColor_;
        stripLines_ = lines.size();
    }
    return strip_;
}

int TScrollingCredits::StripRows(double ratio) {
    // As many rows as fit in 2^15 device rows.
    return int(std::floor((1 << 15) / ratio));
}

void TScrollingCredits::Paint() {
    if (!visible_) {
        return;
    }
    const int w = Width();
    const int h = Height();
    // The ratio of the picture painted, or drawn on from outside a paint.
    const double ratio = IsPainting() ? Canvas().PixelRatio() : PixelRatio();
    buffer_.SetPixelRatio(ratio);
    buffer_.SetSize(w, h);
    const bool drawable = !buffer_.Empty();
    TCanvas& c = buffer_.Canvas();
    c.SetFont(creditsFont_);
    if (drawable) {
        if (backgroundImage_.Empty()) {
            c.Brush().SetStyle(bsSolid);
            c.Brush().SetColor(backgroundColor_);
            c.FillRect(Rect(0, 0, w, h));
        } else {
            c.StretchDraw(Rect(0, 0, w, h), backgroundImage_.Image());
        }
    }
    c.Brush().SetStyle(bsClear);
    const int lineHeight = c.TextHeight(QStringLiteral("A"));
    const bool fromStrip = animate_ && drawable && backgroundImage_.Empty() && lineHeight > 0 &&
                           credits_.size() < StripRows(ratio) / std::max(lineHeight, 1) - 2;

    const std::vector<LineLayout>& lines = Layout();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LineLayout& item = lines[i];
        const int x = w / 2 - item.width / 2;
        const std::int64_t row = std::int64_t(i) * lineHeight;
        if (animate_) {
            const std::int64_t y = offset_ + row;
            if (y + lineHeight > 0) {
                if (drawable && !fromStrip) {
                    c.SetFont(item.font);
                    c.TextOut(x, int(y), item.line.Text);
                }
                if (int(i) > lastAnnounced_) {
                    // Marked before the event, so a handler that paints again cannot repeat it.
                    lastAnnounced_ = int(i);
                    DoShowCredit(item.line.Text);
                }
            }
            if (y + lineHeight > h) {
                break;  // the lines below are not reached in this paint
            }
        } else if (drawable && kStillTop + row < h) {
            c.SetFont(item.font);
            c.TextOut(x, int(kStillTop + row), item.line.Text);
        }
    }
    if (fromStrip) {
        // Strip row r stands at offset_ + r - lineHeight; the lines in view and those just
        // beyond the edges, whose pixels may reach into it.
        const QImage& strip = Strip(w, lineHeight, ratio);
        const std::int64_t top = std::int64_t(offset_) - lineHeight;
        const std::int64_t from = std::max<std::int64_t>(0, top);
        const std::int64_t to = std::min<std::int64_t>(h, top + stripRows_);
        if (from < to) {
            BitBlt(c, 0, int(from), w, int(to - from), strip, 0, int(from - top), SRCCOPY);
        }
    }

    if (showBorder_ && drawable) {
        c.Pen().SetColor(borderColor_);
        c.Pen().SetWidth(1);
        c.Pen().SetStyle(psSolid);
        c.Pen().SetMode(pmCopy);
        c.Brush().SetStyle(bsClear);
        c.Rectangle(0, 0, w, h);
    }
    if (drawable) {
        Canvas().Draw(0, 0, buffer_.Image());
    }
}

}  // namespace velmora
