#include "records/PatientRecords.h"

#include "records/RecordsDatabase.h"
#include "records/SearchKey.h"

#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <tuple>
#include <utility>

#include <pwd.h>
#include <unistd.h>

namespace velmora {
namespace {

// Up to how many of a word's patients are counted to find the rarest word typed.
constexpr int kMatchesCounted = 500;
// Rows a search reads beyond the list's length, for patients with two words of the prefix.
constexpr int kRepeatsAllowed = 20;

QString NewId() {
    return NewRecordId();
}

qint64 Now() {
    return QDateTime::currentMSecsSinceEpoch();
}

// A visit's start: now, or a millisecond after the patient's latest visit where that is later, so
// that the visits of a patient are in the order they were opened even when two are opened within
// a millisecond (a correction right after the visit it corrects) or the clock was set back.
constexpr char kVisitStart[] =
    "(SELECT CASE WHEN COALESCE(MAX(l.started_at), 0) >= ? THEN MAX(l.started_at) + 1 ELSE ? END "
    "FROM visit l WHERE l.patient_id = %1)";

QDateTime TimeOf(const QVariant& value) {
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong());
}

// The columns of the fields, in the order of PatientFields.
constexpr const char* kFieldColumns =
    "practice_id, first_name, name, town, street, email, doctor, "
    "postcode, telephone, remarks, birth_date";
constexpr int kFieldCount = 11;

// Qt binds a null text as NULL; the fields are never NULL, an empty one is empty.
QVariant Text(const QString& text) {
    return text.isNull() ? QVariant(QLatin1String("")) : QVariant(text);
}

std::array<const QString*, kFieldCount> FieldsOf(const PatientFields& f) {
    return {&f.patientId, &f.firstName, &f.name,      &f.town,    &f.street,   &f.email,
            &f.doctor,    &f.postcode,  &f.telephone, &f.remarks, &f.birthDate};
}

PatientFields FieldsFrom(const QSqlQuery& query, int first) {
    PatientFields f;
    QString* const fields[] = {&f.patientId, &f.firstName, &f.name,     &f.town,
                               &f.street,    &f.email,     &f.doctor,   &f.postcode,
                               &f.telephone, &f.remarks,   &f.birthDate};
    for (int i = 0; i < kFieldCount; ++i) {
        *fields[i] = query.value(first + i).toString();
    }
    return f;
}

// A transaction that takes SQLite's write lock at once (a transaction that reads first and then
// wants to write cannot wait for another writer) and rolls back unless committed.
class WriteTransaction {
public:
    WriteTransaction(RecordsDatabase& database, QSqlError* error) : query_(database.Connection()) {
        open_ = query_.exec(database.IsPostgres() ? QStringLiteral("BEGIN")
                                                  : QStringLiteral("BEGIN IMMEDIATE"));
        if (!open_) {
            *error = query_.lastError();
        }
    }
    ~WriteTransaction() {
        if (open_) {
            query_.exec(QStringLiteral("ROLLBACK"));
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool IsOpen() const { return open_; }
    bool Commit(QSqlError* error) {
        if (!query_.exec(QStringLiteral("COMMIT"))) {
            *error = query_.lastError();
            return false;
        }
        open_ = false;
        return true;
    }

private:
    QSqlQuery query_;
    bool open_ = false;
};

std::vector<PatientSummary> Summaries(QSqlQuery& query) {
    std::vector<PatientSummary> list;
    while (query.next()) {
        list.push_back({query.value(0).toString(), query.value(1).toString(),
                        query.value(2).toString(), query.value(3).toString(),
                        query.value(4).toString(), TimeOf(query.value(5))});
    }
    return list;
}

constexpr const char* kVisitColumns =
    "v.id, v.patient_id, v.state, v.started_at, v.finished_at, v.operator, v.workstation, "
    "v.output_name, v.output_description, v.waveform, "
    "(SELECT COUNT(*) FROM threshold t WHERE t.visit_id = v.id AND t.ear = 'both'), "
    "(SELECT COUNT(*) FROM threshold t WHERE t.visit_id = v.id AND t.ear = 'left'), "
    "(SELECT COUNT(*) FROM threshold t WHERE t.visit_id = v.id AND t.ear = 'right'), "
    "COALESCE(v.corrects, '')";

VisitInfo VisitFrom(const QSqlQuery& query) {
    VisitInfo visit;
    visit.id = query.value(0).toString();
    visit.patientId = query.value(1).toString();
    visit.open = query.value(2).toString() == QLatin1String("open");
    visit.started = TimeOf(query.value(3));
    visit.finished = TimeOf(query.value(4));
    visit.context = {query.value(5).toString(), query.value(6).toString(),
                     query.value(7).toString(), query.value(8).toString(),
                     query.value(9).toString()};
    for (int ear = 0; ear < 3; ++ear) {
        visit.earsTested[std::size_t(ear)] = query.value(10 + ear).toInt() > 0;
    }
    visit.corrects = query.value(13).toString();
    return visit;
}

}  // namespace

int FrequencySlot(int frequency) {
    for (std::size_t slot = 0; slot < kTestFrequencies.size(); ++slot) {
        if (kTestFrequencies[slot] == frequency) {
            return int(slot);
        }
    }
    return -1;
}

QString EarName(Ear ear) {
    switch (ear) {
        case Ear::Left:
            return QStringLiteral("left");
        case Ear::Right:
            return QStringLiteral("right");
        case Ear::Both:
            break;
    }
    return QStringLiteral("both");
}

std::optional<Ear> EarOf(const QString& name) {
    for (const Ear ear : {Ear::Both, Ear::Left, Ear::Right}) {
        if (EarName(ear) == name) {
            return ear;
        }
    }
    return std::nullopt;
}

PatientRecords::PatientRecords(RecordsDatabase& database) : database_(database) {}

PatientRecords::~PatientRecords() = default;

bool PatientRecords::Fail(const QSqlError& error) {
    lastError_ = database_.Reason(error);
    if (lastError_.isEmpty()) {
        lastError_ = QStringLiteral("Unbekannter Fehler der Datenbank.");
    }
    lastErrorIsConnection_ = database_.IsConnectionLost(error);
    lastErrorIsConflict_ = false;
    return false;
}

bool PatientRecords::Succeed() {
    lastError_.clear();
    lastErrorIsConnection_ = false;
    lastErrorIsConflict_ = false;
    return true;
}

bool PatientRecords::WriteWords(const QString& id, const PatientFields& fields) {
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral("DELETE FROM patient_word WHERE patient_id = ?"));
    query.addBindValue(id);
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    QSet<QString> words;
    for (const QString* field :
         {&fields.name, &fields.firstName, &fields.patientId, &fields.town}) {
        for (const QString& word : SearchWords(*field)) {
            words.insert(word);
        }
    }
    query.prepare(
        QStringLiteral("INSERT INTO patient_word (word, name_key, first_name_key, "
                       "patient_id) VALUES (?, ?, ?, ?)"));
    for (const QString& word : words) {
        query.addBindValue(word);
        query.addBindValue(Text(NormalizedName(fields.name)));
        query.addBindValue(Text(NormalizedName(fields.firstName)));
        query.addBindValue(id);
        if (!query.exec()) {
            return Fail(query.lastError());
        }
    }
    return true;
}

QString NewRecordId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString PatientRecords::CreatePatient(const PatientFields& fields) {
    const QString id = NewId();
    return CreatePatient(id, fields) ? id : QString();
}

bool PatientRecords::CreatePatient(const QString& id, const PatientFields& fields) {
    // Declared before the transaction, so that a rollback comes before its statement is freed.
    QSqlQuery query(database_.Connection());
    QSqlError error;
    WriteTransaction transaction(database_, &error);
    if (!transaction.IsOpen()) {
        return Fail(error);
    }
    const qint64 now = Now();
    query.prepare(QStringLiteral("INSERT INTO patient (id, %1, name_key, first_name_key, "
                                 "practice_id_key, created_at, changed_at, changed_by, changed_on) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                 "ON CONFLICT (id) DO NOTHING")
                      .arg(QLatin1String(kFieldColumns)));
    query.addBindValue(id);
    for (const QString* field : FieldsOf(fields)) {
        query.addBindValue(Text(*field));
    }
    query.addBindValue(Text(NormalizedName(fields.name)));
    query.addBindValue(Text(NormalizedName(fields.firstName)));
    query.addBindValue(Text(NormalizedName(fields.patientId)));
    query.addBindValue(now);
    query.addBindValue(now);
    query.addBindValue(Text(CurrentOperator()));
    query.addBindValue(Text(CurrentWorkstation()));
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    // A patient made again after a write that was kept after all is noted once.
    if (query.numRowsAffected() == 1 &&
        (!WriteAudit(AuditLine::Now(audit::kCreate, id)) || !WriteVersion(id))) {
        return false;
    }
    if (!WriteWords(id, fields)) {
        return false;
    }
    if (!transaction.Commit(&error)) {
        return Fail(error);
    }
    return Succeed();
}

bool PatientRecords::SavePatient(const QString& id, const PatientFields& fields,
                                 const PatientFields* basedOn) {
    QSqlQuery query(database_.Connection());
    QSqlError error;
    WriteTransaction transaction(database_, &error);
    if (!transaction.IsOpen()) {
        return Fail(error);
    }
    if (basedOn != nullptr) {
        // Read under the write's lock (the row's on PostgreSQL, the file's on SQLite), so that
        // two saves of the same patient cannot both find what they expect.
        query.prepare(QStringLiteral("SELECT %1 FROM patient WHERE id = ?%2")
                          .arg(QLatin1String(kFieldColumns),
                               database_.IsPostgres() ? QStringLiteral(" FOR UPDATE") : QString()));
        query.addBindValue(id);
        if (!query.exec()) {
            return Fail(query.lastError());
        }
        if (query.next()) {
            const PatientFields stored = FieldsFrom(query, 0);
            if (stored != *basedOn && stored != fields) {
                lastError_ = QStringLiteral(
                    "Die Patientendaten wurden an einem anderen Arbeitsplatz geändert.");
                lastErrorIsConnection_ = false;
                lastErrorIsConflict_ = true;
                return false;
            }
            if (stored == fields) {
                // Nothing to change: no version that equals the one before.
                return Succeed();
            }
        }
        query.finish();
    }
    query.prepare(QStringLiteral(
        "UPDATE patient SET practice_id = ?, first_name = ?, name = ?, town = ?, street = ?, "
        "email = ?, doctor = ?, postcode = ?, telephone = ?, remarks = ?, birth_date = ?, "
        "name_key = ?, "
        "first_name_key = ?, practice_id_key = ?, revision = revision + 1, changed_at = ?, "
        "changed_by = ?, changed_on = ? WHERE id = ?"));
    for (const QString* field : FieldsOf(fields)) {
        query.addBindValue(Text(*field));
    }
    query.addBindValue(Text(NormalizedName(fields.name)));
    query.addBindValue(Text(NormalizedName(fields.firstName)));
    query.addBindValue(Text(NormalizedName(fields.patientId)));
    query.addBindValue(Now());
    query.addBindValue(Text(CurrentOperator()));
    query.addBindValue(Text(CurrentWorkstation()));
    query.addBindValue(id);
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    if (query.numRowsAffected() != 1) {
        lastError_ = QStringLiteral("Der Patient ist nicht mehr in der Patientenakte.");
        lastErrorIsConnection_ = false;
        lastErrorIsConflict_ = false;
        return false;
    }
    if (!WriteAudit(AuditLine::Now(audit::kChange, id)) || !WriteVersion(id) ||
        !WriteWords(id, fields)) {
        return false;
    }
    if (!transaction.Commit(&error)) {
        return Fail(error);
    }
    return Succeed();
}

std::optional<PatientFields> PatientRecords::LoadPatient(const QString& id) {
    QSqlQuery query(database_.Connection());
    query.prepare(
        QStringLiteral("SELECT %1 FROM patient WHERE id = ?").arg(QLatin1String(kFieldColumns)));
    query.addBindValue(id);
    if (!query.exec()) {
        Fail(query.lastError());
        return std::nullopt;
    }
    if (!query.next()) {
        lastError_ = QStringLiteral("Der Patient ist nicht mehr in der Patientenakte.");
        return std::nullopt;
    }
    Succeed();
    return FieldsFrom(query, 0);
}

std::vector<PatientSummary> PatientRecords::Search(const QString& text, int limit) {
    const QStringList words = SearchWords(text);
    QSqlQuery query(database_.Connection());
    query.setForwardOnly(true);
    const QString lastVisit =
        QStringLiteral("(SELECT MAX(v.started_at) FROM visit v WHERE v.patient_id = p.id)");
    if (words.isEmpty()) {
        // The patients seen last, from the visits' index, then the newest without a visit.
        query.prepare(
            QStringLiteral(
                "SELECT p.id, p.name, p.first_name, p.practice_id, p.town, %1 AS last_visit "
                "FROM patient p WHERE p.id IN (SELECT r.patient_id FROM (SELECT v.patient_id, "
                "v.started_at FROM visit v ORDER BY v.started_at DESC LIMIT ?) r) "
                "ORDER BY last_visit DESC, p.name_key, p.first_name_key, p.id")
                .arg(lastVisit));
        query.addBindValue(limit * 4);
    } else {
        // Each word typed is the start of a word of the patient. The rarest of them (the longest
        // among equally common ones) is read as a range of the words' index, which holds each
        // word with its patient's name keys: in the list's order, so that reading stops when the
        // list is full; the other words are checked for each patient read. A keystroke reads a
        // few hundred index entries, however many patients there are.
        std::vector<std::tuple<int, qsizetype, QString>> byMatches;
        for (const QString& word : words) {
            const int matches = WordMatches(word);
            if (matches < 0) {
                return {};
            }
            byMatches.emplace_back(matches, -word.size(), word);
        }
        std::sort(byMatches.begin(), byMatches.end());
        if (std::get<0>(byMatches.front()) == 0) {
            Succeed();
            return {};
        }
        QString sql = QStringLiteral(
                          "SELECT p.id, p.name, p.first_name, p.practice_id, p.town, %1 FROM "
                          "patient_word d JOIN patient p ON p.id = d.patient_id WHERE d.word >= ? "
                          "AND d.word < ?")
                          .arg(lastVisit);
        for (std::size_t i = 1; i < byMatches.size(); ++i) {
            sql += QLatin1String(
                " AND EXISTS (SELECT 1 FROM patient_word w WHERE "
                "w.patient_id = d.patient_id AND w.word >= ? AND w.word < ?)");
        }
        // A patient with two words of the prefix comes twice: some more rows than shown.
        sql += QStringLiteral(
            " ORDER BY d.word, d.name_key, d.first_name_key, d.patient_id "
            "LIMIT ?");
        query.prepare(sql);
        for (const auto& [matches, length, word] : byMatches) {
            query.addBindValue(word);
            query.addBindValue(PrefixEnd(word));
        }
        query.addBindValue(limit + kRepeatsAllowed);
    }
    if (!query.exec()) {
        Fail(query.lastError());
        return {};
    }
    Succeed();
    std::vector<PatientSummary> list;
    QSet<QString> listed;
    for (PatientSummary& patient : Summaries(query)) {
        if (int(list.size()) < limit && !listed.contains(patient.id)) {
            listed.insert(patient.id);
            list.push_back(std::move(patient));
        }
    }
    return list;
}

int PatientRecords::WordMatches(const QString& word) {
    QSqlQuery query(database_.Connection());
    query.prepare(
        QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM patient_word w WHERE "
                       "w.word >= ? AND w.word < ? LIMIT ?) c"));
    query.addBindValue(word);
    query.addBindValue(PrefixEnd(word));
    query.addBindValue(kMatchesCounted + 1);
    if (!query.exec() || !query.next()) {
        Fail(query.lastError());
        return -1;
    }
    return query.value(0).toInt();
}

std::vector<PatientSummary> PatientRecords::SamePatients(const PatientFields& fields,
                                                         const QString& exceptId) {
    const QString name = NormalizedName(fields.name);
    const QString firstName = NormalizedName(fields.firstName);
    if (name.isEmpty() || firstName.isEmpty()) {
        return {};
    }
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral(
        "SELECT p.id, p.name, p.first_name, p.practice_id, p.town, "
        "(SELECT MAX(v.started_at) FROM visit v WHERE v.patient_id = p.id) "
        "FROM patient p WHERE p.name_key = ? AND p.first_name_key = ? AND p.id <> ? "
        "AND (? = '' OR p.practice_id_key = '' OR p.practice_id_key = ?) ORDER BY p.created_at"));
    const QString practiceId = NormalizedName(fields.patientId);
    query.addBindValue(Text(name));
    query.addBindValue(Text(firstName));
    query.addBindValue(Text(exceptId));
    query.addBindValue(Text(practiceId));
    query.addBindValue(Text(practiceId));
    if (!query.exec()) {
        Fail(query.lastError());
        return {};
    }
    Succeed();
    return Summaries(query);
}

