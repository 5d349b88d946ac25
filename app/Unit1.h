#pragma once

#include "framework/Form.h"
#include "framework/Notice.h"
#include "records/DatabaseAddress.h"
#include "records/PatientRecords.h"
#include "report/ReportDocument.h"
#include "report/WordApplication.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

class GdtLink;
class HeldSoundOutput;
class MixerDevice;
class PatientRecords;
class VisitRecorder;
class SoundOutput;
class TAnalogGauge;
class TBitmap;
class TCanvas;
class TAudioMixer;
class TDsGroup;
class TEdit;
class TExTrackBar;
class TFleches;
class THemisphereButton;
class TLabel;
class TMemo;
class TNumEdit;
class TPaintBox;
class TRadioButton;
class TReportThread;
class TSaveDialog;
class TScrollingCredits;
class TToneGen;
class TjanColorButton;
class TssVolumeController;

// The test console: the program's one window.
//
// It is built from its stored layout (Unit1Layout.cpp), then applies its start-up defaults,
// which start the looping test tone at level 0. Its event handlers drive the tone generator,
// the speaker volume controller and the gauge, take thresholds over into the hearing curve and
// clear the patient record. Handlers that check a radio button or move a track bar from code
// run that control's handler nested inside themselves, as the controls prescribe.
//
// The sound output and the mixer are borrowed and must outlive the window; so are the patient
// records, where there are any: with them, every visit is kept as it goes (VisitRecorder.h), the
// patient's earlier visit is drawn behind today's curve and compared in the report, and
// "Patientenakte" finds patients again.
class TForm1 : public TForm {
    // The tone generator's way to the sound output, held while the start-up defaults are applied;
    // declared first, so that it outlives the tone generator.
    std::unique_ptr<HeldSoundOutput> toneOutput_;

public:
    // `server`: the practice's server when `records` could not be opened on it yet (read once it
    // answers; the visits wait on this workstation meanwhile).
    TForm1(TComponent* owner, SoundOutput& sound, MixerDevice& mixer,
           PatientRecords* records = nullptr, std::optional<DatabaseAddress> server = {});
    ~TForm1() override;

    // --- Session state ---
    // Copies of the two track bars' positions, refreshed by their change handlers.
    int CoarseLevel = 0;
    float FineLevel = 0;
    // The plot value taken over per test frequency (125 ... 8000 Hz) for the selected ear.
    std::array<int, 7> Thresholds{};
    bool Muted = false;
    // Curve pictures that "Neuer Patient" and closing the window delete: both ears, left, right.
    std::array<QString, 3> PicturePaths;
    // The curve each kept picture shows: the thresholds when it was kept.
    std::array<std::array<int, 7>, 3> KeptThresholds{};
    // The curve on screen, counted on whenever a new, empty curve starts (a change of ear,
    // "Zurücksetzen"); and the curve each kept picture shows. A kept picture is only replaced by
    // a later picture of the same curve, never by an emptied one.
    int CurveNumber = 0;
    std::array<int, 3> KeptCurveNumbers{};

    // --- Event handlers ---
    void FormPaint(TComponent* Sender);
    void FormClose(TComponent* Sender, TCloseAction& Action);
    void ExTrackBar1Change(TComponent* Sender);
    void ExTrackBar2Change(TComponent* Sender);
    void HemisphereButton1Click(TComponent* Sender);
    void HemisphereButton2Click(TComponent* Sender);
    void RadioButton1Click(TComponent* Sender);
    void RadioButton2Click(TComponent* Sender);
    void RadioButton3Click(TComponent* Sender);
    void RadioButton4Click(TComponent* Sender);
    void RadioButton5Click(TComponent* Sender);
    void RadioButton6Click(TComponent* Sender);
    void RadioButton7Click(TComponent* Sender);
    void RadioButton8Click(TComponent* Sender);
    void RadioButton9Click(TComponent* Sender);
    void RadioButton10Click(TComponent* Sender);
    void RadioButton11Click(TComponent* Sender);
    void RadioButton12Click(TComponent* Sender);
    void RadioButton13Click(TComponent* Sender);
    void PaintBox1Paint(TComponent* Sender);
    void janColorButton1click(TComponent* Sender);
    void janColorButton2click(TComponent* Sender);
    void janColorButton3click(TComponent* Sender);
    void janColorButton4click(TComponent* Sender);
    void janColorButton5click(TComponent* Sender);
    void janColorButton6click(TComponent* Sender);
    void janColorButton7click(TComponent* Sender);
    void janColorButton8click(TComponent* Sender);
    void janColorButton9click(TComponent* Sender);

    // Draws the hearing curve of the selected ear onto the paint box, behind it the patient's
    // earlier visit's curve of that ear, dashed.
    void DrawHearingCurve();

