#include "Font.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QPainterPath>
#include <QRawFont>
#include <QtEndian>

#include <cmath>
#include <mutex>
#include <utility>

namespace velmora {
namespace {

constexpr int kDefaultHeight = -11;

// Text widths kept by TFont::TextWidth, for every font (fonts are rebuilt often).
struct TextWidths {
    static constexpr qsizetype kMostKept = 4096;
    std::mutex mutex;
    QHash<QString, int> widths;
};

TextWidths& KeptTextWidths() {
    static TextWidths kept;
    return kept;
}

const char* const kWineFontDir = "/usr/share/wine/fonts/";

QFont BaseFont(const QString& family, TFontStyles style) {
    QFont f(family);
    f.setBold((style & fsBold) != 0);
    f.setItalic((style & fsItalic) != 0);
    f.setUnderline((style & fsUnderline) != 0);
    f.setStrikeOut((style & fsStrikeOut) != 0);
    f.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(false);
    return f;
}

// The Windows ascent and descent of the font face that draws a Qt font, in ems; false when the
// face has no such metrics (no OS/2 table). They belong to the face, not to its size: each face
// is read once (reading loads the face).
bool WinMetrics(const QFont& font, double& ascent, double& descent) {
    struct Face {
        bool valid = false;
        double ascent = 0;
        double descent = 0;
    };
    static std::mutex mutex;
    static QHash<QString, Face> faces;
    const QString key = font.family() + QLatin1Char('|') + QString::number(font.weight()) +
                        QLatin1Char('|') + QString::number(int(font.italic()));
    {
        const std::lock_guard lock(mutex);
        if (const auto it = faces.constFind(key); it != faces.constEnd()) {
            ascent = it->ascent;
            descent = it->descent;
            return it->valid;
        }
    }
    Face face;
    const QRawFont raw = QRawFont::fromFont(font);
    constexpr int kWinAscent = 74;  // usWinAscent, then usWinDescent
    if (raw.isValid() && raw.unitsPerEm() > 0) {
        const QByteArray os2 = raw.fontTable("OS/2");
        if (os2.size() >= kWinAscent + 4) {
            const auto* p = reinterpret_cast<const uchar*>(os2.constData()) + kWinAscent;
            face.ascent = qFromBigEndian<quint16>(p) / raw.unitsPerEm();
            face.descent = qFromBigEndian<quint16>(p + 2) / raw.unitsPerEm();
            face.valid = face.ascent + face.descent > 0;
        }
    }
    const std::lock_guard lock(mutex);
    faces.insert(key, face);
    ascent = face.ascent;
    descent = face.descent;
    return face.valid;
}

// The key that what is kept of a face is filed under: its Qt font follows from these alone (and
// costs more to name, as QFont::key() writes out its size as a floating-point number).
QString FaceKey(const QString& name, int height, TFontStyles style) {
    return name + QLatin1Char('|') + QString::number(height) + QLatin1Char('|') +
           QString::number(style);
}

// Cell ascent and descent in pixels of a Qt font, kept per face (fonts are rebuilt often).
std::pair<int, int> CellMetrics(const QFont& font, const QString& key) {
    static std::mutex mutex;
    static QHash<QString, std::pair<int, int>> cache;
    {
        const std::lock_guard lock(mutex);
        if (const auto it = cache.constFind(key); it != cache.constEnd()) {
            return *it;
        }
    }
    std::pair<int, int> cell;
    double ascent = 0;
    double descent = 0;
    if (WinMetrics(font, ascent, descent)) {
        const double px = font.pixelSize();
        cell = {int(std::lround(ascent * px)), int(std::lround(descent * px))};
    } else {
        const QFontMetrics m(font);
        cell = {m.ascent(), m.descent()};
    }
    const std::lock_guard lock(mutex);
    cache.insert(key, cell);
    return cell;
}

}  // namespace

void InstallFontSubstitutions() {
    // Application fonts belong to the application object: register them again for a new one.
    static const QCoreApplication* installedFor = nullptr;
    const QCoreApplication* app = QGuiApplication::instance();
    if (app == nullptr || app == installedFor) {
        return;
    }
    installedFor = app;
    {
        // The faces behind a font's key may differ for the new application.
        TextWidths& kept = KeptTextWidths();
        const std::lock_guard lock(kept.mutex);
        kept.widths.clear();
    }
    bool haveTahoma = false;
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf"}) {
        const QString path = QString::fromLatin1(kWineFontDir) + QString::fromLatin1(file);
        if (QFile::exists(path) && QFontDatabase::addApplicationFont(path) >= 0) {
            haveTahoma = true;
        }
    }
    const QStringList sans =
        haveTahoma ? QStringList{QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")}
                   : QStringList{QStringLiteral("DejaVu Sans")};
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), sans);
    QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg"), sans);
    QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg 2"), sans);
    if (!haveTahoma) {
        QFont::insertSubstitutions(QStringLiteral("Tahoma"), sans);
    }
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(
        QStringLiteral("Times New Roman"),
        {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"), {QStringLiteral("Liberation Mono"),
                                                               QStringLiteral("DejaVu Sans Mono")});
}