bool PatientRecords::RemoveNewPatient(const QString& id) {
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral(
        "DELETE FROM patient WHERE id = ? AND NOT EXISTS (SELECT 1 FROM visit v WHERE "
        "v.patient_id = patient.id)"));
    query.addBindValue(id);
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    return Succeed();
}

bool PatientRecords::ErasePatient(const QString& id, const QString& reason) {
    if (reason.trimmed().isEmpty()) {
        lastError_ = QStringLiteral("Ohne einen Grund wird nichts gelöscht.");
        lastErrorIsConnection_ = false;
        lastErrorIsConflict_ = false;
        return false;
    }
    QSqlQuery query(database_.Connection());
    QSqlError error;
    WriteTransaction transaction(database_, &error);
    if (!transaction.IsOpen()) {
        return Fail(error);
    }
    // Visits, thresholds, search words and versions go with the patient (ON DELETE CASCADE). A
    // visit still open on some workstation would write to what is gone: it is finished first.
    query.prepare(
        QStringLiteral("DELETE FROM patient WHERE id = ? AND NOT EXISTS (SELECT 1 FROM "
                       "visit v WHERE v.patient_id = patient.id AND v.state = 'open')"));
    query.addBindValue(Text(id));
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    if (query.numRowsAffected() != 1) {
        lastError_ = Exists(QStringLiteral("patient"), id)
                         ? QStringLiteral(
                               "Eine Untersuchung des Patienten ist noch nicht "
                               "abgeschlossen. Bitte schließen Sie sie zuerst ab.")
                         : QStringLiteral("Der Patient ist nicht mehr in der Patientenakte.");
        lastErrorIsConnection_ = false;
        lastErrorIsConflict_ = false;
        return false;
    }
    if (!WriteAudit(AuditLine::Now(audit::kDelete, id, QString(), reason.trimmed()))) {
        return false;
    }
    if (!transaction.Commit(&error)) {
        return Fail(error);
    }
    return Succeed();
}

