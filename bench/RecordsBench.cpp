// The patient records of a large practice, on SQLite and on a PostgreSQL server of the benchmark's
// own, side by side: a keystroke in "Patientenakte" to the updated list, taking a patient with 20
// visits, and a durable threshold commit beside the same row written directly through the
// database's C library with the same durability.
//
// The practice: 100,000 patients with 5 finished visits each (500,000 visits, two thresholds
// each), made once per database at the first benchmark that needs it (a few minutes).
#include "app/PatientFileDialog.h"
#include "records/PatientRecords.h"
#include "records/RecordsDatabase.h"

#include "tests/support/PostgresServer.h"
#include "tests/support/RecordsGenerator.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <string>

namespace velmora::test {
namespace {

// VELMORA_BENCH_PATIENTS makes a smaller practice for a quick look.
const int kPatients = qEnvironmentVariableIsSet("VELMORA_BENCH_PATIENTS")
                          ? qEnvironmentVariableIntValue("VELMORA_BENCH_PATIENTS")
                          : 100000;
constexpr int kVisitsEach = 5;
constexpr int kTakesEach = 2;

QApplication& App() {
    static int argc = 1;
    static char arg0[] = "records_bench";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct Practice {
    QString address;
    std::unique_ptr<RecordsDatabase> database;
    std::unique_ptr<PatientRecords> records;
    QString twentyVisits;  // a patient with 20 visits
    QString openVisit;     // where the commits go
};

PostgresServer& Server() {
    static PostgresServer server;
    static const bool started = [] {
        std::string error;
        const bool ok = server.Start(&error);
        if (!ok) {
            std::fprintf(stderr, "records_bench: %s\n", error.c_str());
        }
        return ok;
    }();
    (void)started;
    return server;
}

Practice* Make(bool postgres) {
    static QTemporaryDir folder;
    auto practice = std::make_unique<Practice>();
    practice->address = postgres ? QString::fromStdString(Server().CreateDatabase("bench"))
                                 : folder.filePath(QStringLiteral("bench.sqlite"));
    QString error;
    const auto address = DatabaseAddress::Parse(practice->address, &error);
    practice->database = address ? RecordsDatabase::Open(*address, &error) : nullptr;
    if (!practice->database) {
        std::fprintf(stderr, "records_bench: %s\n", qPrintable(error));
        return nullptr;
    }
    GeneratedPractice generated;
    if (!GeneratePractice(*practice->database, kPatients, kVisitsEach, kTakesEach, &generated,
                          &error)) {
        std::fprintf(stderr, "records_bench: %s\n", qPrintable(error));
        return nullptr;
    }
    practice->records = std::make_unique<PatientRecords>(*practice->database);
    PatientRecords& records = *practice->records;
    PatientFields fields;
    fields.name = QStringLiteral("Stammgast");
    fields.firstName = QStringLiteral("Rosa");
    practice->twentyVisits = records.CreatePatient(fields);
    for (int v = 0; v < 20; ++v) {
        const QString visit = records.OpenVisit(practice->twentyVisits, {});
        for (int t = 0; t < 14; ++t) {
            records.AddThreshold(visit, {t < 7 ? Ear::Left : Ear::Right,
                                         kTestFrequencies[std::size_t(t % 7)],
                                         10 + v + t,
                                         {},
                                         {}});
        }
        records.FinishVisit(visit);
    }
    practice->openVisit = records.OpenVisit(generated.patientIds.front(), {});
    return practice.release();
}

Practice* Of(bool postgres) {
    App();
    static Practice* sqlite = nullptr;
    static Practice* pg = nullptr;
    Practice*& practice = postgres ? pg : sqlite;
    if (practice == nullptr) {
        practice = Make(postgres);
    }
    return practice;
}

// A keystroke in the dialog's search field to its list, filled: the operator types "schmidt v"
// and then a patient's number, one character at a time.
void Keystroke(benchmark::State& state) {
    Practice* practice = Of(state.range(0) != 0);
    if (practice == nullptr) {
        state.SkipWithError("no records");
        return;
    }
    PatientFileDialog dialog(*practice->records);
    const QString typed = QStringLiteral("schmidt vorname4711");
    int length = 0;
    for (auto _ : state) {
        length = length % typed.size() + 1;
        dialog.SearchField()->setText(typed.left(length));
        benchmark::DoNotOptimize(dialog.PatientList()->topLevelItemCount());
    }
}
BENCHMARK(Keystroke)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("postgres")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(190);

// Taking a patient with 20 visits: their fields, their visits for the dialog's list, and the
// earlier visit's levels for the plot and the report.
void LoadPatient(benchmark::State& state) {
    Practice* practice = Of(state.range(0) != 0);
    if (practice == nullptr) {
        state.SkipWithError("no records");
        return;
    }
    PatientRecords& records = *practice->records;
    for (auto _ : state) {
        benchmark::DoNotOptimize(records.LoadPatient(practice->twentyVisits));
        benchmark::DoNotOptimize(records.VisitsOf(practice->twentyVisits));
        const auto earlier = records.ComparisonVisit(practice->twentyVisits, {});
        benchmark::DoNotOptimize(records.Levels(earlier->id));
    }
}
BENCHMARK(LoadPatient)->Arg(0)->Arg(1)->ArgName("postgres")->Unit(benchmark::kMillisecond);

// A threshold committed as "Wert übernehmen" commits it.
void CommitThreshold(benchmark::State& state) {
    Practice* practice = Of(state.range(0) != 0);
    if (practice == nullptr) {
        state.SkipWithError("no records");
        return;
    }
    int n = 0;
    for (auto _ : state) {
        if (!practice->records->AddThreshold(
                practice->openVisit, {Ear::Left, 1000, n++ % 100, QStringLiteral("sine"), {}})) {
            state.SkipWithError("commit failed");
        }
    }
}
BENCHMARK(CommitThreshold)->Arg(0)->Arg(1)->ArgName("postgres")->Unit(benchmark::kMillisecond);

// The same row with the same statement, straight through the database's own C library: SQLite
// with its log and synchronous=FULL, libpq with synchronous_commit on; prepared once.
constexpr const char* kInsert =
    "INSERT INTO threshold (id, visit_id, seq, ear, frequency, level_tenths, waveform, taken_at) "
    "SELECT $1, v.id, (SELECT COALESCE(MAX(t.seq), 0) + 1 FROM threshold t WHERE t.visit_id = "
    "v.id), 'left', 1000, $2, 'sine', $3 FROM visit v WHERE v.id = $4 AND v.state = 'open'";

void CommitThresholdDirect(benchmark::State& state) {
    const bool postgres = state.range(0) != 0;
    Practice* practice = Of(postgres);
    if (practice == nullptr) {
        state.SkipWithError("no records");
        return;
    }
    const std::string visit = practice->openVisit.toStdString();
    int n = 0;
    if (!postgres) {
        sqlite3* db = nullptr;
        sqlite3_stmt* insert = nullptr;
        sqlite3_open(QFile::encodeName(practice->address).constData(), &db);
        sqlite3_busy_timeout(db, 5000);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL", nullptr, nullptr,
                     nullptr);
        sqlite3_prepare_v2(db, kInsert, -1, &insert, nullptr);
        for (auto _ : state) {
            const std::string id = NewRecordId().toStdString();
            sqlite3_bind_text(insert, 1, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 2, n++ % 100);
            sqlite3_bind_int64(insert, 3, QDateTime::currentMSecsSinceEpoch());
            sqlite3_bind_text(insert, 4, visit.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(insert) != SQLITE_DONE) {
                state.SkipWithError(sqlite3_errmsg(db));
            }
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_close(db);
        return;
    }
    const std::string conninfo = "host=" + Server().SocketFolder() + " user=velmora dbname=bench";
    PGconn* db = PQconnectdb(conninfo.c_str());
    PQclear(PQexec(db, "SET synchronous_commit = on"));
    PQclear(PQprepare(db, "insert", kInsert, 4, nullptr));
    for (auto _ : state) {
        const std::string id = NewRecordId().toStdString();
        const std::string level = std::to_string(n++ % 100);
        const std::string at = std::to_string(QDateTime::currentMSecsSinceEpoch());
        const char* values[4] = {id.c_str(), level.c_str(), at.c_str(), visit.c_str()};
        PGresult* result = PQexecPrepared(db, "insert", 4, values, nullptr, nullptr, 0);
        if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            state.SkipWithError(PQerrorMessage(db));
        }
        PQclear(result);
    }
    PQfinish(db);
}
BENCHMARK(CommitThresholdDirect)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("postgres")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora::test
