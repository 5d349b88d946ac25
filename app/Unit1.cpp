#include "app/Unit1.h"

#include "app/GdtLink.h"
#include "app/HeldSoundOutput.h"
#include "app/PatientFileDialog.h"
#include "app/VisitRecorder.h"
#include "audio/AMixer.h"
#include "audio/SSVolumeController.h"
#include "audio/ToneGen.h"
#include "controls/AnalogGauge.h"
#include "controls/Credits.h"
#include "controls/DsGroup.h"
#include "controls/ExTrackBar.h"
#include "controls/Hemibtn.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Bitmap.h"
#include "framework/Dialogs.h"
#include "framework/Edit.h"
#include "framework/German.h"
#include "framework/GraphicControl.h"
#include "framework/Label.h"
#include "framework/Memo.h"
#include "framework/MessageBox.h"
#include "framework/RadioButton.h"
#include "framework/Shell.h"
#include "platform/mixer/MixerDevice.h"
#include "platform/sound/SoundOutput.h"
#include "records/RecordsDatabase.h"
#include "report/ReportThread.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <chrono>
#include <utility>

#include <cerrno>

namespace velmora {

TForm1* Form1 = nullptr;

const QString TForm1::kAuthorMail = QStringLiteral("velmora@example.org");
const QString TForm1::kHomePage = QStringLiteral("https://velmora.example.org/");

namespace {

// Colours of the session.
constexpr TColor kWindowGreen = RGB(102, 161, 55);
constexpr TColor kLeftEar = RGB(135, 0, 255);
constexpr TColor kRightEar = RGB(255, 0, 255);
constexpr TColor kBothEars = RGB(95, 95, 95);
constexpr TColor kLegendChosen = RGB(255, 0, 0);
constexpr TColor kLegendOther = RGB(0, 0, 0);

// The hearing curve.
constexpr TColor kPlotBackground = RGB(160, 233, 91);
constexpr TColor kPlotGrid = RGB(0, 87, 0);
constexpr int kPlotWidth = 340;
constexpr int kPlotHeight = 140;
constexpr int kLabelRow = 120;
struct PlotPoint {
    int left;   // marker box, left edge
    int right;  // marker box, right edge
    const char* label;
    int labelX;
};
constexpr PlotPoint kPlotPoints[7] = {
    {41, 45, "125Hz", 33},     {84, 88, "250Hz", 76},     {128, 132, "500Hz", 119},
    {170, 174, "1000Hz", 158}, {214, 218, "2000Hz", 201}, {256, 260, "4000Hz", 244},
    {300, 304, "8000Hz", 287},
};

const QString kCaution = QStringLiteral("   Achtung!");

// When the start-up tone plays in a window that has not been painted by then.
constexpr auto kToneStartAtTheLatest = std::chrono::milliseconds(500);

const char* const kEarNames[3] = {"beide Ohren", "linkes Ohr", "rechtes Ohr"};

}  // namespace

TForm1::TForm1(TComponent* owner, SoundOutput& sound, MixerDevice& mixer, PatientRecords* records,
               std::optional<DatabaseAddress> server)
    : TForm(owner),
      toneOutput_(std::make_unique<HeldSoundOutput>(sound)),
      sound_(sound),
      mixer_(mixer),
      noSound_(std::make_unique<Notice>(
          QStringLiteral(
              "Es wurde keine Tonausgabe gefunden.\nDer Testton kann nicht wiedergegeben werden."),
          kCaution)),
      levelRestored_(std::make_unique<Notice>(
          QStringLiteral("Die Lautstärke wurde von einem anderen Programm verändert.\nDer "
                         "eingestellte Pegel wurde wiederhergestellt."),
          kCaution)),
      levelFailed_(std::make_unique<Notice>(
          QStringLiteral("Der eingestellte Pegel konnte nicht eingestellt werden.\nDer Ton "
                         "bleibt stumm, bis die Tonausgabe ihn wieder annimmt."),
          kCaution)) {
    Form1 = this;
    MakeRecorder(records, std::move(server));
    LoadLayout(*toneOutput_, mixer);
    RemoveLeftoverPictures();
    // The defaults check radio buttons whose handlers each start the tone: it starts once, at
    // the end (on PulseAudio each replaced stream waits for its fade-out to be played). The end is
    // the window's first paint: the sound server's answers then do not hold up the window, and
    // nobody can touch a control before it. A window that is not shown starts it from the message
    // loop, and one that is never painted (started minimised) after a moment at the latest.
    toneOutput_->Hold();
    ApplyStartupDefaults();
    ConnectPatientRecords(Recorder->Enabled());
    recordsTaken_ = Recorder->Enabled();
    QTimer::singleShot(0, this, [this] {
        if (!isVisible()) {
            StartTone();
        }
    });
    QTimer::singleShot(kToneStartAtTheLatest, this, [this] { StartTone(); });
    // The output plays the tone again by itself when it comes back; the operator must know
    // that meanwhile nothing is heard, whatever the gauge shows, and no longer once it is back.
    sound_.SetSoundLostHandler(
        [this] { QTimer::singleShot(0, this, [this] { noSound_->Show(); }); });
    sound_.SetSoundBackHandler([this] { noSound_->Close(); });
    mixer_.SetLevelRestoredHandler([this] { levelRestored_->Show(); });
    mixer_.SetLevelHeldHandler([this](bool held) {
        if (held) {
            levelFailed_->Close();
        } else {
            levelFailed_->Show();
        }
    });
}

TForm1::~TForm1() {
    if (reportThread_) {
        // After the report that may still run, the word processor is let go on the thread that
        // talks to it; its boxes still show meanwhile.
        destroying_ = true;
        TWordApplication* const word = WordApplication1.get();
        reportThread_->Run([word] { word->Disconnect(); }, nullptr, {});
        reportThread_.reset();
    }
    mixer_.SetLevelHeldHandler({});
    disconnect(fieldFocus_);
    mixer_.SetLevelRestoredHandler({});
    sound_.SetSoundBackHandler({});
    sound_.SetSoundLostHandler({});
    if (Form1 == this) {
        Form1 = nullptr;
    }
}

void TForm1::ApplyStartupDefaults() {
    SetColor(kWindowGreen);
    DsGroup1->SetColor(kWindowGreen);
    ScrollingCredits1->SetBackgroundColor(kWindowGreen);
    ScrollingCredits1->SetBorderColor(kWindowGreen);
    AudioTools1->SetVolume(0);
    RadioButton7->SetChecked(true);
    RadioButton3->SetChecked(true);
    RadioButton11->SetChecked(true);
    ColorLegend(Label4);
    for (TEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7,
                        static_cast<TEdit*>(NumEdit1), static_cast<TEdit*>(NumEdit2)}) {
        edit->Clear();
    }
    AudioMixer1->SetLineVolume(0, 0, 100, 100, 0);
    ToneGen1->SetStereo(true);
    ToneGen1->SetLeftVolume(100);
    ToneGen1->SetRightVolume(100);
    ToneGen1->SetFrequency(1000);
    ToneGen1->Play();
    janColorButton2->SetCaption(QStringLiteral("Bericht\nerstellen"));
    Label23->SetWordWrap(true);
    Label23->SetCaption(QStringLiteral("Wert\nübernehmen"));
    AnalogGauge1->SetCenterColor(kWindowGreen);
    RadioButton1->SetColor(kLeftEar);
    RadioButton3->SetColor(kBothEars);
}