QString PatientRecords::OpenVisit(const QString& patientId, const VisitContext& context) {
    const QString id = NewId();
    return OpenVisit(id, patientId, context) ? id : QString();
}

bool PatientRecords::OpenVisit(const QString& id, const QString& patientId,
                               const VisitContext& context) {
    QSqlQuery query(database_.Connection());
    query.prepare(
        QStringLiteral(
            "INSERT INTO visit (id, patient_id, state, started_at, operator, workstation, "
            "output_name, output_description, waveform) VALUES (?, ?, 'open', %1, ?, ?, ?, ?, ?) "
            "ON CONFLICT (id) DO NOTHING")
            .arg(QString::fromLatin1(kVisitStart).arg(QStringLiteral("?"))));
    const qint64 now = Now();
    query.addBindValue(id);
    query.addBindValue(Text(patientId));
    query.addBindValue(now);
    query.addBindValue(now);
    query.addBindValue(Text(patientId));
    query.addBindValue(Text(context.operatorName));
    query.addBindValue(Text(context.workstation));
    query.addBindValue(Text(context.outputName));
    query.addBindValue(Text(context.outputDescription));
    query.addBindValue(Text(context.waveform));
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    return Succeed();
}

bool PatientRecords::OpenCorrection(const QString& visitId, const QString& correctedId,
                                    const VisitContext& context) {
    QSqlQuery query(database_.Connection());
    QSqlError error;
    WriteTransaction transaction(database_, &error);
    if (!transaction.IsOpen()) {
        return Fail(error);
    }
    query.prepare(
        QStringLiteral(
            "INSERT INTO visit (id, patient_id, state, started_at, operator, workstation, "
            "output_name, output_description, waveform, corrects) SELECT ?, v.patient_id, 'open', "
            "%1, ?, ?, ?, ?, ?, v.id FROM visit v WHERE v.id = ? AND v.state = 'finished' "
            "ON CONFLICT (id) DO NOTHING")
            .arg(QString::fromLatin1(kVisitStart).arg(QStringLiteral("v.patient_id"))));
    const qint64 now = Now();
    query.addBindValue(visitId);
    query.addBindValue(now);
    query.addBindValue(now);
    query.addBindValue(Text(context.operatorName));
    query.addBindValue(Text(context.workstation));
    query.addBindValue(Text(context.outputName));
    query.addBindValue(Text(context.outputDescription));
    query.addBindValue(Text(context.waveform));
    query.addBindValue(Text(correctedId));
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    if (query.numRowsAffected() == 1) {
        // The corrected visit's takes, as they were taken, begin the correction; their ids are
        // the correction's and the take's place in it.
        QSqlQuery copy(database_.Connection());
        copy.prepare(QStringLiteral(
            "INSERT INTO threshold (id, visit_id, seq, ear, frequency, level_tenths, waveform, "
            "taken_at) SELECT ? || CAST(t.seq AS TEXT), ?, t.seq, t.ear, t.frequency, "
            "t.level_tenths, t.waveform, t.taken_at FROM threshold t WHERE t.visit_id = ?"));
        copy.addBindValue(visitId + QLatin1Char('-'));
        copy.addBindValue(visitId);
        copy.addBindValue(Text(correctedId));
        if (!copy.exec()) {
            return Fail(copy.lastError());
        }
    } else if (!Exists(QStringLiteral("visit"), visitId)) {
        lastError_ = QStringLiteral("Nur eine abgeschlossene Untersuchung kann korrigiert werden.");
        lastErrorIsConnection_ = false;
        lastErrorIsConflict_ = false;
        return false;
    }
    if (!WriteAudit(AuditLine::Now(audit::kCorrect, QString(), visitId, correctedId))) {
        return false;
    }
    if (!transaction.Commit(&error)) {
        return Fail(error);
    }
    return Succeed();
}

