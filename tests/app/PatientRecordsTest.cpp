// The test console keeps its visits in the patient records (on SQLite and on PostgreSQL): what
// the operator sees and answers, and what another program finds in the records meanwhile.
#include "tests/app/RecordsWindowFixture.h"

#include "app/PatientFileDialog.h"
#include "app/RecordsCommandLine.h"
#include "app/VisitCoursePlot.h"
#include "framework/Color.h"

#include <QDate>
#include <QFileInfo>
#include <QInputDialog>
#include <QPushButton>
#include <QSqlQuery>
#include <QTimer>
#include <QTreeWidget>

#include "tests/support/ReportEnd.h"
#include "tests/support/Spawn.h"

#include <sqlite3.h>

#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
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

// The audit trail as `velmora --audit` prints it: its lines, and its exit code.
std::pair<QStringList, int> AuditPrinted(const QString& database, const QString& since = {}) {
    RecordsCommandLine options;
    options.database = database;
    options.audit = true;
    options.since = since;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int code = RunAudit(options);
    const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
    const QString err = QString::fromStdString(::testing::internal::GetCapturedStderr());
    return {(out + err).split(u'\n', Qt::SkipEmptyParts), code};
}

// The column of the action in a printed line.
QStringList Actions(const QStringList& lines) {
    QStringList actions;
    for (const QString& line : lines) {
        actions.append(line.section(u'\t', 3, 3));
    }
    return actions;
}

TEST_P(PatientRecordsWindow, TheAuditListsASearchALoadAndAReportWithoutHealthData) {
    TForm1& f = OpenWindow();
    Type(f.Edit3, QStringLiteral("Auditfall"));
    Leave(f.Edit3, f.Edit2);
    f.Memo1->SetText(QStringLiteral("Tinnitus links"));
    f.RadioButton1->SetChecked(true);
    Take(3, 4);
    f.janColorButton2click(nullptr);
    // The report runs on a thread of its own; its end is awaited before the audit is printed, so
    // that nothing the run writes meanwhile mixes into the printed lines.
    ASSERT_TRUE(test::ReportEnded(f));
    // "Kurve abspeichern" with a copy where the operator wants it: an export.
    const QString copy = runtime_.filePath(QStringLiteral("Hörkurve.png"));
    TSaveDialog::SetPresenter([&](TSaveDialog& dialog) {
        dialog.SetFileName(copy);
        return true;
    });
    f.janColorButton1click(nullptr);
    TSaveDialog::SetPresenter([](TSaveDialog&) { return false; });
    EXPECT_TRUE(QFileInfo::exists(copy));
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<PatientFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        TypeInto(dialog->SearchField(), QStringLiteral("auditf"));
        QTest::keyClick(dialog->SearchField(), Qt::Key_Return);
    });
    Click(f.janColorButton9);
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("Auditfall"));
    ASSERT_TRUE(f.Recorder->Flush());
    for (int i = 0; i < 100 && f.Recorder->HasUnwrittenData(); ++i) {
        QTest::qWait(20);
    }
    const QString patient = Reader().Search(QStringLiteral("auditfall")).at(0).id;

    const auto [lines, code] = AuditPrinted(address_);
    ASSERT_EQ(code, 0) << lines.join(u'\n').toStdString();
    const QStringList actions = Actions(lines);
    for (const QString& action : {audit::kCreate, audit::kChange, audit::kReport, audit::kExport,
                                  audit::kSearch, audit::kLoad}) {
        EXPECT_TRUE(actions.contains(action)) << action.toStdString() << " in\n"
                                              << lines.join(u'\n').toStdString();
    }
    for (const QString& line : lines) {
        const QStringList columns = line.split(u'\t');
        ASSERT_EQ(columns.size(), 7) << line.toStdString();
        EXPECT_EQ(columns[1], CurrentOperator());
        EXPECT_EQ(columns[2], CurrentWorkstation());
        // Ids, never what the patient is called or has.
        for (const char* health : {"Auditfall", "Tinnitus", "auditf", "3,4", "3.4"}) {
            EXPECT_FALSE(line.contains(QLatin1String(health))) << line.toStdString();
        }
        if (columns[3] == audit::kSearch) {
            EXPECT_EQ(columns[6], patient);
        } else {
            EXPECT_EQ(columns[4], patient) << line.toStdString();
        }
    }
    // From a day on; a date that is none is refused in German.
    const QString tomorrow = QDate::currentDate().addDays(1).toString(Qt::ISODate);
    EXPECT_EQ(AuditPrinted(address_, tomorrow), std::make_pair(QStringList(), 0));
    EXPECT_EQ(
        AuditPrinted(address_, QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))).first,
        lines);
    const auto [refused, failed] = AuditPrinted(address_, QStringLiteral("gestern"));
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(refused.join(u'\n').contains(QStringLiteral("--since braucht ein Datum")));
}

