#include "app/PatientFileDialog.h"

#include "app/PatientExport.h"
#include "app/VisitCoursePlot.h"
#include "framework/Dialogs.h"
#include "framework/MessageBox.h"

#include <QBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>

#include <algorithm>

namespace velmora {
namespace {

// The matches listed; typing more narrows them down.
constexpr int kListed = 50;

QTreeWidget* List(QWidget* parent, const QStringList& headers) {
    auto* list = new QTreeWidget(parent);
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->header()->setStretchLastSection(true);
    list->setFocusPolicy(Qt::ClickFocus);
    return list;
}

QString EarsOf(const VisitInfo& visit) {
    static const char* const names[3] = {"beide", "links", "rechts"};
    QStringList ears;
    for (const int ear : {1, 2, 0}) {
        if (visit.earsTested[std::size_t(ear)]) {
            ears << QString::fromLatin1(names[ear]);
        }
    }
    return ears.isEmpty() ? QStringLiteral("–") : ears.join(QStringLiteral(", "));
}

}  // namespace

PatientFileDialog::PatientFileDialog(PatientRecords& records, QWidget* parent)
    : QDialog(parent), records_(records) {
    setWindowTitle(QStringLiteral("Patientenakte"));
    setModal(true);
    resize(720, 640);

    auto* layout = new QVBoxLayout(this);
    auto* searchLabel =
        new QLabel(QStringLiteral("Suche (Name, Vorname, Patienten-ID, Wohnort):"), this);
    search_ = new QLineEdit(this);
    searchLabel->setBuddy(search_);
    patients_ = List(
        this, {QStringLiteral("Name"), QStringLiteral("Vorname"), QStringLiteral("Patienten-ID"),
               QStringLiteral("Wohnort"), QStringLiteral("Letzte Untersuchung")});
    visits_ = List(this, {QStringLiteral("Datum"), QStringLiteral("Uhrzeit"),
                          QStringLiteral("Untersucher"), QStringLiteral("Getestete Ohren")});
    show_ = new QPushButton(QStringLiteral("Anzeigen"), this);
    earlier_ = new QPushButton(QStringLiteral("Frühere Angaben…"), this);
    erase_ = new QPushButton(QStringLiteral("Löschen…"), this);
    basisButton_ = new QPushButton(QStringLiteral("Als Grundlage wählen"), this);
    correct_ = new QPushButton(QStringLiteral("Korrigieren"), this);
    course_ = new VisitCoursePlot(this);
    take_ = new QPushButton(QStringLiteral("Übernehmen"), this);
    close_ = new QPushButton(QStringLiteral("Schließen"), this);
    export_ = new QPushButton(QStringLiteral("Exportieren…"), this);
    for (QPushButton* button :
         {show_, basisButton_, correct_, earlier_, erase_, export_, take_, close_}) {
        button->setAutoDefault(false);
    }
    // Return in the search field takes the selected patient.
    take_->setDefault(true);

    layout->addWidget(searchLabel);
    layout->addWidget(search_);
    layout->addWidget(patients_, 3);
    layout->addWidget(new QLabel(QStringLiteral("Untersuchungen:"), this));
    layout->addWidget(visits_, 2);
    layout->addWidget(new QLabel(QStringLiteral("Verlauf über die Untersuchungen:"), this));
    layout->addWidget(course_, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(show_);
    buttons->addWidget(basisButton_);
    buttons->addWidget(correct_);
    buttons->addWidget(earlier_);
    buttons->addWidget(erase_);
    buttons->addWidget(export_);
    buttons->addStretch(1);
    buttons->addWidget(take_);
    buttons->addWidget(close_);
    layout->addLayout(buttons);

    search_->installEventFilter(this);
    connect(search_, &QLineEdit::textChanged, this, &PatientFileDialog::Search);
    connect(patients_, &QTreeWidget::currentItemChanged, this, &PatientFileDialog::ListVisits);
    connect(patients_, &QTreeWidget::itemDoubleClicked, this, &PatientFileDialog::Take);
    connect(visits_, &QTreeWidget::currentItemChanged, this, [this] {
        const int row =
            visits_->currentItem() ? visits_->indexOfTopLevelItem(visits_->currentItem()) : -1;
        show_->setEnabled(row >= 0 && !visitInfos_[std::size_t(row)].open);
        basisButton_->setEnabled(SelectedFinishedVisit() != nullptr);
        correct_->setEnabled(SelectedFinishedVisit() != nullptr);
    });
    connect(show_, &QPushButton::clicked, this, &PatientFileDialog::ShowVisit);
    connect(earlier_, &QPushButton::clicked, this, &PatientFileDialog::ShowEarlierFields);
    connect(erase_, &QPushButton::clicked, this, &PatientFileDialog::Erase);
    connect(basisButton_, &QPushButton::clicked, this, &PatientFileDialog::ChooseBasis);
    connect(correct_, &QPushButton::clicked, this, &PatientFileDialog::ChooseCorrection);
    connect(take_, &QPushButton::clicked, this, &PatientFileDialog::Take);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    connect(export_, &QPushButton::clicked, this, &PatientFileDialog::Export);

    search_->setFocus();
    Search();
}

PatientFileDialog::~PatientFileDialog() = default;

void PatientFileDialog::Search() {
    patients_->clear();
    QStringList shown;
    for (const PatientSummary& patient : records_.Search(search_->text(), kListed)) {
        shown.append(patient.id);
        auto* item = new QTreeWidgetItem(
            patients_, {patient.name, patient.firstName, patient.patientId, patient.town,
                        patient.lastVisit.isValid()
                            ? patient.lastVisit.toLocalTime().toString(QStringLiteral("dd.MM.yyyy"))
                            : QString()});
        item->setData(0, Qt::UserRole, patient.id);
    }
    // Who saw which patients in a list, never what was typed.
    if (!shown.isEmpty() && OnAudit) {
        OnAudit(audit::kSearch, QString(), QString(), shown.join(u' '));
    }
    if (patients_->topLevelItemCount() > 0) {
        patients_->setCurrentItem(patients_->topLevelItem(0));
    }
    ListVisits();
}

void PatientFileDialog::ListVisits() {
    visits_->clear();
    visitInfos_.clear();
    QTreeWidgetItem* patient = patients_->currentItem();
    take_->setEnabled(patient != nullptr);
    earlier_->setEnabled(patient != nullptr);
    erase_->setEnabled(patient != nullptr);
    export_->setEnabled(patient != nullptr);
    show_->setEnabled(false);
    basisButton_->setEnabled(false);
    correct_->setEnabled(false);
    if (patient == nullptr) {
        course_->SetCourse({});
        return;
    }
    const QString id = patient->data(0, Qt::UserRole).toString();
    visitInfos_ = records_.VisitsOf(id);
    course_->SetCourse(records_.Course(id));
    QSet<QString> corrected;
    for (const VisitInfo& visit : visitInfos_) {
        if (!visit.corrects.isEmpty()) {
            corrected.insert(visit.corrects);
        }
    }
    for (const VisitInfo& visit : visitInfos_) {
        const QDateTime started = visit.started.toLocalTime();
        new QTreeWidgetItem(
            visits_,
            {started.toString(QStringLiteral("dd.MM.yyyy")),
             started.toString(QStringLiteral("HH:mm")) +
                 (visit.open ? QStringLiteral(" (offen)") : QString()) +
                 (visit.corrects.isEmpty() ? QString() : QStringLiteral(" (Korrektur)")) +
                 (corrected.contains(visit.id) ? QStringLiteral(" (korrigiert)") : QString()),
             visit.context.operatorName, EarsOf(visit)});
    }
}

void PatientFileDialog::ShowVisit() {
    QTreeWidgetItem* item = visits_->currentItem();
    if (item == nullptr || !OnShowVisit) {
        return;
    }
    const VisitInfo& visit = visitInfos_[std::size_t(visits_->indexOfTopLevelItem(item))];
    if (visit.open) {
        return;
    }
    shownLevels_ = records_.Levels(visit.id);
    showing_ = true;
    if (OnAudit) {
        OnAudit(audit::kShow, visit.patientId, visit.id, QString());
    }
    OnShowVisit(&shownLevels_);
}

void PatientFileDialog::ShowEarlierFields() {
    QTreeWidgetItem* patient = patients_->currentItem();
    if (patient == nullptr) {
        return;
    }
    const QString id = patient->data(0, Qt::UserRole).toString();
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Frühere Angaben"));
    dialog.resize(760, 320);
    auto* layout = new QVBoxLayout(&dialog);
    versions_ = List(
        &dialog, {QStringLiteral("Geändert am"), QStringLiteral("von"),
                  QStringLiteral("Arbeitsplatz"), QStringLiteral("Patienten-ID"),
                  QStringLiteral("Vorname"), QStringLiteral("Name"), QStringLiteral("Wohnort"),
                  QStringLiteral("Straße"), QStringLiteral("E-Mail"), QStringLiteral("Arzt"),
                  QStringLiteral("PLZ"), QStringLiteral("Telefon"), QStringLiteral("Bemerkungen")});
    // The latest first: what the patient's fields held from that time on.
    for (const PatientVersion& version : records_.Versions(id)) {
        const PatientFields& f = version.fields;
        new QTreeWidgetItem(
            versions_,
            {version.changedAt.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
             version.changedBy, version.changedOn, f.patientId, f.firstName, f.name, f.town,
             f.street, f.email, f.doctor, f.postcode, f.telephone,
             QString(f.remarks).replace(u'\n', u' ')});
    }
    auto* close = new QPushButton(QStringLiteral("Schließen"), &dialog);
    connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
    layout->addWidget(versions_);
    layout->addWidget(close, 0, Qt::AlignRight);
    if (OnAudit) {
        OnAudit(audit::kShow, id, QString(), QStringLiteral("Frühere Angaben"));
    }
    dialog.exec();
    versions_ = nullptr;
}

void PatientFileDialog::Erase() {
    QTreeWidgetItem* patient = patients_->currentItem();
    if (patient == nullptr) {
        return;
    }
    const QString caption = QStringLiteral("Patientenakte");
    const QString id = patient->data(0, Qt::UserRole).toString();
    if (id == patientOnWindow_) {
        MessageBox(QStringLiteral("Der Patient ist im Hauptfenster geöffnet und kann nicht "
                                  "gelöscht werden.\nBitte beenden Sie zuerst seine Untersuchung."),
                   caption, MB_OK | MB_ICONWARNING);
        return;
    }
    const QString who = (patient->text(1) + u' ' + patient->text(0)).trimmed();
    QDateTime lastVisit;
    for (const VisitInfo& visit : visitInfos_) {
        if (!lastVisit.isValid() || visit.started > lastVisit) {
            lastVisit = visit.started;
        }
    }
    const bool inside = InsideKeepingPeriod(lastVisit, QDateTime::currentDateTimeUtc());
    QString question =
        who.isEmpty()
            ? QStringLiteral("Soll der Patient mit allen Untersuchungen endgültig gelöscht werden?")
            : QStringLiteral(
                  "Sollen die Angaben von %1 mit allen Untersuchungen endgültig "
                  "gelöscht werden?")
                  .arg(who);
    if (inside) {
        question += QStringLiteral(
                        "\n\nDie letzte Untersuchung war am %1. Patientenakten müssen in der "
                        "Regel zehn Jahre nach der letzten Behandlung aufbewahrt werden.")
                        .arg(lastVisit.toLocalTime().toString(QStringLiteral("dd.MM.yyyy")));
    }
    if (MessageBox(question, caption, MB_YESNO | MB_ICONWARNING) != IDYES) {
        return;
    }
    const std::optional<QString> reason = AskReason();
    if (!reason) {
        return;
    }
    if (inside && MessageBox(QStringLiteral("Die Aufbewahrungsfrist von zehn Jahren ist noch nicht "
                                            "abgelaufen.\nSoll trotzdem gelöscht werden?"),
                             caption, MB_YESNO | MB_ICONWARNING) != IDYES) {
        return;
    }
    if (!records_.ErasePatient(id, *reason)) {
        MessageBox(QStringLiteral("Der Patient wurde nicht gelöscht.\n") + records_.LastError(),
                   caption, MB_OK | MB_ICONERROR);
        return;
    }
    Search();
}

std::optional<QString> PatientFileDialog::AskReason() {
    QInputDialog input(this);
    input.setWindowTitle(QStringLiteral("Löschen"));
    input.setLabelText(QStringLiteral("Grund der Löschung:"));
    input.setInputMode(QInputDialog::TextInput);
    input.setOkButtonText(QStringLiteral("Löschen"));
    input.setCancelButtonText(QStringLiteral("Abbrechen"));
    while (input.exec() == QDialog::Accepted) {
        if (!input.textValue().trimmed().isEmpty()) {
            return input.textValue().trimmed();
        }
        MessageBox(QStringLiteral("Bitte geben Sie den Grund der Löschung ein."),
                   QStringLiteral("Patientenakte"), MB_OK | MB_ICONWARNING);
    }
    return std::nullopt;
}

const VisitInfo* PatientFileDialog::SelectedFinishedVisit() const {
    QTreeWidgetItem* item = visits_->currentItem();
    if (item == nullptr || patients_->currentItem() == nullptr) {
        return nullptr;
    }
    const VisitInfo& visit = visitInfos_[std::size_t(visits_->indexOfTopLevelItem(item))];
    const bool tested = std::find(visit.earsTested.cbegin(), visit.earsTested.cend(), true) !=
                        visit.earsTested.cend();
    return visit.open || !tested ? nullptr : &visit;
}

void PatientFileDialog::ChooseBasis() {
    if (const VisitInfo* visit = SelectedFinishedVisit()) {
        chosen_ = patients_->currentItem()->data(0, Qt::UserRole).toString();
        basis_ = visit->id;
        correction_.clear();
        accept();
    }
}

void PatientFileDialog::ChooseCorrection() {
    if (const VisitInfo* visit = SelectedFinishedVisit()) {
        chosen_ = patients_->currentItem()->data(0, Qt::UserRole).toString();
        correction_ = visit->id;
        basis_.clear();
        accept();
    }
}

bool PatientFileDialog::SelectLatestVisitOf(const QString& patientId) {
    for (int row = 0; row < patients_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* patient = patients_->topLevelItem(row);
        if (patient->data(0, Qt::UserRole).toString() != patientId) {
            continue;
        }
        patients_->setCurrentItem(patient);
        // The visits are listed latest first.
        for (std::size_t visit = 0; visit < visitInfos_.size(); ++visit) {
            if (!visitInfos_[visit].open) {
                visits_->setCurrentItem(visits_->topLevelItem(int(visit)));
                ShowVisit();
                break;
            }
        }
        return true;
    }
    return false;
}

void PatientFileDialog::Take() {
    if (QTreeWidgetItem* patient = patients_->currentItem()) {
        chosen_ = patient->data(0, Qt::UserRole).toString();
        basis_.clear();
        correction_.clear();
        accept();
    }
}

bool PatientFileDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == search_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && patients_->topLevelItemCount() > 0) {
            const int row = patients_->currentItem()
                                ? patients_->indexOfTopLevelItem(patients_->currentItem())
                                : -1;
            const int next = std::clamp(row + (key == Qt::Key_Down ? 1 : -1), 0,
                                        patients_->topLevelItemCount() - 1);
            patients_->setCurrentItem(patients_->topLevelItem(next));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PatientFileDialog::done(int result) {
    if (showing_ && OnShowVisit) {
        showing_ = false;
        OnShowVisit(nullptr);
    }
    QDialog::done(result);
}

void PatientFileDialog::Export() {
    QTreeWidgetItem* patient = patients_->currentItem();
    if (patient == nullptr) {
        return;
    }
    TSaveDialog dialog;
    dialog.SetTitle(QStringLiteral("Exportieren"));
    dialog.SetFilter(QStringLiteral("CSV für Tabellen (*.csv);;FHIR R4 (*.json)"));
    const QString number = patient->text(2);
    dialog.SetFileName((number.isEmpty() ? patient->text(0) : number) + QStringLiteral(".csv"));
    if (!dialog.Execute()) {
        return;
    }
    QString path = dialog.FileName();
    // The extension names the format; the type chosen gives it where none was typed.
    if (!ExportFormatOf(path)) {
        path += dialog.FilterIndex() == 2 ? QStringLiteral(".json") : QStringLiteral(".csv");
    }
    const QString problem =
        ExportPatient(records_, patient->data(0, Qt::UserRole).toString(), path);
    if (!problem.isEmpty()) {
        MessageBox(QStringLiteral("Der Export ist nicht gelungen.\n%1").arg(problem),
                   QStringLiteral("   Achtung!"), MB_OK);
    }
}

}  // namespace velmora