bool PatientRecords::AddThreshold(const QString& visitId, const ThresholdTake& take,
                                  const QString& takeId) {
    if (FrequencySlot(take.frequency) < 0 || take.levelTenths < 0 || take.levelTenths > 99) {
        lastError_ = QStringLiteral("Ungültiger Messwert (%1 Hz, Stufe %2).")
                         .arg(take.frequency)
                         .arg(take.levelTenths);
        lastErrorIsConnection_ = false;
        lastErrorIsConflict_ = false;
        return false;
    }
    // Prepared once per connection: the take is the hot path.
    if (!addThreshold_ || preparedOn_ != database_.ConnectionNumber()) {
        addThreshold_ = std::make_unique<QSqlQuery>(database_.Connection());
        preparedOn_ = database_.ConnectionNumber();
        if (!addThreshold_->prepare(QStringLiteral(
                "INSERT INTO threshold (id, visit_id, seq, ear, frequency, level_tenths, "
                "waveform, taken_at) SELECT ?, v.id, (SELECT COALESCE(MAX(t.seq), 0) + 1 FROM "
                "threshold t WHERE t.visit_id = v.id), ?, ?, ?, ?, ? FROM visit v WHERE v.id = ? "
                "AND v.state = 'open' ON CONFLICT (id) DO NOTHING"))) {
            const QSqlError error = addThreshold_->lastError();
            addThreshold_.reset();
            return Fail(error);
        }
    }
    QSqlQuery& query = *addThreshold_;
    const QString id = takeId.isEmpty() ? NewId() : takeId;
    query.addBindValue(id);
    query.addBindValue(Text(EarName(take.ear)));
    query.addBindValue(take.frequency);
    query.addBindValue(take.levelTenths);
    query.addBindValue(Text(take.waveform));
    query.addBindValue(take.takenAt.isValid() ? take.takenAt.toMSecsSinceEpoch() : Now());
    query.addBindValue(Text(visitId));
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    if (query.numRowsAffected() != 1 && !Exists(QStringLiteral("threshold"), id)) {
        lastError_ = QStringLiteral("Die Untersuchung ist bereits abgeschlossen.");
        lastErrorIsConnection_ = false;
        lastErrorIsConflict_ = false;
        return false;
    }
    return Succeed();
}

