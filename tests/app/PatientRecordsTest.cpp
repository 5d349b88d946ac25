// The test console keeps its visits in the patient records (on SQLite and on PostgreSQL): what
// the operator sees and answers, and what another program finds in the records meanwhile.
#include "tests/app/RecordsWindowFixture.h"

#include "app/PatientFileDialog.h"
#include "framework/Color.h"

#include <QDate>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "tests/support/Spawn.h"

#include <sqlite3.h>

#include <cmath>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {
namespace {

constexpr TColor kLeftEar = RGB(135, 0, 255);

using PatientRecordsWindow = RecordsWindowFixture;

TEST_P(PatientRecordsWindow, EveryTakeIsInTheRecordsWhenTheHandlerReturns) {
    TForm1& f = OpenWindow();
    Type(f.Edit3, QStringLiteral("Mustermann"));
    // The first field typed opens the visit; the field is written when it loses the focus.
    EXPECT_EQ(Reader().Search(QStringLiteral("m")).size(), 1u);
    Leave(f.Edit3, f.Edit2);
    auto visits = VisitsOf(QStringLiteral("mustermann"));
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_TRUE(visits[0].open);
    EXPECT_EQ(visits[0].context.outputName, QStringLiteral("alsa_output.headphones"));
    EXPECT_EQ(visits[0].context.outputDescription, QStringLiteral("Kopfhörer"));
    EXPECT_EQ(visits[0].context.operatorName, CurrentOperator());

    f.RadioButton1->SetChecked(true);
    Take(3, 4);
    EXPECT_EQ(Reader().Levels(visits[0].id)[1][3], 34);
    f.RadioButton8->SetChecked(true);
    Take(5, 0);
    Take(4, 9);  // taken again: kept too, the last counts
    EXPECT_EQ(Reader().Thresholds(visits[0].id).size(), 3u);
    EXPECT_EQ(Reader().Levels(visits[0].id)[1][4], 49);

    // A field is written when it loses the focus.
    Type(f.Edit2, QStringLiteral("Erika"));
    Leave(f.Edit2, f.Edit4);
    const auto found = Reader().Search(QStringLiteral("mustermann"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].firstName, QStringLiteral("Erika"));

    // "Neuer Patient" finishes the visit; the next one is a new patient's.
    answers_ = {IDYES};
    Click(f.janColorButton3);
    visits = VisitsOf(QStringLiteral("mustermann"));
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_FALSE(visits[0].open);
    Type(f.Edit3, QStringLiteral("Beispiel"));
    Leave(f.Edit3, f.Edit2);
    EXPECT_EQ(VisitsOf(QStringLiteral("beispiel")).size(), 1u);
    EXPECT_EQ(VisitsOf(QStringLiteral("mustermann")).size(), 1u);
}

TEST_P(PatientRecordsWindow, ASecondVisitDrawsTheEarlierCurveDashedBehindTodaysAFirstAsToday) {
    // The same test without records, for the picture of today's window.
    QImage withoutRecords;
    {
        TForm1 plain(nullptr, sound_, mixer_);
        plain.show();
        plain.RadioButton1->SetChecked(true);
        for (const auto& [radio, coarse, fine] :
             {std::tuple{plain.RadioButton7, 3, 4}, std::tuple{plain.RadioButton8, 5, 0}}) {
            radio->SetChecked(true);
            plain.ExTrackBar1->SetPosition(coarse);
            plain.ExTrackBar2->SetPosition(fine);
            plain.HemisphereButton2Click(nullptr);
        }
        withoutRecords = plain.PaintBox1->grab().toImage();
    }

    TForm1& f = OpenWindow();
    Type(f.Edit3, QStringLiteral("Lange"));
    f.RadioButton1->SetChecked(true);
    for (const auto& [radio, coarse, fine] :
         {std::tuple{f.RadioButton7, 3, 4}, std::tuple{f.RadioButton8, 5, 0}}) {
        radio->SetChecked(true);
        Take(coarse, fine);
    }
    // The patient's first visit: the plot as it always was.
    EXPECT_EQ(Plot(), withoutRecords);

    // "Neuer Patient", the fields kept: the same patient's next visit, today's curve empty.
    answers_ = {IDNO};
    Click(f.janColorButton3);
    f.RadioButton1->SetChecked(true);
    const QImage plot = Plot();
    // The earlier markers (1000 Hz at 3.4, 2000 Hz at 5.0: rows 42 and 62 at their centres), and
    // between them a dashed line in the left ear's colour.
    EXPECT_EQ(FromQRgb(plot.pixel(170, 42)), kLeftEar);
    EXPECT_EQ(FromQRgb(plot.pixel(214, 62)), kLeftEar);
    int drawn = 0, gaps = 0;
    for (int x = 176; x <= 210; ++x) {
        const int y = int(std::floor(42 + 20.0 * (x - 172) / 44 + 0.5));
        const bool on = FromQRgb(plot.pixel(x, y)) == kLeftEar ||
                        FromQRgb(plot.pixel(x, y - 1)) == kLeftEar ||
                        FromQRgb(plot.pixel(x, y + 1)) == kLeftEar;
        (on ? drawn : gaps) += 1;
    }
    EXPECT_GE(drawn, 20);
    EXPECT_GE(gaps, 3);
    // Today's curve, untaken, along the top in front of it.
    EXPECT_EQ(FromQRgb(plot.pixel(172, 2)), kLeftEar);
    // The right ear was not tested before: nothing behind its curve.
    f.RadioButton2->SetChecked(true);
    const QImage right = Plot();
    for (int y = 20; y < 110; ++y) {
        EXPECT_NE(FromQRgb(right.pixel(172, y)), RGB(255, 0, 255)) << y;
    }
}

TEST_P(PatientRecordsWindow, AVisitLeftOpenIsOfferedAtTheNextStartAndTakenUpWithItsCurve) {
    {
        TForm1& f = OpenWindow();
        Type(f.Edit2, QStringLiteral("Erika"));
        Type(f.Edit3, QStringLiteral("Mustermann"));
        f.RadioButton2->SetChecked(true);
        f.RadioButton8->SetChecked(true);
        Take(5, 0);
        f.RadioButton9->SetChecked(true);
        Take(2, 5);
        CloseWindow();  // no "Beenden": the program ended without finishing
    }
    answers_ = {IDYES};
    TForm1& f = OpenWindow();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text,
              QStringLiteral("Die Untersuchung von Erika Mustermann vom %1 wurde nicht "
                             "abgeschlossen.\nMöchten Sie sie fortsetzen?")
                  .arg(QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))));
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("Mustermann"));
    EXPECT_TRUE(f.RadioButton2->Checked());
    EXPECT_EQ(f.Thresholds, (std::array<int, 7>{0, 0, 0, 0, 60, 30, 0}));
    // The visit goes on: the next take is the same visit's.
    f.RadioButton7->SetChecked(true);
    Take(1, 0);
    const auto visits = VisitsOf(QStringLiteral("mustermann"));
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_EQ(Reader().Thresholds(visits[0].id).size(), 3u);

    // Answered "Nein" at the start after the next: the visit is finished as it stands.
    CloseWindow();
    boxes_.clear();
    answers_ = {IDNO};
    OpenWindow();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_FALSE(Reader().Visit(visits[0].id)->open);
    EXPECT_TRUE(form_->Edit3->Text().isEmpty());
    CloseWindow();
    boxes_.clear();
    OpenWindow();
    EXPECT_TRUE(boxes_.empty());
}

