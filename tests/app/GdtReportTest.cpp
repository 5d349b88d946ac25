// The report made during a visit that came by GDT goes to the practice's software as a PDF.
// Apart from the console's other tests: the built-in writer linked in brings its libraries into
// the process, which the tests of the writer's modules must not find there.
#include "tests/app/GdtWindowFixture.h"
#include "tests/support/ReportEnd.h"

#include "framework/Shell.h"
#include "report/BuiltInWriter.h"
#include "report/ServerRegistry.h"
#include "report/WordApplication.h"

#include <QFileInfo>

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

class GdtReport : public GdtWindow {
protected:
    TServerRegistry registry_;  // outlives the window
};

// "Bericht erstellen" during the visit: the report's PDF goes with the result, copied beside it
// under a name short enough for a 2.1 line.
TEST_P(GdtReport, TheReportMadeDuringTheVisitGoesWithTheResultAsAPdf) {
    OwnReports reports;
    ASSERT_EQ(ReportFolder(), reports.Folder());
    RegisterBuiltInWriter(registry_);
    TForm1& f = OpenGdtWindow();
    f.WordApplication1->SetServerRegistry(&registry_);
    f.TakeGdtRequest(WriteRequest(Request("4711", "Weg")));
    f.RadioButton2->SetChecked(true);
    Take(4, 5);
    Click(f.janColorButton2);
    ASSERT_TRUE(test::ReportEnded(f));
    ASSERT_EQ(reports.opened.size(), 1u);  // the report, as the operator sees it
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
}

INSTANTIATE_TEST_SUITE_P(SQLite, GdtReport, ::testing::Values(DatabaseKind::SQLite), KindName);

}  // namespace
}  // namespace velmora::test