bool PatientRecords::Exists(const QString& table, const QString& id, const QString* patientId) {
    QSqlQuery query(database_.Connection());
    query.prepare(
        QStringLiteral("SELECT 1 FROM %1 WHERE id = ?%2")
            .arg(table, patientId == nullptr ? QString() : QStringLiteral(" AND patient_id = ?")));
    query.addBindValue(Text(id));
    if (patientId != nullptr) {
        query.addBindValue(Text(*patientId));
    }
    return query.exec() && query.next();
}

QString PatientRecords::PatientWithPracticeId(const QString& practiceId) {
    const QString key = NormalizedName(practiceId);
    if (key.isEmpty()) {
        return {};
    }
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral(
        "SELECT id FROM patient WHERE practice_id_key = ? ORDER BY created_at, id LIMIT 1"));
    query.addBindValue(key);
    if (!query.exec()) {
        Fail(query.lastError());
        return {};
    }
    Succeed();
    return query.next() ? query.value(0).toString() : QString();
}

bool PatientRecords::FinishVisit(const QString& visitId) {
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral(
        "UPDATE visit SET state = 'finished', finished_at = ? WHERE id = ? AND state = 'open'"));
    query.addBindValue(Now());
    query.addBindValue(Text(visitId));
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    return Succeed();
}