    // --- Patient records
    // Why there are no records (told once after the window first shows); empty when there are.
    void SetRecordsProblem(const QString& reason) { recordsProblem_ = reason; }
    // The records opened after the window was made, as if given to it then, with why there are
    // none; once. Visits that a crash left open are offered at once when the window has shown.
    void TakeRecords(PatientRecords* records, std::optional<DatabaseAddress> server,
                     const QString& problem);
    // Runs `step` once the window's first picture is out, or at the latest half a second after
    // the window was made (one started minimised): what the operator does not need in order to
    // see the window (the sound server, the records, the practice's link) does not hold it up.
    void AfterFirstPicture(std::function<void()> step);
    // Offers the visits a crash left open, one by one, the latest first.
    void OfferUnfinishedVisits();
    // Shows a visit's levels in the plot instead of today's (nullptr: today's again).
    void ShowVisitLevels(const std::array<std::array<int, 7>, 3>* levels);
    // Does what "Neuer Patient" does without asking, then shows the stored patient.
    void TakePatient(const QString& patientId);
    std::unique_ptr<VisitRecorder> Recorder;

    // --- The practice's software (GDT, Unit1Gdt.cpp)
    // The link through which patients come and results go; none without it.
    void SetGdtLink(std::unique_ptr<GdtLink> link);
    GdtLink* Gdt() const { return gdt_.get(); }
    // Takes the request in `path`: the patient into the window and the records (asking first when
    // a visit with thresholds is open), a withdrawn request, or "Patientenakte" at the patient's
    // visits. A request that cannot be read is refused with a German box naming the line, and
    // nothing of the window changes.
    void TakeGdtRequest(const QString& path);
    // At start: the results still waiting are written, then the request waiting in the exchange
    // folder (or `path`) is taken.
    void StartGdt(const QString& path);

    // Where "Kurve abspeichern" keeps the curve picture of an ear (0 both, 1 left, 2 right), in
    // a directory that only this user can read; empty (with the reason) when there is none.
    static QString CurvePicturePath(int ear, QString* error = nullptr);

    // Tells the operator once when no sound output can be reached; runs after the window has
    // been shown for the first time. A sound lost later (the sound server went away) is told
    // with the same message once per loss; the warning closes by itself when the sound is back,
    // and there is never more than one.
    void WarnWithoutSoundOutput();
    Notice& NoSoundNotice() { return *noSound_; }
    // Shown when another program changed the speaker levels and they were put back.
    Notice& LevelRestoredNotice() { return *levelRestored_; }
    // Shown while the output does not take the level set (the tone is silent meanwhile); it
    // closes by itself when the level holds again.
    Notice& LevelFailedNotice() { return *levelFailed_; }

    // Whether a report that "Bericht erstellen" started is still being written. It runs on a
    // thread of its own (ReportThread.h) while the window stays operable; the button takes no
    // second click meanwhile, the window shows the busy cursor, and closing the window waits
    // for the report's end.
    bool ReportRunning() const { return reportRunning_; }

    // --- Components, named as in the layout ---
    TDsGroup *DsGroup1, *DsGroup2, *DsGroup3, *DsGroup4, *DsGroup5, *DsGroup6, *DsGroup7, *DsGroup8,
        *DsGroup9, *DsGroup10, *DsGroup11, *DsGroup12, *DsGroup13, *DsGroup14, *DsGroup15,
        *DsGroup16;
    TLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label11, *Label12, *Label13,
        *Label14, *Label15, *Label16, *Label17, *Label18, *Label19, *Label20, *Label21, *Label23,
        *Label24;
    TEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5, *Edit6, *Edit7;
    TNumEdit *NumEdit1, *NumEdit2;
    TMemo* Memo1;
    TAnalogGauge* AnalogGauge1;
    TRadioButton *RadioButton1, *RadioButton2, *RadioButton3, *RadioButton4, *RadioButton5,
        *RadioButton6, *RadioButton7, *RadioButton8, *RadioButton9, *RadioButton10, *RadioButton11,
        *RadioButton12, *RadioButton13;
    TExTrackBar *ExTrackBar1, *ExTrackBar2;
    THemisphereButton *HemisphereButton1, *HemisphereButton2;
    TPaintBox* PaintBox1;
    TjanColorButton *janColorButton1, *janColorButton2, *janColorButton3, *janColorButton4,
        *janColorButton5, *janColorButton6, *janColorButton7, *janColorButton8, *janColorButton9;
    TFleches *Fleches1, *Fleches2, *Fleches3, *Fleches4, *Fleches5, *Fleches6;
    TScrollingCredits* ScrollingCredits1;

