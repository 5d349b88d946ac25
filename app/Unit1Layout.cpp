// The stored layout of the test console: every component of the window with the property values
// stored for it, assigned through the components' own setters in their loading state, as a
// designer-made window is read. Properties left at their declared defaults are not stored.
#include "app/Unit1.h"

#include "audio/AMixer.h"
#include "audio/SSVolumeController.h"
#include "audio/ToneGen.h"
#include "controls/AnalogGauge.h"
#include "controls/Credits.h"
#include "controls/DsGroup.h"
#include "controls/ExTrackBar.h"
#include "controls/Fleches.h"
#include "controls/Hemibtn.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "framework/Edit.h"
#include "framework/GraphicControl.h"
#include "framework/Label.h"
#include "framework/Memo.h"
#include "framework/RadioButton.h"

#include <QIcon>
#include <QPixmap>

#include <tuple>

namespace velmora {
namespace {

constexpr int kAnsiCharset = 0;

TFont MakeFont(const char* name, int height, TFontStyles style = 0, TColor color = clWindowText) {
    TFont font;
    font.SetName(QString::fromLatin1(name));
    font.SetHeight(height);
    font.SetStyle(style);
    font.SetColor(color);
    return font;
}

TFont ArialBold(int height = -11) {
    return MakeFont("Arial", height, fsBold);
}

// A component of the window in its loading state, placed in its parent.
template <typename T>
T* Create(TForm1* form, QWidget* parent, const char* name, int left, int top, int width,
          int height) {
    auto* component = new T(form);
    component->BeginLoading();
    component->SetName(QString::fromLatin1(name));
    component->SetParent(parent);
    component->SetBounds(left, top, width, height);
    return component;
}

TDsGroup* Group(TForm1* form, QWidget* parent, const char* name, int left, int top, int width,
                int height, const char* caption = "") {
    auto* group = Create<TDsGroup>(form, parent, name, left, top, width, height);
    group->SetCaption(QString::fromUtf8(caption));
    return group;
}

TLabel* Label(TForm1* form, QWidget* parent, const char* name, int left, int top, int width,
              int height, const char* caption, const TFont& font) {
    auto* label = Create<TLabel>(form, parent, name, left, top, width, height);
    label->SetCaption(QString::fromUtf8(caption));
    label->SetFont(font);
    return label;
}

TRadioButton* Radio(TForm1* form, QWidget* parent, const char* name, int left, int top, int width,
                    const char* caption, const TFont& font, bool handCursor = true) {
    auto* radio = Create<TRadioButton>(form, parent, name, left, top, width, 17);
    radio->SetCaption(QString::fromUtf8(caption));
    radio->SetFont(font);
    if (handCursor) {
        radio->setCursor(Qt::PointingHandCursor);
    }
    return radio;
}

void LevelBar(TExTrackBar* bar) {
    bar->SetMin(0);
    bar->SetMax(9);
    bar->SetFrequency(1);
    bar->SetPosition(0);
    bar->SetTickMarks(tmBottomRight);
    bar->SetTickStyle(tsAuto);
    bar->SetLabelsFactor(1);
    bar->SetLabelsFactorOperation(foMul);
    bar->SetLabelsInterval(1);
    bar->SetSelEnable(false);
    bar->setCursor(Qt::PointingHandCursor);
}

// The bevel and glyph settings both round buttons share.
void RoundButton(THemisphereButton* button, TColor borderColor) {
    button->SetFaceColor(clGreen);
    button->SetBorderColor(borderColor);
    button->SetBevelOuter(hbLowered);
    button->SetBevelInner(hbNone);
    button->SetBevelWidth(2);
    button->SetBorderStyle(bsNone);
    button->SetFaceShaded(true);
    button->SetGlyphShaded(true);
    button->SetGlyphTransparent(true);
    button->SetGlyphIndex(1);
    button->SetNumGlyphs(1);
    button->SetAllowAllUp(false);
    button->SetAttenControl(1);
}

TjanColorButton* FunctionButton(TForm1* form, QWidget* parent, const char* name, int top,
                                int height, const char* caption) {
    auto* button = Create<TjanColorButton>(form, parent, name, 12, top, 99, height);
    TFont font = ArialBold();
    font.SetCharset(kAnsiCharset);
    button->SetFont(font);
    button->SetCaption(QString::fromUtf8(caption));
    button->SetAlignment(taCenter);
    button->SetWordWrap(true);
    button->SetFlat(true);
    button->SetMarginHorizontal(8);
    button->SetMarginVertical(4);
    button->SetColor(clSilver);
    button->SetHotTrack(true);
    button->SetHotColor(clYellow);
    button->SetHotFontColor(clRed);
    button->SetDownColor(RGB(169, 169, 169));
    button->SetDownFontColor(clBlack);
    button->SetLatching(false);
    return button;
}

TFleches* ArrowLine(TForm1* form, QWidget* parent, const char* name, int top) {
    auto* line = Create<TFleches>(form, parent, name, 12, top, 100, 17);
    line->StyleLigne().SetColor(clYellow);
    line->StyleLigne().SetStyle(psInsideFrame);
    line->SetPositionLigne(Horizontale);
    line->SetPointe1Forme(Ronde);
    line->SetPointe2Forme(Ronde);
    line->SetPointe1Longueur(1);
    line->SetPointe2Longueur(1);
    line->SetPointe1Largeur(1);
    line->SetPointe2Largeur(1);
    line->SetPointe1Epaisseur(1);
    line->SetPointe2Epaisseur(1);
    return line;
}

// The scrolling credits: product, year, makers, thanks and a request for suggestions.
const char* const kCredits[] = {
    "&bVelmora",
    "Relativtest V 1.00",
    "(c) 2026",
    "",
    "&bDas Velmora-Team",
    "",
    "Dank an alle,",
    "die mit uns",
    "getestet haben.",
    "",
    "Vorschläge und Kritik",
    "sind willkommen!",
};

// The window's icon: 32 x 32 in a few plain colours, a hearing curve on the test console's green.
QIcon WindowIcon() {
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(Qt::white);
    TCanvas c(&image);
    c.Pen().SetColor(RGB(0, 87, 0));
    c.Brush().SetColor(RGB(102, 161, 55));
    c.RoundRect(0, 0, 32, 32, 10, 10);
    c.Pen().SetColor(clWhite);
    c.Pen().SetWidth(2);
    c.Polyline({QPoint(5, 22), QPoint(10, 20), QPoint(15, 17), QPoint(20, 15), QPoint(26, 10)});
    c.Pen().SetWidth(1);
    for (const auto& [x, y, colour] :
         {std::tuple{10, 20, RGB(135, 0, 255)}, std::tuple{20, 15, RGB(255, 0, 255)}}) {
        c.Pen().SetColor(colour);
        c.Brush().SetColor(colour);
        c.Ellipse(x - 2, y - 2, x + 3, y + 3);
    }
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace

void TForm1::LoadLayout(SoundOutput& sound, MixerDevice& mixer) {
    TForm1* f = this;
    BeginLoading();
    SetName(QStringLiteral("Form1"));
    SetCaption(QStringLiteral("  Velmora - Relativtest V 1.00"));
    SetBorderStyle(bsSingleFixed);
    SetBorderIcons(biSystemMenu | biMinimize);
    SetPosition(poScreenCenter);
    SetClientSize(873, 569);
    SetColor(clLime);
    setWindowIcon(WindowIcon());
    const TFont arial = MakeFont("Arial", -11);

    // Top band: the patient record.
    DsGroup13 = Group(f, f, "DsGroup13", 8, 0, 857, 129);
    Label12 = Label(f, DsGroup13, "Label12", 16, 12, 55, 11, "Patienten-ID", ArialBold());
    Edit1 = Create<TEdit>(f, DsGroup13, "Edit1", 16, 24, 121, 22);
    Label13 = Label(f, DsGroup13, "Label13", 152, 12, 40, 11, "Vorname", ArialBold());
    Edit2 = Create<TEdit>(f, DsGroup13, "Edit2", 152, 24, 161, 22);
    Label14 = Label(f, DsGroup13, "Label14", 332, 12, 25, 11, "Name", ArialBold());
    Edit3 = Create<TEdit>(f, DsGroup13, "Edit3", 332, 24, 233, 22);
    Label16 = Label(f, DsGroup13, "Label16", 16, 48, 18, 11, "PLZ", ArialBold());
    NumEdit1 = Create<TNumEdit>(f, DsGroup13, "NumEdit1", 16, 60, 45, 22);
    Label15 = Label(f, DsGroup13, "Label15", 72, 48, 40, 11, "Wohnort", ArialBold());
    Edit4 = Create<TEdit>(f, DsGroup13, "Edit4", 72, 60, 121, 22);
    Label17 = Label(f, DsGroup13, "Label17", 216, 48, 29, 11, "Straße", ArialBold());
    Edit5 = Create<TEdit>(f, DsGroup13, "Edit5", 216, 60, 349, 22);
    Label18 = Label(f, DsGroup13, "Label18", 16, 84, 33, 11, "Telefon", ArialBold());
    NumEdit2 = Create<TNumEdit>(f, DsGroup13, "NumEdit2", 16, 96, 121, 22);
    Label19 = Label(f, DsGroup13, "Label19", 152, 84, 27, 11, "E-Mail", ArialBold());
    Edit6 = Create<TEdit>(f, DsGroup13, "Edit6", 152, 96, 161, 22);
    Label20 =
        Label(f, DsGroup13, "Label20", 332, 84, 108, 11, "Behandelnder HNO-Arzt", ArialBold());
    Edit7 = Create<TEdit>(f, DsGroup13, "Edit7", 332, 96, 233, 22);
    Label24 = Label(f, DsGroup13, "Label24", 576, 12, 63, 11, "Bemerkungen", ArialBold());
    Memo1 = Create<TMemo>(f, DsGroup13, "Memo1", 576, 24, 273, 49);
    Memo1->SetLines({QString()});
    Memo1->SetScrollBars(ssVertical);
    Memo1->SetFont(arial);
    DsGroup14 = Group(f, DsGroup13, "DsGroup14", 576, 72, 133, 49);
    janColorButton7 = Create<TjanColorButton>(f, DsGroup14, "janColorButton7", 20, 16, 98, 24);
    janColorButton7->SetCaption(QStringLiteral("Felder löschen"));
    // Where the credit line stood (the scrolling credits keep the copyright): "Patientenakte",
    // as "Felder löschen" beside it, centred at (790, 99) of the client area.
    DsGroup15 = Group(f, DsGroup13, "DsGroup15", 716, 72, 133, 49);
    janColorButton9 = Create<TjanColorButton>(f, DsGroup15, "janColorButton9", 17, 15, 98, 24);
    janColorButton9->SetCaption(QStringLiteral("Patientenakte"));
    // The resource's placeholder texts, which start-up clears.
    const std::pair<TEdit*, const char*> placeholders[] = {
        {Edit1, "Edit1"}, {Edit2, "Edit2"}, {Edit3, "Edit3"}, {Edit4, "Edit4"}, {Edit5, "Edit5"},
        {Edit6, "Edit6"}, {Edit7, "Edit7"}, {NumEdit1, "0"},  {NumEdit2, "0"},
    };
    for (const auto& [edit, text] : placeholders) {
        edit->SetText(QString::fromLatin1(text));
    }
    NumEdit1->SetRoundingDecimals(0);
    NumEdit2->SetRoundingDecimals(0);

    // Main panel.
    DsGroup1 = Group(f, f, "DsGroup1", 8, 128, 857, 433);
    DsGroup1->SetColor(clLime);
    DsGroup1->SetColor_Low(clYellow);

    // Output level.
    DsGroup2 = Group(f, DsGroup1, "DsGroup2", 16, 20, 249, 209, " Output - Level ");
    AnalogGauge1 = Create<TAnalogGauge>(f, DsGroup2, "AnalogGauge1", 12, 20, 225, 153);
    AnalogGauge1->SetCaption(QStringLiteral("Lautstärke"));
    AnalogGauge1->SetScale(10);
    AnalogGauge1->SetAngle(90);
    AnalogGauge1->SetCirclesRadius(2);
    AnalogGauge1->SetNumberMainTicks(10);
    AnalogGauge1->SetLengthSubTicks(10);
    AnalogGauge1->SetFaceOptoins(
        FaceOption(ShowMargin) | FaceOption(ShowMainTicks) | FaceOption(ShowSubTicks) |
        FaceOption(ShowIndicatorMax) | FaceOption(ShowValues) | FaceOption(ShowCenter) |
        FaceOption(ShowFrame) | FaceOption(Show3D) | FaceOption(ShowCaption));
    AnalogGauge1->SetIndMaximum(2);
    AnalogGauge1->SetIndMinimum(1);
    AnalogGauge1->SetFaceColor(clSilver);
    AnalogGauge1->SetCenterColor(clLime);
    AnalogGauge1->SetCenterRadius(8);
    AnalogGauge1->SetCircleColor(clBlue);
    AnalogGauge1->SetArrowWidth(2);
    AnalogGauge1->SetFont(MakeFont("MS Sans Serif", -11, 0, clNavy));
    TFont ansiBold = ArialBold();
    ansiBold.SetCharset(kAnsiCharset);
    Label21 = Label(f, DsGroup2, "Label21", 21, 184, 206, 14, "Relativwert des abgegebenen Pegels",
                    ansiBold);

    // Options.
    DsGroup3 = Group(f, DsGroup1, "DsGroup3", 276, 20, 433, 209, "  Optionen  ");
    DsGroup4 = Group(f, DsGroup3, "DsGroup4", 12, 20, 81, 85, "  Kanäle  ");
    RadioButton1 = Radio(f, DsGroup4, "RadioButton1", 8, 20, 61, "Links", arial);
    RadioButton1->SetColor(clAqua);
    RadioButton2 = Radio(f, DsGroup4, "RadioButton2", 8, 40, 61, "Rechts", arial);
    RadioButton2->SetColor(clFuchsia);
    RadioButton3 = Radio(f, DsGroup4, "RadioButton3", 8, 60, 61, "Beide", arial);
    RadioButton3->SetColor(clYellow);
    DsGroup5 = Group(f, DsGroup3, "DsGroup5", 100, 20, 261, 85, "  Ausgabefrequenz  ");
    RadioButton4 = Radio(f, DsGroup5, "RadioButton4", 16, 20, 57, "125 Hz", ArialBold());
    RadioButton5 = Radio(f, DsGroup5, "RadioButton5", 100, 20, 57, "250 Hz", ArialBold());
    RadioButton6 = Radio(f, DsGroup5, "RadioButton6", 184, 20, 57, "500 Hz", ArialBold());
    RadioButton7 = Radio(f, DsGroup5, "RadioButton7", 16, 40, 61, "1000 Hz", ArialBold());
    RadioButton8 = Radio(f, DsGroup5, "RadioButton8", 100, 40, 61, "2000 Hz", ArialBold());
    RadioButton9 = Radio(f, DsGroup5, "RadioButton9", 184, 40, 61, "4000 Hz", ArialBold());
    RadioButton10 = Radio(f, DsGroup5, "RadioButton10", 16, 60, 113, "8000 Hz", ArialBold(), false);
    DsGroup7 = Group(f, DsGroup3, "DsGroup7", 12, 120, 409, 73,
                     "  Lautstärkezunahme in 10ner Schritten  ");
    ExTrackBar1 = Create<TExTrackBar>(f, DsGroup7, "ExTrackBar1", 8, 20, 389, 45);
    ExTrackBar1->SetOrientation(trHorizontal);
    LevelBar(ExTrackBar1);
    DsGroup6 = Group(f, DsGroup3, "DsGroup6", 368, 20, 53, 85, "Stumm ");
    HemisphereButton1 = Create<THemisphereButton>(f, DsGroup6, "HemisphereButton1", 8, 28, 37, 37);
    HemisphereButton1->setCursor(Qt::PointingHandCursor);
    RoundButton(HemisphereButton1, clGreen);

    // Hearing curve.
    DsGroup8 = Group(f, DsGroup1, "DsGroup8", 12, 236, 381, 185, "   relative Hörkurve   ");
    PaintBox1 = Create<TPaintBox>(f, DsGroup8, "PaintBox1", 20, 28, 340, 140);
    PaintBox1->SetColor(clLime);

    // Threshold capture.
    DsGroup11 = Group(f, DsGroup1, "DsGroup11", 400, 236, 137, 73);
    HemisphereButton2 = Create<THemisphereButton>(f, DsGroup11, "HemisphereButton2", 8, 20, 41, 41);
    RoundButton(HemisphereButton2, clGray);
    Label23 = Create<TLabel>(f, DsGroup11, "Label23", 56, 28, 73, 29);
    Label23->SetAutoSize(false);
    Label23->SetFont(MakeFont("MS Sans Serif", -11, fsBold));

    DsGroup16 = Group(f, DsGroup1, "DsGroup16", 400, 312, 137, 57);
    janColorButton1 = Create<TjanColorButton>(f, DsGroup16, "janColorButton1", 8, 16, 120, 33);
    janColorButton1->SetCaption(QStringLiteral("Kurve abspeichern"));

    // Fine level and the waveform legend.
    DsGroup10 = Group(f, DsGroup1, "DsGroup10", 544, 236, 169, 185, " Lautstärke ");
    Label11 = Create<TLabel>(f, DsGroup10, "Label11", 12, 16, 17, 13);
    Label11->SetCaption(QStringLiteral("fein"));
    ExTrackBar2 = Create<TExTrackBar>(f, DsGroup10, "ExTrackBar2", 12, 28, 45, 153);
    ExTrackBar2->SetOrientation(trVertical);
    LevelBar(ExTrackBar2);
    Label4 = Label(f, DsGroup10, "Label4", 88, 128, 0, 0, "Sinusform", arial);
    Label5 = Label(f, DsGroup10, "Label5", 88, 144, 0, 0, "Dreieckform", arial);
    Label6 = Label(f, DsGroup10, "Label6", 88, 160, 0, 0, "Rechteckform", arial);

    // Waveform (over the right part of the fine level group).
    DsGroup12 = Group(f, DsGroup1, "DsGroup12", 616, 252, 81, 105, " Wellenform ");
    RadioButton11 = Radio(f, DsGroup12, "RadioButton11", 16, 20, 17, "", arial);
    RadioButton12 = Radio(f, DsGroup12, "RadioButton12", 16, 48, 17, "", arial);
    RadioButton13 = Radio(f, DsGroup12, "RadioButton13", 16, 76, 17, "", arial);
    Label1 = Label(f, DsGroup12, "Label1", 44, 12, 19, 37, "~", ArialBold(-32));
    Label2 = Label(f, DsGroup12, "Label2", 44, 44, 19, 37, "^", ArialBold(-32));
    Label3 = Label(f, DsGroup12, "Label3", 44, 76, 17, 19, "|_|", ArialBold(-16));

    // Functions column.
    DsGroup9 = Group(f, DsGroup1, "DsGroup9", 728, 20, 121, 401, "  Funktionen  ");
    janColorButton5 = FunctionButton(f, DsGroup9, "janColorButton5", 28, 24, "Zurücksetzen");
    Fleches1 = ArrowLine(f, DsGroup9, "Fleches1", 52);
    janColorButton2 = FunctionButton(f, DsGroup9, "janColorButton2", 72, 37, "Bericht erstellen");
    Fleches2 = ArrowLine(f, DsGroup9, "Fleches2", 112);
    janColorButton3 = FunctionButton(f, DsGroup9, "janColorButton3", 132, 24, "Neuer Patient");
    Fleches5 = ArrowLine(f, DsGroup9, "Fleches5", 160);
    ScrollingCredits1 =
        Create<TScrollingCredits>(f, DsGroup9, "ScrollingCredits1", 8, 176, 109, 81);
    ScrollingCredits1->SetCreditsFont(MakeFont("Tahoma", -11, 0, clBlack));
    ScrollingCredits1->SetBackgroundColor(clLime);
    ScrollingCredits1->SetBorderColor(clLime);
    ScrollingCredits1->SetInterval(70);
    ScrollingCredits1->SetShowBorder(true);
    QStringList credits;
    for (const char* line : kCredits) {
        credits << QString::fromUtf8(line);
    }
    ScrollingCredits1->SetCredits(credits);
    ScrollingCredits1->SetAnimate(true);
    Fleches6 = ArrowLine(f, DsGroup9, "Fleches6", 256);
    janColorButton8 = FunctionButton(f, DsGroup9, "janColorButton8", 276, 24, "Homepage");
    Fleches4 = ArrowLine(f, DsGroup9, "Fleches4", 304);
    janColorButton6 = FunctionButton(f, DsGroup9, "janColorButton6", 324, 24, "Post an Autor");
    Fleches3 = ArrowLine(f, DsGroup9, "Fleches3", 348);
    janColorButton4 = FunctionButton(f, DsGroup9, "janColorButton4", 368, 24, "Beenden");

    // Components without a place on the window. Creating the tone generator saves the device's
    // wave-out volume; the volume controller and the mixer model open mixer device 0.
    AudioTools1 = std::make_unique<TssVolumeController>(f, mixer);
    AudioTools1->BeginLoading();
    AudioTools1->SetName(QStringLiteral("AudioTools1"));
    ToneGen1 = std::make_unique<TToneGen>(f, sound);
    ToneGen1->BeginLoading();
    ToneGen1->SetName(QStringLiteral("ToneGen1"));
    ToneGen1->SetFrequency(125);
    // 40 ms hold whole periods of every test frequency (10 ms hold 1.25 periods of 125 Hz and
    // 2.5 of 250 Hz), so the looping image repeats without a seam at each of them.
    ToneGen1->SetDuration(40);
    ToneGen1->SetAttack(0);
    ToneGen1->SetHold(0);
    ToneGen1->SetDecay(0);
    ToneGen1->SetSustain(0);
    ToneGen1->SetRelease(0);
    ToneGen1->SetLoop(true);
    ToneGen1->SetStereo(true);
    ToneGen1->SetAMAmplitude(0);
    ToneGen1->SetAMWaveform(tgSine);
    ToneGen1->SetAMFrequency(0.5f);
    AudioMixer1 = std::make_unique<TAudioMixer>(f, mixer);
    AudioMixer1->BeginLoading();
    AudioMixer1->SetName(QStringLiteral("AudioMixer1"));
    AudioMixer1->SetMixerId(0);
    SaveDialog1 = std::make_unique<TSaveDialog>(f);
    SaveDialog1->SetName(QStringLiteral("SaveDialog1"));
    // The word processor connection: connects on the first report, not at start-up.
    WordApplication1 = std::make_unique<TWordApplication>(f);
    WordApplication1->BeginLoading();
    WordApplication1->SetName(QStringLiteral("WordApplication1"));
    WordApplication1->SetAutoConnect(false);
    WordApplication1->SetConnectKind(ckRunningOrNew);

    BindEvents();
    EndLoading();

    // Tab order of the top band, then the stimulus controls.
    QWidget* const order[] = {
        Edit1,        Edit2,        Edit3,         NumEdit1,      Edit4,
        Edit5,        NumEdit2,     Edit6,         Edit7,         Memo1,
        RadioButton1, RadioButton2, RadioButton3,  RadioButton4,  RadioButton5,
        RadioButton6, RadioButton7, RadioButton8,  RadioButton9,  RadioButton10,
        ExTrackBar1,  ExTrackBar2,  RadioButton11, RadioButton12, RadioButton13,
    };
    // The chain links the platform controls that take the focus, not their wrappers.
    const auto target = [](QWidget* w) { return w->focusProxy() ? w->focusProxy() : w; };
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(target(order[i - 1]), target(order[i]));
    }
}

void TForm1::BindEvents() {
    OnPaint = Handler(this, &TForm1::FormPaint);
    OnClose = [this](TComponent* sender, TCloseAction& action) {
        RunHandler([&] { FormClose(sender, action); });
    };
    ExTrackBar1->OnChange = Handler(this, &TForm1::ExTrackBar1Change);
    ExTrackBar2->OnChange = Handler(this, &TForm1::ExTrackBar2Change);
    HemisphereButton1->OnClick = Handler(this, &TForm1::HemisphereButton1Click);
    HemisphereButton2->OnClick = Handler(this, &TForm1::HemisphereButton2Click);
    const std::pair<TRadioButton*, void (TForm1::*)(TComponent*)> radios[] = {
        {RadioButton1, &TForm1::RadioButton1Click},   {RadioButton2, &TForm1::RadioButton2Click},
        {RadioButton3, &TForm1::RadioButton3Click},   {RadioButton4, &TForm1::RadioButton4Click},
        {RadioButton5, &TForm1::RadioButton5Click},   {RadioButton6, &TForm1::RadioButton6Click},
        {RadioButton7, &TForm1::RadioButton7Click},   {RadioButton8, &TForm1::RadioButton8Click},
        {RadioButton9, &TForm1::RadioButton9Click},   {RadioButton10, &TForm1::RadioButton10Click},
        {RadioButton11, &TForm1::RadioButton11Click}, {RadioButton12, &TForm1::RadioButton12Click},
        {RadioButton13, &TForm1::RadioButton13Click},
    };
    for (const auto& [radio, handler] : radios) {
        radio->OnClick = Handler(this, handler);
    }
    PaintBox1->OnPaint = Handler(this, &TForm1::PaintBox1Paint);
    const std::pair<TjanColorButton*, void (TForm1::*)(TComponent*)> buttons[] = {
        {janColorButton1, &TForm1::janColorButton1click},
        {janColorButton2, &TForm1::janColorButton2click},
        {janColorButton3, &TForm1::janColorButton3click},
        {janColorButton4, &TForm1::janColorButton4click},
        {janColorButton5, &TForm1::janColorButton5click},
        {janColorButton6, &TForm1::janColorButton6click},
        {janColorButton7, &TForm1::janColorButton7click},
        {janColorButton8, &TForm1::janColorButton8click},
        {janColorButton9, &TForm1::janColorButton9click},
    };
    for (const auto& [button, handler] : buttons) {
        button->onclick = Handler(this, handler);
    }
}

}  // namespace velmora