bool PatientRecords::MoveVisit(const QString& visitId, const QString& patientId) {
    QSqlQuery query(database_.Connection());
    query.prepare(
        QStringLiteral("UPDATE visit SET patient_id = ? WHERE id = ? AND state = 'open'"));
    query.addBindValue(Text(patientId));
    query.addBindValue(Text(visitId));
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    if (query.numRowsAffected() != 1 && !Exists(QStringLiteral("visit"), visitId, &patientId)) {
        lastError_ = QStringLiteral("Die Untersuchung ist bereits abgeschlossen.");
        lastErrorIsConnection_ = false;
        lastErrorIsConflict_ = false;
        return false;
    }
    return Succeed();
}

std::optional<VisitInfo> PatientRecords::Visit(const QString& visitId) {
    QSqlQuery query(database_.Connection());
    query.prepare(
        QStringLiteral("SELECT %1 FROM visit v WHERE v.id = ?").arg(QLatin1String(kVisitColumns)));
    query.addBindValue(Text(visitId));
    return FirstVisitRead(query);
}

std::vector<VisitInfo> PatientRecords::OpenVisits(const QString& operatorName,
                                                  const QString& workstation) {
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral("SELECT %1 FROM visit v WHERE v.state = 'open' AND "
                                 "v.workstation = ? AND v.operator = ? ORDER BY v.started_at DESC")
                      .arg(QLatin1String(kVisitColumns)));
    query.addBindValue(Text(workstation));
    query.addBindValue(Text(operatorName));
    return VisitsRead(query);
}

