// The test console's patient records: the visit kept as it goes, the earlier visit drawn behind
// today's curve, unfinished visits offered after a crash, and "Patientenakte".
#include "app/Unit1.h"

#include "app/PatientFileDialog.h"
#include "app/VisitRecorder.h"
#include "audio/AMixer.h"
#include "controls/AnalogGauge.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Edit.h"
#include "framework/GraphicControl.h"
#include "framework/Memo.h"
#include "framework/MessageBox.h"
#include "framework/RadioButton.h"
#include "platform/mixer/MixerDevice.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

#include <cmath>

namespace velmora {
namespace {

const QString kCaution = QStringLiteral("   Achtung!");

// The marker boxes of the curve's slots (left and right edge), as the plot draws them.
constexpr int kMarkerLeft[7] = {41, 84, 128, 170, 214, 256, 300};
constexpr int kMarkerRight[7] = {45, 88, 132, 174, 218, 260, 304};

}  // namespace

std::array<int, 7> TForm1::CurveOfLevels(const std::array<int, 7>& levels) {
    std::array<int, 7> curve{};
    for (std::size_t slot = 0; slot < 7; ++slot) {
        const int tenths = levels[slot];
        if (tenths < 0) {
            continue;
        }
        const int coarse = tenths / 10;
        const double fine = double(tenths % 10) * 0.1;
        const float position = float(coarse < 1 ? fine : fine + coarse);
        curve[slot] = int(double(position) * 12);
    }
    return curve;
}

void TForm1::ConnectPatientRecords(bool enabled) {
    if (!enabled) {
        return;
    }
    // The visit opens with the first field typed (not with what the program fills in).
    const auto typed = [this](TComponent*) {
        if (!fillingFields_) {
            Recorder->FieldTyped();
        }
    };
    for (TEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7,
                        static_cast<TEdit*>(NumEdit1), static_cast<TEdit*>(NumEdit2)}) {
        edit->OnChange = typed;
    }
    Memo1->OnChange = typed;
    // A field is written when it loses the focus, to another control or another window.
    fieldFocus_ = connect(qApp, &QApplication::focusChanged, this,
                          [this](QWidget* old, QWidget*) { PatientFieldLeft(old); });
}

PatientFields TForm1::PatientFieldsOnWindow() const {
    return {Edit1->Text(),    Edit2->Text(), Edit3->Text(), Edit4->Text(),
            Edit5->Text(),    Edit6->Text(), Edit7->Text(), NumEdit1->Text(),
            NumEdit2->Text(), Memo1->Text(), birthDate_};
}

void TForm1::ShowPatientFields(const PatientFields& fields) {
    fillingFields_ = true;
    Edit1->SetText(fields.patientId);
    Edit2->SetText(fields.firstName);
    Edit3->SetText(fields.name);
    Edit4->SetText(fields.town);
    Edit5->SetText(fields.street);
    Edit6->SetText(fields.email);
    Edit7->SetText(fields.doctor);
    NumEdit1->SetText(fields.postcode);
    NumEdit2->SetText(fields.telephone);
    Memo1->SetText(fields.remarks);
    birthDate_ = fields.birthDate;
    fillingFields_ = false;
}

VisitContext TForm1::CurrentVisitContext() const {
    const MixerDevice::OutputIdentity output = mixer_.SpeakerOutput();
    const TRadioButton* const waveforms[3] = {RadioButton11, RadioButton12, RadioButton13};
    static const char* const names[3] = {"sine", "triangle", "square"};
    QString waveform;
    for (int i = 0; i < 3; ++i) {
        if (waveforms[i]->Checked()) {
            waveform = QString::fromLatin1(names[i]);
        }
    }
    return {CurrentOperator(), CurrentWorkstation(), QString::fromStdString(output.name),
            QString::fromStdString(output.description), waveform};
}

