// A window with the drawn controls, for looking at them under a real display:
//   controls_demo [position]
#include "controls/AnalogGauge.h"
#include "controls/DsGroup.h"

#include <QApplication>

namespace velmora {
namespace {

class DemoWindow : public TWinControl {
public:
    DemoWindow() {
        SetBounds(0, 0, 560, 300);
        SetColor(clLime);
        setWindowTitle(QStringLiteral("Velmora - drawn controls"));
    }
};

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
    using namespace velmora;
    QApplication app(argc, argv);
    const float position = argc > 1 ? QString::fromLocal8Bit(argv[1]).toFloat() : 3.5f;

    DemoWindow window;
    auto* panel = new TDsGroup(&window);
    panel->SetParent(&window);
    panel->SetBounds(8, 8, 544, 284);
    panel->SetColor_Low(clYellow);

    auto* level = new TDsGroup(&window);
    level->SetParent(panel);
    level->SetBounds(16, 20, 249, 209);
    level->SetCaption(QStringLiteral(" Output - Level "));

    auto* gauge = new TAnalogGauge(&window);
    gauge->SetParent(level);
    gauge->SetBounds(12, 20, 225, 153);
    gauge->SetCaption(QStringLiteral("Lautstärke"));
    gauge->SetScale(10);
    gauge->SetAngle(90);
    gauge->SetCirclesRadius(2);
    gauge->SetNumberMainTicks(10);
    gauge->SetLengthSubTicks(10);
    gauge->SetIndMaximum(2);
    gauge->SetIndMinimum(1);
    gauge->SetFaceColor(clSilver);
    gauge->SetCenterColor(RGB(95, 95, 95));
    gauge->SetArrowWidth(2);
    TFont font;
    font.SetColor(clNavy);
    gauge->SetFont(font);
    gauge->SetPosition(position);

    const struct {
        const char* caption;
        TCapAlignment align;
        TTextStyle style;
        int radius;
        TColor face;
    } groups[] = {
        {"  Kanäle  ", caLeft, txRaised, 3, clNone},
        {" Wellenform ", caCenter, txShadowed, 10, RGB(255, 255, 200)},
        {"Stumm ", caRight, txLowered, 0, clNone},
    };
    int top = 20;
    for (const auto& g : groups) {
        auto* box = new TDsGroup(&window);
        box->SetParent(panel);
        box->SetBounds(280, top, 240, 70);
        box->SetCaption(QString::fromUtf8(g.caption));
        box->SetCapAlignment(g.align);
        box->SetTextStyle(g.style);
        box->SetCornerRadius(g.radius);
        box->SetFaceColor(g.face);
        top += 84;
    }
    window.show();
    return app.exec();
}