std::vector<VisitInfo> PatientRecords::VisitsOf(const QString& patientId) {
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral("SELECT %1 FROM visit v WHERE v.patient_id = ? "
                                 "ORDER BY v.started_at DESC, v.id")
                      .arg(QLatin1String(kVisitColumns)));
    query.addBindValue(Text(patientId));
    return VisitsRead(query);
}

std::optional<VisitInfo> PatientRecords::FirstVisitRead(QSqlQuery& query) {
    std::vector<VisitInfo> visits = VisitsRead(query);
    if (visits.empty()) {
        return std::nullopt;
    }
    return std::move(visits.front());
}

std::vector<VisitInfo> PatientRecords::VisitsRead(QSqlQuery& query) {
    std::vector<VisitInfo> visits;
    if (!query.exec()) {
        Fail(query.lastError());
        return visits;
    }
    Succeed();
    while (query.next()) {
        visits.push_back(VisitFrom(query));
    }
    return visits;
}

std::vector<CourseVisit> PatientRecords::Course(const QString& patientId) {
    const std::vector<VisitInfo> visits = VisitsOf(patientId);
    QSet<QString> corrected;
    for (const VisitInfo& visit : visits) {
        if (!visit.open && !visit.corrects.isEmpty()) {
            corrected.insert(visit.corrects);
        }
    }
    std::vector<CourseVisit> course;
    QHash<QString, std::size_t> index;
    // VisitsOf lists the latest first.
    for (auto visit = visits.rbegin(); visit != visits.rend(); ++visit) {
        const bool tested = std::find(visit->earsTested.cbegin(), visit->earsTested.cend(), true) !=
                            visit->earsTested.cend();
        if (visit->open || !tested || corrected.contains(visit->id)) {
            continue;
        }
        index.insert(visit->id, course.size());
        CourseVisit entry{*visit, {}};
        for (auto& ear : entry.levels) {
            ear.fill(-1);
        }
        course.push_back(std::move(entry));
    }
    if (course.empty()) {
        return course;
    }
    // Every take of the patient's finished visits at once (the list is read at each keystroke):
    // in the order taken, so that the last take of a frequency counts.
    QSqlQuery query(database_.Connection());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT t.visit_id, t.ear, t.frequency, t.level_tenths FROM threshold t JOIN visit v ON "
        "v.id = t.visit_id WHERE v.patient_id = ? AND v.state = 'finished' ORDER BY t.visit_id, "
        "t.seq"));
    query.addBindValue(Text(patientId));
    if (!query.exec()) {
        Fail(query.lastError());
        return {};
    }
    while (query.next()) {
        const auto at = index.constFind(query.value(0).toString());
        const auto ear = EarOf(query.value(1).toString());
        const int slot = FrequencySlot(query.value(2).toInt());
        if (at != index.cend() && ear && slot >= 0) {
            course[*at].levels[std::size_t(*ear)][std::size_t(slot)] = query.value(3).toInt();
        }
    }
    Succeed();
    return course;
}

std::vector<ThresholdTake> PatientRecords::Thresholds(const QString& visitId) {
    QSqlQuery query(database_.Connection());
    query.prepare(
        QStringLiteral("SELECT ear, frequency, level_tenths, waveform, taken_at FROM "
                       "threshold WHERE visit_id = ? ORDER BY seq"));
    query.addBindValue(Text(visitId));
    std::vector<ThresholdTake> takes;
    if (!query.exec()) {
        Fail(query.lastError());
        return takes;
    }
    Succeed();
    while (query.next()) {
        takes.push_back({EarOf(query.value(0).toString()).value_or(Ear::Both),
                         query.value(1).toInt(), query.value(2).toInt(), query.value(3).toString(),
                         TimeOf(query.value(4))});
    }
    return takes;
}

VisitLevels PatientRecords::Levels(const QString& visitId) {
    VisitLevels levels;
    for (auto& ear : levels) {
        ear.fill(-1);
    }
    for (const ThresholdTake& take : Thresholds(visitId)) {
        const int slot = FrequencySlot(take.frequency);
        if (slot >= 0) {
            levels[std::size_t(take.ear)][std::size_t(slot)] = take.levelTenths;
        }
    }
    return levels;
}

std::optional<VisitInfo> PatientRecords::ComparisonVisit(const QString& patientId,
                                                         const QString& exceptVisit) {
    QSqlQuery query(database_.Connection());
    query.prepare(
        QStringLiteral(
            "SELECT %1 FROM visit v WHERE v.patient_id = ? AND v.state = 'finished' AND v.id <> ? "
            "AND EXISTS (SELECT 1 FROM threshold t WHERE t.visit_id = v.id) "
            "AND NOT EXISTS (SELECT 1 FROM visit c WHERE c.corrects = v.id AND "
            "c.state = 'finished') "
            "ORDER BY v.started_at DESC, v.id LIMIT 1")
            .arg(QLatin1String(kVisitColumns)));
    query.addBindValue(Text(patientId));
    query.addBindValue(Text(exceptVisit));
    return FirstVisitRead(query);
}

