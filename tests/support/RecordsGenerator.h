#pragma once

// A large practice's records made quickly for tests and benchmarks: patients with names drawn from
// a list, their search words and visits with thresholds, written in large batches in one
// transaction (a program's own writes go one by one, each committed).

#include "records/PatientRecords.h"
#include "records/RecordsDatabase.h"
#include "records/SearchKey.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>
#include <QVariant>

#include <functional>
#include <string>
#include <vector>

namespace velmora::test {

inline const QStringList& GeneratedSurnames() {
    static const QStringList names = {
        QStringLiteral("Schmidt"),    QStringLiteral("Schneider"), QStringLiteral("Fischer"),
        QStringLiteral("Weber"),      QStringLiteral("Meyer"),     QStringLiteral("Wagner"),
        QStringLiteral("Becker"),     QStringLiteral("Schulz"),    QStringLiteral("Hoffmann"),
        QStringLiteral("Schäfer"),    QStringLiteral("Koch"),      QStringLiteral("Bauer"),
        QStringLiteral("Richter"),    QStringLiteral("Klein"),     QStringLiteral("Wolf"),
        QStringLiteral("Schröder"),   QStringLiteral("Neumann"),   QStringLiteral("Schwarz"),
        QStringLiteral("Zimmermann"), QStringLiteral("Braun"),     QStringLiteral("Krüger"),
        QStringLiteral("Hofmann"),    QStringLiteral("Hartmann"),  QStringLiteral("Lange"),
        QStringLiteral("Schmitt"),    QStringLiteral("Werner"),    QStringLiteral("Schmitz"),
        QStringLiteral("Krause"),     QStringLiteral("Meier"),     QStringLiteral("Lehmann"),
    };
    return names;
}

// Inserts `rows` rows of `columns` values each, some `values` values to a statement (Qt's SQLite
// driver looks each value's name up among all of a statement's: some 240 at most pay there;
// PostgreSQL takes thousands).
inline bool InsertBatched(QSqlDatabase& db, const QString& table, const QStringList& columns,
                          const std::vector<QVariantList>& rows, QString* error,
                          std::size_t values = 240) {
    const std::size_t kBatch = std::max<std::size_t>(1, values / std::size_t(columns.size()));
    const QString one =
        QLatin1Char('(') + QStringList(columns.size(), QStringLiteral("?")).join(u',') + u')';
    for (std::size_t start = 0; start < rows.size(); start += kBatch) {
        const std::size_t count = std::min(kBatch, rows.size() - start);
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table, columns.join(u',')) +
                      QStringList(qsizetype(count), one).join(u','));
        for (std::size_t i = start; i < start + count; ++i) {
            for (const QVariant& value : rows[i]) {
                query.addBindValue(value);
            }
        }
        if (!query.exec()) {
            *error = query.lastError().text();
            return false;
        }
    }
    return true;
}

struct GeneratedPractice {
    std::vector<QString> patientIds;
};

