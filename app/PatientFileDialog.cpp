#include "app/PatientFileDialog.h"

#include <QBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

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
    resize(640, 460);

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
    take_ = new QPushButton(QStringLiteral("Übernehmen"), this);
    close_ = new QPushButton(QStringLiteral("Schließen"), this);
    for (QPushButton* button : {show_, take_, close_}) {
        button->setAutoDefault(false);
    }
    // Return in the search field takes the selected patient.
    take_->setDefault(true);

    layout->addWidget(searchLabel);
    layout->addWidget(search_);
    layout->addWidget(patients_, 3);
    layout->addWidget(new QLabel(QStringLiteral("Untersuchungen:"), this));
    layout->addWidget(visits_, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(show_);
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
    });
    connect(show_, &QPushButton::clicked, this, &PatientFileDialog::ShowVisit);
    connect(take_, &QPushButton::clicked, this, &PatientFileDialog::Take);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);

    search_->setFocus();
    Search();
}

PatientFileDialog::~PatientFileDialog() = default;

void PatientFileDialog::Search() {
    patients_->clear();
    for (const PatientSummary& patient : records_.Search(search_->text(), kListed)) {
        auto* item = new QTreeWidgetItem(
            patients_, {patient.name, patient.firstName, patient.patientId, patient.town,
                        patient.lastVisit.isValid()
                            ? patient.lastVisit.toLocalTime().toString(QStringLiteral("dd.MM.yyyy"))
                            : QString()});
        item->setData(0, Qt::UserRole, patient.id);
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
    show_->setEnabled(false);
    if (patient == nullptr) {
        return;
    }
    visitInfos_ = records_.VisitsOf(patient->data(0, Qt::UserRole).toString());
    for (const VisitInfo& visit : visitInfos_) {
        const QDateTime started = visit.started.toLocalTime();
        new QTreeWidgetItem(visits_, {started.toString(QStringLiteral("dd.MM.yyyy")),
                                      started.toString(QStringLiteral("HH:mm")) +
                                          (visit.open ? QStringLiteral(" (offen)") : QString()),
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
    OnShowVisit(&shownLevels_);
}

void PatientFileDialog::Take() {
    if (QTreeWidgetItem* patient = patients_->currentItem()) {
        chosen_ = patient->data(0, Qt::UserRole).toString();
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

}  // namespace velmora
