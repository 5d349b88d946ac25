// The numeric edit: random key sequences, caret moves, pastes, texts set by the program and
// focus changes, under German or C settings, with and without rounding. Checked after each
// step: the key filter's rules, and that a formatted text is the value with exactly the
// decimals asked for, reads back as that value and formats to itself again.
#include "FuzzSupport.h"

#include "controls/NumEdit.h"
#include "framework/MessageBox.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>

#include <cmath>

using namespace velmora;

namespace {

int beeps = 0;
int boxes = 0;

void SendKey(TNumEdit& e, QChar k) {
    int key = Qt::Key_unknown;
    if (k == QChar(8)) {
        key = Qt::Key_Backspace;
    } else if (k.isDigit()) {
        key = Qt::Key_0 + (k.unicode() - '0');
    } else if (k == QLatin1Char('-')) {
        key = Qt::Key_Minus;
    } else if (k == QLatin1Char(',')) {
        key = Qt::Key_Comma;
    } else if (k == QLatin1Char('.')) {
        key = Qt::Key_Period;
    } else if (k.unicode() >= 'a' && k.unicode() <= 'z') {
        key = Qt::Key_A + (k.unicode() - 'a');
    }
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, QString(k));
    QApplication::sendEvent(e.Editor(), &down);
}

void SendFocus(TNumEdit& e, QEvent::Type type) {
    QFocusEvent event(type, Qt::TabFocusReason);
    QApplication::sendEvent(e.Editor(), &event);
}

// The text has the form a formatted value takes: an optional minus, digits, and with
// decimals > 0 the separator and exactly that many digits.
bool LooksFormatted(const QString& text, int decimals, QChar separator) {
    qsizetype i = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    const qsizetype intStart = i;
    while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128) {
        ++i;
    }
    if (i == intStart) {
        return false;
    }
    if (decimals == 0) {
        return i == text.size();
    }
    if (i >= text.size() || text[i] != separator) {
        return false;
    }
    return text.size() - i - 1 == decimals &&
           std::all_of(text.begin() + i + 1, text.end(),
                       [](QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; });
}

// Formatting `value` to `decimals`: the form above, the value within half a unit of the last
// decimal (and the binary error of the reading), and the same text again from that text.
void CheckFormatted(double value, int decimals, QChar separator) {
    const int d = std::clamp(decimals, 0, 18);
    const QString text = TNumEdit::FormatFixed(value, decimals, separator);
    if (!std::isfinite(value)) {
        FUZZ_REQUIRE(text == (std::isnan(value) ? QStringLiteral("NAN")
                              : value < 0       ? QStringLiteral("-INF")
                                                : QStringLiteral("INF")));
        return;
    }
    FUZZ_REQUIRE(LooksFormatted(text, d, separator));
    double back = 0;
    FUZZ_REQUIRE(TNumEdit::TextToFloat(text, &back) || separator != QLocale().decimalPoint()[0]);
    if (separator == QLocale().decimalPoint()[0]) {
        const double unit = std::pow(10.0, -d);
        FUZZ_REQUIRE(std::fabs(back - value) <= unit / 2 + std::fabs(value) * 1e-15 + 1e-300);
        FUZZ_REQUIRE(TNumEdit::FormatFixed(back, decimals, separator) == text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::StartApplication();
    SetBeepHandler([] { ++beeps; });
    SetMessageBoxPresenter([](const MessageBoxRequest&) {
        ++boxes;
        return IDOK;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const bool german = in.Bool();
    QLocale::setDefault(german ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c());
    const QChar separator = german ? QLatin1Char(',') : QLatin1Char('.');

    // Formatting on its own: any double, any number of decimals.
    CheckFormatted(in.Take<double>(), int(in.Take<std::int8_t>()), separator);

    TNumEdit e;
    e.SetRound(in.Bool());
    e.SetAutoRounding(in.Bool());
    e.SetRoundingDecimals(int(in.Take<std::int8_t>()));
    bool onlyTyped = true;  // the text came from filtered keys alone
    e.Clear();
    static const char16_t kKeys[] = u"0123456789-,.\b-,.aZ e+";
    for (int step = 0; step < 64 && !in.Empty(); ++step) {
        const std::uint8_t op = in.Byte();
        const QString before = e.Text();
        const int beepsBefore = beeps;
        const int boxesBefore = boxes;
        switch (op % 8) {
            case 0:
            case 1:
            case 2: {  // a key
                const QChar k = op >= 128 ? QChar(in.Take<char16_t>())
                                          : QChar(kKeys[in.Below(sizeof kKeys / 2 - 1)]);
                const int caret = e.SelStart();
                const bool selection = e.SelLength() > 0;
                SendKey(e, k);
                const QString after = e.Text();
                const bool accepted = k == QChar(8) || k.unicode() == '-' ||
                                      (k.unicode() >= '0' && k.unicode() <= '9') || k == separator;
                if (k.unicode() == 0x7F) {
                    FUZZ_REQUIRE(after == before);  // delete types nothing and is not filtered
                } else if (!accepted) {
                    FUZZ_REQUIRE(after == before && beeps == beepsBefore + 1);
                } else if ((k == separator || k.unicode() == '-') && before.contains(k)) {
                    FUZZ_REQUIRE(after == before && beeps == beepsBefore);
                    if (k == separator) {
                        FUZZ_REQUIRE(e.SelStart() == before.indexOf(separator) + 1);
                        FUZZ_REQUIRE(e.SelLength() == before.size() - e.SelStart());
                    }
                } else if (k.unicode() == '-' && caret != 0) {
                    FUZZ_REQUIRE(after == before && beeps == beepsBefore + 1);
                } else if (k != QChar(8) && !selection) {
                    FUZZ_REQUIRE(after == before.left(caret) + k + before.mid(caret));
                }
                break;
            }
            case 3:  // the caret or a selection moves
                e.Editor()->setSelection(int(in.Below(uint32_t(before.size()) + 1)),
                                         int(in.Take<std::int8_t>()) % (before.size() + 1));
                break;
            case 4:  // focus arrives or leaves
                SendFocus(e, in.Bool() ? QEvent::FocusIn : QEvent::FocusOut);
                break;
            case 5:  // pasted text is not filtered
                e.Editor()->insert(in.Text(24));
                onlyTyped = false;
                break;
            case 6:  // the program sets a text
                e.SetText(in.Text(24));
                onlyTyped = false;
                break;
            default:
                e.SetRoundingDecimals(int(in.Take<std::int8_t>()));
                break;
        }
        const QString now = e.Text();
        if (onlyTyped && boxes == boxesBefore) {
            FUZZ_REQUIRE(now.count(QLatin1Char('-')) <= 1 && now.count(separator) <= 1);
            FUZZ_REQUIRE(std::all_of(now.begin(), now.end(), [&](QChar c) {
                return (c.unicode() >= '0' && c.unicode() <= '9') || c.unicode() == '-' ||
                       c == separator;
            }));
        }
        // A text that rounding replaced is the formatted value of the text before it.
        if (boxes == boxesBefore && now != before && op % 8 == 4 && e.Round()) {
            double value = 0;
            FUZZ_REQUIRE(TNumEdit::TextToFloat(before, &value));
            FUZZ_REQUIRE(now == TNumEdit::FormatFixed(value, e.RoundingDecimals(), separator));
            CheckFormatted(value, e.RoundingDecimals(), separator);
        }
        // A text that is no number is kept and reported.
        if (boxes != boxesBefore) {
            double value = 0;
            FUZZ_REQUIRE(!TNumEdit::TextToFloat(now, &value));
        }
    }
    QLocale::setDefault(QLocale::c());
    return 0;
}
