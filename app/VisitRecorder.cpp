#include "app/VisitRecorder.h"

#include "framework/Notice.h"
#include "records/RecordsDatabase.h"

#include <QTimer>

#include <utility>

namespace velmora {
namespace {

// How long a write that failed waits before it is made again.
constexpr int kRetryMs = 3000;

const QString kCaution = QStringLiteral("   Achtung!");

VisitLevels NoLevels() {
    VisitLevels levels;
    for (auto& ear : levels) {
        ear.fill(-1);
    }
    return levels;
}

// A memo with nothing but line breaks holds nothing typed.
bool Typed(const QString& text) {
    return !text.trimmed().isEmpty();
}

}  // namespace

VisitRecorder::VisitRecorder(PatientRecords* records, std::function<PatientFields()> fields,
                             std::function<VisitContext()> context, QObject* parent)
    : QObject(parent),
      records_(records),
      fields_(std::move(fields)),
      contextOf_(std::move(context)),
      today_(NoLevels()),
      retry_(new QTimer(this)) {
    retry_->setSingleShot(true);
    retry_->setInterval(kRetryMs);
    connect(retry_, &QTimer::timeout, this, [this] {
        if (records_ != nullptr && records_->LastErrorIsConnection()) {
            records_->Database().Reconnect();
        }
        Flush();
    });
}

VisitRecorder::~VisitRecorder() = default;

void VisitRecorder::Queue(Write write) {
    pending_.push_back(std::move(write));
    Flush();
}

bool VisitRecorder::Flush() {
    if (records_ == nullptr) {
        return true;
    }
    while (!pending_.empty()) {
        if (!pending_.front()(*records_)) {
            Failed();
            return false;
        }
        pending_.pop_front();
    }
    reason_.clear();
    retry_->stop();
    if (notice_) {
        notice_->Close();
    }
    return true;
}

void VisitRecorder::Failed() {
    const bool serverLost = records_->LastErrorIsConnection();
    const bool newReason = reason_ != records_->LastError();
    reason_ = records_->LastError();
    retry_->start();
    if (serverLost) {
        // Told once: the window works on and keeps what it has.
        if (serverLostTold_) {
            return;
        }
        serverLostTold_ = true;
        notice_ = std::make_unique<Notice>(
            QStringLiteral("Die Patientenakte auf %1 ist nicht erreichbar.\n%2\nSie können "
                           "weiterarbeiten: Velmora speichert die Untersuchung, sobald der Server "
                           "wieder erreichbar ist. Bitte beenden Sie Velmora bis dahin nicht.")
                .arg(records_->Database().Address().shown, reason_),
            kCaution);
        notice_->Show();
        return;
    }
    if (notice_ && notice_->IsShown() && !newReason) {
        return;
    }
    notice_ = std::make_unique<Notice>(
        QStringLiteral("Die Untersuchung konnte nicht in der Patientenakte gespeichert werden.\n%1"
                       "\nVelmora versucht es weiter; die Werte bleiben erhalten. Bitte beenden "
                       "Sie Velmora erst, wenn diese Meldung von selbst verschwunden ist.")
            .arg(reason_),
        kCaution);
    notice_->Show();
}

void VisitRecorder::EnsureVisit() {
    if (records_ == nullptr || !visitId_.isEmpty()) {
        return;
    }
    if (patientId_.isEmpty()) {
        patientId_ = NewRecordId();
        patientIsNew_ = true;
        askedSamePatient_ = false;
        written_ = fields_();
        Queue([id = patientId_, fields = written_](PatientRecords& records) {
            return records.CreatePatient(id, fields);
        });
    }
    visitId_ = NewRecordId();
    context_ = contextOf_();
    today_ = NoLevels();
    lastEar_.reset();
    Queue([visit = visitId_, patient = patientId_, context = context_](PatientRecords& records) {
        return records.OpenVisit(visit, patient, context);
    });
}

void VisitRecorder::FieldTyped() {
    EnsureVisit();
}

void VisitRecorder::SaveFields() {
    if (records_ == nullptr || visitId_.isEmpty()) {
        return;
    }
    const PatientFields fields = fields_();
    if (fields == written_) {
        return;
    }
    written_ = fields;
    Queue([id = patientId_, fields](PatientRecords& records) {
        return records.SavePatient(id, fields);
    });
}

void VisitRecorder::ThresholdTaken(Ear ear, int slot, int levelTenths, const QString& waveform) {
    if (records_ == nullptr || slot < 0 || slot >= int(kTestFrequencies.size())) {
        return;
    }
    EnsureVisit();
    SaveFields();
    today_[std::size_t(ear)][std::size_t(slot)] = levelTenths;
    lastEar_ = ear;
    const ThresholdTake take{ear, kTestFrequencies[std::size_t(slot)], levelTenths, waveform,
                             QDateTime::currentDateTimeUtc()};
    Queue([visit = visitId_, take](PatientRecords& records) {
        return records.AddThreshold(visit, take);
    });
}

void VisitRecorder::FinishVisit(bool keepPatient) {
    if (records_ == nullptr) {
        return;
    }
    if (!visitId_.isEmpty()) {
        SaveFields();
        const bool tookAny = lastEar_.has_value();
        Queue([visit = visitId_](PatientRecords& records) { return records.FinishVisit(visit); });
        visitId_.clear();
        patientIsNew_ = false;
        if (keepPatient && tookAny) {
            // Today's visit is now the earlier one of this patient.
            earlier_ = Comparison{QDate::currentDate(), today_, context_.outputName,
                                  context_.outputDescription};
        }
        today_ = NoLevels();
        lastEar_.reset();
    }
    if (!keepPatient) {
        ForgetPatient();
    }
}

void VisitRecorder::ForgetPatient() {
    patientId_.clear();
    patientIsNew_ = false;
    askedSamePatient_ = false;
    written_ = {};
    earlier_.reset();
}

std::optional<PatientSummary> VisitRecorder::SamePatientToAsk() {
    if (records_ == nullptr || !patientIsNew_ || askedSamePatient_ || !Flush()) {
        return std::nullopt;
    }
    const auto same = records_->SamePatients(fields_(), patientId_);
    if (same.empty()) {
        return std::nullopt;
    }
    askedSamePatient_ = true;
    return same.front();
}

std::optional<PatientFields> VisitRecorder::TakeStoredPatient(const QString& storedId) {
    if (records_ == nullptr || !Flush()) {
        return std::nullopt;
    }
    std::optional<PatientFields> stored = records_->LoadPatient(storedId);
    if (!stored) {
        return std::nullopt;
    }
    const PatientFields typed = fields_();
    PatientFields merged = *stored;
    const std::pair<const QString*, QString*> fields[] = {
        {&typed.patientId, &merged.patientId}, {&typed.firstName, &merged.firstName},
        {&typed.name, &merged.name},           {&typed.town, &merged.town},
        {&typed.street, &merged.street},       {&typed.email, &merged.email},
        {&typed.doctor, &merged.doctor},       {&typed.postcode, &merged.postcode},
        {&typed.telephone, &merged.telephone}, {&typed.remarks, &merged.remarks}};
    for (const auto& [from, to] : fields) {
        if (Typed(*from)) {
            *to = *from;
        }
    }
    const QString newId = patientId_;
    if (!visitId_.isEmpty()) {
        Queue([visit = visitId_, storedId](PatientRecords& records) {
            return records.MoveVisit(visit, storedId);
        });
    }
    Queue([newId](PatientRecords& records) { return records.RemoveNewPatient(newId); });
    patientId_ = storedId;
    patientIsNew_ = false;
    written_ = *stored;
    LoadEarlier();
    return merged;
}

std::optional<PatientFields> VisitRecorder::LoadPatient(const QString& patientId) {
    if (records_ == nullptr) {
        return std::nullopt;
    }
    std::optional<PatientFields> fields = records_->LoadPatient(patientId);
    if (!fields) {
        return std::nullopt;
    }
    patientId_ = patientId;
    patientIsNew_ = false;
    askedSamePatient_ = false;
    written_ = *fields;
    visitId_.clear();
    today_ = NoLevels();
    lastEar_.reset();
    LoadEarlier();
    return fields;
}

void VisitRecorder::LoadEarlier() {
    earlier_.reset();
    if (records_ == nullptr || patientId_.isEmpty()) {
        return;
    }
    if (const auto visit = records_->ComparisonVisit(patientId_, visitId_)) {
        earlier_ = Comparison{visit->started.toLocalTime().date(), records_->Levels(visit->id),
                              visit->context.outputName, visit->context.outputDescription};
    }
}

std::vector<VisitInfo> VisitRecorder::UnfinishedVisits() {
    if (records_ == nullptr) {
        return {};
    }
    return records_->OpenVisits(CurrentOperator(), CurrentWorkstation());
}

std::optional<PatientFields> VisitRecorder::ResumeVisit(const VisitInfo& visit) {
    std::optional<PatientFields> fields = LoadPatient(visit.patientId);
    if (!fields) {
        return std::nullopt;
    }
    visitId_ = visit.id;
    context_ = visit.context;
    today_ = records_->Levels(visit.id);
    if (const auto takes = records_->Thresholds(visit.id); !takes.empty()) {
        lastEar_ = takes.back().ear;
    }
    LoadEarlier();
    return fields;
}

void VisitRecorder::FinishUnfinishedVisit(const VisitInfo& visit) {
    if (records_ == nullptr) {
        return;
    }
    Queue([id = visit.id](PatientRecords& records) { return records.FinishVisit(id); });
}

}  // namespace velmora