void TForm1::showEvent(QShowEvent* event) {
    TForm::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        if (toneStarted_) {
            QTimer::singleShot(0, this, [this] { WarnWithoutSoundOutput(); });
        }
        QTimer::singleShot(0, this, [this] { ShowRecordsProblemAndOpenVisits(); });
    }
}

void TForm1::WarnWithoutSoundOutput() {
    if (warnedWithoutSound_ || sound_.IsAvailable()) {
        return;
    }
    warnedWithoutSound_ = true;
    noSound_->Show();
}

// ----- window

void TForm1::FormPaint(TComponent*) {
    Edit1->SetFocus();
}

void TForm1::paintEvent(QPaintEvent* event) {
    TForm::paintEvent(event);
    if (!toneStarted_) {
        // Once the picture has gone to the screen.
        QTimer::singleShot(0, this, [this] { StartTone(); });
    }
}

void TForm1::StartTone() {
    if (!toneStarted_) {
        toneStarted_ = true;
        toneOutput_->Release();
        // After the window's first picture, so that the warning stands in front of it and the
        // sound server's answer does not hold up the window.
        if (shownOnce_) {
            QTimer::singleShot(0, this, [this] { WarnWithoutSoundOutput(); });
        }
        for (std::function<void()>& step : std::exchange(afterFirstPicture_, {})) {
            step();
        }
    }
}