AuditLine AuditLine::Now(const QString& action, const QString& patientId, const QString& visitId,
                         const QString& detail) {
    return {QDateTime::currentDateTimeUtc(),
            CurrentOperator(),
            CurrentWorkstation(),
            action,
            patientId,
            visitId,
            detail};
}

bool PatientRecords::WriteAudit(const AuditLine& line) {
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral(
        "INSERT INTO audit (id, at, user_name, workstation, action, patient_id, visit_id, detail) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(NewId());
    query.addBindValue(line.at.isValid() ? line.at.toMSecsSinceEpoch() : Now());
    query.addBindValue(Text(line.user));
    query.addBindValue(Text(line.workstation));
    query.addBindValue(Text(line.action));
    query.addBindValue(Text(line.patientId));
    query.addBindValue(Text(line.visitId));
    query.addBindValue(Text(line.detail));
    return query.exec() || Fail(query.lastError());
}

bool PatientRecords::WriteVersion(const QString& id) {
    QSqlQuery query(database_.Connection());
    query.prepare(
        QStringLiteral(
            "INSERT INTO patient_version (patient_id, revision, %1, changed_at, changed_by, "
            "changed_on) SELECT id, revision, %1, changed_at, changed_by, changed_on FROM patient "
            "WHERE id = ?")
            .arg(QLatin1String(kFieldColumns)));
    query.addBindValue(id);
    return query.exec() || Fail(query.lastError());
}

std::vector<PatientVersion> PatientRecords::Versions(const QString& id) {
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral("SELECT revision, %1, changed_at, changed_by, changed_on FROM "
                                 "patient_version WHERE patient_id = ? ORDER BY revision DESC")
                      .arg(QLatin1String(kFieldColumns)));
    query.addBindValue(id);
    std::vector<PatientVersion> versions;
    if (!query.exec()) {
        Fail(query.lastError());
        return versions;
    }
    Succeed();
    while (query.next()) {
        constexpr int after = 1 + kFieldCount;
        versions.push_back({query.value(0).toInt(), FieldsFrom(query, 1),
                            TimeOf(query.value(after)), query.value(after + 1).toString(),
                            query.value(after + 2).toString()});
    }
    return versions;
}

bool PatientRecords::AddAudit(const QString& id, const AuditLine& line) {
    QSqlQuery query(database_.Connection());
    query.prepare(QStringLiteral(
        "INSERT INTO audit (id, at, user_name, workstation, action, patient_id, visit_id, detail) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO NOTHING"));
    query.addBindValue(id.isEmpty() ? NewId() : id);
    query.addBindValue(line.at.isValid() ? line.at.toMSecsSinceEpoch() : Now());
    query.addBindValue(Text(line.user));
    query.addBindValue(Text(line.workstation));
    query.addBindValue(Text(line.action));
    query.addBindValue(Text(line.patientId));
    query.addBindValue(Text(line.visitId));
    query.addBindValue(Text(line.detail));
    if (!query.exec()) {
        return Fail(query.lastError());
    }
    return Succeed();
}

std::vector<AuditLine> PatientRecords::AuditSince(const QDateTime& since) {
    QSqlQuery query(database_.Connection());
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT at, user_name, workstation, action, patient_id, visit_id, detail "
                       "FROM audit WHERE at >= ? ORDER BY at, id"));
    query.addBindValue(since.isValid() ? since.toMSecsSinceEpoch() : qint64(0));
    std::vector<AuditLine> lines;
    if (!query.exec()) {
        Fail(query.lastError());
        return lines;
    }
    Succeed();
    while (query.next()) {
        lines.push_back({TimeOf(query.value(0)), query.value(1).toString(),
                         query.value(2).toString(), query.value(3).toString(),
                         query.value(4).toString(), query.value(5).toString(),
                         query.value(6).toString()});
    }
    return lines;
}

QString CurrentOperator() {
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_name != nullptr) {
        return QString::fromLocal8Bit(user->pw_name);
    }
    return qEnvironmentVariable("USER");
}

QString CurrentWorkstation() {
    return QSysInfo::machineHostName();
}

bool InsideKeepingPeriod(const QDateTime& lastVisit, const QDateTime& now) {
    return lastVisit.isValid() && now < lastVisit.addYears(10);
}

}  // namespace velmora
