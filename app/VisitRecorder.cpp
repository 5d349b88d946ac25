#include "app/VisitRecorder.h"

#include "framework/MessageBox.h"
#include "framework/Notice.h"
#include "records/RecordWrite.h"
#include "records/RecordsDatabase.h"
#include "records/RecordsWriter.h"

#include <utility>

namespace velmora {
namespace {

// How long a call waits for its write to be on the records (or kept on this workstation): a
// local commit takes milliseconds, a server that answers a few more.
constexpr int kWriteWaitMs = 1000;
// How long closing the program waits for the writes still being made.
constexpr int kCloseWaitMs = 3000;

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

VisitRecorder::VisitRecorder(PatientRecords* records, std::optional<DatabaseAddress> server,
                             std::function<PatientFields()> fields,
                             std::function<VisitContext()> context, QObject* parent)
    : QObject(parent),
      records_(records),
      fields_(std::move(fields)),
      contextOf_(std::move(context)),
      today_(NoLevels()) {
    if (!server && records_ != nullptr) {
        server = records_->Database().Address();
    }
    if (!server) {
        return;
    }
    // A practice's server: what cannot reach it waits in the workstation's own file.
    std::optional<DatabaseAddress> keeping;
    if (server->kind == DatabaseAddress::PostgreSQL) {
        keeping = DatabaseAddress::DefaultFile();
    }
    writer_ = std::make_unique<RecordsWriter>(*server, keeping);
    const QString shown = server->shown;
    RecordsWriter::Events events;
    events.serverLost = [this, shown](const QString&) {
        serverAway_ = true;
        readsLost_ = records_ != nullptr && records_->Database().IsPostgres();
        notice_ = std::make_unique<Notice>(
            QStringLiteral("Die Patientenakte auf %1 ist nicht erreichbar.\nDie Untersuchung wird "
                           "auf diesem Arbeitsplatz aufbewahrt und übertragen, sobald die "
                           "Verbindung wieder besteht.")
                .arg(shown),
            kCaution);
        notice_->Show();
    };
    events.transferred = [this, shown] {
        notice_ = std::make_unique<Notice>(
            QStringLiteral("Die auf diesem Arbeitsplatz aufbewahrte Untersuchung wurde in die "
                           "Patientenakte auf %1 übertragen.")
                .arg(shown),
            kCaution);
        notice_->Show();
    };
    events.failed = [this](const QString& reason) {
        notice_ = std::make_unique<Notice>(
            QStringLiteral(
                "Die Untersuchung konnte nicht in der Patientenakte gespeichert werden.\n%1"
                "\nVelmora versucht es weiter; die Werte bleiben erhalten. Bitte beenden "
                "Sie Velmora erst, wenn diese Meldung von selbst verschwunden ist.")
                .arg(reason),
            kCaution);
        notice_->Show();
    };
    events.written = [this] {
        if (notice_) {
            notice_->Close();
        }
    };
    events.conflict = [this](const RecordWrite& write) { AskAboutConflict(write); };
    events.reachable = [this] {
        serverAway_ = false;
        if (records_ == nullptr && ownDatabase_ == nullptr) {
            // The server answered a moment ago: opening the reading connection does not wait.
            QString error;
            ownDatabase_ = RecordsDatabase::Open(writer_->Server(), &error);
            if (ownDatabase_) {
                ownRecords_ = std::make_unique<PatientRecords>(*ownDatabase_);
                records_ = ownRecords_.get();
                if (OnRecordsReadable) {
                    OnRecordsReadable();
                }
            }
        }
    };
    writer_->SetEvents(std::move(events));
}

VisitRecorder::~VisitRecorder() = default;

PatientRecords* VisitRecorder::Records() {
    if (records_ == nullptr || serverAway_) {
        return nullptr;
    }
    // The reading connection went with the server, whether or not a read has noticed yet.
    if ((readsLost_ || records_->LastErrorIsConnection()) && !records_->Database().Reconnect()) {
        return nullptr;
    }
    readsLost_ = false;
    return records_;
}

void VisitRecorder::Queue(const RecordWrite& write) {
    if (!writer_) {
        return;
    }
    writer_->Submit(write);
    // Behind a write that did not settle in a moment, the next ones do not wait either.
    if (writerBehind_ && !writer_->WaitSettled(0)) {
        return;
    }
    writerBehind_ = !writer_->WaitSettled(kWriteWaitMs);
}

void VisitRecorder::Audit(const QString& action, const QString& patientId, const QString& visitId,
                          const QString& detail) {
    if (writer_) {
        writer_->Submit(RecordWrite::Audit(AuditLine::Now(action, patientId, visitId, detail)));
    }
}

void VisitRecorder::AuditPatient(const QString& action, const QString& detail) {
    if (!patientId_.isEmpty()) {
        Audit(action, patientId_, visitId_, detail);
    }
}

void VisitRecorder::AskAboutConflict(const RecordWrite& write) {
    const int answer = MessageBox(
        QStringLiteral("Die Patientendaten wurden an einem anderen Arbeitsplatz geändert.\nSollen "
                       "Ihre Eingaben die gespeicherten ersetzen?"),
        kCaution, MB_YESNO);
    if (answer == IDYES) {
        Queue(RecordWrite::SavePatient(write.patientId, write.fields));
        return;
    }
    // Nothing of this window's is written: it shows what is stored.
    PatientRecords* records = Records();
    if (write.patientId != patientId_ || records == nullptr) {
        return;
    }
    if (const auto stored = records->LoadPatient(patientId_)) {
        written_ = *stored;
        if (OnStoredFieldsKept) {
            OnStoredFieldsKept(*stored);
        }
    }
}

QString VisitRecorder::ServerShown() const {
    return writer_ ? writer_->Server().shown : QString();
}

bool VisitRecorder::HasUnwrittenData() const {
    return writer_ != nullptr && writer_->Unwritten() > 0;
}

bool VisitRecorder::Flush() {
    return writer_ == nullptr || writer_->WaitSettled(kCloseWaitMs);
}

QString VisitRecorder::LastReason() const {
    return writer_ ? writer_->LastReason() : QString();
}

void VisitRecorder::EnsureVisit() {
    if (!writer_ || !visitId_.isEmpty()) {
        return;
    }
    if (patientId_.isEmpty()) {
        patientId_ = NewRecordId();
        patientIsNew_ = true;
        askedSamePatient_ = false;
        written_ = fields_();
        Queue(RecordWrite::CreatePatient(patientId_, written_));
    }
    visitId_ = NewRecordId();
    context_ = contextOf_();
    today_ = NoLevels();
    lastEar_.reset();
    Queue(RecordWrite::OpenVisit(visitId_, patientId_, context_));
}

void VisitRecorder::FieldTyped() {
    EnsureVisit();
}

void VisitRecorder::SaveFields() {
    if (!writer_ || visitId_.isEmpty()) {
        return;
    }
    const PatientFields fields = fields_();
    if (fields == written_) {
        return;
    }
    // Based on what this window last read or wrote: a change made elsewhere since is asked about.
    Queue(RecordWrite::SavePatient(patientId_, fields, written_));
    written_ = fields;
}

void VisitRecorder::ThresholdTaken(Ear ear, int slot, int levelTenths, const QString& waveform) {
    if (!writer_ || slot < 0 || slot >= int(kTestFrequencies.size())) {
        return;
    }
    EnsureVisit();
    SaveFields();
    today_[std::size_t(ear)][std::size_t(slot)] = levelTenths;
    lastEar_ = ear;
    const ThresholdTake take{ear, kTestFrequencies[std::size_t(slot)], levelTenths, waveform,
                             QDateTime::currentDateTimeUtc()};
    Queue(RecordWrite::AddThreshold(visitId_, take));
}

void VisitRecorder::FinishVisit(bool keepPatient) {
    if (!writer_) {
        return;
    }
    if (!visitId_.isEmpty()) {
        SaveFields();
        const bool tookAny = lastEar_.has_value();
        Queue(RecordWrite::FinishVisit(visitId_));
        visitId_.clear();
        patientIsNew_ = false;
        if (keepPatient && tookAny) {
            // Today's visit is now the earlier one of this patient.
            basis_.clear();
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
    basis_.clear();
}

std::optional<PatientSummary> VisitRecorder::SamePatientToAsk() {
    PatientRecords* records = Records();
    if (records == nullptr || !patientIsNew_ || askedSamePatient_) {
        return std::nullopt;
    }
    const auto same = records->SamePatients(fields_(), patientId_);
    if (same.empty()) {
        return std::nullopt;
    }
    askedSamePatient_ = true;
    return same.front();
}

std::optional<PatientFields> VisitRecorder::TakeStoredPatient(const QString& storedId) {
    PatientRecords* records = Records();
    if (records == nullptr) {
        return std::nullopt;
    }
    std::optional<PatientFields> stored = records->LoadPatient(storedId);
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
        {&typed.telephone, &merged.telephone}, {&typed.remarks, &merged.remarks},
        {&typed.birthDate, &merged.birthDate}};
    for (const auto& [from, to] : fields) {
        if (Typed(*from)) {
            *to = *from;
        }
    }
    const QString newId = patientId_;
    if (!visitId_.isEmpty()) {
        Queue(RecordWrite::MoveVisit(visitId_, storedId));
    }
    Queue(RecordWrite::RemoveNewPatient(newId));
    patientId_ = storedId;
    patientIsNew_ = false;
    written_ = *stored;
    LoadEarlier();
    return merged;
}

std::optional<PatientFields> VisitRecorder::LoadPatient(const QString& patientId) {
    PatientRecords* records = Records();
    if (records == nullptr) {
        return std::nullopt;
    }
    std::optional<PatientFields> fields = records->LoadPatient(patientId);
    if (!fields) {
        return std::nullopt;
    }
    patientId_ = patientId;
    patientIsNew_ = false;
    askedSamePatient_ = false;
    written_ = *fields;
    Audit(audit::kLoad, patientId);
    visitId_.clear();
    today_ = NoLevels();
    lastEar_.reset();
    LoadEarlier();
    return fields;
}

bool VisitRecorder::ChooseBasis(const QString& visitId) {
    PatientRecords* records = Records();
    if (records == nullptr || patientId_.isEmpty()) {
        return false;
    }
    const auto visit = records->Visit(visitId);
    if (!visit || visit->open || visit->patientId != patientId_ || visit->id == visitId_) {
        return false;
    }
    basis_ = visitId;
    earlier_ = Comparison{visit->started.toLocalTime().date(), records->Levels(visit->id),
                          visit->context.outputName, visit->context.outputDescription};
    Audit(audit::kShow, patientId_, visitId);
    return true;
}

void VisitRecorder::LoadEarlier() {
    earlier_.reset();
    basis_.clear();
    PatientRecords* records = Records();
    if (records == nullptr || patientId_.isEmpty()) {
        return;
    }
    if (const auto visit = records->ComparisonVisit(patientId_, visitId_)) {
        earlier_ = Comparison{visit->started.toLocalTime().date(), records->Levels(visit->id),
                              visit->context.outputName, visit->context.outputDescription};
    }
}

std::vector<VisitInfo> VisitRecorder::UnfinishedVisits() {
    PatientRecords* records = Records();
    if (records == nullptr) {
        return {};
    }
    return records->OpenVisits(CurrentOperator(), CurrentWorkstation());
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

bool VisitRecorder::CorrectVisit(const QString& visitId) {
    PatientRecords* records = Records();
    if (!writer_ || records == nullptr || patientId_.isEmpty() || !visitId_.isEmpty()) {
        return false;
    }
    const auto visit = records->Visit(visitId);
    if (!visit || visit->open || visit->patientId != patientId_) {
        return false;
    }
    const std::vector<ThresholdTake> takes = records->Thresholds(visitId);
    visitId_ = NewRecordId();
    context_ = contextOf_();
    today_ = records->Levels(visitId);
    lastEar_.reset();
    if (!takes.empty()) {
        lastEar_ = takes.back().ear;
    }
    Queue(RecordWrite::OpenCorrection(visitId_, patientId_, visitId, context_));
    // Compared with the patient's latest other visit, not with the one corrected.
    basis_.clear();
    earlier_.reset();
    if (const auto other = records->ComparisonVisit(patientId_, visitId)) {
        earlier_ = Comparison{other->started.toLocalTime().date(), records->Levels(other->id),
                              other->context.outputName, other->context.outputDescription};
    }
    return true;
}

void VisitRecorder::FinishUnfinishedVisit(const VisitInfo& visit) {
    if (!writer_) {
        return;
    }
    Queue(RecordWrite::FinishVisit(visit.id));
}

}  // namespace velmora
