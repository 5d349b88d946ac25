#include "gdt/GdtCharset.h"

#include <array>

namespace velmora {

namespace {

// Code page 437, bytes 0x80..0xFF.
constexpr std::array<char16_t, 128> kCodePage437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Windows-1252, bytes 0x80..0x9F; the five bytes it leaves free stand for the C1 control of the
// same number, so that every byte reads and writes back.
constexpr std::array<char16_t, 32> kWindows1252C1 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// DIN 66003: the ASCII bytes that stand for German letters, and their letters.
constexpr std::array<char, 8> kGerman7BitBytes = {'@', '[', '\\', ']', '{', '|', '}', '~'};
constexpr std::array<char16_t, 8> kGerman7BitLetters = {u'§', u'Ä', u'Ö', u'Ü',
                                                        u'ä', u'ö', u'ü', u'ß'};

char16_t DecodeByte(unsigned char byte, GdtCharset charset) {
    switch (charset) {
        case GdtCharset::German7Bit:
            for (std::size_t i = 0; i < kGerman7BitBytes.size(); ++i) {
                if (byte == static_cast<unsigned char>(kGerman7BitBytes[i])) {
                    return kGerman7BitLetters[i];
                }
            }
            // Bytes above 0x7F are not in the set; they read as in code page 437, which is what
            // such a file was most likely written in.
            return byte < 0x80 ? byte : kCodePage437High[byte - 0x80];
        case GdtCharset::CodePage437:
            return byte < 0x80 ? byte : kCodePage437High[byte - 0x80];
        case GdtCharset::Ansi:
            return byte >= 0x80 && byte < 0xA0 ? kWindows1252C1[byte - 0x80] : byte;
    }
    return byte;
}

// The byte of a character in the set, -1 when it has none.
int EncodeChar(char16_t c, GdtCharset charset) {
    switch (charset) {
        case GdtCharset::German7Bit:
            for (std::size_t i = 0; i < kGerman7BitLetters.size(); ++i) {
                if (c == kGerman7BitLetters[i]) {
                    return static_cast<unsigned char>(kGerman7BitBytes[i]);
                }
            }
            for (const char b : kGerman7BitBytes) {
                if (c == static_cast<unsigned char>(b)) {
                    return -1;  // the byte is a letter in this set
                }
            }
            if (c < 0x80) {
                return c;
            }
            break;
        case GdtCharset::CodePage437:
            if (c < 0x80) {
                return c;
            }
            break;
        case GdtCharset::Ansi:
            if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
                return c;
            }
            for (std::size_t i = 0; i < kWindows1252C1.size(); ++i) {
                if (c == kWindows1252C1[i]) {
                    return int(0x80 + i);
                }
            }
            return -1;
    }
    // The upper half of code page 437, also read (not written) in a 7-bit file.
    if (charset == GdtCharset::CodePage437) {
        for (std::size_t i = 0; i < kCodePage437High.size(); ++i) {
            if (c == kCodePage437High[i]) {
                return int(0x80 + i);
            }
        }
    }
    return -1;
}

}  // namespace

std::optional<GdtCharset> GdtCharsetOf(QStringView value) {
    const QStringView v = value.trimmed();
    if (v == u"1") {
        return GdtCharset::German7Bit;
    }
    if (v == u"2") {
        return GdtCharset::CodePage437;
    }
    if (v == u"3") {
        return GdtCharset::Ansi;
    }
    return std::nullopt;
}

QString GdtCharsetValue(GdtCharset charset) {
    return QString::number(int(charset));
}

QString GdtDecode(QByteArrayView bytes, GdtCharset charset) {
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        text[i] = QChar(DecodeByte(static_cast<unsigned char>(bytes[i]), charset));
    }
    return text;
}

QByteArray GdtEncode(QStringView text, GdtCharset charset) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        const int b = EncodeChar(c.unicode(), charset);
        bytes += b < 0 ? '?' : char(b);
    }
    return bytes;
}

bool GdtCanEncode(QStringView text, GdtCharset charset) {
    for (const QChar c : text) {
        if (EncodeChar(c.unicode(), charset) < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace velmora
