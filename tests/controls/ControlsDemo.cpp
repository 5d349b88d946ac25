// A window with the drawn controls, for looking at them under a real display:
//   controls_demo [position] [--muted] [--pressed]
// The mute button toggles as on the test console (red while muted, the gauge then at 0);
// --muted starts muted, --pressed shows the threshold button pressed.
#include "controls/AnalogGauge.h"
#include "controls/DsGroup.h"
#include "controls/Hemibtn.h"

#include <QApplication>

namespace velmora {
namespace {

constexpr TColor kWindowGreen = RGB(102, 161, 55);

class DemoWindow : public TWinControl {
public:
    DemoWindow() {
        SetBounds(0, 0, 560, 300);
        SetColor(kWindowGreen);
        setWindowTitle(QStringLiteral("Velmora - drawn controls"));
    }
};

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
    using namespace velmora;
    QApplication app(argc, argv);
    float position = 3.5f;
    bool muted = false;
    bool pressed = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QStringLiteral("--muted")) {
            muted = true;
        } else if (arg == QStringLiteral("--pressed")) {
            pressed = true;
        } else {
            position = arg.toFloat();
        }
    }

    DemoWindow window;
    auto* panel = new TDsGroup(&window);
    panel->SetParent(&window);
    panel->SetBounds(8, 8, 544, 284);
    panel->SetColor(kWindowGreen);
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
    gauge->SetCenterColor(kWindowGreen);
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
        {"  Kanäle  ", caRight, txLowered, 0, clNone},
        {" Wellenform ", caCenter, txShadowed, 10, RGB(255, 255, 200)},
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

    // The test console's round buttons in their group boxes.
    auto* muteBox = new TDsGroup(&window);
    muteBox->SetParent(panel);
    muteBox->SetBounds(280, 188, 53, 85);
    muteBox->SetCaption(QStringLiteral("Stumm "));
    auto* mute = new THemisphereButton(&window);
    mute->SetParent(muteBox);
    mute->SetBounds(8, 28, 37, 37);
    mute->setCursor(Qt::PointingHandCursor);
    mute->SetFaceColor(RGB(0, 128, 0));
    mute->SetBorderColor(clGreen);
    const auto toggleMute = [=](TComponent*) {
        const bool nowMuted = mute->FaceColor() != RGB(255, 0, 0);
        mute->SetFaceColor(nowMuted ? RGB(255, 0, 0) : RGB(0, 128, 0));
        gauge->SetPosition(nowMuted ? 0.0f : position);
    };
    mute->OnClick = toggleMute;
    if (muted) {
        toggleMute(mute);
    }

    auto* captureBox = new TDsGroup(&window);
    captureBox->SetParent(panel);
    captureBox->SetBounds(344, 188, 137, 73);
    auto* capture = new THemisphereButton(&window);
    capture->SetParent(captureBox);
    capture->SetBounds(8, 20, 41, 41);
    capture->setCursor(Qt::PointingHandCursor);
    capture->SetFaceColor(RGB(0, 128, 0));
    capture->SetDown(pressed);
    auto* label = new TPaintBox(&window);
    label->SetParent(captureBox);
    label->SetBounds(56, 28, 73, 29);
    label->OnPaint = [label](TComponent*) {
        TCanvas& c = label->Canvas();
        c.SetFont(label->Font());
        c.Font().SetStyle(fsBold);
        c.Brush().SetStyle(bsClear);
        TRect r = label->ClientRect();
        c.DrawText(QStringLiteral("Wert\nübernehmen"), r, DT_LEFT);
    };

    window.show();
    return app.exec();
}