int FontPixelSize(const QString& family, int height, TFontStyles style) {
    if (height < 0) {
        return -height;
    }
    if (height == 0) {
        return -kDefaultHeight;
    }
    // A cell height: scale the font's own ascent + descent at a large reference size.
    InstallFontSubstitutions();
    constexpr int kReference = 1000;
    QFont ref = BaseFont(family, style);
    ref.setPixelSize(kReference);
    double ascent = 0;
    double descent = 0;
    double cell = 0;
    if (WinMetrics(ref, ascent, descent)) {
        cell = (ascent + descent) * kReference;
    } else {
        const QFontMetricsF m(ref);
        cell = m.ascent() + m.descent();
    }
    if (cell <= 0) {
        return height;
    }
    return std::max(1, int(std::lround(height * kReference / cell)));
}

namespace {

// The width of the stem of "l" in ems, in a face of the family.
double StemWidth(const QString& family, bool bold, bool italic) {
    QFont font(family);
    font.setPixelSize(100);
    font.setBold(bold);
    font.setItalic(italic);
    const QRawFont raw = QRawFont::fromFont(font);
    const QList<quint32> glyphs = raw.glyphIndexesForString(QStringLiteral("l"));
    if (!raw.isValid() || glyphs.isEmpty()) {
        return 0;
    }
    return raw.pathForGlyph(glyphs.first()).boundingRect().width() / raw.pixelSize();
}

}  // namespace

double BoldWidening(const QFont& font) {
    if (!font.bold()) {
        return 0;
    }
    static std::mutex mutex;
    static QHash<QString, double> widening;
    const QString key = font.family() + QLatin1Char('|') + QString::number(int(font.italic()));
    {
        const std::lock_guard lock(mutex);
        if (const auto it = widening.constFind(key); it != widening.constEnd()) {
            return *it;
        }
    }
    constexpr double kBoldStems = 1.75;
    const double regular = StemWidth(font.family(), false, font.italic());
    const double bold = StemWidth(font.family(), true, font.italic());
    // Only a bold face hardly bolder than the regular one is widened.
    const double extra = bold < 1.25 * regular ? kBoldStems * regular - bold : 0.0;
    const std::lock_guard lock(mutex);
    widening.insert(key, extra);
    return extra;
}

TFont::TFont()
    : name_(QStringLiteral("MS Sans Serif")), height_(kDefaultHeight), color_(clWindowText) {}

TFont::TFont(const TFont& other)
    : name_(other.name_),
      height_(other.height_),
      color_(other.color_),
      style_(other.style_),
      charset_(other.charset_),
      qfont_(other.qfont_),
      faceKey_(other.faceKey_),
      qfontValid_(other.qfontValid_),
      cellAscent_(other.cellAscent_),
      cellDescent_(other.cellDescent_) {}

