// The report made during a visit that came by GDT goes to the practice's software as a PDF.
// Apart from the console's other tests: the built-in writer linked in brings its libraries into
// the process, which the tests of the writer's modules must not find there.
#include "tests/app/GdtWindowFixture.h"
#include "tests/report/ScriptedServer.h"
#include "tests/support/ReportEnd.h"

#include "framework/Shell.h"
#include "report/BuiltInWriter.h"
#include "report/ServerRegistry.h"
#include "report/WordApplication.h"

#include <QFileInfo>

#include <algorithm>

namespace velmora::test {
namespace {

// The reports of the built-in writer in a home of the test's own, the desktop's "open" recorded.
class OwnReports {
public:
    OwnReports() {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            saved_.emplace_back(name, qgetenv(name));
        }
        qputenv("HOME", home_.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home_.filePath(QStringLiteral("config")).toLocal8Bit());
        previous_ = SetShellHandler([this](const ShellRequest& request) {
            opened.push_back(request);
            return true;
        });
    }
    ~OwnReports() {
        SetShellHandler(previous_);
        for (const auto& [name, value] : saved_) {
            qputenv(name, value);
        }
    }
    QString Folder() const { return home_.filePath(QStringLiteral("Documents/Velmora")); }
    std::vector<ShellRequest> opened;

private:
    QTemporaryDir home_;
    std::vector<std::pair<const char*, QByteArray>> saved_;
    ShellHandler previous_;
};

// The word processor a report goes into, and what the built-in writer then leaves in the
// report folder.
struct ReportServerCase {
    const char* name;
    // After the built-in writer: none, or a word processor (S_OK to everything), which may go
    // away as it closes the finished report.
    bool otherServer;
    HRESULT otherClose;
    std::size_t opened;  // files the desktop was asked to open
    int documents;       // .docx made by the built-in writer
    int boxes;           // boxes the report showed
};

const ReportServerCase kReportServers[] = {
    // The built-in writer itself: its PDF beside the .docx, the report opened.
    {"BuiltInWriter", false, S_OK, 1, 1, 0},
    // Another word processor has the report: the built-in writer makes the PDF alone, opens
    // nothing and shows nothing.
    {"OtherWordProcessor", true, S_OK, 0, 0, 0},
    // The word processor went away with the report: the built-in writer stands in, and its PDF
    // is the one that goes; the box says where the report is.
    {"WordProcessorGone", true, RPC_E_DISCONNECTED, 1, 1, 1},
};

using GdtReport = GdtWindow;

// "Bericht erstellen" during the visit: the report's PDF goes with the result, copied beside it
// under a name short enough for a 2.1 line, whichever word processor had the report.
TEST_P(GdtReport, TheReportMadeDuringTheVisitGoesWithTheResultAsAPdf) {
    for (const ReportServerCase& c : kReportServers) {
        SCOPED_TRACE(c.name);
        OwnReports reports;
        ASSERT_EQ(ReportFolder(), reports.Folder());
        TServerRegistry registry;  // outlives the window
        RegisterBuiltInWriter(registry);
        const auto script = std::make_shared<Script>();
        if (c.otherServer) {
            script->results["Close"] = c.otherClose;
            RegisterScripted(registry, script);
        }
        TForm1& f = OpenGdtWindow();
        f.WordApplication1->SetServerRegistry(&registry);
        f.TakeGdtRequest(WriteRequest(Request("4711", "Weg")));
        f.RadioButton2->SetChecked(true);
        Take(4, 5);
        const std::size_t boxesBefore = boxes_.size();
        Click(f.janColorButton2);
        ASSERT_TRUE(test::ReportEnded(f));
        EXPECT_EQ(boxes_.size() - boxesBefore, std::size_t(c.boxes));
        EXPECT_EQ(std::count(script->calls.begin(), script->calls.end(), "Close(-,-,-)"),
                  c.otherServer ? 1 : 0);  // the report went there
        EXPECT_EQ(reports.opened.size(), c.opened);
        EXPECT_EQ(QDir(reports.Folder()).entryList({QStringLiteral("*.docx")}, QDir::Files).size(),
                  c.documents);
        const QStringList made =
            QDir(reports.Folder()).entryList({QStringLiteral("*.pdf")}, QDir::Files);
        ASSERT_EQ(made.size(), 1);
        answers_ = {IDNO};
        Click(f.janColorButton3);

        const QByteArray result = Result();
        EXPECT_EQ(Field(result, "6303"), QList<QByteArray>{"PDF"});
        EXPECT_EQ(Field(result, "6304"), QList<QByteArray>{"Hoertest-Bericht"});
        const QList<QByteArray> path = Field(result, "6305");
        ASSERT_EQ(path.size(), 1);
        EXPECT_LE(path[0].size(), 60);
        EXPECT_EQ(QFileInfo(QString::fromLatin1(path[0])).absolutePath(),
                  QFileInfo(settings_.folder).absoluteFilePath());
        QFile sent(QString::fromLatin1(path[0]));
        ASSERT_TRUE(sent.open(QIODevice::ReadOnly)) << path[0].toStdString();
        QFile kept(QDir(reports.Folder()).filePath(made[0]));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        const QByteArray pdf = sent.readAll();
        EXPECT_TRUE(pdf.startsWith("%PDF-"));
        EXPECT_EQ(pdf, kept.readAll());

        // The next visit without a report: no PDF named.
        f.TakeGdtRequest(WriteRequest(Request("4712", "Weg")));
        Take(3, 0);
        answers_ = {IDNO};
        Click(f.janColorButton3);
        const QByteArray next = Result(QStringLiteral("PRAXVELM.001"));
        EXPECT_TRUE(next.contains("01330004712\r\n"));
        EXPECT_TRUE(Field(next, "6305").isEmpty());
        CloseWindow();
        // The practice's software took the results.
        for (const QString& name : QDir(settings_.folder).entryList(QDir::Files)) {
            QFile::remove(QDir(settings_.folder).filePath(name));
        }
    }
}

// "Neuer Patient" while the report is still written: the visit's result goes without it, and the
// report does not go with the next patient's result either.
TEST_P(GdtReport, AReportStillWrittenWhenTheVisitFinishesGoesWithNoOtherPatient) {
    OwnReports reports;
    TServerRegistry registry;  // outlives the window
    RegisterBuiltInWriter(registry);
    TForm1& f = OpenGdtWindow();
    f.WordApplication1->SetServerRegistry(&registry);
    f.TakeGdtRequest(WriteRequest(Request("4711", "Weg")));
    Take(4, 5);
    Click(f.janColorButton2);
    answers_ = {IDNO};
    Click(f.janColorButton3);  // before the run's end reached the window
    f.TakeGdtRequest(WriteRequest(Request("4712", "Weg")));
    ASSERT_TRUE(test::ReportEnded(f));
    EXPECT_EQ(QDir(reports.Folder()).entryList({QStringLiteral("*.pdf")}, QDir::Files).size(), 1);
    Take(3, 0);
    answers_ = {IDNO};
    Click(f.janColorButton3);
    const QByteArray next = Result(QStringLiteral("PRAXVELM.001"));
    EXPECT_TRUE(next.contains("01330004712\r\n"));
    EXPECT_TRUE(Field(next, "6305").isEmpty());
    CloseWindow();
}

INSTANTIATE_TEST_SUITE_P(SQLite, GdtReport, ::testing::Values(DatabaseKind::SQLite), KindName);

}  // namespace
}  // namespace velmora::test
