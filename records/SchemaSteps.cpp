#include "records/SchemaSteps.h"

#include "records/SearchKey.h"

#include <QDateTime>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <functional>
#include <utility>
#include <vector>

namespace velmora {
namespace {

// A step: statements run one by one (never a script split at ';'), then, if there is one, code
// that fills what the statements made.
struct Step {
    std::vector<const char*> statements;
    std::function<bool(QSqlDatabase&, QString*)> fill;
};

// Words compared byte by byte on both databases, so that a prefix is a range of the index
// whatever the PostgreSQL database's collation.
QString Spelled(const char* statement, bool postgres) {
    QString text = QString::fromUtf8(statement);
    text.replace(QStringLiteral("{binary}"),
                 postgres ? QStringLiteral(" COLLATE \"C\"") : QString());
    return text;
}

bool FillSearchWords(QSqlDatabase& db, QString* error) {
    // Read whole before writing: a PostgreSQL connection has one result at a time.
    struct Patient {
        QString id, nameKey, firstNameKey;
        QSet<QString> words;
    };
    std::vector<Patient> patients;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT id, name_key, first_name_key, name, first_name, "
                                       "practice_id, town FROM patient"))) {
            *error = query.lastError().text();
            return false;
        }
        while (query.next()) {
            Patient patient{query.value(0).toString(),
                            query.value(1).toString(),
                            query.value(2).toString(),
                            {}};
            for (int field = 3; field <= 6; ++field) {
                for (const QString& word : SearchWords(query.value(field).toString())) {
                    patient.words.insert(word);
                }
            }
            patients.push_back(std::move(patient));
        }
    }
    QSqlQuery insert(db);
    if (!insert.prepare(QStringLiteral("INSERT INTO patient_word (word, name_key, first_name_key, "
                                       "patient_id) VALUES (?, ?, ?, ?)"))) {
        *error = insert.lastError().text();
        return false;
    }
    for (const Patient& patient : patients) {
        for (const QString& word : patient.words) {
            insert.addBindValue(word);
            insert.addBindValue(patient.nameKey);
            insert.addBindValue(patient.firstNameKey);
            insert.addBindValue(patient.id);
            if (!insert.exec()) {
                *error = insert.lastError().text();
                return false;
            }
        }
    }
    return true;
}

