#pragma once

#include <QString>
#include <QStringList>

namespace velmora {

// How patients are found by what an operator types: German spellings folded together so that
// "Müller", "Mueller" and "MÜLLER" are one name.
//
// A text is lower-cased; ä, ö, ü become ae, oe, ue and ß becomes ss; other accents are dropped
// (é is e). Words are the runs of letters and digits in what remains, so "Müller-Lüdenscheidt" is
// the two words "mueller" and "luedenscheidt".
QStringList SearchWords(const QString& text);

// The words of `text` joined by single blanks: the key two names are compared by.
QString NormalizedName(const QString& text);

// The first string after every string that starts with `prefix` in byte order (the prefix with
// its last character raised by one): words w with prefix <= w < PrefixEnd(prefix) are exactly
// the words that start with it. Empty for an empty prefix.
QString PrefixEnd(const QString& prefix);

}  // namespace velmora
