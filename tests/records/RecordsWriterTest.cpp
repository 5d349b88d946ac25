// The records' writer: writes made on their own thread, kept on the workstation while the
// practice's server is away, and on the server exactly once when it is back.
#include "records/RecordWrite.h"
#include "records/RecordsWriter.h"

#include "tests/records/RecordsFixture.h"
#include "tests/support/PostgresServer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace velmora::test {
namespace {

void EnsureApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char arg0[] = "records-test";
        static char* argv[] = {arg0, nullptr};
        new QCoreApplication(argc, argv);  // lives to the end of the test program
    }
}

bool WaitFor(const std::function<bool()>& condition, int ms = 20000) {
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A writer whose events are counted.
struct CountedWriter {
    CountedWriter(const DatabaseAddress& server, const DatabaseAddress& keeping)
        : writer(std::make_unique<RecordsWriter>(server, keeping)) {
        RecordsWriter::Events events;
        events.serverLost = [this](const QString&) { ++lost; };
        events.transferred = [this] { ++transferred; };
        events.failed = [this](const QString& reason) { failures.push_back(reason); };
        events.reachable = [this] { ++reachable; };
        writer->SetEvents(std::move(events));
    }
    std::unique_ptr<RecordsWriter> writer;
    int lost = 0;
    int transferred = 0;
    int reachable = 0;
    std::vector<QString> failures;
};

PatientFields Fields(const QString& patientId, const QString& firstName, const QString& name) {
    PatientFields fields;
    fields.patientId = patientId;
    fields.firstName = firstName;
    fields.name = name;
    return fields;
}

int KeptWrites(const DatabaseAddress& keeping) {
    QString error;
    auto database = RecordsDatabase::Open(keeping, &error);
    EXPECT_TRUE(database) << error.toStdString();
    if (!database) {
        return -1;
    }
    QSqlQuery query(database->Connection());
    EXPECT_TRUE(query.exec(QStringLiteral("SELECT COUNT(*) FROM pending_write")) && query.next());
    return query.value(0).toInt();
}

TEST(RecordWrite, EveryKindIsKeptAndReadBackAsItWas) {
    PatientFields fields =
        Fields(QStringLiteral("4711"), QStringLiteral("Jürgen"), QStringLiteral("O'Neil"));
    fields.town = QStringLiteral("Köln");
    fields.email = QStringLiteral("a@b.de");
    fields.remarks = QStringLiteral("Zeile 1\n\"Zeile\" 2");
    fields.birthDate = QStringLiteral("15031962");
    const VisitContext context{QStringLiteral("anna"), QStringLiteral("platz-2"),
                               QStringLiteral("alsa_output.usb"), QStringLiteral("Kopfhörer"),
                               QStringLiteral("sine")};
    const ThresholdTake take{Ear::Right, 4000, 57, QStringLiteral("square"),
                             QDateTime::fromMSecsSinceEpoch(1765000000123, Qt::UTC)};
    const RecordWrite writes[] = {
        RecordWrite::CreatePatient(QStringLiteral("p"), fields),
        RecordWrite::SavePatient(QStringLiteral("p"), fields),
        RecordWrite::OpenVisit(QStringLiteral("v"), QStringLiteral("p"), context),
        RecordWrite::AddThreshold(QStringLiteral("v"), take),
        RecordWrite::FinishVisit(QStringLiteral("v")),
        RecordWrite::MoveVisit(QStringLiteral("v"), QStringLiteral("q")),
        RecordWrite::RemoveNewPatient(QStringLiteral("p")),
        RecordWrite::Audit(AuditLine::Now(audit::kSearch, {}, {}, QStringLiteral("p q"))),
        RecordWrite::OpenCorrection(QStringLiteral("w"), QStringLiteral("p"), QStringLiteral("v"),
                                    context),
        RecordWrite::SavePatient(QStringLiteral("p"), fields, PatientFields{}),
    };
    for (const RecordWrite& write : writes) {
        const auto back = RecordWrite::Parse(write.Serialized());
        ASSERT_TRUE(back) << write.Serialized().toStdString();
        EXPECT_TRUE(*back == write) << back->Serialized().toStdString();
    }
    const auto threshold = RecordWrite::Parse(writes[3].Serialized());
    EXPECT_EQ(threshold->take.takenAt, take.takenAt);
    EXPECT_EQ(threshold->take.levelTenths, 57);
    EXPECT_FALSE(threshold->takeId.isEmpty());
    for (const char* broken : {"", "{}", "[1]", R"({"kind":"drop-table"})"}) {
        EXPECT_FALSE(RecordWrite::Parse(broken)) << broken;
    }
    // A write an earlier program kept, with the ten fields only: read without a date of birth;
    // another number of fields is refused.
    for (const auto& [count, readable] :
         {std::pair{10, true}, {11, true}, {9, false}, {12, false}}) {
        QJsonObject object = QJsonDocument::fromJson(writes[9].Serialized()).object();
        for (const char* key : {"fields", "basedOn"}) {
            QJsonArray texts = object[QLatin1String(key)].toArray();
            while (texts.size() > count) {
                texts.removeLast();
            }
            while (texts.size() < count) {
                texts.append(QStringLiteral("x"));
            }
            object[QLatin1String(key)] = texts;
        }
        const auto back = RecordWrite::Parse(QJsonDocument(object).toJson());
        ASSERT_EQ(bool(back), readable) << count;
        if (back) {
            EXPECT_EQ(back->fields.remarks, fields.remarks);
            EXPECT_EQ(back->fields.birthDate, count == 11 ? fields.birthDate : QString());
        }
    }
}

// The practice's server stopped during a visit, the program ended and started again meanwhile, the
// server started: the visit is on the server once, with every take, and the operator was told
// once of each.
TEST(RecordsWriter, AVisitKeptWhileTheServerIsAwayIsOnItOnceWithEveryTake) {
    EnsureApplication();
    PostgresServer server;
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    QString why;
    const auto address =
        DatabaseAddress::Parse(QString::fromStdString(server.CreateDatabase("velmora")), &why);
    ASSERT_TRUE(address) << why.toStdString();
    QTemporaryDir folder;
    const auto keeping =
        DatabaseAddress::Parse(folder.filePath(QStringLiteral("own/velmora.sqlite")), &why);
    ASSERT_TRUE(keeping) << why.toStdString();

    // A patient the practice knows already, by their Patienten-ID.
    QString storedId;
    {
        auto database = RecordsDatabase::Open(*address, &why);
        ASSERT_TRUE(database) << why.toStdString();
        PatientRecords records(*database);
        PatientFields karl =
            Fields(QStringLiteral("0815"), QStringLiteral("Karl"), QStringLiteral("Berg"));
        karl.town = QStringLiteral("Ulm");
        storedId = records.CreatePatient(karl);
        ASSERT_FALSE(storedId.isEmpty());
    }

    const QString patient = NewRecordId();
    const QString visit = NewRecordId();
    const QString newHere = NewRecordId();
    const QString secondVisit = NewRecordId();
    PatientFields fields =
        Fields(QStringLiteral("4711"), QStringLiteral("Erika"), QStringLiteral("Mustermann"));
    const auto takeOf = [](const QString& visitId, int frequency, int level) {
        return RecordWrite::AddThreshold(
            visitId,
            {Ear::Left, frequency, level, QStringLiteral("sine"), QDateTime::currentDateTimeUtc()});
    };
    RecordWrite again;
    {
        CountedWriter counted(*address, *keeping);
        RecordsWriter& writer = *counted.writer;
        writer.Submit(RecordWrite::CreatePatient(patient, fields));
        writer.Submit(RecordWrite::OpenVisit(visit, patient, VisitContext()));
        writer.Submit(takeOf(visit, 125, 11));
        writer.Submit(takeOf(visit, 250, 22));
        ASSERT_TRUE(writer.WaitSettled(10000));
        ASSERT_TRUE(WaitFor([&] { return writer.Unwritten() == 0; }));

        server.Halt();
        again = takeOf(visit, 500, 33);
        writer.Submit(again);
        writer.Submit(takeOf(visit, 1000, 44));
        fields.town = QStringLiteral("Düsseldorf");
        writer.Submit(RecordWrite::SavePatient(patient, fields));
        writer.Submit(RecordWrite::FinishVisit(visit));
        // A patient new on this workstation whom the server knows by their Patienten-ID.
        PatientFields typed =
            Fields(QStringLiteral("0815"), QStringLiteral("Karl"), QStringLiteral("Berg"));
        typed.street = QStringLiteral("Hauptstr. 1");
        writer.Submit(RecordWrite::CreatePatient(newHere, typed));
        writer.Submit(RecordWrite::OpenVisit(secondVisit, newHere, VisitContext()));
        writer.Submit(takeOf(secondVisit, 8000, 99));
        writer.Submit(RecordWrite::FinishVisit(secondVisit));
        // Kept on the workstation in a moment, without waiting for the server.
        EXPECT_TRUE(writer.WaitSettled(10000));
        ASSERT_TRUE(WaitFor([&] { return counted.lost > 0; }));
        EXPECT_EQ(writer.Unwritten(), 8);
        QCoreApplication::processEvents();
        EXPECT_EQ(counted.lost, 1);
        EXPECT_EQ(counted.transferred, 0);
        EXPECT_TRUE(counted.failures.empty());
    }
    // The program ended during the outage: the next one finds what was kept.
    EXPECT_EQ(KeptWrites(*keeping), 8);
    CountedWriter counted(*address, *keeping);
    ASSERT_TRUE(WaitFor([&] { return counted.lost == 1; }));
    ASSERT_TRUE(server.StartAgain(&error)) << error;
    ASSERT_TRUE(WaitFor([&] { return counted.transferred == 1; }));
    EXPECT_EQ(counted.writer->Unwritten(), 0);
    EXPECT_EQ(KeptWrites(*keeping), 0);
    // A take made a second time is still one take.
    counted.writer->Submit(again);
    ASSERT_TRUE(counted.writer->WaitSettled(10000));
    QCoreApplication::processEvents();
    EXPECT_EQ(counted.lost, 1);
    EXPECT_EQ(counted.transferred, 1);
    EXPECT_TRUE(counted.failures.empty());

    auto database = RecordsDatabase::Open(*address, &why);
    ASSERT_TRUE(database) << why.toStdString();
    PatientRecords records(*database);
    const auto kept = records.Visit(visit);
    ASSERT_TRUE(kept);
    EXPECT_FALSE(kept->open);
    const auto takes = records.Thresholds(visit);
    ASSERT_EQ(takes.size(), 4u);
    const int levels[] = {11, 22, 33, 44};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(takes[i].levelTenths, levels[i]);
    }
    EXPECT_EQ(records.LoadPatient(patient)->town, QStringLiteral("Düsseldorf"));
    // The patient new on the workstation is the stored one, with what was typed added.
    const auto second = records.Visit(secondVisit);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->patientId, storedId);
    EXPECT_EQ(records.Thresholds(secondVisit).size(), 1u);
    EXPECT_FALSE(records.LoadPatient(newHere));
    const auto stored = records.LoadPatient(storedId);
    EXPECT_EQ(stored->street, QStringLiteral("Hauptstr. 1"));
    EXPECT_EQ(stored->town, QStringLiteral("Ulm"));
    EXPECT_EQ(records.Search(QStringLiteral("0815")).size(), 1u);
}

}  // namespace
}  // namespace velmora::test
