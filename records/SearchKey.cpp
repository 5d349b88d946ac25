#include "records/SearchKey.h"

namespace velmora {

QStringList SearchWords(const QString& text) {
    QString folded;
    folded.reserve(text.size() + 8);
    for (const QChar c : text.toLower()) {
        switch (c.unicode()) {
            case u'ä':
                folded += QStringLiteral("ae");
                break;
            case u'ö':
                folded += QStringLiteral("oe");
                break;
            case u'ü':
                folded += QStringLiteral("ue");
                break;
            case u'ß':
            case u'ẞ':
                folded += QStringLiteral("ss");
                break;
            default:
                folded += c;
        }
    }
    // Other accents: the base letter without its combining marks.
    const QString decomposed = folded.normalized(QString::NormalizationForm_D);
    QStringList words;
    QString word;
    for (const QChar c : decomposed) {
        if (c.isLetterOrNumber()) {
            word += c;
        } else if (c.isMark()) {
            continue;
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty()) {
        words << word;
    }
    return words;
}

QString NormalizedName(const QString& text) {
    return SearchWords(text).join(QLatin1Char(' '));
}

QString PrefixEnd(const QString& prefix) {
    if (prefix.isEmpty()) {
        return {};
    }
    QString end = prefix;
    const QChar last = end.back();
    end.back() = QChar(char16_t(last.unicode() + 1));
    return end;
}

}  // namespace velmora