TFont& TFont::operator=(const TFont& other) {
    Assign(other);
    return *this;
}

void TFont::Assign(const TFont& other) {
    if (this == &other) {
        return;
    }
    const bool sameFace =
        name_ == other.name_ && height_ == other.height_ && style_ == other.style_;
    name_ = other.name_;
    height_ = other.height_;
    color_ = other.color_;
    style_ = other.style_;
    charset_ = other.charset_;
    // The Qt font goes with the face: taken over when the other has built it, kept when the face
    // stays the same (a canvas is given the same few fonts over and over).
    if (other.qfontValid_) {
        qfont_ = other.qfont_;
        faceKey_ = other.faceKey_;
        cellAscent_ = other.cellAscent_;
        cellDescent_ = other.cellDescent_;
        qfontValid_ = true;
    } else if (!sameFace) {
        qfontValid_ = false;
    }
    if (OnChange) {
        OnChange();
    }
}

void TFont::SetName(const QString& name) {
    if (name_ != name) {
        name_ = name;
        Changed();
    }
}

void TFont::SetHeight(int height) {
    if (height_ != height) {
        height_ = height;
        Changed();
    }
}

int TFont::Size() const {
    // MulDiv-style rounding of -Height * 72 / 96.
    const int num = -height_ * 72;
    return num >= 0 ? (num + 48) / 96 : -((-num + 48) / 96);
}

void TFont::SetSize(int points) {
    const int num = points * 96;
    SetHeight(-(num >= 0 ? (num + 36) / 72 : -((-num + 36) / 72)));
}

void TFont::SetColor(TColor color) {
    if (color_ != color) {
        color_ = color;
        Changed(false);
    }
}

void TFont::SetStyle(TFontStyles style) {
    if (style_ != style) {
        style_ = style;
        Changed();
    }
}

void TFont::SetCharset(int charset) {
    if (charset_ != charset) {
        charset_ = charset;
        Changed(false);
    }
}

bool TFont::operator==(const TFont& o) const {
    return name_ == o.name_ && height_ == o.height_ && color_ == o.color_ && style_ == o.style_ &&
           charset_ == o.charset_;
}

const QFont& TFont::ToQFont() const {
    if (!qfontValid_) {
        InstallFontSubstitutions();
        qfont_ = BaseFont(name_, style_);
        qfont_.setPixelSize(FontPixelSize(name_, height_, style_));
        faceKey_ = FaceKey(name_, height_, style_);
        std::tie(cellAscent_, cellDescent_) = CellMetrics(qfont_, faceKey_);
        qfontValid_ = true;
    }
    return qfont_;
}

QFont TFont::ToQFont(double ratio) const {
    QFont font = ToQFont();
    if (ratio > 1) {
        font.setStyleStrategy(
            QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    }
    return font;
}

int TFont::TextWidth(const QString& text) const {
    const QFont& font = ToQFont();
    const QString key = faceKey_ + QChar(0) + text;
    TextWidths& kept = KeptTextWidths();
    {
        const std::lock_guard lock(kept.mutex);
        if (const auto it = kept.widths.constFind(key); it != kept.widths.constEnd()) {
            return *it;
        }
    }
    const int width = QFontMetrics(font).horizontalAdvance(text);
    const std::lock_guard lock(kept.mutex);
    if (kept.widths.size() >= TextWidths::kMostKept) {
        kept.widths.clear();  // texts typed or computed without end: start again
    }
    kept.widths.insert(key, width);
    return width;
}

int TFont::CellAscent() const {
    ToQFont();
    return cellAscent_;
}

int TFont::CellDescent() const {
    ToQFont();
    return cellDescent_;
}

void TFont::Changed(bool face) {
    if (face) {
        qfontValid_ = false;
    }
    if (OnChange) {
        OnChange();
    }
}

}  // namespace velmora