// `patients` patients, the n-th named after GeneratedSurnames()[n % 30] with the first name
// "Vorname<n>", Patienten-ID "P<n>" and town "Ort<n % 500>"; `visitsEach` finished visits each
// (a month apart, the last one yesterday) with `takesEach` thresholds. `extra` (name, first name)
// pairs are added first.
inline bool GeneratePractice(RecordsDatabase& database, int patients, int visitsEach, int takesEach,
                             GeneratedPractice* practice, QString* error) {
    QSqlDatabase& db = database.Connection();
    QSqlQuery begin(db);
    if (!database.IsPostgres()) {
        // The whole transaction's pages in memory, not spilled to the log as they change.
        begin.exec(QStringLiteral("PRAGMA cache_size = -400000"));
    }
    if (!begin.exec(QStringLiteral("BEGIN"))) {
        *error = begin.lastError().text();
        return false;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    constexpr qint64 kDay = 24LL * 3600 * 1000;
    std::vector<QVariantList> patientRows, wordRows, visitRows, takeRows;
    const std::size_t values = database.IsPostgres() ? 6000 : 240;
    const auto flush = [&](bool all) {
        if (!all && patientRows.size() < 2000) {
            return true;
        }
        const bool ok =
            InsertBatched(
                db, QStringLiteral("patient"),
                {QStringLiteral("id"), QStringLiteral("practice_id"), QStringLiteral("first_name"),
                 QStringLiteral("name"), QStringLiteral("town"), QStringLiteral("name_key"),
                 QStringLiteral("first_name_key"), QStringLiteral("practice_id_key"),
                 QStringLiteral("created_at"), QStringLiteral("changed_at"),
                 QStringLiteral("changed_by"), QStringLiteral("changed_on")},
                patientRows, error, values) &&
            InsertBatched(db, QStringLiteral("patient_word"),
                          {QStringLiteral("word"), QStringLiteral("name_key"),
                           QStringLiteral("first_name_key"), QStringLiteral("patient_id")},
                          wordRows, error, values) &&
            InsertBatched(
                db, QStringLiteral("visit"),
                {QStringLiteral("id"), QStringLiteral("patient_id"), QStringLiteral("state"),
                 QStringLiteral("started_at"), QStringLiteral("finished_at"),
                 QStringLiteral("operator"), QStringLiteral("workstation"),
                 QStringLiteral("output_name"), QStringLiteral("output_description")},
                visitRows, error, values) &&
            InsertBatched(db, QStringLiteral("threshold"),
                          {QStringLiteral("id"), QStringLiteral("visit_id"), QStringLiteral("seq"),
                           QStringLiteral("ear"), QStringLiteral("frequency"),
                           QStringLiteral("level_tenths"), QStringLiteral("taken_at")},
                          takeRows, error, values);
        patientRows.clear();
        wordRows.clear();
        visitRows.clear();
        takeRows.clear();
        return ok;
    };
    for (int n = 0; n < patients; ++n) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString name = GeneratedSurnames()[n % GeneratedSurnames().size()];
        const QString firstName = QStringLiteral("Vorname%1").arg(n);
        const QString patientId = QStringLiteral("P%1").arg(n);
        const QString town = QStringLiteral("Ort%1").arg(n % 500);
        practice->patientIds.push_back(id);
        patientRows.push_back({id, patientId, firstName, name, town, NormalizedName(name),
                               NormalizedName(firstName), NormalizedName(patientId), now, now,
                               QStringLiteral("test"), QStringLiteral("generator")});
        QSet<QString> words;
        for (const QString* field : {&name, &firstName, &patientId, &town}) {
            for (const QString& word : SearchWords(*field)) {
                words.insert(word);
            }
        }
        for (const QString& word : words) {
            wordRows.push_back({word, NormalizedName(name), NormalizedName(firstName), id});
        }
        for (int v = 0; v < visitsEach; ++v) {
            const QString visit = QUuid::createUuid().toString(QUuid::WithoutBraces);
            const qint64 started =
                now - kDay - qint64(visitsEach - 1 - v) * 30 * kDay - qint64(n % 1000) * 60000;
            visitRows.push_back({visit, id, QStringLiteral("finished"), started, started + 900000,
                                 QStringLiteral("test"), QStringLiteral("generator"),
                                 QStringLiteral("sink"), QStringLiteral("Kopfhörer")});
            for (int t = 0; t < takesEach; ++t) {
                takeRows.push_back(
                    {QUuid::createUuid().toString(QUuid::WithoutBraces), visit, t + 1,
                     t % 2 == 0 ? QStringLiteral("left") : QStringLiteral("right"),
                     kTestFrequencies[std::size_t(t / 2 % 7)], (n + t) % 100, started + t * 1000});
            }
        }
        if (!flush(false)) {
            return false;
        }
    }
    if (!flush(true)) {
        return false;
    }
    QSqlQuery commit(db);
    if (!commit.exec(QStringLiteral("COMMIT"))) {
        *error = commit.lastError().text();
        return false;
    }
    // Fresh statistics and PostgreSQL's map of all-visible pages (its autovacuum's work), as a
    // database in use has them; and SQLite's log written into the file, as it stands in a
    // database at rest.
    QSqlQuery analyse(db);
    analyse.exec(database.IsPostgres() ? QStringLiteral("VACUUM ANALYZE")
                                       : QStringLiteral("ANALYZE"));
    if (!database.IsPostgres()) {
        analyse.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        analyse.exec(QStringLiteral("PRAGMA cache_size = -2000"));
    }
    return true;
}

}  // namespace velmora::test