TEST_P(PatientRecordsWindow, PatientenakteFindsAsTypedShowsAVisitAndTakesThePatient) {
    {
        auto database = Open();
        PatientRecords records(*database);
        for (const char* name : {"Mueller", "MÜLLER", "Müller-Lüdenscheidt", "Meier"}) {
            PatientFields fields;
            fields.name = QString::fromUtf8(name);
            fields.firstName = QStringLiteral("Vorname");
            fields.town = QStringLiteral("Bonn");
            const QString id = records.CreatePatient(fields);
            const QString visit = records.OpenVisit(id, {});
            records.AddThreshold(visit, {Ear::Left, 1000, 50, {}, {}});
            records.FinishVisit(visit);
        }
    }
    TForm1& f = OpenWindow();
    f.RadioButton1->SetChecked(true);
    const QImage before = Plot();
    QImage shown;
    int listed = -1, afterDown = -1;
    bool searchHadFocus = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<PatientFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        searchHadFocus = dialog->focusWidget() == dialog->SearchField();
        TypeInto(dialog->SearchField(), QStringLiteral("müller"));
        listed = dialog->PatientList()->topLevelItemCount();
        QTest::keyClick(dialog->SearchField(), Qt::Key_Down);
        afterDown =
            dialog->PatientList()->indexOfTopLevelItem(dialog->PatientList()->currentItem());
        dialog->VisitList()->setCurrentItem(dialog->VisitList()->topLevelItem(0));
        dialog->ShowButton()->click();
        shown = Plot();
        QTest::keyClick(dialog->SearchField(), Qt::Key_Return);
    });
    Click(f.janColorButton9);
    EXPECT_TRUE(searchHadFocus);
    EXPECT_EQ(listed, 3);
    EXPECT_EQ(afterDown, 1);
    // The shown visit's left curve: 1000 Hz at 5.0 (row 60).
    EXPECT_EQ(FromQRgb(shown.pixel(172, 62)), kLeftEar);
    EXPECT_NE(shown, before);
    // Taken: the second match's fields, and its visit dashed behind today's empty curve.
    EXPECT_EQ(f.Edit2->Text(), QStringLiteral("Vorname"));
    EXPECT_TRUE(f.Edit3->Text().contains(QStringLiteral("ller"), Qt::CaseInsensitive))
        << f.Edit3->Text().toStdString();
    EXPECT_EQ(f.Thresholds, (std::array<int, 7>{}));
    f.RadioButton1->SetChecked(true);
    EXPECT_EQ(FromQRgb(Plot().pixel(170, 62)), kLeftEar);
    EXPECT_EQ(FromQRgb(Plot().pixel(172, 2)), kLeftEar);
}