// Two workstations change one patient: the second save asks, and nothing is overwritten unless
// the operator says so; "Frühere Angaben…" shows every version.
TEST_P(PatientRecordsWindow, ASaveAfterAnotherWorkstationsChangeAsksAndOverwritesNothingUnasked) {
    TForm1& f = OpenWindow();
    Type(f.Edit3, QStringLiteral("Zweiplatz"));
    Type(f.Edit4, QStringLiteral("Bonn"));
    Leave(f.Edit4, f.Edit5);
    const QString id = Reader().Search(QStringLiteral("zweiplatz")).at(0).id;
    const QString question = QStringLiteral(
        "Die Patientendaten wurden an einem anderen Arbeitsplatz geändert.\nSollen Ihre Eingaben "
        "die gespeicherten ersetzen?");
    const auto otherWorkstationSets = [&](const QString& town) {
        PatientFields fields = *Reader().LoadPatient(id);
        const PatientFields before = fields;
        fields.town = town;
        ASSERT_TRUE(Reader().SavePatient(id, fields, &before));
    };
    const auto typeTown = [&](const QString& town, int answer) {
        answers_ = {answer};
        f.Edit4->SetText(QString());
        Type(f.Edit4, town);
        Leave(f.Edit4, f.Edit5);
        for (int i = 0; i < 100 && !answers_.empty(); ++i) {
            QTest::qWait(20);
        }
        ASSERT_TRUE(f.Recorder->Flush());
    };

    otherWorkstationSets(QStringLiteral("Aachen"));
    boxes_.clear();
    typeTown(QStringLiteral("Köln"), IDNO);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, question);
    EXPECT_EQ(Reader().LoadPatient(id)->town, QStringLiteral("Aachen"));
    // The window shows what the other workstation kept.
    EXPECT_EQ(f.Edit4->Text(), QStringLiteral("Aachen"));

    // Changed there again; this time the operator's fields replace them.
    otherWorkstationSets(QStringLiteral("Essen"));
    typeTown(QStringLiteral("Köln"), IDYES);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, question);
    EXPECT_EQ(Reader().LoadPatient(id)->town, QStringLiteral("Köln"));
    // With no change elsewhere, nothing is asked.
    typeTown(QStringLiteral("Ulm"), IDNO);
    EXPECT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(Reader().LoadPatient(id)->town, QStringLiteral("Ulm"));

    // Every version is readable in "Patientenakte", the latest first.
    QStringList towns;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<PatientFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        TypeInto(dialog->SearchField(), QStringLiteral("zweipl"));
        QTimer::singleShot(0, [&] {
            auto* versions = dynamic_cast<PatientFileDialog*>(dialog)->VersionList();
            ASSERT_NE(versions, nullptr);
            for (int i = 0; i < versions->topLevelItemCount(); ++i) {
                towns << versions->topLevelItem(i)->text(6);
            }
            QApplication::activeModalWidget()->close();
            QTimer::singleShot(0, [dialog] { dialog->reject(); });
        });
        dialog->EarlierFieldsButton()->click();
    });
    Click(f.janColorButton9);
    EXPECT_EQ(towns.mid(0, 4), (QStringList{QStringLiteral("Ulm"), QStringLiteral("Köln"),
                                            QStringLiteral("Essen"), QStringLiteral("Aachen")}));
    EXPECT_TRUE(towns.contains(QStringLiteral("Bonn")));
}

