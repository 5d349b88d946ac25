#pragma once

#include "records/PatientRecords.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <vector>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace velmora {

class VisitCoursePlot;

// "Patientenakte": finding a stored patient and looking at their visits.
//
// The search field has the focus; the list below it shows the matching patients (Name, Vorname,
// Patienten-ID, Wohnort, the date of the last visit) as the operator types, the first selected;
// Up and Down move the selection from the search field; Return or "Übernehmen" takes the selected
// patient (the dialog ends accepted, ChosenPatient() names them); Escape closes. For the selected
// patient the second list shows the visits (date, time, operator, ears tested); "Anzeigen" hands
// a finished visit's levels to OnShowVisit, and the dialog hands nullptr when it closes.
// "Frühere Angaben…" lists every version of the selected patient's fields, with time, user and
// workstation. "Löschen…" erases the selected patient with every visit after a question and a
// typed reason; inside the ten years records are kept after the last visit, the question says so
// and is asked again. Below the visits, the course across them (VisitCoursePlot.h); "Als Grundlage
// wählen" takes the patient with the selected finished visit as the one the window and the report
// compare with (ChosenBasis()); "Korrigieren" takes the patient with a correction of the selected
// finished visit (ChosenCorrection()).
// "Exportieren…" writes the selected patient's visits as CSV or as a FHIR R4 Bundle
// (PatientExport.h), to a file the operator chooses.
class PatientFileDialog : public QDialog {
public:
    PatientFileDialog(PatientRecords& records, QWidget* parent = nullptr);
    ~PatientFileDialog() override;

    QString ChosenPatient() const { return chosen_; }
    // The visit chosen as the basis of comparison, empty when none was chosen.
    QString ChosenBasis() const { return basis_; }
    // The finished visit to be corrected, empty when none was chosen.
    QString ChosenCorrection() const { return correction_; }
    // Selects the listed patient `patientId` (the records' id) and their latest finished visit,
    // shown as "Anzeigen" shows it. False when that patient is not listed.
    bool SelectLatestVisitOf(const QString& patientId);
    std::function<void(const VisitLevels* levels)> OnShowVisit;
    // A line of the audit trail for what the dialog showed: a search's patients (their ids), a
    // visit shown.
    std::function<void(const QString& action, const QString& patientId, const QString& visitId,
                       const QString& detail)>
        OnAudit;

    // For driving the dialog as an operator would.
    QLineEdit* SearchField() const { return search_; }
    QTreeWidget* PatientList() const { return patients_; }
    QTreeWidget* VisitList() const { return visits_; }
    QPushButton* ShowButton() const { return show_; }
    QPushButton* TakeButton() const { return take_; }
    QPushButton* EarlierFieldsButton() const { return earlier_; }
    QPushButton* EraseButton() const { return erase_; }
    QPushButton* BasisButton() const { return basisButton_; }
    QPushButton* CorrectButton() const { return correct_; }
    VisitCoursePlot* CoursePlot() const { return course_; }
    // The patient on the main window, who is not erased while shown there.
    void SetPatientOnWindow(const QString& patientId) { patientOnWindow_ = patientId; }
    // The list of "Frühere Angaben…" while it is open.
    QTreeWidget* VersionList() const { return versions_; }
    QPushButton* ExportButton() const { return export_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    void Search();
    void ListVisits();
    void ShowVisit();
    void ShowEarlierFields();
    void Erase();
    // The selected finished visit with a threshold, nullptr without one.
    const VisitInfo* SelectedFinishedVisit() const;
    void ChooseBasis();
    void ChooseCorrection();
    // The reason typed for an erasure; nullopt when the operator cancels.
    std::optional<QString> AskReason();
    void Take();
    void Export();

    PatientRecords& records_;
    QLineEdit* search_;
    QTreeWidget* patients_;
    QTreeWidget* visits_;
    QPushButton* show_;
    QPushButton* earlier_;
    QPushButton* erase_;
    QPushButton* basisButton_;
    VisitCoursePlot* course_;
    QString basis_;
    QPushButton* correct_;
    QString correction_;
    QString patientOnWindow_;
    QTreeWidget* versions_ = nullptr;
    QPushButton* take_;
    QPushButton* close_;
    QPushButton* export_;
    std::vector<VisitInfo> visitInfos_;
    VisitLevels shownLevels_{};
    bool showing_ = false;
    QString chosen_;
};

}  // namespace velmora
