// The yardstick of the test console's start-up and memory: the console's window built from stock
// Qt widgets. The same kinds and numbers of controls in the same places (16 group boxes, 20
// labels, 9 edit fields, a memo, 13 radio buttons, 2 sliders for the level bars, 2 round and 8
// push buttons, 6 lines for the arrows, the credits as a label), the gauge and the curve plot as
// plain widgets of their size, the same texts, font families and sizes, window size, title and
// icon; no sound. It loads the same font faces: Tahoma from the fonts-wine package where it is
// installed, which fontconfig does not know, for "MS Sans Serif" and "Tahoma", as the console
// does. Shown and ended after its first paint (see FirstPaint.h).

#include "FirstPaint.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>
#include <QWidget>

namespace {

const QColor kWindowGreen(102, 161, 55);

// The faces the console draws with: Arial is Liberation Sans by fontconfig's own aliases,
// "MS Sans Serif" and "Tahoma" are Tahoma when fonts-wine provides it.
void InstallFaces() {
    bool haveTahoma = false;
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf"}) {
        const QString path = QStringLiteral("/usr/share/wine/fonts/") + QString::fromLatin1(file);
        if (QFile::exists(path) && QFontDatabase::addApplicationFont(path) >= 0) {
            haveTahoma = true;
        }
    }
    const QStringList sans =
        haveTahoma ? QStringList{QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")}
                   : QStringList{QStringLiteral("DejaVu Sans")};
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), sans);
    if (!haveTahoma) {
        QFont::insertSubstitutions(QStringLiteral("Tahoma"), sans);
    }
}

// A family at a pixel size, drawn as the console draws text: no antialiasing, no hinting.
QFont Font(const char* family, int pixels, bool bold = false) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(false);
    return font;
}

QFont ArialBold(int pixels = 11) {
    return Font("Arial", pixels, true);
}

template <typename T>
T* Place(QWidget* parent, int left, int top, int width, int height) {
    auto* widget = new T(parent);
    widget->setGeometry(left, top, width, height);
    return widget;
}

QGroupBox* Group(QWidget* parent, int left, int top, int width, int height,
                 const char* title = "") {
    auto* group = Place<QGroupBox>(parent, left, top, width, height);
    group->setTitle(QString::fromUtf8(title));
    return group;
}

QLabel* Label(QWidget* parent, int left, int top, int width, int height, const char* text,
              const QFont& font) {
    auto* label = Place<QLabel>(parent, left, top, width, height);
    label->setText(QString::fromUtf8(text));
    label->setFont(font);
    if (width == 0) {
        label->adjustSize();
    }
    return label;
}

QRadioButton* Radio(QWidget* parent, int left, int top, int width, const char* text,
                    const QFont& font, bool handCursor = true) {
    auto* radio = Place<QRadioButton>(parent, left, top, width, 17);
    radio->setText(QString::fromUtf8(text));
    radio->setFont(font);
    if (handCursor) {
        radio->setCursor(Qt::PointingHandCursor);
    }
    return radio;
}

QLineEdit* Edit(QWidget* parent, int left, int top, int width) {
    return Place<QLineEdit>(parent, left, top, width, 22);
}

QSlider* LevelBar(QWidget* parent, Qt::Orientation orientation, int left, int top, int width,
                  int height) {
    auto* bar = Place<QSlider>(parent, left, top, width, height);
    bar->setOrientation(orientation);
    bar->setRange(0, 9);
    bar->setTickInterval(1);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setCursor(Qt::PointingHandCursor);
    return bar;
}

QPushButton* Button(QWidget* parent, int left, int top, int width, int height, const char* text,
                    const QFont& font) {
    auto* button = Place<QPushButton>(parent, left, top, width, height);
    button->setText(QString::fromUtf8(text));
    button->setFont(font);
    button->setFlat(true);
    return button;
}

QToolButton* RoundButton(QWidget* parent, int left, int top, int size) {
    auto* button = Place<QToolButton>(parent, left, top, size, size);
    button->setCheckable(true);
    return button;
}

QFrame* ArrowLine(QWidget* parent, int top) {
    auto* line = Place<QFrame>(parent, 12, top, 100, 17);
    line->setFrameShape(QFrame::HLine);
    return line;
}