// "Löschen…" in Patientenakte: a question and a typed reason; inside the ten years after the last
// visit the question says so and is asked again. Afterwards only the audit line of the patient
// remains; the patient on the main window is not erased.
TEST_P(PatientRecordsWindow, AnErasureAsksForAReasonAndTwiceInsideTenYears) {
    const struct {
        const char* name;
        int yearsAgo;
        std::deque<int> answers;
        // Typed into the reason's field one after the other; nullopt cancels it.
        std::vector<std::optional<QString>> reasons;
        std::size_t boxes;
        bool erased;
    } cases[] = {
        {"Altakte", 11, {IDYES}, {QStringLiteral("Umzug ins Ausland")}, 1, true},
        {"Neuakte", 0, {IDYES, IDNO}, {QStringLiteral("Wunsch des Patienten")}, 2, false},
        {"Leerakte", 0, {IDYES, IDOK, IDYES}, {QString(), QStringLiteral("Widerspruch")}, 3, true},
        {"Abbruchakte", 0, {IDYES}, {std::nullopt}, 1, false},
        {"Neinakte", 0, {IDNO}, {}, 1, false},
    };
    std::map<std::string, QString> ids;
    for (const auto& c : cases) {
        PatientFields fields;
        fields.name = QString::fromUtf8(c.name);
        fields.town = QStringLiteral("Löschstadt");
        const QString id = Reader().CreatePatient(fields);
        const QString visit = Reader().OpenVisit(id, {});
        ASSERT_TRUE(Reader().AddThreshold(visit, {Ear::Left, 1000, 50, {}, {}}));
        ASSERT_TRUE(Reader().FinishVisit(visit));
        QSqlQuery query(Reader().Database().Connection());
        query.prepare(QStringLiteral("UPDATE visit SET started_at = ? WHERE id = ?"));
        query.addBindValue(
            QDateTime::currentDateTimeUtc().addYears(-c.yearsAgo).toMSecsSinceEpoch());
        query.addBindValue(visit);
        ASSERT_TRUE(query.exec());
        ids[c.name] = id;
    }
    TForm1& f = OpenWindow();
    Type(f.Edit3, QStringLiteral("Fensterakte"));
    Leave(f.Edit3, f.Edit2);
    ASSERT_TRUE(f.Recorder->Flush());

    std::vector<std::optional<QString>> reasons;
    QTimer typist;
    typist.setInterval(10);
    QObject::connect(&typist, &QTimer::timeout, [&] {
        auto* input = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (input == nullptr || reasons.empty()) {
            return;
        }
        const std::optional<QString> reason = reasons.front();
        reasons.erase(reasons.begin());
        if (reason) {
            input->setTextValue(*reason);
            input->accept();
        } else {
            input->reject();
        }
    });
    typist.start();
    const auto erase = [&](PatientFileDialog* dialog, const QString& name) {
        dialog->SearchField()->clear();
        TypeInto(dialog->SearchField(), name);
        ASSERT_EQ(dialog->PatientList()->topLevelItemCount(), 1);
        dialog->EraseButton()->click();
    };
    std::vector<std::vector<MessageBoxRequest>> asked;
    std::vector<MessageBoxRequest> onWindow;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<PatientFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        for (const auto& c : cases) {
            boxes_.clear();
            answers_ = c.answers;
            reasons = c.reasons;
            erase(dialog, QString::fromUtf8(c.name));
            asked.push_back(boxes_);
        }
        boxes_.clear();
        answers_ = {IDYES, IDYES};
        reasons = {QStringLiteral("Versehen")};
        erase(dialog, QStringLiteral("Fensterakte"));
        onWindow = boxes_;
        answers_.clear();
        dialog->reject();
    });
    Click(f.janColorButton9);
    typist.stop();

    ASSERT_EQ(asked.size(), std::size(cases));
    std::set<QString> left;
    for (const PatientSummary& patient : Reader().Search(QStringLiteral("löschstadt"))) {
        left.insert(patient.name);
    }
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const QString id = ids[c.name];
        ASSERT_EQ(asked[i].size(), c.boxes) << c.name;
        // The first question names the period only inside it.
        EXPECT_EQ(asked[i][0].text.contains(QStringLiteral("zehn Jahre")), c.yearsAgo < 10)
            << asked[i][0].text.toStdString();
        EXPECT_EQ(left.count(QString::fromUtf8(c.name)), c.erased ? 0u : 1u) << c.name;
        EXPECT_EQ(Reader().LoadPatient(id).has_value(), !c.erased) << c.name;
        EXPECT_EQ(Reader().VisitsOf(id).empty(), c.erased) << c.name;
        EXPECT_EQ(Reader().Versions(id).empty(), c.erased) << c.name;
    }
    EXPECT_EQ(asked[1][1].text,
              QStringLiteral("Die Aufbewahrungsfrist von zehn Jahren ist noch nicht abgelaufen.\n"
                             "Soll trotzdem gelöscht werden?"));
    EXPECT_EQ(asked[2][1].text, QStringLiteral("Bitte geben Sie den Grund der Löschung ein."));
    ASSERT_EQ(onWindow.size(), 1u);
    EXPECT_TRUE(onWindow[0].text.contains(QStringLiteral("im Hauptfenster geöffnet")));
    EXPECT_EQ(Reader().Search(QStringLiteral("fensterakte")).size(), 1u);

    // The audit keeps a line of each erasure with its reason, and nothing of the patient.
    const auto [lines, code] = AuditPrinted(address_);
    ASSERT_EQ(code, 0);
    std::map<QString, QString> deleted;
    for (const QString& line : lines) {
        const QStringList columns = line.split(u'\t');
        ASSERT_EQ(columns.size(), 7) << line.toStdString();
        if (columns[3] == audit::kDelete) {
            deleted[columns[4]] = columns[6];
        }
        for (const auto& c : cases) {
            EXPECT_FALSE(line.contains(QString::fromUtf8(c.name))) << line.toStdString();
        }
    }
    EXPECT_EQ(deleted,
              (std::map<QString, QString>{{ids["Altakte"], QStringLiteral("Umzug ins Ausland")},
                                          {ids["Leerakte"], QStringLiteral("Widerspruch")}}));
}