void TForm1::RecordThreshold() {
    if (!Recorder->Enabled()) {
        return;
    }
    const TRadioButton* const frequencies[7] = {RadioButton4, RadioButton5, RadioButton6,
                                                RadioButton7, RadioButton8, RadioButton9,
                                                RadioButton10};
    const TRadioButton* const waveforms[3] = {RadioButton11, RadioButton12, RadioButton13};
    static const char* const waveformNames[3] = {"sine", "triangle", "square"};
    QString waveform;
    for (int i = 0; i < 3; ++i) {
        if (waveforms[i]->Checked()) {
            waveform = QString::fromLatin1(waveformNames[i]);
        }
    }
    // The level as the gauge shows it, in tenths.
    const int level = std::clamp(int(std::lround(double(AnalogGauge1->Position()) * 10)), 0, 99);
    for (int slot = 0; slot < 7; ++slot) {
        if (frequencies[slot]->Checked()) {
            Recorder->ThresholdTaken(Ear(SelectedEar()), slot, level, waveform);
        }
    }
}

void TForm1::PatientFieldLeft(QWidget* old) {
    if (old == nullptr || fillingFields_ || !Recorder->Enabled()) {
        return;
    }
    const QWidget* const fields[] = {Edit1, Edit2, Edit3,    Edit4,    Edit5,
                                     Edit6, Edit7, NumEdit1, NumEdit2, Memo1};
    const QWidget* left = nullptr;
    for (const QWidget* field : fields) {
        if (field == old || field->isAncestorOf(old)) {
            left = field;
        }
    }
    if (left == nullptr) {
        return;
    }
    Recorder->SaveFields();
    if (left == Edit3 && !askingSamePatient_) {
        // Asked after the focus has moved, not inside the focus change.
        QTimer::singleShot(0, this, [this] {
            const auto same = Recorder->SamePatientToAsk();
            if (!same) {
                return;
            }
            askingSamePatient_ = true;
            const int answer = MessageBox(
                QStringLiteral("Ein Patient %1 %2 ist bereits gespeichert.\nIst es derselbe "
                               "Patient?")
                    .arg(same->firstName, same->name),
                kCaution, MB_YESNO);
            askingSamePatient_ = false;
            if (answer != IDYES) {
                return;
            }
            if (const auto merged = Recorder->TakeStoredPatient(same->id)) {
                ShowPatientFields(*merged);
                Recorder->SaveFields();
                PaintBox1->Repaint();
            }
        });
    }
}

void TForm1::DrawEarlierCurve(TCanvas& c, TColor color, const std::array<int, 7>& levels) {
    const std::array<int, 7> rows = CurveOfLevels(levels);
    c.Pen().SetColor(color);
    c.Pen().SetWidth(1);
    c.Brush().SetStyle(bsClear);
    bool previous = false;
    for (std::size_t slot = 0; slot < 7; ++slot) {
        if (levels[slot] < 0) {
            continue;
        }
        const int centreX = (kMarkerLeft[slot] + kMarkerRight[slot]) / 2;
        const int row = rows[slot];
        c.Pen().SetStyle(psSolid);
        c.Ellipse(kMarkerLeft[slot], row, kMarkerRight[slot] + 1, row + 5);
        c.Pen().SetStyle(psDash);
        if (previous) {
            c.LineTo(centreX, row + 2);
        }
        c.MoveTo(centreX, row + 2);
        previous = true;
    }
    c.Pen().SetStyle(psSolid);
    c.Brush().SetStyle(bsSolid);
}

std::optional<TReportComparison> TForm1::ReportComparison() const {
    const auto& earlier = Recorder->Earlier();
    if (!earlier) {
        return std::nullopt;
    }
    const VisitLevels& today = Recorder->TodayLevels();
    TReportComparison comparison;
    comparison.EarlierDate = earlier->date;
    comparison.LeftToday = today[std::size_t(Ear::Left)];
    comparison.LeftEarlier = earlier->levels[std::size_t(Ear::Left)];
    comparison.RightToday = today[std::size_t(Ear::Right)];
    comparison.RightEarlier = earlier->levels[std::size_t(Ear::Right)];
    // Today's output is the one of today's visit, or the one that would be if none is open yet.
    QString todayOutput = Recorder->TodayContext().outputName;
    if (todayOutput.isEmpty()) {
        todayOutput = QString::fromStdString(mixer_.SpeakerOutput().name);
    }
    if (!earlier->outputName.isEmpty() && !todayOutput.isEmpty() &&
        earlier->outputName != todayOutput) {
        comparison.OtherOutput =
            earlier->outputDescription.isEmpty() ? earlier->outputName : earlier->outputDescription;
    }
    return comparison;
}

