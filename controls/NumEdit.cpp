#include "NumEdit.h"

#include "framework/MessageBox.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace velmora {
namespace {

constexpr int kMaxDecimals = 18;

QChar DecimalSeparator() {
    const QString point = QLocale().decimalPoint();
    return point.isEmpty() ? QLatin1Char('.') : point.at(0);
}

bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

}  // namespace

TNumEdit::TNumEdit(TComponent* owner) : TEdit(owner) {
    SetAlignment(taRightJustify);
    SetText(QStringLiteral("0"));
}

bool TNumEdit::TextToFloat(const QString& text, double* value) {
    const QChar separator = DecimalSeparator();
    const QString s = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+'))) {
        negative = s[i] == QLatin1Char('-');
        ++i;
    }
    std::string integer;
    std::string fraction;
    bool inFraction = false;
    for (; i < s.size(); ++i) {
        if (IsDigit(s[i])) {
            (inFraction ? fraction : integer) += char(s[i].unicode());
        } else if (s[i] == separator && !inFraction) {
            inFraction = true;
        } else {
            break;
        }
    }
    if (integer.empty() && fraction.empty()) {
        return false;
    }
    long long exponent = 0;
    if (i < s.size() && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E'))) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+'))) {
            negativeExponent = s[i] == QLatin1Char('-');
            ++i;
        }
        const qsizetype first = i;
        for (; i < s.size() && IsDigit(s[i]); ++i) {
            exponent = std::min(exponent * 10 + (s[i].unicode() - '0'), 1000000LL);
        }
        if (i == first) {
            return false;
        }
        exponent = negativeExponent ? -exponent : exponent;
    }
    if (i != s.size()) {
        return false;
    }
    const std::string number = (negative ? "-" : "") + (integer.empty() ? "0" : integer) + "." +
                               fraction + "e" + std::to_string(exponent);
    double result = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), result);
    if (error == std::errc::result_out_of_range) {
        // Too large is no number; too small is zero. The power of ten of the first digit that
        // is not zero tells which.
        const std::size_t lead = integer.find_first_not_of('0');
        const long long magnitude =
            (lead != std::string::npos ? (long long)(integer.size() - lead) - 1
                                       : -(long long)fraction.find_first_not_of('0') - 1) +
            exponent;
        if (magnitude >= 0) {
            return false;
        }
        result = negative ? -0.0 : 0.0;
    } else if (error != std::errc() || end != number.data() + number.size() ||
               !std::isfinite(result)) {
        return false;
    }
    *value = result;
    return true;
}

QString TNumEdit::FormatFixed(double value, int decimals, QChar separator) {
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    // No digits to round: written as the platform's formatting writes them.
    if (std::isnan(value)) {
        return QStringLiteral("NAN");
    }
    if (std::isinf(value)) {
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    }
    // The shortest decimal form that reads back as the value: rounding works on the digits
    // as they were typed, not on the binary approximation.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific);
    const std::string scientific(buffer, result.ptr);
    const std::size_t e = scientific.find('e');
    std::string digits = scientific.substr(0, e);
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    const int exponent = std::stoi(scientific.substr(e + 1));

    // The value times 10^decimals, rounded to an integer, as a digit string.
    const long long keep = (long long)exponent + 1 + decimals;
    std::string units;
    bool up = false;
    if (keep >= 0) {
        units = digits.substr(0, std::size_t(std::min<long long>(keep, digits.size())));
        units.append(std::size_t(std::max<long long>(0, keep - (long long)digits.size())), '0');
        up = keep < (long long)digits.size() && digits[std::size_t(keep)] >= '5';
    }
    if (up) {
        int k = int(units.size()) - 1;
        for (; k >= 0 && units[std::size_t(k)] == '9'; --k) {
            units[std::size_t(k)] = '0';
        }
        if (k >= 0) {
            ++units[std::size_t(k)];
        } else {
            units.insert(units.begin(), '1');
        }
    }
    if (units.size() < std::size_t(decimals) + 1) {
        units.insert(units.begin(), std::size_t(decimals) + 1 - units.size(), '0');
    }
    const bool zero = units.find_first_not_of('0') == std::string::npos;
    QString text = QString::fromLatin1(units.data(), qsizetype(units.size() - decimals));
    if (decimals > 0) {
        text += separator;
        text += QString::fromLatin1(units.data() + units.size() - decimals, decimals);
    }
    if (value < 0 && !zero) {
        text.prepend(QLatin1Char('-'));
    }
    return text;
}

bool TNumEdit::FormatValue() {
    const QString text = Text();
    double value = 0;
    if (!TextToFloat(text, &value)) {
        ShowException(QStringLiteral("'%1' ist kein gültiger Gleitkommawert").arg(text));
        return false;
    }
    const QString formatted = FormatFixed(value, roundingDecimals_, DecimalSeparator());
    keyTyped_ = false;
    SetText(formatted);
    return true;
}

void TNumEdit::KeyPress(QChar& key) {
    keyTyped_ = true;
    TEdit::KeyPress(key);
    const QChar separator = DecimalSeparator();
    const QChar minus = QLatin1Char('-');
    if (!(key == QChar(8) || key == minus || IsDigit(key) || key == separator)) {
        keyTyped_ = false;
        key = QChar();
        Beep();
        return;
    }
    const QString text = Text();
    if ((key == separator || key == minus) && text.contains(key)) {
        if (key == separator) {
            // Over the existing separator: select what follows it.
            SetSelStart(int(text.indexOf(separator)) + 1);
            SetSelLength(int(text.size()));
        }
        key = QChar();
        return;
    }
    if (key == minus && SelStart() != 0) {
        key = QChar();
        Beep();
    }
}

void TNumEdit::Change() {
    if (!keyTyped_ && round_ && !Text().isEmpty()) {
        FormatValue();
    }
}

void TNumEdit::DoEnter() {
    if (autoRounding_ && round_ && !Text().isEmpty()) {
        FormatValue();
    }
}

void TNumEdit::DoExit() {
    if (round_ && !Text().isEmpty()) {
        FormatValue();
    }
}

}  // namespace velmora
