// Credit line codes: whatever the line, its text is the line without its codes (a subsequence
// of it, "&&" read as one ampersand), and the text with its formatting written back as codes
// reads the same again.
#include "FuzzSupport.h"

#include "controls/Credits.h"

using namespace velmora;

namespace {

// The codes that give `line` its formatting, then its text with every ampersand doubled.
QString Written(const TCreditLine& line) {
    QString out;
    if (line.Bold) {
        out += QStringLiteral("&b");
    }
    if (line.Italic) {
        out += QStringLiteral("&I");
    }
    if (line.Underline) {
        out += QStringLiteral("&u");
    }
    if (line.HasColor) {
        out += QStringLiteral("&c%1, %2 ,+%3;")
                   .arg(GetRValue(line.Color))
                   .arg(GetGValue(line.Color))
                   .arg(GetBValue(line.Color));
    }
    QString text = line.Text;
    return out + text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

bool Same(const TCreditLine& a, const TCreditLine& b) {
    return a.Text == b.Text && a.Bold == b.Bold && a.Italic == b.Italic &&
           a.Underline == b.Underline && a.HasColor == b.HasColor &&
           (!a.HasColor || a.Color == b.Color);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const QString line = in.RestAsText();
    const TCreditLine parsed = ParseCreditLine(line);

    // The text is the line with characters taken out, never added.
    qsizetype at = 0;
    for (const QChar c : parsed.Text) {
        while (at < line.size() && line[at] != c) {
            ++at;
        }
        FUZZ_REQUIRE(at < line.size());
        ++at;
    }
    if (!line.contains(QLatin1Char('&'))) {
        FUZZ_REQUIRE(parsed.Text == line && !parsed.Bold && !parsed.Italic && !parsed.Underline &&
                     !parsed.HasColor);
    }
    // Every ampersand of the text comes from a doubled one.
    FUZZ_REQUIRE(parsed.Text.count(QLatin1Char('&')) <= line.count(QStringLiteral("&&")));
    if (parsed.HasColor) {
        FUZZ_REQUIRE((parsed.Color & 0xFF000000u) == 0);
    }

    // The line as its codes describe it reads back the same.
    FUZZ_REQUIRE(Same(ParseCreditLine(Written(parsed)), parsed));
    return 0;
}