void TForm1::ShowVisitLevels(const std::array<std::array<int, 7>, 3>* levels) {
    if (levels != nullptr) {
        shownVisit_ = *levels;
    } else {
        shownVisit_.reset();
    }
    PaintBox1->Repaint();
}

void TForm1::OfferUnfinishedVisits() {
    for (const VisitInfo& visit : Recorder->UnfinishedVisits()) {
        PatientRecords* records = Recorder->Records();
        if (records == nullptr) {
            return;
        }
        const auto patient = records->LoadPatient(visit.patientId);
        const int answer = MessageBox(
            QStringLiteral("Die Untersuchung von %1 %2 vom %3 wurde nicht abgeschlossen.\nMöchten "
                           "Sie sie fortsetzen?")
                .arg(patient ? patient->firstName : QString(), patient ? patient->name : QString(),
                     visit.started.toLocalTime().toString(QStringLiteral("dd.MM.yyyy"))),
            kCaution, MB_YESNO);
        if (answer != IDYES) {
            Recorder->FinishUnfinishedVisit(visit);
            continue;
        }
        const auto fields = Recorder->ResumeVisit(visit);
        if (!fields) {
            continue;
        }
        ShowPatientFields(*fields);
        ShowTodaysTakes();
        // Any other unfinished visit is offered at the next start.
        return;
    }
}

void TForm1::ShowTodaysTakes() {
    const int ear = int(Recorder->LastEar().value_or(Ear::Both));
    TRadioButton* const ears[3] = {RadioButton3, RadioButton1, RadioButton2};
    ears[ear]->SetChecked(true);
    Thresholds = CurveOfLevels(Recorder->TodayLevels()[std::size_t(ear)]);
    PaintBox1->Repaint();
}

void TForm1::TakePatient(const QString& patientId) {
    FinishGdtVisit();
    Recorder->FinishVisit(false);
    ClearPatientFields();
    ForgetPictures();
    janColorButton5click(this);
    if (const auto fields = Recorder->LoadPatient(patientId)) {
        ShowPatientFields(*fields);
    }
    PaintBox1->Repaint();
}

void TForm1::janColorButton9click(TComponent*) {
    if (!Recorder->Enabled()) {
        MessageBox(QStringLiteral("Die Patientenakte ist nicht verfügbar.\n%1")
                       .arg(recordsProblem_.isEmpty()
                                ? QStringLiteral("Es ist keine Patientenakte eingerichtet.")
                                : recordsProblem_),
                   kCaution, MB_OK);
        return;
    }
    Recorder->SaveFields();
    PatientRecords* records = Recorder->Records();
    if (records == nullptr) {
        MessageBox(
            QStringLiteral("Die Patientenakte ist nicht verfügbar.\nDie Patientenakte auf %1 "
                           "ist nicht erreichbar.")
                .arg(Recorder->ServerShown()),
            kCaution, MB_OK);
        return;
    }
    PatientFileDialog dialog(*records, this);
    dialog.OnShowVisit = [this](const VisitLevels* levels) { ShowVisitLevels(levels); };
    dialog.SetPatientOnWindow(Recorder->PatientId());
    dialog.OnAudit = [this](const QString& action, const QString& patientId, const QString& visitId,
                            const QString& detail) {
        Recorder->Audit(action, patientId, visitId, detail);
    };
    const bool take = dialog.exec() == QDialog::Accepted;
    ShowVisitLevels(nullptr);
    if (!take) {
        return;
    }
    if (!dialog.ChosenCorrection().isEmpty()) {
        // The correction begins with the corrected visit's takes on the window.
        TakePatient(dialog.ChosenPatient());
        if (Recorder->CorrectVisit(dialog.ChosenCorrection())) {
            ShowTodaysTakes();
        }
        return;
    }
    // A basis chosen for the patient on the window leaves today's visit as it is.
    if (dialog.ChosenBasis().isEmpty() || dialog.ChosenPatient() != Recorder->PatientId()) {
        TakePatient(dialog.ChosenPatient());
    }
    if (!dialog.ChosenBasis().isEmpty()) {
        Recorder->ChooseBasis(dialog.ChosenBasis());
        PaintBox1->Repaint();
    }
}

}  // namespace velmora
