// A window with the colour buttons, labelled track bars and numeric edits as the test console
// uses them, for looking at them under a real display:
//   input_controls_demo [hot|down]   (hot: the first button hot, down: the second one down)
#include "controls/DsGroup.h"
#include "controls/ExTrackBar.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"

#include <QApplication>
#include <QLocale>

using namespace velmora;

namespace {

template <typename T>
T* Place(TWinControl* parent, int left, int top, int width, int height) {
    auto* control = new T(parent);
    control->SetParent(parent);
    control->SetBounds(left, top, width, height);
    return control;
}

TDsGroup* Group(TWinControl* parent, int left, int top, int width, int height,
                const char* caption) {
    auto* group = Place<TDsGroup>(parent, left, top, width, height);
    group->SetCaption(QString::fromUtf8(caption));
    return group;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString state = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    TWinControl window;
    window.SetBounds(0, 0, 700, 420);
    window.SetColor(RGB(102, 161, 55));
    window.setWindowTitle(QStringLiteral("Velmora - colour buttons, track bars, numeric edits"));

    // The function column.
    TDsGroup* functions = Group(&window, 568, 8, 121, 240, "  Funktionen  ");
    TFont bold;
    bold.SetName(QStringLiteral("Arial"));
    bold.SetHeight(-11);
    bold.SetStyle(fsBold);
    const char* captions[] = {"Zurücksetzen", "Bericht\nerstellen", "Neuer Patient", "Beenden"};
    const int tops[] = {28, 72, 132, 176};
    const int heights[] = {24, 37, 24, 24};
    std::vector<TjanColorButton*> buttons;
    for (int i = 0; i < 4; ++i) {
        auto* b = Place<TjanColorButton>(functions, 12, tops[i], 99, heights[i]);
        b->SetFont(bold);
        b->SetWordWrap(true);
        b->SetCaption(QString::fromUtf8(captions[i]));
        buttons.push_back(b);
    }
    buttons[3]->SetLatching(true);
    if (state == QLatin1String("hot")) {
        buttons[0]->DispatchMouseEnter();
    } else if (state == QLatin1String("down")) {
        buttons[1]->SetDown(true);
    }
    auto* tiled = Place<TjanColorButton>(functions, 12, 208, 24, 24);
    tiled->BackBitmap().SetSize(10, 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            tiled->BackBitmap().Canvas().SetPixels(x, y, (x + y) % 2 ? clYellow : clNavy);
        }
    }
    tiled->Repaint();

    // The two level bars with their groups, and a disabled bar with a suffix.
    TDsGroup* coarse = Group(&window, 8, 8, 409, 73, "  Lautstärkezunahme in 10ner Schritten  ");
    auto* bar1 = Place<TExTrackBar>(coarse, 8, 20, 389, 45);
    bar1->SetMax(9);
    bar1->SetLabelsInterval(1);
    bar1->SetPosition(3);
    TDsGroup* fine = Group(&window, 424, 8, 137, 185, " Lautstärke ");
    auto* bar2 = new TExTrackBar(fine);
    bar2->SetParent(fine);
    bar2->SetOrientation(trVertical);
    bar2->SetBounds(12, 28, 45, 153);
    bar2->SetMax(9);
    bar2->SetLabelsInterval(1);
    bar2->SetPosition(7);
    auto* bar3 = Place<TExTrackBar>(&window, 8, 96, 300, 45);
    bar3->SetMax(10);
    bar3->SetLabelsFactor(10);
    bar3->SetLabelsText(QStringLiteral("%"));
    bar3->SetEnabled(false);

    // The postcode and telephone fields, and one that rounds to two decimals.
    TDsGroup* patient = Group(&window, 8, 160, 409, 80, " Patient ");
    auto* postcode = Place<TNumEdit>(patient, 16, 24, 45, 22);
    postcode->SetText(QStringLiteral("12345"));
    auto* phone = Place<TNumEdit>(patient, 72, 24, 121, 22);
    phone->Clear();
    auto* rounded = Place<TNumEdit>(patient, 216, 24, 121, 22);
    rounded->SetRound(true);
    rounded->SetRoundingDecimals(2);
    rounded->SetText(QStringLiteral("3,14159"));

    window.show();
    return QApplication::exec();
}