const std::vector<Step>& Steps() {
    static const std::vector<Step> steps = {
        {{
             "CREATE TABLE patient ("
             " id TEXT PRIMARY KEY,"
             " practice_id TEXT NOT NULL DEFAULT '',"
             " first_name TEXT NOT NULL DEFAULT '',"
             " name TEXT NOT NULL DEFAULT '',"
             " town TEXT NOT NULL DEFAULT '',"
             " street TEXT NOT NULL DEFAULT '',"
             " email TEXT NOT NULL DEFAULT '',"
             " doctor TEXT NOT NULL DEFAULT '',"
             " postcode TEXT NOT NULL DEFAULT '',"
             " telephone TEXT NOT NULL DEFAULT '',"
             " remarks TEXT NOT NULL DEFAULT '',"
             " name_key TEXT NOT NULL DEFAULT '',"
             " first_name_key TEXT NOT NULL DEFAULT '',"
             " practice_id_key TEXT NOT NULL DEFAULT '',"
             " revision INTEGER NOT NULL DEFAULT 1,"
             " created_at BIGINT NOT NULL,"
             " changed_at BIGINT NOT NULL,"
             " changed_by TEXT NOT NULL,"
             " changed_on TEXT NOT NULL)",
             "CREATE INDEX patient_by_name ON patient (name_key, first_name_key, id)",
             "CREATE INDEX patient_by_practice_id ON patient (practice_id)",
             "CREATE TABLE visit ("
             " id TEXT PRIMARY KEY,"
             " patient_id TEXT NOT NULL REFERENCES patient (id) ON DELETE CASCADE,"
             " state TEXT NOT NULL CHECK (state IN ('open', 'finished')),"
             " started_at BIGINT NOT NULL,"
             " finished_at BIGINT,"
             " operator TEXT NOT NULL,"
             " workstation TEXT NOT NULL,"
             " output_name TEXT NOT NULL DEFAULT '',"
             " output_description TEXT NOT NULL DEFAULT '',"
             " waveform TEXT NOT NULL DEFAULT '')",
             "CREATE INDEX visit_by_patient ON visit (patient_id, started_at)",
             "CREATE INDEX visit_by_start ON visit (started_at)",
             "CREATE INDEX visit_by_state ON visit (state, workstation, operator)",
             "CREATE TABLE threshold ("
             " id TEXT PRIMARY KEY,"
             " visit_id TEXT NOT NULL REFERENCES visit (id) ON DELETE CASCADE,"
             " seq INTEGER NOT NULL,"
             " ear TEXT NOT NULL CHECK (ear IN ('both', 'left', 'right')),"
             " frequency INTEGER NOT NULL"
             "  CHECK (frequency IN (125, 250, 500, 1000, 2000, 4000, 8000)),"
             " level_tenths INTEGER NOT NULL CHECK (level_tenths BETWEEN 0 AND 99),"
             " waveform TEXT NOT NULL DEFAULT '',"
             " taken_at BIGINT NOT NULL,"
             " UNIQUE (visit_id, seq))",
         },
         {}},
        {{
             "CREATE TABLE patient_word ("
             " word TEXT{binary} NOT NULL,"
             " name_key TEXT NOT NULL,"
             " first_name_key TEXT NOT NULL,"
             " patient_id TEXT NOT NULL REFERENCES patient (id) ON DELETE CASCADE,"
             " PRIMARY KEY (word, name_key, first_name_key, patient_id))",
             "CREATE INDEX patient_word_by_patient ON patient_word (patient_id, word)",
         },
         FillSearchWords},
        {{
             "CREATE TABLE pending_write ("
             " seq BIGINT PRIMARY KEY,"
             " server TEXT NOT NULL,"
             " kept_at BIGINT NOT NULL,"
             " payload TEXT NOT NULL)",
             "CREATE INDEX pending_write_by_server ON pending_write (server, seq)",
         },
         {}},
        {{
             "CREATE TABLE audit ("
             " id TEXT PRIMARY KEY,"
             " at BIGINT NOT NULL,"
             " user_name TEXT NOT NULL,"
             " workstation TEXT NOT NULL,"
             " action TEXT NOT NULL,"
             " patient_id TEXT NOT NULL DEFAULT '',"
             " visit_id TEXT NOT NULL DEFAULT '',"
             " detail TEXT NOT NULL DEFAULT '')",
             "CREATE INDEX audit_by_time ON audit (at)",
             "CREATE INDEX audit_by_patient ON audit (patient_id, at)",
         },
         {}},
        {{
             "CREATE TABLE patient_version ("
             " patient_id TEXT NOT NULL REFERENCES patient (id) ON DELETE CASCADE,"
             " revision INTEGER NOT NULL,"
             " practice_id TEXT NOT NULL DEFAULT '',"
             " first_name TEXT NOT NULL DEFAULT '',"
             " name TEXT NOT NULL DEFAULT '',"
             " town TEXT NOT NULL DEFAULT '',"
             " street TEXT NOT NULL DEFAULT '',"
             " email TEXT NOT NULL DEFAULT '',"
             " doctor TEXT NOT NULL DEFAULT '',"
             " postcode TEXT NOT NULL DEFAULT '',"
             " telephone TEXT NOT NULL DEFAULT '',"
             " remarks TEXT NOT NULL DEFAULT '',"
             " changed_at BIGINT NOT NULL,"
             " changed_by TEXT NOT NULL,"
             " changed_on TEXT NOT NULL,"
             " PRIMARY KEY (patient_id, revision))",
             // What each patient holds now is their first kept version.
             "INSERT INTO patient_version (patient_id, revision, practice_id, first_name, name, "
             "town, street, email, doctor, postcode, telephone, remarks, changed_at, changed_by, "
             "changed_on) SELECT id, revision, practice_id, first_name, name, town, street, email, "
             "doctor, postcode, telephone, remarks, changed_at, changed_by, changed_on FROM "
             "patient",
         },
         {}},
        {{
             "ALTER TABLE visit ADD COLUMN corrects TEXT",
             "CREATE INDEX visit_by_corrected ON visit (corrects)",
         },
         {}},
        {{
             "ALTER TABLE patient ADD COLUMN birth_date TEXT NOT NULL DEFAULT ''",
             "ALTER TABLE patient_version ADD COLUMN birth_date TEXT NOT NULL DEFAULT ''",
         },
         {}},
    };
    return steps;
}