QWidget* Plain(QWidget* parent, int left, int top, int width, int height, const QColor& color) {
    auto* widget = Place<QFrame>(parent, left, top, width, height);
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    return widget;
}

QIcon WindowIcon() {
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setPen(QColor(0, 87, 0));
    p.setBrush(kWindowGreen);
    p.drawRoundedRect(0, 0, 31, 31, 5, 5);
    p.setPen(QPen(Qt::white, 2));
    const QPoint curve[] = {{5, 22}, {10, 20}, {15, 17}, {20, 15}, {26, 10}};
    p.drawPolyline(curve, 5);
    p.end();
    return QIcon(QPixmap::fromImage(image));
}

void Build(QWidget* w) {
    w->setWindowTitle(QStringLiteral("  Velmora - Relativtest V 1.00"));
    w->setFixedSize(873, 569);
    w->setWindowIcon(WindowIcon());
    w->setFont(Font("MS Sans Serif", 11));
    w->setAutoFillBackground(true);
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, kWindowGreen);
    w->setPalette(palette);
    const QFont arial = Font("Arial", 11);

    // Top band: the patient record.
    auto* g13 = Group(w, 8, 0, 857, 129);
    Label(g13, 16, 12, 55, 11, "Patienten-ID", ArialBold());
    QLineEdit* first = Edit(g13, 16, 24, 121);
    Label(g13, 152, 12, 40, 11, "Vorname", ArialBold());
    Edit(g13, 152, 24, 161);
    Label(g13, 332, 12, 25, 11, "Name", ArialBold());
    Edit(g13, 332, 24, 233);
    Label(g13, 16, 48, 18, 11, "PLZ", ArialBold());
    Edit(g13, 16, 60, 45);
    Label(g13, 72, 48, 40, 11, "Wohnort", ArialBold());
    Edit(g13, 72, 60, 121);
    Label(g13, 216, 48, 29, 11, "Straße", ArialBold());
    Edit(g13, 216, 60, 349);
    Label(g13, 16, 84, 33, 11, "Telefon", ArialBold());
    Edit(g13, 16, 96, 121);
    Label(g13, 152, 84, 27, 11, "E-Mail", ArialBold());
    Edit(g13, 152, 96, 161);
    Label(g13, 332, 84, 108, 11, "Behandelnder HNO-Arzt", ArialBold());
    Edit(g13, 332, 96, 233);
    Label(g13, 576, 12, 63, 11, "Bemerkungen", ArialBold());
    auto* memo = Place<QPlainTextEdit>(g13, 576, 24, 273, 49);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setFont(arial);
    auto* g14 = Group(g13, 576, 72, 133, 49);
    Button(g14, 20, 16, 98, 24, "Felder löschen", w->font());
    auto* g15 = Group(g13, 716, 72, 133, 49);
    Button(g15, 17, 15, 98, 24, "Patientenakte", w->font());

    // Main panel.
    auto* g1 = Group(w, 8, 128, 857, 433);

    // Output level.
    auto* g2 = Group(g1, 16, 20, 249, 209, " Output - Level ");
    auto* gauge = Plain(g2, 12, 20, 225, 153, QColor(0xC0, 0xC0, 0xC0));
    gauge->setFont(Font("MS Sans Serif", 11));
    Label(g2, 21, 184, 206, 14, "Relativwert des abgegebenen Pegels", ArialBold());

    // Options.
    auto* g3 = Group(g1, 276, 20, 433, 209, "  Optionen  ");
    auto* g4 = Group(g3, 12, 20, 81, 85, "  Kanäle  ");
    Radio(g4, 8, 20, 61, "Links", arial);
    Radio(g4, 8, 40, 61, "Rechts", arial);
    Radio(g4, 8, 60, 61, "Beide", arial)->setChecked(true);
    auto* g5 = Group(g3, 100, 20, 261, 85, "  Ausgabefrequenz  ");
    Radio(g5, 16, 20, 57, "125 Hz", ArialBold());
    Radio(g5, 100, 20, 57, "250 Hz", ArialBold());
    Radio(g5, 184, 20, 57, "500 Hz", ArialBold());
    Radio(g5, 16, 40, 61, "1000 Hz", ArialBold())->setChecked(true);
    Radio(g5, 100, 40, 61, "2000 Hz", ArialBold());
    Radio(g5, 184, 40, 61, "4000 Hz", ArialBold());
    Radio(g5, 16, 60, 113, "8000 Hz", ArialBold(), false);
    auto* g7 = Group(g3, 12, 120, 409, 73, "  Lautstärkezunahme in 10ner Schritten  ");
    LevelBar(g7, Qt::Horizontal, 8, 20, 389, 45);
    auto* g6 = Group(g3, 368, 20, 53, 85, "Stumm ");
    RoundButton(g6, 8, 28, 37)->setCursor(Qt::PointingHandCursor);

    // Hearing curve.
    auto* g8 = Group(g1, 12, 236, 381, 185, "   relative Hörkurve   ");
    Plain(g8, 20, 28, 340, 140, kWindowGreen);

    // Threshold capture.
    auto* g11 = Group(g1, 400, 236, 137, 73);
    RoundButton(g11, 8, 20, 41);
    auto* take = Label(g11, 56, 28, 73, 29, "Wert\nübernehmen", Font("MS Sans Serif", 11, true));
    take->setWordWrap(true);
    auto* g16 = Group(g1, 400, 312, 137, 57);
    Button(g16, 8, 16, 120, 33, "Kurve abspeichern", w->font());

    // Fine level and the waveform legend.
    auto* g10 = Group(g1, 544, 236, 169, 185, " Lautstärke ");
    Label(g10, 12, 16, 17, 13, "fein", w->font());
    LevelBar(g10, Qt::Vertical, 12, 28, 45, 153);
    Label(g10, 88, 128, 0, 0, "Sinusform", arial);
    Label(g10, 88, 144, 0, 0, "Dreieckform", arial);
    Label(g10, 88, 160, 0, 0, "Rechteckform", arial);

    // Waveform.
    auto* g12 = Group(g1, 616, 252, 81, 105, " Wellenform ");
    Radio(g12, 16, 20, 17, "", arial)->setChecked(true);
    Radio(g12, 16, 48, 17, "", arial);
    Radio(g12, 16, 76, 17, "", arial);
    Label(g12, 44, 12, 19, 37, "~", ArialBold(32));
    Label(g12, 44, 44, 19, 37, "^", ArialBold(32));
    Label(g12, 44, 76, 17, 19, "|_|", ArialBold(16));

    // Functions column.
    auto* g9 = Group(g1, 728, 20, 121, 401, "  Funktionen  ");
    Button(g9, 12, 28, 99, 24, "Zurücksetzen", ArialBold());
    ArrowLine(g9, 52);
    Button(g9, 12, 72, 99, 37, "Bericht\nerstellen", ArialBold());
    ArrowLine(g9, 112);
    Button(g9, 12, 132, 99, 24, "Neuer Patient", ArialBold());
    ArrowLine(g9, 160);
    auto* credits = Label(g9, 8, 176, 109, 81,
                          "Velmora\nRelativtest V 1.00\n(c) 2026\n\nDas Velmora-Team\n\n"
                          "Dank an alle,\ndie mit uns\ngetestet haben.\n\n"
                          "Vorschläge und Kritik\nsind willkommen!",
                          Font("Tahoma", 11));
    credits->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    ArrowLine(g9, 256);
    Button(g9, 12, 276, 99, 24, "Homepage", ArialBold());
    ArrowLine(g9, 304);
    Button(g9, 12, 324, 99, 24, "Post an Autor", ArialBold());
    ArrowLine(g9, 348);
    Button(g9, 12, 368, 99, 24, "Beenden", ArialBold());

    first->setFocus();
}

}  // namespace

int main(int argc, char* argv[]) {
    const auto options = velmora::bench::ParseProbeOptions(argc, argv);
    QApplication app(argc, argv);
    InstallFaces();
    QWidget window;
    Build(&window);
    velmora::bench::QuitAfterFirstPaint quit(&window, options.stayMs);
    window.show();
    QApplication::exec();
    velmora::bench::ReportMemory(options);
    return 0;
}