// The course across visits in Patientenakte: a point per visit and frequency taken, a visit on
// another sound output marked; "Als Grundlage wählen" makes the chosen visit the one the window and
// the report compare with, instead of the latest.
TEST_P(PatientRecordsWindow, TheCourseShowsEveryVisitAndTheChosenBasisIsCompared) {
    const struct {
        int daysAgo;
        const char* output;
        int at1000;
        int at2000;  // -1: not taken
    } visits[] = {{30, "alsa_output.usb", 34, 20},
                  {20, "alsa_output.headphones", 42, -1},
                  {10, "alsa_output.headphones", 50, 25}};
    PatientFields fields;
    fields.name = QStringLiteral("Verlauf");
    const QString patient = Reader().CreatePatient(fields);
    std::vector<QString> ids;
    for (const auto& v : visits) {
        VisitContext context;
        context.outputName = QString::fromLatin1(v.output);
        const QString visit = Reader().OpenVisit(patient, context);
        ASSERT_TRUE(Reader().AddThreshold(visit, {Ear::Left, 1000, v.at1000, {}, {}}));
        if (v.at2000 >= 0) {
            ASSERT_TRUE(Reader().AddThreshold(visit, {Ear::Left, 2000, v.at2000, {}, {}}));
        }
        ASSERT_TRUE(Reader().FinishVisit(visit));
        QSqlQuery query(Reader().Database().Connection());
        query.prepare(QStringLiteral("UPDATE visit SET started_at = ? WHERE id = ?"));
        query.addBindValue(QDateTime::currentDateTimeUtc().addDays(-v.daysAgo).toMSecsSinceEpoch());
        query.addBindValue(visit);
        ASSERT_TRUE(query.exec());
        ids.push_back(visit);
    }
    TForm1& f = OpenWindow();
    f.RadioButton1->SetChecked(true);

    std::vector<CourseVisit> course;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<PatientFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        TypeInto(dialog->SearchField(), QStringLiteral("verlauf"));
        course = dialog->CoursePlot()->Course();
        QTest::keyClick(dialog->SearchField(), Qt::Key_Return);
    });
    Click(f.janColorButton9);
    ASSERT_EQ(course.size(), std::size(visits));
    using Point = VisitCoursePlot::Point;
    EXPECT_EQ(VisitCoursePlot::Points(course, Ear::Left, 3),
              (std::vector<Point>{{0, 34, true}, {1, 42, false}, {2, 50, false}}));
    EXPECT_EQ(VisitCoursePlot::Points(course, Ear::Left, 4),
              (std::vector<Point>{{0, 20, true}, {2, 25, false}}));
    EXPECT_TRUE(VisitCoursePlot::Points(course, Ear::Right, 3).empty());
    EXPECT_EQ(VisitCoursePlot::Ears(course), std::vector<Ear>{Ear::Left});
    for (std::size_t i = 0; i < course.size(); ++i) {
        EXPECT_EQ(course[i].visit.id, ids[i]);
    }
    // Taken: compared with the latest visit (1000 Hz at 5.0, row 62).
    ASSERT_TRUE(f.Recorder->Earlier());
    EXPECT_EQ(f.Recorder->Earlier()->levels[1][3], 50);
    f.RadioButton1->SetChecked(true);
    EXPECT_EQ(FromQRgb(Plot().pixel(170, 62)), kLeftEar);
    EXPECT_NE(FromQRgb(Plot().pixel(170, 42)), kLeftEar);

    // The oldest chosen as the basis (the visit list shows the latest first).
    bool basisOffered = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<PatientFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        TypeInto(dialog->SearchField(), QStringLiteral("verlauf"));
        dialog->VisitList()->setCurrentItem(dialog->VisitList()->topLevelItem(2));
        basisOffered = dialog->BasisButton()->isEnabled();
        dialog->BasisButton()->click();
    });
    Click(f.janColorButton9);
    EXPECT_TRUE(basisOffered);
    ASSERT_TRUE(f.Recorder->Earlier());
    EXPECT_EQ(f.Recorder->Earlier()->levels[1][3], 34);
    EXPECT_EQ(f.Recorder->Earlier()->levels[1][4], 20);
    EXPECT_EQ(f.Recorder->Earlier()->date, QDate::currentDate().addDays(-30));
    EXPECT_EQ(f.Recorder->Earlier()->outputName, QStringLiteral("alsa_output.usb"));
    EXPECT_EQ(f.Recorder->PatientId(), patient);
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("Verlauf"));
    f.RadioButton1->SetChecked(true);
    EXPECT_EQ(FromQRgb(Plot().pixel(170, 42)), kLeftEar);
    EXPECT_NE(FromQRgb(Plot().pixel(170, 62)), kLeftEar);
}