int CurrentVersion(QSqlDatabase& db, bool* ok, QString* error) {
    QSqlQuery query(db);
    *ok = query.exec(QStringLiteral("SELECT MAX(version) FROM schema_step")) && query.next();
    if (!*ok) {
        *error = query.lastError().text();
        return 0;
    }
    return query.value(0).isNull() ? 0 : query.value(0).toInt();
}

bool RunStep(QSqlDatabase& db, bool postgres, int version, QString* error) {
    const Step& step = Steps()[std::size_t(version - 1)];
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    QSqlQuery query(db);
    bool ok = true;
    for (const char* statement : step.statements) {
        if (!query.exec(Spelled(statement, postgres))) {
            *error = query.lastError().text();
            ok = false;
            break;
        }
    }
    if (ok && step.fill) {
        ok = step.fill(db, error);
    }
    if (ok) {
        ok = query.prepare(QStringLiteral(
            "INSERT INTO schema_step (version, applied_at, program) VALUES (?, ?, ?)"));
        query.addBindValue(version);
        query.addBindValue(QDateTime::currentMSecsSinceEpoch());
        query.addBindValue(QStringLiteral("Velmora"));
        ok = ok && query.exec();
        if (!ok) {
            *error = query.lastError().text();
        }
    }
    if (ok && db.commit()) {
        return true;
    }
    if (ok) {
        *error = db.lastError().text();
    }
    db.rollback();
    return false;
}

}  // namespace

bool UpgradeSchema(QSqlDatabase& db, bool postgres, int upTo, int* version, QString* error) {
    if (upTo < 0 || upTo > kSchemaVersion) {
        upTo = kSchemaVersion;
    }
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_step ("
                                   " version INTEGER PRIMARY KEY,"
                                   " applied_at BIGINT NOT NULL,"
                                   " program TEXT NOT NULL)"))) {
        *error = query.lastError().text();
        return false;
    }
    bool ok = false;
    *version = CurrentVersion(db, &ok, error);
    if (!ok) {
        return false;
    }
    if (*version > kSchemaVersion) {
        *error =
            QStringLiteral(
                "Die Patientenakte wurde von einer neueren Velmora-Version angelegt (Stand %1; "
                "diese Version kennt bis Stand %2).\nBitte verwenden Sie die neuere Version.")
                .arg(*version)
                .arg(kSchemaVersion);
        return false;
    }
    while (*version < upTo) {
        if (!RunStep(db, postgres, *version + 1, error)) {
            // Another program may have taken the same step at the same moment.
            const int now = CurrentVersion(db, &ok, error);
            if (!ok || now <= *version) {
                *error = QStringLiteral(
                             "Die Patientenakte konnte nicht auf Stand %1 gebracht "
                             "werden:\n%2")
                             .arg(*version + 1)
                             .arg(*error);
                return false;
            }
            *version = now;
            continue;
        }
        ++*version;
    }
    return true;
}

}  // namespace velmora
