// A window with scrolling credits and arrow lines, for looking at them under a real display:
//   credits_fleches_demo [ticks]   (scrolls the credits by that many ticks before showing)
#include "controls/Credits.h"
#include "controls/DsGroup.h"
#include "controls/Fleches.h"

#include <QApplication>

namespace velmora {
namespace {

class DemoWindow : public TWinControl {
public:
    DemoWindow() {
        SetBounds(0, 0, 600, 420);
        SetColor(clLime);
        setWindowTitle(QStringLiteral("Velmora - credits and arrow lines"));
    }
};

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
    using namespace velmora;
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 0;

    DemoWindow window;
    // The functions column of the main window: dividers and the credits between them.
    auto* column = new TDsGroup(&window);
    column->SetParent(&window);
    column->SetBounds(8, 8, 121, 401);
    column->SetCaption(QStringLiteral("  Funktionen  "));
    for (int top : {52, 112, 160, 256, 304, 348}) {
        auto* f = new TFleches(&window);
        f->SetParent(column);
        f->SetBounds(12, top, 100, 17);
        f->StyleLigne().SetColor(clYellow);
        f->StyleLigne().SetStyle(psInsideFrame);
        f->SetPositionLigne(Horizontale);
        f->SetPointe1Forme(Ronde);
        f->SetPointe2Forme(Ronde);
        f->SetPointe1Longueur(1);
        f->SetPointe2Longueur(1);
        f->SetPointe1Largeur(1);
        f->SetPointe2Largeur(1);
    }
    auto* credits = new TScrollingCredits(&window);
    credits->SetParent(column);
    credits->SetBounds(8, 176, 109, 81);
    TFont font;
    font.SetName(QStringLiteral("Tahoma"));
    font.SetColor(clBlack);
    credits->SetCreditsFont(font);
    credits->SetBackgroundColor(clLime);
    credits->SetBorderColor(clLime);
    credits->SetInterval(70);
    credits->SetAnimate(true);
    for (int i = 0; i < ticks; ++i) {
        credits->DispatchTimer();
    }

    // Every figure with a different point shape, and the still display of the sample lines.
    const TFPositionLigne figures[] = {
        Verticale,       Horizontale,    DiagonaleDroite, DiagonaleGauche, CoudeDroiteHaut,
        CoudeGaucheHaut, CoudeDroiteBas, CoudeGaucheBas,  CompleteDroite,  CompleteDiagonale};
    for (int i = 0; i < 10; ++i) {
        auto* f = new TFleches(&window);
        f->SetParent(&window);
        f->SetBounds(140 + (i % 5) * 90, 8 + (i / 5) * 90, 80, 80);
        f->StyleLigne().SetColor(clNavy);
        f->SetPositionLigne(figures[i]);
        f->SetPointe1Forme(TFFormePointe(i % 4));
        f->SetPointe2Forme(TFFormePointe((i + 1) % 4));
        f->SetPointe1Couleur(clRed);
        f->SetPointe2Couleur(clBlue);
        f->SetPointe2Type(i % 2 == 0 ? Pleine : Vide);
        f->SetPointe1Largeur(16);
        f->SetPointe1Longueur(12);
    }
    auto* still = new TScrollingCredits(&window);
    still->SetParent(&window);
    still->SetBounds(140, 190, 305, 201);
    window.show();
    return app.exec();
}
