#pragma once

#include "records/PatientRecords.h"

#include <QDialog>

#include <functional>
#include <vector>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace velmora {

// "Patientenakte": finding a stored patient and looking at their visits.
//
// The search field has the focus; the list below it shows the matching patients (Name, Vorname,
// Patienten-ID, Wohnort, the date of the last visit) as the operator types, the first selected;
// Up and Down move the selection from the search field; Return or "Übernehmen" takes the selected
// patient (the dialog ends accepted, ChosenPatient() names them); Escape closes. For the selected
// patient the second list shows the visits (date, time, operator, ears tested); "Anzeigen" hands
// a finished visit's levels to OnShowVisit, and the dialog hands nullptr when it closes.
class PatientFileDialog : public QDialog {
public:
    PatientFileDialog(PatientRecords& records, QWidget* parent = nullptr);
    ~PatientFileDialog() override;

    QString ChosenPatient() const { return chosen_; }
    std::function<void(const VisitLevels* levels)> OnShowVisit;

    // For driving the dialog as an operator would.
    QLineEdit* SearchField() const { return search_; }
    QTreeWidget* PatientList() const { return patients_; }
    QTreeWidget* VisitList() const { return visits_; }
    QPushButton* ShowButton() const { return show_; }
    QPushButton* TakeButton() const { return take_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    void Search();
    void ListVisits();
    void ShowVisit();
    void Take();

    PatientRecords& records_;
    QLineEdit* search_;
    QTreeWidget* patients_;
    QTreeWidget* visits_;
    QPushButton* show_;
    QPushButton* take_;
    QPushButton* close_;
    std::vector<VisitInfo> visitInfos_;
    VisitLevels shownLevels_{};
    bool showing_ = false;
    QString chosen_;
};

}  // namespace velmora
