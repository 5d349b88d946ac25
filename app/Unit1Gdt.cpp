// The test console's link to the practice's software: a patient sent by GDT taken into the window
// and the records, the result written back when the visit finishes.
#include "app/Unit1.h"

#include "app/GdtLink.h"
#include "app/PatientFileDialog.h"
#include "app/VisitRecorder.h"
#include "framework/GraphicControl.h"
#include "framework/MessageBox.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

namespace velmora {
namespace {

const QString kCaution = QStringLiteral("   Achtung!");

bool AnyThreshold(const VisitLevels& levels) {
    for (const auto& ear : levels) {
        for (const int level : ear) {
            if (level >= 0) {
                return true;
            }
        }
    }
    return false;
}

// The stored patient with this Patienten-ID, exactly.
std::optional<QString> StoredPatient(PatientRecords* records, const QString& patientNumber) {
    if (records == nullptr) {
        return std::nullopt;
    }
    for (const PatientSummary& found : records->Search(patientNumber, 100)) {
        if (found.patientId == patientNumber) {
            return found.id;
        }
    }
    return std::nullopt;
}

}  // namespace

void TForm1::SetGdtLink(std::unique_ptr<GdtLink> link) {
    gdt_ = std::move(link);
}

void TForm1::StartGdt(const QString& path) {
    if (!gdt_) {
        return;
    }
    if (const QString problem = gdt_->WritePending(); !problem.isEmpty()) {
        MessageBox(QStringLiteral("Ein Ergebnis für die Praxissoftware wartet noch und konnte "
                                  "nicht geschrieben werden.\n%1\nVelmora versucht es beim "
                                  "nächsten Abschluss einer Untersuchung erneut.")
                       .arg(problem),
                   kCaution, MB_OK);
    }
    // A visit that came by GDT and was left open by a crash: taken up again ("Ja" when it was
    // offered), its result goes when it finishes; finished as it stood ("Nein"), it goes now,
    // from the records.
    if (const GdtRequest* restored = gdt_->Restore()) {
        const QString number = restored->patient.patientNumber;
        if (PatientFieldsOnWindow().patientId != number) {
            VisitLevels levels;
            for (auto& ear : levels) {
                ear.fill(-1);
            }
            if (PatientRecords* records = Recorder->Records()) {
                if (const auto stored = StoredPatient(records, number)) {
                    const auto visits = records->VisitsOf(*stored);
                    if (!visits.empty() && !visits.front().open) {
                        levels = records->Levels(visits.front().id);
                    }
                }
            }
            const QString problem = gdt_->Finish(levels, {});
            if (!problem.isEmpty()) {
                MessageBox(QStringLiteral("Das Ergebnis für die Praxissoftware konnte nicht "
                                          "geschrieben werden.\n%1\nEs bleibt erhalten.")
                               .arg(problem),
                           kCaution, MB_OK);
            }
        }
    }
    QString request = path;
    if (request.isEmpty() && !gdt_->Settings().folder.isEmpty()) {
        const QString waiting =
            QDir(gdt_->Settings().folder).filePath(gdt_->Settings().RequestFileName());
        if (QFileInfo::exists(waiting)) {
            request = waiting;
        }
    }
    if (!request.isEmpty()) {
        TakeGdtRequest(request);
    }
}

void TForm1::TakeGdtRequest(const QString& path) {
    if (!gdt_) {
        gdt_ = std::make_unique<GdtLink>(GdtSettings::Read());
    }
    // Read before anything changes: a request refused leaves the window as it is.
    const GdtRequestFile read = gdt_->Read(path);
    if (!read.request) {
        MessageBox(read.error, kCaution, MB_OK);
        return;
    }
    raise();
    activateWindow();
    const GdtRequest& request = *read.request;
    const GdtPatient& patient = request.patient;
    const GdtRequest* current = gdt_->Current();
    const bool begun = AnyThreshold(Recorder->TodayLevels());
    switch (request.type) {
        case GdtRequestType::Cancel:
            gdt_->RequestTaken(path);
            // Withdrawn before it began: the patient leaves the window without a result.
            if (current != nullptr && current->patient.patientNumber == patient.patientNumber) {
                if (begun) {
                    MessageBox(QStringLiteral("Die Praxissoftware hat die Untersuchung von %1 %2 "
                                              "abgesagt.\nSie hat bereits begonnen und wird "
                                              "fortgesetzt.")
                                   .arg(patient.firstName, patient.name),
                               kCaution, MB_OK);
                    return;
                }
                gdt_->Drop();
                Recorder->FinishVisit(false);
                ClearPatientFields();
                ForgetPictures();
                janColorButton5click(this);
                PaintBox1->Repaint();
            }
            return;
        case GdtRequestType::ShowExamination: {
            gdt_->RequestTaken(path);
            if (!Recorder->Enabled()) {
                janColorButton9click(this);  // says why there is no Patientenakte
                return;
            }
            const auto stored = StoredPatient(Recorder->Records(), patient.patientNumber);
            if (!stored) {
                MessageBox(QStringLiteral("Die Praxissoftware möchte die Untersuchung von %1 %2 "
                                          "zeigen, aber kein gespeicherter Patient hat die "
                                          "Patienten-ID „%3“.")
                               .arg(patient.firstName, patient.name, patient.patientNumber),
                           kCaution, MB_OK);
                return;
            }
            Recorder->SaveFields();
            PatientFileDialog dialog(*Recorder->Records(), this);
            dialog.OnShowVisit = [this](const VisitLevels* levels) { ShowVisitLevels(levels); };
            dialog.SearchField()->setText(patient.patientNumber);
            dialog.SelectLatestVisitOf(*stored);
            const bool take = dialog.exec() == QDialog::Accepted;
            ShowVisitLevels(nullptr);
            if (take) {
                TakePatient(dialog.ChosenPatient());
            }
            return;
        }
        case GdtRequestType::MasterData:
        case GdtRequestType::Examination:
            break;
    }
    if (begun) {
        const PatientFields onWindow = PatientFieldsOnWindow();
        if (MessageBox(QStringLiteral("Die Untersuchung von %1 %2 ist nicht abgeschlossen.\nSoll "
                                      "sie beendet und %3 %4 übernommen werden?")
                           .arg(onWindow.firstName, onWindow.name, patient.firstName, patient.name),
                       kCaution, MB_YESNO) != IDYES) {
            // Not lost: offered again when the visit on the window finishes.
            gdt_->Declined(path);
            return;
        }
    }
    gdt_->RequestTaken(path);
    FinishGdtVisit();
    gdt_->Begin(request, QFileInfo(path).absolutePath(), QDateTime::currentDateTime());
    TakeGdtPatient(path);
}

void TForm1::OfferWaitingGdtRequest() {
    if (gdt_) {
        if (const QString waiting = gdt_->Waiting(); !waiting.isEmpty()) {
            TakeGdtRequest(waiting);
        }
    }
}

void TForm1::TakeGdtPatient(const QString&) {
    const GdtPatient& patient = gdt_->Current()->patient;
    // A stored patient with the same Patienten-ID is that patient: loaded as "Übernehmen" does,
    // and what the practice's software sends differently is a change of them, as if typed.
    // TakePatient finishes the visit on the window; the request stays with the next one.
    const GdtRequest request = *gdt_->Current();
    const QString folder = gdt_->CurrentFolder();
    const QDateTime started = QDateTime::currentDateTime();
    gdt_->Drop();
    if (const auto stored = StoredPatient(Recorder->Records(), patient.patientNumber)) {
        TakePatient(*stored);
        gdt_->Begin(request, folder, started);
        const PatientFields loaded = PatientFieldsOnWindow();
        const PatientFields sent = WithRequestFields(loaded, request.patient);
        if (sent != loaded) {
            ShowPatientFields(sent);
            Recorder->FieldTyped();
            Recorder->SaveFields();
        }
    } else {
        Recorder->FinishVisit(false);
        ClearPatientFields();
        ForgetPictures();
        janColorButton5click(this);
        gdt_->Begin(request, folder, started);
        ShowPatientFields(PatientFieldsOf(request.patient));
        // Kept as a new patient now, as if typed.
        Recorder->FieldTyped();
        Recorder->SaveFields();
    }
    PaintBox1->Repaint();
}

void TForm1::FinishGdtVisit() {
    if (!gdt_) {
        return;
    }
    const QString problem = gdt_->Finish(Recorder->TodayLevels(), gdtReportPdf_);
    gdtReportPdf_.clear();
    if (!problem.isEmpty()) {
        MessageBox(QStringLiteral("Das Ergebnis für die Praxissoftware konnte nicht geschrieben "
                                  "werden.\n%1\nEs bleibt erhalten: Velmora schreibt es beim "
                                  "nächsten Abschluss einer Untersuchung oder beim nächsten Start "
                                  "erneut.")
                       .arg(problem),
                   kCaution, MB_OK);
    }
}

}  // namespace velmora
