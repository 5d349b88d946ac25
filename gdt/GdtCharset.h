#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace velmora {

// The character sets a GDT file may be written in (field 9206). Length prefixes count bytes in
// the file's set, so texts are converted here, byte for byte, and never through UTF-8.
enum class GdtCharset {
    // 7-bit German ASCII (DIN 66003): [ \ ] { | } ~ @ stand for Ä Ö Ü ä ö ü ß §.
    German7Bit = 1,
    // IBM code page 437, the set a file without 9206 is in.
    CodePage437 = 2,
    // "ANSI": Windows-1252, which agrees with ISO 8859-1 and 8859-15 on ÄÖÜäöüß.
    Ansi = 3,
};

inline constexpr GdtCharset kGdtDefaultCharset = GdtCharset::CodePage437;

// The set named by a 9206 value ("1", "2", "3", blanks around tolerated); none for another.
std::optional<GdtCharset> GdtCharsetOf(QStringView value);
// The 9206 value of a set ("1", "2" or "3").
QString GdtCharsetValue(GdtCharset charset);

// Every byte of code page 437 and ANSI has a character and back, so that decoding and encoding
// again gives the same bytes; so has every byte of the 7-bit set below 0x80. (Bytes above it,
// which a 7-bit file should not hold, read as in code page 437.) A character the set lacks is
// written as '?'.
QString GdtDecode(QByteArrayView bytes, GdtCharset charset);
QByteArray GdtEncode(QStringView text, GdtCharset charset);
// Whether every character of `text` has a byte of its own in the set.
bool GdtCanEncode(QStringView text, GdtCharset charset);

}  // namespace velmora