void TForm1::AfterFirstPicture(std::function<void()> step) {
    if (toneStarted_) {
        QTimer::singleShot(0, this, std::move(step));
    } else {
        afterFirstPicture_.push_back(std::move(step));
    }
}

void TForm1::MakeRecorder(PatientRecords* records, std::optional<DatabaseAddress> server) {
    Recorder = std::make_unique<VisitRecorder>(
        records, std::move(server), [this] { return PatientFieldsOnWindow(); },
        [this] { return CurrentVisitContext(); });
    Recorder->OnStoredFieldsKept = [this](const PatientFields& fields) {
        ShowPatientFields(fields);
    };
    // A server that answers only after the window has shown: its unfinished visits then.
    Recorder->OnRecordsReadable = [this] {
        if (shownOnce_) {
            OfferUnfinishedVisits();
        }
    };
}

void TForm1::TakeRecords(PatientRecords* records, std::optional<DatabaseAddress> server,
                         const QString& problem) {
    if (recordsTaken_) {
        return;
    }
    MakeRecorder(records, std::move(server));
    ConnectPatientRecords(Recorder->Enabled());
    recordsTaken_ = true;
    recordsProblem_ = problem;
    if (shownOnce_) {
        // From the event loop: whatever the caller sets up after the records (the practice's
        // link) is there while a box of the visits a crash left open waits for an answer.
        QTimer::singleShot(0, this, [this] { ShowRecordsProblemAndOpenVisits(); });
    }
}

void TForm1::ShowRecordsProblemAndOpenVisits() {
    if (!recordsProblem_.isEmpty()) {
        recordsNotice_ = std::make_unique<Notice>(recordsProblem_, kCaution);
        recordsNotice_->Show();
    }
    OfferUnfinishedVisits();
}

void TForm1::FormClose(TComponent*, TCloseAction& Action) {
    if (reportRunning_) {
        // The report still needs the window for its box: the window closes once it has ended.
        closeAfterReport_ = true;
        Action = caNone;
        return;
    }
    FinishGdtVisit();
    Recorder->FinishVisit(true);
    if (!Recorder->Flush() &&
        MessageBox(QStringLiteral("Die Untersuchung ist noch nicht in der Patientenakte "
                                  "gespeichert:\n%1\nWenn Sie Velmora jetzt beenden, geht sie "
                                  "verloren. Trotzdem beenden?")
                       .arg(Recorder->LastReason()),
                   kCaution, MB_YESNO) != IDYES) {
        Action = caNone;
        return;
    }
    DeletePictures();
}

void TForm1::DeletePictures() {
    for (const QString& path : PicturePaths) {
        DeleteFile(path);
    }
}

void TForm1::ForgetPictures() {
    DeletePictures();
    PicturePaths.fill(QString());
}