TEST_P(PatientRecordsWindow, ANewPatientLikeAStoredOneIsAskedAboutOnceAndJoinedOnYes) {
    QString stored;
    {
        auto database = Open();
        PatientRecords records(*database);
        PatientFields fields;
        fields.name = QStringLiteral("Jäger");
        fields.firstName = QStringLiteral("Jürgen");
        fields.street = QStringLiteral("Am Wald 3");
        stored = records.CreatePatient(fields);
    }
    TForm1& f = OpenWindow();
    Type(f.Edit2, QStringLiteral("Juergen"));
    Type(f.Edit3, QStringLiteral("JAEGER"));
    Type(f.Edit7, QStringLiteral("Dr. Ohr"));
    answers_ = {IDYES};
    Leave(f.Edit3, f.Edit7);
    QApplication::processEvents();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, QStringLiteral("Ein Patient Jürgen Jäger ist bereits "
                                             "gespeichert.\nIst es derselbe Patient?"));
    // The stored patient, with what was typed over it.
    EXPECT_EQ(f.Edit5->Text(), QStringLiteral("Am Wald 3"));
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("JAEGER"));
    EXPECT_EQ(f.Edit7->Text(), QStringLiteral("Dr. Ohr"));
    const auto found = Reader().Search(QStringLiteral("jaeger"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, stored);
    EXPECT_EQ(Reader().VisitsOf(stored).size(), 1u);
    EXPECT_EQ(Reader().LoadPatient(stored)->doctor, QStringLiteral("Dr. Ohr"));
    // Asked once.
    Leave(f.Edit3, f.Edit4);
    QApplication::processEvents();
    EXPECT_EQ(boxes_.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Both, PatientRecordsWindow,
                         ::testing::Values(DatabaseKind::SQLite, DatabaseKind::PostgreSQL),
                         KindName);

// The program killed (SIGKILL) right after "Wert übernehmen": the next start offers the visit and
// "Ja" shows the same curve.
TEST_P(PatientRecordsWindow, AThresholdTakenJustBeforeTheProgramIsKilledIsOfferedAtTheNextStart) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    ::posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                    "XDG_RUNTIME_DIR=" + runtime_.path().toStdString(),
                                    "HOME=" + runtime_.path().toStdString()};
    const pid_t child = Spawn(VELMORA_RECORDS_CRASH_CHILD,
                              {"records_crash_child", address_.toStdString()}, env, &actions);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ASSERT_GT(child, 0);
    char said[16] = {};
    const ssize_t n = ::read(out[0], said, sizeof said - 1);
    ::close(out[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_GT(n, 0);
    ASSERT_EQ(std::string(said), "taken\n");
    ASSERT_TRUE(WIFSIGNALED(status));

    answers_ = {IDYES};
    TForm1& f = OpenWindow();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(
        boxes_[0].text.startsWith(QStringLiteral("Die Untersuchung von Erika Mustermann vom ")));
    EXPECT_TRUE(f.RadioButton2->Checked());
    EXPECT_EQ(f.Thresholds, (std::array<int, 7>{0, 0, 0, 0, 60, 0, 0}));
    EXPECT_EQ(FromQRgb(Plot().pixel(216, 62)), RGB(255, 0, 255));
}

class SQLiteRecordsWindow : public RecordsWindowFixture {};

TEST_P(SQLiteRecordsWindow, ALockedDatabaseIsToldWithTheReasonAndNoTakeIsLost) {
    TForm1& f = OpenWindow();
    Type(f.Edit3, QStringLiteral("Voss"));
    Leave(f.Edit3, f.Edit2);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(Address().file).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    f.RadioButton7->SetChecked(true);
    Take(2, 0);
    f.RadioButton8->SetChecked(true);
    Take(3, 0);
    ASSERT_EQ(openNotices_.size(), 1u);
    EXPECT_TRUE(notices_[openNotices_[0]].text.contains(
        QStringLiteral("Die Datenbank ist gesperrt: Ein anderes Programm schreibt gerade hinein.")))
        << notices_[openNotices_[0]].text.toStdString();
    EXPECT_TRUE(f.Recorder->HasUnwrittenData());
    // "Beenden" now asks, and "Nein" keeps the window.
    answers_ = {IDNO};
    EXPECT_FALSE(f.close());
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    // Written again by itself a moment later.
    for (int i = 0; i < 100 && f.Recorder->HasUnwrittenData(); ++i) {
        QTest::qWait(50);
    }
    EXPECT_FALSE(f.Recorder->HasUnwrittenData());
    EXPECT_TRUE(openNotices_.empty());
    const auto visits = VisitsOf(QStringLiteral("voss"));
    ASSERT_EQ(visits.size(), 1u);
    const VisitLevels levels = Reader().Levels(visits[0].id);
    EXPECT_EQ(levels[0][3], 20);
    EXPECT_EQ(levels[0][4], 30);
    EXPECT_FALSE(Reader().Visit(visits[0].id)->open);
}

INSTANTIATE_TEST_SUITE_P(Only, SQLiteRecordsWindow, ::testing::Values(DatabaseKind::SQLite),
                         KindName);

// The practice's server stopped during a test: the window works on, the operator is told once
// with the reason, and everything taken meanwhile is written once the server is back.
TEST(PostgresRecordsWindow, AServerThatGoesAwayIsToldOnceAndGetsEveryTakeWhenBack) {
    if (QApplication::instance() == nullptr) {
        static int argc = 1;
        static char arg0[] = "velmora-test";
        static char* argv[] = {arg0, nullptr};
        new QApplication(argc, argv);  // lives to the end of the test program
    }
    PostgresServer server;
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    const QString uri = QString::fromStdString(server.CreateDatabase("velmora"));
    QString why;
    auto address = DatabaseAddress::Parse(uri, &why);
    ASSERT_TRUE(address);
    auto database = RecordsDatabase::Open(*address, &why);
    ASSERT_TRUE(database) << why.toStdString();
    PatientRecords records(*database);
    std::vector<MessageBoxRequest> notices;
    std::vector<std::size_t> open;
    const auto previous =
        SetNoticePresenter([&](const MessageBoxRequest& request, std::function<void()>) {
            notices.push_back(request);
            open.push_back(notices.size() - 1);
            return std::function<void()>([&open, n = notices.size() - 1] { std::erase(open, n); });
        });
    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
    mixer.AddDevice("Card");
    {
        TForm1 f(nullptr, sound, mixer, &records);
        f.Edit3->SetText(QStringLiteral("Fern"));
        f.ExTrackBar1->SetPosition(1);
        f.HemisphereButton2Click(nullptr);

        server.Halt();
        for (const int coarse : {2, 3}) {
            f.ExTrackBar1->SetPosition(coarse);
            f.HemisphereButton2Click(nullptr);
        }
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_TRUE(notices[0].text.startsWith(
            QStringLiteral("Die Patientenakte auf %1 ist nicht erreichbar.").arg(uri)))
            << notices[0].text.toStdString();
        EXPECT_TRUE(f.Recorder->HasUnwrittenData());

        ASSERT_TRUE(server.StartAgain(&error)) << error;
        for (int i = 0; i < 200 && f.Recorder->HasUnwrittenData(); ++i) {
            QTest::qWait(50);
        }
        EXPECT_FALSE(f.Recorder->HasUnwrittenData());
        EXPECT_TRUE(open.empty());
        EXPECT_EQ(notices.size(), 1u);
        const auto found = records.Search(QStringLiteral("fern"));
        ASSERT_EQ(found.size(), 1u);
        const auto visits = records.VisitsOf(found[0].id);
        ASSERT_EQ(visits.size(), 1u);
        EXPECT_EQ(records.Thresholds(visits[0].id).size(), 3u);
        EXPECT_EQ(records.Levels(visits[0].id)[0][3], 30);
    }
    SetNoticePresenter(previous);
}

}  // namespace
}  // namespace velmora::test