    std::unique_ptr<TssVolumeController> AudioTools1;
    std::unique_ptr<TToneGen> ToneGen1;
    std::unique_ptr<TAudioMixer> AudioMixer1;
    std::unique_ptr<TSaveDialog> SaveDialog1;
    std::unique_ptr<TWordApplication> WordApplication1;

    // The author's addresses, which "Post an Autor" and "Homepage" open.
    static const QString kAuthorMail;
    static const QString kHomePage;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The stored layout (Unit1Layout.cpp): every component with its stored properties, assigned
    // in the loading state, and the events bound to the handlers.
    void LoadLayout(SoundOutput& sound, MixerDevice& mixer);
    void BindEvents();
    void ApplyStartupDefaults();
    // Lets the tone the defaults chose play (once; see the constructor).
    void StartTone();
    void MakeRecorder(PatientRecords* records, std::optional<DatabaseAddress> server);
    void ShowRecordsProblemAndOpenVisits();

    // Steps shared by the handlers of one group of radio buttons.
    void SelectEar(bool stereo, int leftVolume, int rightVolume);
    void SelectFrequency(int frequency);
    void ColorLegend(TLabel* chosen);
    // The gauge position of the level copies (the level model).
    float LevelPosition() const;
    int LevelVolume() const;
    bool AnyPatientFieldFilled() const;
    void ClearPatientFields();
    void DeletePictures();
    // Deletes the kept pictures and forgets them, so that no report carries them.
    void ForgetPictures();
    // Pictures an earlier run left in the private folder (after a crash, say) belong to nobody.
    void RemoveLeftoverPictures();
    // The curve on screen as the picture that is kept and copied.
    TBitmap CurvePicture();
    // Keeps `picture` as the picture of `ear` at *path; false (with the reason, and the path
    // where there is one) when it could not be written.
    bool KeepCurve(int ear, const TBitmap& picture, QString* path, QString* why);
    int SelectedEar() const;
    // Keeps the curve of the ear on screen anew when thresholds were taken into it since it was
    // kept (a new, empty curve does not count).
    void RenewKeptCurve();
    // The end of a report's run, on the window's thread.
    void ReportFinished();

    // The patient record on the window and the records behind it.
    void ConnectPatientRecords(bool enabled);
    // The visit of a patient who came by GDT is finishing: the result goes to the practice's
    // software, or is kept and said why.
    void FinishGdtVisit();
    // A request declined while the visit went on, taken now that the visit has finished.
    void OfferWaitingGdtRequest();
    void TakeGdtPatient(const QString& requestPath);
    std::unique_ptr<GdtLink> gdt_;
    // The PDF of the report made during the visit of a patient who came by GDT; it goes with
    // the result.
    QString gdtReportPdf_;
    // Keeps the threshold just taken (the level as the gauge shows it) in the records.
    void RecordThreshold();
    PatientFields PatientFieldsOnWindow() const;
    // The date of birth of the patient on the window, kept with them but not shown.
    QString birthDate_;
    void ShowPatientFields(const PatientFields& fields);
    void PatientFieldLeft(QWidget* field);
    // The ear of today's last take selected and its curve shown (a visit taken up again).
    void ShowTodaysTakes();
    void DrawEarlierCurve(TCanvas& canvas, TColor color, const std::array<int, 7>& levels);
    // Levels kept in tenths (-1: none) as the plot's rows, as the level model forms them from the
    // gauge's position (3.4 is row 40); none plots at the top, as an untaken threshold does.
    static std::array<int, 7> CurveOfLevels(const std::array<int, 7>& levels);
    VisitContext CurrentVisitContext() const;
    // The report's comparison with the patient's earlier visit, where there is one.
    std::optional<TReportComparison> ReportComparison() const;

    SoundOutput& sound_;
    MixerDevice& mixer_;
    QString recordsProblem_;
    std::unique_ptr<Notice> recordsNotice_;
    // Gone before the window is: a window being destroyed loses the focus too.
    QMetaObject::Connection fieldFocus_;
    bool fillingFields_ = false;
    bool askingSamePatient_ = false;
    std::optional<std::array<std::array<int, 7>, 3>> shownVisit_;
    std::unique_ptr<Notice> noSound_;
    std::unique_ptr<Notice> levelRestored_;
    std::unique_ptr<Notice> levelFailed_;
    bool warnedWithoutSound_ = false;
    bool shownOnce_ = false;
    bool toneStarted_ = false;
    std::vector<std::function<void()>> afterFirstPicture_;
    bool recordsTaken_ = false;
    // Reports, and every call to the word processor, run on this thread; made by the first.
    std::unique_ptr<TReportThread> reportThread_;
    bool reportRunning_ = false;
    bool closeAfterReport_ = false;
    bool destroying_ = false;
};

// The program's main window while it exists.
extern TForm1* Form1;

}  // namespace velmora