void TForm1::RemoveLeftoverPictures() {
    // Only in the directory as it must be: never through a link planted where it should be.
    const QString directory = ExistingPrivateDirectory();
    if (directory.isEmpty()) {
        return;
    }
    for (int ear = 0; ear < 3; ++ear) {
        const QString path = CurvePicturePath(ear);
        if (!path.isEmpty() && QFileInfo(path).path() == directory) {
            DeleteFile(path);
        }
    }
    // And the copies a report was writing from.
    for (const QFileInfo& copies : QDir(directory).entryInfoList(
             {QStringLiteral("report-*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        QDir(copies.filePath()).removeRecursively();
    }
}

// ----- level

float TForm1::LevelPosition() const {
    const double fine = double(FineLevel) * 0.1;
    return float(CoarseLevel < 1 ? fine : fine + CoarseLevel);
}

int TForm1::LevelVolume() const {
    return int(10 * CoarseLevel + FineLevel);
}

void TForm1::ExTrackBar1Change(TComponent*) {
    CoarseLevel = ExTrackBar1->Position();
    FineLevel = float(ExTrackBar2->Position());
    AnalogGauge1->SetPosition(LevelPosition());
    AudioTools1->SetVolume(LevelVolume());
}

void TForm1::ExTrackBar2Change(TComponent*) {
    FineLevel = float(ExTrackBar2->Position());
    CoarseLevel = ExTrackBar1->Position();
    if (CoarseLevel < 1) {
        AnalogGauge1->SetPosition(float(double(FineLevel) * 0.1));
    } else {
        AnalogGauge1->SetPosition(float(double(FineLevel) * 0.1 + CoarseLevel));
    }
    AudioTools1->SetVolume(LevelVolume());
}

void TForm1::HemisphereButton1Click(TComponent*) {
    if (!Muted) {
        AudioTools1->SetMute(true);
        HemisphereButton1->SetFaceColor(RGB(255, 0, 0));
        AnalogGauge1->SetPosition(0);
        Muted = true;
    } else {
        AnalogGauge1->SetPosition(LevelPosition());
        Muted = false;
        AudioTools1->SetMute(false);
        HemisphereButton1->SetFaceColor(RGB(0, 128, 0));
    }
}

// ----- ear

void TForm1::SelectEar(bool stereo, int leftVolume, int rightVolume) {
    ToneGen1->SetStereo(stereo);
    RadioButton7->SetChecked(true);
    ExTrackBar1->SetPosition(0);
    ExTrackBar2->SetPosition(0);
    ToneGen1->SetLeftVolume(std::int16_t(leftVolume));
    ToneGen1->SetRightVolume(std::int16_t(rightVolume));
    Thresholds.fill(0);
    ++CurveNumber;
    PaintBox1->Repaint();
    ToneGen1->Play();
}

void TForm1::RadioButton1Click(TComponent*) {
    SelectEar(false, 100, 0);
}

void TForm1::RadioButton2Click(TComponent*) {
    SelectEar(false, 0, 100);
}

void TForm1::RadioButton3Click(TComponent*) {
    SelectEar(true, 100, 100);
}

// ----- frequency

void TForm1::SelectFrequency(int frequency) {
    ToneGen1->Stop();
    ExTrackBar1->SetPosition(0);
    ExTrackBar2->SetPosition(0);
    ToneGen1->SetFrequency(std::int16_t(frequency));
    ToneGen1->Play();
}

void TForm1::RadioButton4Click(TComponent*) {
    SelectFrequency(125);
}
void TForm1::RadioButton5Click(TComponent*) {
    SelectFrequency(250);
}
void TForm1::RadioButton6Click(TComponent*) {
    SelectFrequency(500);
}
void TForm1::RadioButton7Click(TComponent*) {
    SelectFrequency(1000);
}
void TForm1::RadioButton8Click(TComponent*) {
    SelectFrequency(2000);
}
void TForm1::RadioButton9Click(TComponent*) {
    SelectFrequency(4000);
}
void TForm1::RadioButton10Click(TComponent*) {
    SelectFrequency(8000);
}

// ----- waveform

void TForm1::ColorLegend(TLabel* chosen) {
    for (TLabel* label : {Label4, Label5, Label6}) {
        label->Font().SetColor(label == chosen ? kLegendChosen : kLegendOther);
    }
}

void TForm1::RadioButton11Click(TComponent*) {
    RadioButton11->SetChecked(true);
    ToneGen1->Stop();
    ExTrackBar1->SetPosition(0);
    ExTrackBar2->SetPosition(0);
    ToneGen1->SetWaveform(tgSine);
    ColorLegend(Label4);
    ToneGen1->Play();
}

void TForm1::RadioButton12Click(TComponent*) {
    RadioButton12->SetChecked(true);
    ExTrackBar1->SetPosition(0);
    ExTrackBar2->SetPosition(0);
    ToneGen1->Stop();
    ToneGen1->SetWaveform(tgTriangle);
    ColorLegend(Label5);
    ToneGen1->Play();
}

void TForm1::RadioButton13Click(TComponent*) {
    RadioButton13->SetChecked(true);
    ExTrackBar1->SetPosition(0);
    ExTrackBar2->SetPosition(0);
    ToneGen1->Stop();
    ToneGen1->SetWaveform(tgSquare);
    ColorLegend(Label6);
    ToneGen1->Play();
}

// ----- threshold and reset

void TForm1::HemisphereButton2Click(TComponent*) {
    TRadioButton* const frequencies[7] = {RadioButton4, RadioButton5, RadioButton6, RadioButton7,
                                          RadioButton8, RadioButton9, RadioButton10};
    // While muted nothing was heard, whatever the bars moved the gauge to: the threshold is 0.
    const double heard = Muted ? 0.0 : double(AnalogGauge1->Position());
    for (int slot = 0; slot < 7; ++slot) {
        if (frequencies[slot]->Checked()) {
            Thresholds[std::size_t(slot)] = int(heard * 12);
        }
    }
    RecordThreshold();
    DrawHearingCurve();
}

void TForm1::janColorButton5click(TComponent*) {
    AudioTools1->SetMute(true);
    ToneGen1->Stop();
    // The level goes to 0 before anything unmutes, so that the reset is silent from its first
    // step to its last, also when it starts muted at a high level. The end state is the same.
    ExTrackBar1->SetPosition(0);
    ExTrackBar2->SetPosition(0);
    if (Muted) {
        HemisphereButton1Click(HemisphereButton1);
    }
    RadioButton7->SetChecked(true);
    RadioButton3->SetChecked(true);
    RadioButton11->SetChecked(true);
    ColorLegend(Label4);
    ToneGen1->Stop();
    ToneGen1->SetWaveform(tgSine);
    ToneGen1->SetStereo(true);
    ToneGen1->SetLeftVolume(100);
    ToneGen1->SetRightVolume(100);
    ToneGen1->SetFrequency(1000);
    ToneGen1->Play();
    ExTrackBar1->SetPosition(0);
    ExTrackBar2->SetPosition(0);
    Thresholds.fill(0);
    ++CurveNumber;
    PaintBox1->Repaint();
    AudioTools1->SetMute(false);
}

// ----- hearing curve

void TForm1::PaintBox1Paint(TComponent*) {
    DrawHearingCurve();
}

void TForm1::DrawHearingCurve() {
    TCanvas& c = PaintBox1->Canvas();
    const std::pair<TRadioButton*, TColor> ears[] = {
        {RadioButton3, kBothEars}, {RadioButton1, kLeftEar}, {RadioButton2, kRightEar}};
    for (std::size_t ear = 0; ear < 3; ++ear) {
        const auto& [radio, curveColor] = ears[ear];
        if (!radio->Checked()) {
            continue;
        }
        // A visit shown from the records stands in for today's curve while it is shown.
        const std::array<int, 7> curve =
            shownVisit_ ? CurveOfLevels((*shownVisit_)[ear]) : Thresholds;
        c.Brush().SetStyle(bsSolid);
        c.Brush().SetColor(kPlotBackground);
        c.FillRect(PaintBox1->ClientRect());

        c.Pen().SetStyle(psSolid);
        c.Pen().SetColor(kPlotGrid);
        c.Pen().SetWidth(1);
        for (int i = 1; i <= 8; ++i) {
            c.MoveTo(43 * i, 0);
            c.LineTo(43 * i, kPlotHeight);
        }
        for (int j = 1; j <= 10; ++j) {
            c.MoveTo(0, 14 * j);
            c.LineTo(kPlotWidth, 14 * j);
        }

        c.Pen().SetWidth(2);
        c.MoveTo(0, 0);
        c.LineTo(kPlotWidth, 0);
        c.MoveTo(kPlotWidth, 0);
        c.LineTo(kPlotWidth, kPlotHeight);
        c.MoveTo(0, 0);
        c.LineTo(0, kPlotHeight);
        c.MoveTo(0, kPlotHeight);
        c.LineTo(kPlotWidth, kPlotHeight);

        if (!shownVisit_ && Recorder->Earlier()) {
            DrawEarlierCurve(c, curveColor, Recorder->Earlier()->levels[ear]);
        }

        c.Pen().SetColor(curveColor);
        c.Pen().SetWidth(2);
        const auto marker = [&](int slot) {
            const int t = curve[std::size_t(slot)];
            c.Ellipse(kPlotPoints[slot].left, t, kPlotPoints[slot].right, t + 4);
        };
        marker(0);
        c.MoveTo(kPlotPoints[0].right, curve[0] + 2);
        for (int slot = 1; slot < 7; ++slot) {
            const int centre = curve[std::size_t(slot)] + 2;
            c.LineTo(kPlotPoints[slot].left, centre);
            marker(slot);
            c.MoveTo(kPlotPoints[slot].right, centre);
        }
    }

    c.Font().SetName(QStringLiteral("Arial"));
    c.Font().SetColor(kPlotGrid);
    c.Font().SetHeight(12);
    for (const PlotPoint& point : kPlotPoints) {
        c.TextOut(point.labelX, kLabelRow, QString::fromLatin1(point.label));
    }
}

// ----- patient record

bool TForm1::AnyPatientFieldFilled() const {
    for (const TEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7,
                              static_cast<TEdit*>(NumEdit1), static_cast<TEdit*>(NumEdit2)}) {
        if (!edit->Text().isEmpty()) {
            return true;
        }
    }
    return !Memo1->Text().isEmpty();
}

void TForm1::ClearPatientFields() {
    fillingFields_ = true;
    for (TEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7,
                        static_cast<TEdit*>(NumEdit1), static_cast<TEdit*>(NumEdit2)}) {
        edit->Clear();
    }
    Memo1->Clear();
    birthDate_.clear();
    Edit1->SetFocus();
    fillingFields_ = false;
}

void TForm1::janColorButton7click(TComponent*) {
    if (!AnyPatientFieldFilled()) {
        return;
    }
    if (MessageBox(QStringLiteral("Sie wollen alle Eingabefelder löschen.\nEventuelle Eingaben "
                                  "gehen verloren.\nWollen Sie das tun?"),
                   kCaution, MB_YESNO) == IDYES) {
        // The visit was the cleared patient's: what is typed next is not written over them.
        FinishGdtVisit();
        Recorder->FinishVisit(false);
        ClearPatientFields();
        // The kept curves were the cleared patient's: the next report must not show them.
        ForgetPictures();
        OfferWaitingGdtRequest();
    }
}

void TForm1::janColorButton3click(TComponent* Sender) {
    if (AnyPatientFieldFilled() &&
        MessageBox(QStringLiteral("Sie wollen alle Patientendaten löschen.\nSind Sie sicher?"),
                   kCaution, MB_YESNO) == IDYES) {
        FinishGdtVisit();
        Recorder->FinishVisit(false);
        ClearPatientFields();
    } else {
        // The fields stay: the next visit is the same patient's.
        FinishGdtVisit();
        Recorder->FinishVisit(AnyPatientFieldFilled());
    }
    ForgetPictures();
    janColorButton5click(Sender);
    OfferWaitingGdtRequest();
}

void TForm1::janColorButton4click(TComponent*) {
    Close();
}

void TForm1::janColorButton6click(TComponent*) {
    ShellExecute(QStringLiteral("open"),
                 QStringLiteral("mailto:") + kAuthorMail +
                     QStringLiteral("?subject=Betrifft: Rückmeldung Velmora&body="),
                 QString(), QString(), SW_SHOWNORMAL);
}

void TForm1::janColorButton8click(TComponent*) {
    ShellExecute(QStringLiteral("open"), kHomePage, QString(), QString(), SW_SHOWNORMAL);
}

// ----- curve pictures

QString TForm1::CurvePicturePath(int ear, QString* error) {
    static const char* const names[3] = {"beide_tmp.bmp", "links_tmp.bmp", "rechts_tmp.bmp"};
    const QString directory = PrivateDirectory(error);
    if (directory.isEmpty() || ear < 0 || ear > 2) {
        return {};
    }
    return QDir(directory).filePath(QString::fromLatin1(names[ear]));
}

int TForm1::SelectedEar() const {
    const TRadioButton* const ears[3] = {RadioButton3, RadioButton1, RadioButton2};
    int ear = 0;
    while (ear < 2 && !ears[ear]->Checked()) {
        ++ear;
    }
    return ear;
}

TBitmap TForm1::CurvePicture() {
    TBitmap picture;
    picture.Assign(PaintBox1->RenderImage());
    picture.SetPixelFormat(pf24bit);
    return picture;
}

bool TForm1::KeepCurve(int ear, const TBitmap& picture, QString* path, QString* why) {
    *path = CurvePicturePath(ear, why);
    if (path->isEmpty() || !picture.SaveToFile(*path, why)) {
        return false;
    }
    PicturePaths[std::size_t(ear)] = *path;
    KeptThresholds[std::size_t(ear)] = Thresholds;
    KeptCurveNumbers[std::size_t(ear)] = CurveNumber;
    return true;
}

void TForm1::RenewKeptCurve() {
    const auto ear = std::size_t(SelectedEar());
    // A later state of the kept curve replaces its picture; a new curve of the same ear (after a
    // change of ear or a reset, empty at first) never does: that one is kept only when asked.
    if (!PicturePaths[ear].isEmpty() && KeptCurveNumbers[ear] == CurveNumber &&
        KeptThresholds[ear] != Thresholds) {
        QString path;
        QString why;
        if (!KeepCurve(int(ear), CurvePicture(), &path, &why)) {
            // An outdated picture is worse than none.
            DeleteFile(PicturePaths[ear]);
            PicturePaths[ear].clear();
        }
    }
}

void TForm1::janColorButton1click(TComponent*) {
    Recorder->SaveFields();
    const int ear = SelectedEar();
    const TBitmap picture = CurvePicture();
    QString path;
    QString why;
    if (!KeepCurve(ear, picture, &path, &why)) {
        MessageBox(
            QStringLiteral("Die Hörkurve konnte nicht gespeichert werden.\n%1\n%2")
                .arg(path.isEmpty() ? QStringLiteral("(kein privates Verzeichnis)") : path, why),
            kCaution, MB_OK);
        return;
    }

    // A copy where the operator wants it, if they want one.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString suggestion = QStringLiteral("Hörkurve %1").arg(QString::fromUtf8(kEarNames[ear]));
    if (!Edit1->Text().trimmed().isEmpty()) {
        suggestion += QLatin1Char(' ') + Edit1->Text().trimmed();
    }
    suggestion.replace(QLatin1Char('/'), QLatin1Char('_'));
    SaveDialog1->SetTitle(QStringLiteral("Kopie der Hörkurve speichern"));
    SaveDialog1->SetFilter(QStringLiteral("PNG-Bild (*.png);;Windows-Bitmap (*.bmp)"));
    SaveDialog1->SetFilterIndex(1);
    SaveDialog1->SetFileName(QDir(documents).filePath(suggestion + QStringLiteral(".png")));
    if (!SaveDialog1->Execute()) {
        return;
    }
    // The typed extension decides the format; without one, the chosen type does, and its
    // extension is added. The dialog asked about the name as typed: a name that only now exists
    // is asked about again.
    QString copy = SaveDialog1->FileName();
    const QString suffix = QFileInfo(copy).suffix().toLower();
    const bool bitmap = suffix == QStringLiteral("bmp") ||
                        (suffix != QStringLiteral("png") && SaveDialog1->FilterIndex() == 2);
    if (suffix != QStringLiteral("png") && suffix != QStringLiteral("bmp")) {
        copy += bitmap ? QStringLiteral(".bmp") : QStringLiteral(".png");
        if (QFileInfo::exists(copy) &&
            MessageBox(QStringLiteral("%1 ist bereits vorhanden.\nMöchten Sie die Datei ersetzen?")
                           .arg(QFileInfo(copy).fileName()),
                       kCaution, MB_YESNO) != IDYES) {
            return;
        }
    }
    // Written whole or not at all: a failure leaves an earlier file of that name as it was. A copy
    // that leaves the records is a line of the audit trail.
    if (bitmap) {
        if (picture.SaveToFile(copy, &why)) {
            Recorder->AuditPatient(audit::kExport);
            return;
        }
    } else {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "png").write(picture.Image());
        QSaveFile file(copy);
        errno = 0;
        if (file.open(QIODevice::WriteOnly) && file.write(png) == png.size() && file.commit()) {
            Recorder->AuditPatient(audit::kExport);
            return;
        }
        why = errno != 0 ? ReasonOf(errno) : file.errorString();
    }
    MessageBox(QStringLiteral("Die Kopie der Hörkurve konnte nicht gespeichert werden.\n%1\n%2")
                   .arg(copy, why),
               kCaution, MB_OK);
}

}  // namespace velmora