// "Korrigieren" in Patientenakte: a new visit that names the finished one and begins with its
// takes; a threshold taken again changes the correction only; both are listed.
TEST_P(PatientRecordsWindow, ACorrectionIsANewVisitThatNamesTheCorrectedOneBothListed) {
    PatientFields fields;
    fields.name = QStringLiteral("Korrekturfall");
    const QString patient = Reader().CreatePatient(fields);
    const QString original = Reader().OpenVisit(patient, {});
    ASSERT_TRUE(Reader().AddThreshold(original, {Ear::Right, 500, 22, {}, {}}));
    ASSERT_TRUE(Reader().AddThreshold(original, {Ear::Left, 1000, 40, {}, {}}));
    ASSERT_TRUE(Reader().FinishVisit(original));
    TForm1& f = OpenWindow();

    const auto openFile = [&](const std::function<void(PatientFileDialog*)>& act) {
        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<PatientFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            TypeInto(dialog->SearchField(), QStringLiteral("korrekturf"));
            act(dialog);
        });
        Click(f.janColorButton9);
    };
    openFile([](PatientFileDialog* dialog) {
        dialog->VisitList()->setCurrentItem(dialog->VisitList()->topLevelItem(0));
        ASSERT_TRUE(dialog->CorrectButton()->isEnabled());
        dialog->CorrectButton()->click();
    });
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("Korrekturfall"));
    // The corrected visit's takes are today's, the last ear shown.
    EXPECT_EQ(f.Recorder->TodayLevels()[1][3], 40);
    EXPECT_EQ(f.Recorder->TodayLevels()[2][2], 22);
    EXPECT_TRUE(f.RadioButton1->Checked());
    f.RadioButton7->SetChecked(true);
    Take(3, 5);
    f.Recorder->FinishVisit(true);
    ASSERT_TRUE(f.Recorder->Flush());

    const auto visits = Reader().VisitsOf(patient);
    ASSERT_EQ(visits.size(), 2u);
    const VisitInfo& correction = visits[0].id == original ? visits[1] : visits[0];
    EXPECT_EQ(correction.corrects, original);
    EXPECT_FALSE(correction.open);
    EXPECT_EQ(Reader().Levels(correction.id)[1][3], 35);
    EXPECT_EQ(Reader().Levels(correction.id)[2][2], 22);
    EXPECT_EQ(Reader().Levels(original)[1][3], 40);
    EXPECT_EQ(Reader().Thresholds(original).size(), 2u);

    QStringList times;
    openFile([&](PatientFileDialog* dialog) {
        for (int i = 0; i < dialog->VisitList()->topLevelItemCount(); ++i) {
            times << dialog->VisitList()->topLevelItem(i)->text(1);
        }
        dialog->reject();
    });
    ASSERT_EQ(times.size(), 2);
    EXPECT_TRUE(times[0].endsWith(QStringLiteral(" (Korrektur)"))) << times[0].toStdString();
    EXPECT_TRUE(times[1].endsWith(QStringLiteral(" (korrigiert)"))) << times[1].toStdString();
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
    // Told from the records' thread a moment later.
    for (int i = 0; i < 100 && openNotices_.empty(); ++i) {
        QTest::qWait(50);
    }
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
    // Written again by itself a moment later, and the notice closed.
    for (int i = 0; i < 100 && (f.Recorder->HasUnwrittenData() || !openNotices_.empty()); ++i) {
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

// The practice's server stopped during a test: the window works on without waiting for it, the
// visit is kept on the workstation, and it is on the server once, with every take, when the server
// is back; the operator is told once of each.
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
    // The workstation's own file, where the visit waits for the server.
    QTemporaryDir data;
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    {
        TForm1 f(nullptr, sound, mixer, &records);
        f.Edit3->SetText(QStringLiteral("Fern"));
        f.ExTrackBar1->SetPosition(1);
        f.HemisphereButton2Click(nullptr);

        server.Halt();
        for (const int coarse : {2, 3}) {
            f.ExTrackBar1->SetPosition(coarse);
            f.HemisphereButton2Click(nullptr);
            QTest::qWait(100);
        }
        // The other ear (which starts again at the lowest level).
        f.RadioButton2->SetChecked(true);
        f.ExTrackBar1->SetPosition(4);
        f.HemisphereButton2Click(nullptr);
        for (int i = 0; i < 200 && notices.empty(); ++i) {
            QTest::qWait(50);
        }
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].text,
                  QStringLiteral("Die Patientenakte auf %1 ist nicht erreichbar.\nDie Untersuchung "
                                 "wird auf diesem Arbeitsplatz aufbewahrt und übertragen, sobald "
                                 "die Verbindung wieder besteht.")
                      .arg(uri));
        EXPECT_TRUE(f.Recorder->HasUnwrittenData());
        // Kept on the workstation: closing now loses nothing.
        EXPECT_TRUE(f.Recorder->Flush());

        ASSERT_TRUE(server.StartAgain(&error)) << error;
        for (int i = 0; i < 300 && (f.Recorder->HasUnwrittenData() || notices.size() < 2); ++i) {
            QTest::qWait(50);
        }
        EXPECT_FALSE(f.Recorder->HasUnwrittenData());
        ASSERT_EQ(notices.size(), 2u);
        EXPECT_EQ(
            notices[1].text,
            QStringLiteral("Die auf diesem Arbeitsplatz aufbewahrte Untersuchung wurde in die "
                           "Patientenakte auf %1 übertragen.")
                .arg(uri));
        EXPECT_EQ(open, std::vector<std::size_t>{1});
        // The window reads the server again.
        PatientRecords* reads = f.Recorder->Records();
        ASSERT_NE(reads, nullptr);
        const auto found = reads->Search(QStringLiteral("fern"));
        ASSERT_EQ(found.size(), 1u);
        const auto visits = reads->VisitsOf(found[0].id);
        ASSERT_EQ(visits.size(), 1u);
        EXPECT_EQ(reads->Thresholds(visits[0].id).size(), 4u);
        EXPECT_EQ(reads->Levels(visits[0].id)[0][3], 30);
        EXPECT_EQ(reads->Levels(visits[0].id)[2][3], 40);
    }
    SetNoticePresenter(previous);
    qputenv("XDG_DATA_HOME", savedData);
}

}  // namespace
}  // namespace velmora::test
