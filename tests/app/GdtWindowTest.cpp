// The console and the practice's software: a patient sent by GDT on screen and in the records, the
// result in the exchange folder when the visit finishes, a result that could not be written
// written at the next start, and a request handed to the running window.
#include "tests/app/GdtWindowFixture.h"

#include "app/GdtInbox.h"
#include "app/PatientFileDialog.h"

#include <QProcess>
#include <QTimer>
#include <QTreeWidget>

#include <future>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace velmora::test {
namespace {

// A caller connected to the hand-over socket for as long as it lives, saying nothing.
class SilentCaller {
public:
    explicit SilentCaller(const QString& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
        EXPECT_EQ(::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    ~SilentCaller() { ::close(fd_); }

private:
    int fd_;
};

constexpr TColor kLeftEar = RGB(135, 0, 255);

TEST_P(GdtWindow, ARequestIsThePatientOnScreenAndTheResultGoesBackWhenTheVisitFinishes) {
    TForm1& f = OpenGdtWindow();
    const QString path = WriteRequest(Request("4711",
                                              "Hauptstra\xe1"
                                              "e 5"));
    f.TakeGdtRequest(path);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(f.Edit1->Text(), QStringLiteral("4711"));
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("Müller"));
    EXPECT_EQ(f.Edit2->Text(), QStringLiteral("Jörg"));
    EXPECT_EQ(f.NumEdit1->Text(), QStringLiteral("53111"));
    EXPECT_EQ(f.Edit4->Text(), QStringLiteral("Bonn"));
    EXPECT_EQ(f.Edit5->Text(), QStringLiteral("Hauptstraße 5"));
    EXPECT_FALSE(QFile::exists(path));  // read and deleted
    ASSERT_EQ(VisitsOf(QStringLiteral("müller")).size(), 1u);
    // The date of birth is kept with the patient, and shown nowhere.
    const auto kept = Reader().Search(QStringLiteral("4711"));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(Reader().LoadPatient(kept[0].id)->birthDate, QStringLiteral("15031962"));
    for (const TEdit* edit : {f.Edit1, f.Edit2, f.Edit3, f.Edit4, f.Edit5, f.Edit6, f.Edit7,
                              static_cast<TEdit*>(f.NumEdit1), static_cast<TEdit*>(f.NumEdit2)}) {
        EXPECT_FALSE(edit->Text().contains(QStringLiteral("1962"))) << edit->Text().toStdString();
    }
    EXPECT_FALSE(f.Memo1->Text().contains(QStringLiteral("1962")));

    f.RadioButton2->SetChecked(true);  // right
    f.RadioButton7->SetChecked(true);  // 1000 Hz
    Take(4, 5);
    answers_ = {IDNO};  // "Neuer Patient": the fields stay, the visit finishes
    Click(f.janColorButton3);
    const QByteArray result = Result();
    ASSERT_FALSE(result.isEmpty());
    EXPECT_TRUE(result.startsWith("01380006310\r\n0148100"));
    EXPECT_EQ(result.mid(20, 5).toInt(), result.size());
    for (const QByteArray& line :
         {QByteArray("0168315PRAXEDV\r\n"), QByteArray("0168316VELMORA\r\n"),
          QByteArray("01092062\r\n"), QByteArray("01330004711\r\n"),
          QByteArray("0153101M\x81ller\r\n"), QByteArray("017310315031962\r\n"),
          QByteArray("0158402AUDI00\r\n"), QByteArray("0158410RE1000\r\n"),
          QByteArray("0128420"
                     "4.5\r\n"),
          QByteArray("0148421Stufe\r\n")}) {
        EXPECT_TRUE(result.contains(line)) << line.toStdString();
    }
    EXPECT_TRUE(result.contains("6200" + QDate::currentDate().toString("ddMMyyyy").toLatin1()));

    // The next request of the same Patienten-ID with another street and a corrected date of
    // birth: the same stored patient, changed in a new version, with a visit of their own; a
    // result only once something was measured, with the date of birth as received.
    f.TakeGdtRequest(
        WriteRequest(Request("4711", "Neuer Weg 1", "M\x81ller", "J\x94rg", "16031962")));
    EXPECT_EQ(f.Edit5->Text(), QStringLiteral("Neuer Weg 1"));
    const auto found = Reader().Search(QStringLiteral("4711"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Reader().LoadPatient(found[0].id)->street, QStringLiteral("Neuer Weg 1"));
    EXPECT_EQ(Reader().VisitsOf(found[0].id).size(), 2u);
    const auto versions = Reader().Versions(found[0].id);
    ASSERT_GE(versions.size(), 2u);
    EXPECT_EQ(versions.front().fields.birthDate, QStringLiteral("16031962"));
    EXPECT_EQ(versions.back().fields.birthDate, QStringLiteral("15031962"));
    Take(3, 0);
    answers_ = {IDNO};
    Click(f.janColorButton3);
    EXPECT_TRUE(Result(QStringLiteral("PRAXVELM.001")).contains("017310316031962\r\n"));
    f.TakeGdtRequest(WriteRequest(Request("4712", "Weg 2")));
    EXPECT_TRUE(Result(QStringLiteral("PRAXVELM.002")).isEmpty());
}

TEST_P(GdtWindow, ARequestThatCannotBeReadIsRefusedNamingTheLineAndChangesNothing) {
    TForm1& f = OpenGdtWindow();
    Type(f.Edit3, QStringLiteral("Beispiel"));
    QByteArray bad = Request("4711", "Weg");
    bad.replace("0133000", "0143000");  // a wrong length in line 5
    const QString path = WriteRequest(bad);
    f.TakeGdtRequest(path);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(boxes_[0].text.contains(QStringLiteral("VELMPRAX.GDT")));
    EXPECT_TRUE(boxes_[0].text.contains(QStringLiteral("Zeile 5:")))
        << boxes_[0].text.toStdString();
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("Beispiel"));
    EXPECT_TRUE(f.Edit1->Text().isEmpty());
    EXPECT_TRUE(QFile::exists(path));  // left for the practice to look at
}

TEST_P(GdtWindow, AResultThatCannotBeWrittenIsToldAndWrittenAtTheNextStart) {
    settings_.folder = QDir(exchange_.path()).filePath(QStringLiteral("verbunden"));
    QDir().mkpath(settings_.folder);
    TForm1& f = OpenGdtWindow();
    QFile request(QDir(settings_.folder).filePath(QStringLiteral("VELMPRAX.GDT")));
    ASSERT_TRUE(request.open(QIODevice::WriteOnly));
    request.write(Request("4711", "Weg"));
    request.close();
    f.StartGdt({});  // the request waiting in the folder at start
    EXPECT_EQ(f.Edit1->Text(), QStringLiteral("4711"));
    f.RadioButton1->SetChecked(true);
    Take(2, 0);
    // The share went away.
    ASSERT_TRUE(QDir(settings_.folder).removeRecursively());
    answers_ = {IDNO};
    Click(f.janColorButton3);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_TRUE(boxes_[1].text.contains(QStringLiteral("konnte nicht geschrieben werden")));
    EXPECT_TRUE(boxes_[1].text.contains(QStringLiteral("ist nicht vorhanden")))
        << boxes_[1].text.toStdString();
    CloseWindow();

    // Back at the next start: written there, once.
    QDir().mkpath(settings_.folder);
    boxes_.clear();
    TForm1& again = OpenGdtWindow();
    again.StartGdt({});
    EXPECT_TRUE(boxes_.empty());
    const QByteArray result = Result();
    EXPECT_TRUE(result.contains("0158410LI1000\r\n")) << result.toStdString();
    EXPECT_TRUE(
        result.contains("0128420"
                        "2.0\r\n"));
    again.StartGdt({});
    EXPECT_TRUE(Result(QStringLiteral("PRAXVELM.001")).isEmpty());
}

TEST_P(GdtWindow, ASecondStartHandsItsRequestToTheRunningWindow) {
    TForm1& f = OpenGdtWindow();
    EXPECT_FALSE(GdtInbox::HandOver({}, 200));  // no window runs
    {
        GdtInbox gone;  // a window that ended: its socket is gone with it
        QString problem;
        ASSERT_TRUE(gone.Listen(&problem)) << problem.toStdString();
    }
    EXPECT_FALSE(QFile::exists(GdtInbox::SocketPath()));
    GdtInbox inbox;
    QString problem;
    ASSERT_TRUE(inbox.Listen(&problem)) << problem.toStdString();
    const QString socket = GdtInbox::SocketPath();
    EXPECT_TRUE(socket.startsWith(runtime_.path()));
    EXPECT_EQ(QFileInfo(QFileInfo(socket).path()).permissions() & 0x0077, 0);  // group, others
    std::vector<QString> taken;
    inbox.OnRequest = [&f, &taken](const QString& path) {
        taken.push_back(path);
        f.TakeGdtRequest(path);
    };
    {
        // A caller that goes before it has said anything hands nothing over.
        SilentCaller mute(socket);
        QTest::qWait(50);
    }
    QTest::qWait(50);
    EXPECT_TRUE(taken.empty());
    const QString path = WriteRequest(Request("4711", "Weg"));
    // The second start is another thread here; it ends once the window has the request.
    auto handed = std::async(std::launch::async, [path] { return GdtInbox::HandOver(path); });
    while (handed.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        QApplication::processEvents();
    }
    EXPECT_TRUE(handed.get());
    for (int i = 0; i < 100 && f.Edit1->Text().isEmpty(); ++i) {
        QTest::qWait(10);
    }
    EXPECT_EQ(f.Edit1->Text(), QStringLiteral("4711"));
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("Müller"));
    EXPECT_EQ(taken, std::vector<QString>{QFileInfo(path).absoluteFilePath()});
}

TEST_P(GdtWindow, AWithdrawnRequestNotYetBegunLeavesTheWindowWithoutAResult) {
    TForm1& f = OpenGdtWindow();
    f.TakeGdtRequest(WriteRequest(Request("4711", "Weg")));
    QByteArray cancel = Request("4711", "Weg");
    cancel.replace("01380006302", "01380006303");
    f.TakeGdtRequest(WriteRequest(cancel));
    EXPECT_TRUE(f.Edit1->Text().isEmpty());
    EXPECT_TRUE(f.Edit3->Text().isEmpty());
    Take(3, 0);  // another patient's now, typed or not: no result for 4711
    answers_ = {IDNO};
    Click(f.janColorButton3);
    EXPECT_TRUE(Result().isEmpty());
    for (const auto& box : boxes_) {
        EXPECT_FALSE(box.text.contains(QStringLiteral("Praxissoftware"))) << box.text.toStdString();
    }

    // Begun already: it goes on, and says so.
    boxes_.clear();
    f.TakeGdtRequest(WriteRequest(Request("4711", "Weg")));
    Take(3, 0);
    f.TakeGdtRequest(WriteRequest(cancel));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(boxes_[0].text.contains(QStringLiteral("abgesagt")));
    EXPECT_EQ(f.Edit1->Text(), QStringLiteral("4711"));
}

TEST_P(GdtWindow, ARequestAppearingInTheExchangeFolderIsHandedOn) {
    GdtInbox inbox;
    std::vector<QString> handed;
    inbox.OnRequest = [&handed](const QString& path) { handed.push_back(path); };
    inbox.Watch(exchange_.path(), QStringLiteral("VELMPRAX.GDT"));
    const QString path = WriteRequest(Request("4711", "Weg"));
    for (int i = 0; i < 200 && handed.empty(); ++i) {
        QTest::qWait(10);
    }
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(handed[0], path);
    // Another file in the folder is not a request; the same request kept in place is not taken
    // twice.
    QFile other(QDir(exchange_.path()).filePath(QStringLiteral("PRAXVELM.GDT")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("x");
    other.close();
    QTest::qWait(600);
    EXPECT_EQ(handed.size(), 1u);
}

// A next request while a visit with thresholds is open: asked first; "Nein" keeps the visit on
// the window, "Ja" finishes it (its result goes) and takes the next patient.
TEST_P(GdtWindow, ANextRequestDuringAVisitWithThresholdsAsksFirst) {
    TForm1& f = OpenGdtWindow();
    f.TakeGdtRequest(WriteRequest(Request("4711", "Weg")));
    f.RadioButton2->SetChecked(true);
    Take(4, 5);
    for (const int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer);
        boxes_.clear();
        answers_ = {answer};
        f.TakeGdtRequest(WriteRequest(Request("4712", "Weg 2", "Schmidt", "Eva")));
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text, QStringLiteral("Die Untersuchung von Jörg Müller ist nicht "
                                                 "abgeschlossen.\nSoll sie beendet und Eva "
                                                 "Schmidt übernommen werden?"));
        EXPECT_EQ(f.Edit1->Text(),
                  answer == IDYES ? QStringLiteral("4712") : QStringLiteral("4711"));
        EXPECT_EQ(Result().contains("01330004711\r\n"), answer == IDYES);
        // Declined, the request waits in place; taken, it is gone.
        EXPECT_EQ(QFile::exists(QDir(exchange_.path()).filePath(QStringLiteral("VELMPRAX.GDT"))),
                  answer == IDNO);
    }
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("Schmidt"));
    EXPECT_EQ(f.Edit2->Text(), QStringLiteral("Eva"));
}

// A request declined ("Nein") is not lost: it waits in the exchange folder and is taken when the
// visit on the window finishes ("Neuer Patient", or the next start after a crash); a newer
// request of the practice's software under the same name takes its place.
TEST_P(GdtWindow, ADeclinedRequestWaitsAndIsTakenWhenTheVisitFinishes) {
    const struct {
        const char* name;
        bool newerRequest;  // written by the practice's software while the request waits
        bool crash;         // the visit finishes at the next start, else by "Neuer Patient"
    } cases[] = {
        {"Neuer Patient", false, false},
        {"newer request, Neuer Patient", true, false},
        {"next start", false, true},
        {"newer request, next start", true, true},
    };
    const QString waiting = QDir(exchange_.path()).filePath(QStringLiteral("VELMPRAX.GDT"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TForm1& f = OpenGdtWindow();
        f.TakeGdtRequest(WriteRequest(Request("4711", "Weg")));
        f.RadioButton2->SetChecked(true);
        Take(4, 5);
        answers_ = {IDNO};
        f.TakeGdtRequest(WriteRequest(Request("4712", "Weg 2", "Schmidt", "Eva")));
        EXPECT_EQ(f.Edit1->Text(), QStringLiteral("4711"));
        ASSERT_TRUE(QFile::exists(waiting));
        if (c.newerRequest) {
            WriteRequest(Request("4713", "Weg 3", "Weber", "Udo"));
        }
        boxes_.clear();
        answers_ = {IDNO};  // "Neuer Patient": the fields stay; at the next start: finished
        if (c.crash) {
            CloseWindow();
            OpenGdtWindow().StartGdt({});
        } else {
            Click(f.janColorButton3);
        }
        // The visit's result went, and the waiting request was taken without a question.
        EXPECT_TRUE(Result().contains("01330004711\r\n"));
        for (const MessageBoxRequest& box : boxes_) {
            EXPECT_FALSE(box.text.contains(QStringLiteral("übernommen werden?")));
        }
        EXPECT_EQ(form_->Edit1->Text(),
                  c.newerRequest ? QStringLiteral("4713") : QStringLiteral("4712"));
        EXPECT_EQ(form_->Edit3->Text(),
                  c.newerRequest ? QStringLiteral("Weber") : QStringLiteral("Schmidt"));
        EXPECT_FALSE(QFile::exists(waiting));
        // Nothing waits any more: the next "Neuer Patient" takes no request.
        answers_ = {IDNO};
        Click(form_->janColorButton3);
        EXPECT_EQ(form_->Edit1->Text(),
                  c.newerRequest ? QStringLiteral("4713") : QStringLiteral("4712"));
        CloseWindow();
        for (const QString& name : QDir(exchange_.path()).entryList(QDir::Files)) {
            QFile::remove(QDir(exchange_.path()).filePath(name));
        }
    }
}

// The practice's software writes its next request while the operator is asked about this one:
// taking this one does not delete that one.
TEST_P(GdtWindow, ARequestWrittenWhileTheQuestionIsOpenOutlivesTheOneTaken) {
    TForm1& f = OpenGdtWindow();
    f.TakeGdtRequest(WriteRequest(Request("4711", "Weg")));
    Take(4, 5);
    const QByteArray newer = Request("4713", "Weg 3", "Weber", "Udo");
    const MessageBoxPresenter fixture = SetMessageBoxPresenter([&](const MessageBoxRequest& box) {
        WriteRequest(newer);
        return box.text.contains(QStringLiteral("übernommen werden?")) ? int(IDYES) : int(IDNO);
    });
    const QString path = WriteRequest(Request("4712", "Weg 2", "Schmidt", "Eva"));
    f.TakeGdtRequest(path);
    SetMessageBoxPresenter(fixture);
    EXPECT_EQ(f.Edit1->Text(), QStringLiteral("4712"));
    QFile waiting(path);
    ASSERT_TRUE(waiting.open(QIODevice::ReadOnly));
    EXPECT_EQ(waiting.readAll(), newer);
}

// "Show the examination": "Patientenakte" at that patient's latest finished visit, also when
// another Patienten-ID starts the same; a Patienten-ID not stored is told.
TEST_P(GdtWindow, AShowRequestOpensThePatientFileAtThatPatientsLatestVisit) {
    TForm1& f = OpenGdtWindow();
    PatientRecords& r = Reader();
    PatientFields other;
    other.patientId = QStringLiteral("47110");
    other.name = QStringLiteral("Adler");
    r.CreatePatient(other);
    PatientFields fields;
    fields.patientId = QStringLiteral("4711");
    fields.name = QStringLiteral("Müller");
    const QString id = r.CreatePatient(fields);
    for (const int level : {20, 50}) {
        const QString visit = r.OpenVisit(id, {});
        EXPECT_TRUE(r.AddThreshold(visit, {Ear::Left, 1000, level, {}, {}}));
        EXPECT_TRUE(r.FinishVisit(visit));
        QTest::qSleep(2);  // the next visit starts later
    }
    r.OpenVisit(id, {});               // today's, still open
    f.RadioButton1->SetChecked(true);  // left

    QByteArray show = Request("4711", "Weg");
    show.replace("01380006302", "01380006311");
    QString listedId;
    int visitRow = -1;
    QImage shown;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<PatientFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        listedId = dialog->PatientList()->currentItem()->text(2);
        visitRow = dialog->VisitList()->indexOfTopLevelItem(dialog->VisitList()->currentItem());
        shown = Plot();
        dialog->reject();
    });
    f.TakeGdtRequest(WriteRequest(show));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(listedId, QStringLiteral("4711"));
    EXPECT_EQ(visitRow, 1);  // the open one above it
    // The latest finished visit's left curve: 1000 Hz at 5.0 (row 60).
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(FromQRgb(shown.pixel(172, 62)), kLeftEar);

    QByteArray unknown = Request("0815", "Weg");
    unknown.replace("01380006302", "01380006311");
    bool opened = false;
    QTimer::singleShot(0, [&] {
        if (auto* dialog = QApplication::activeModalWidget()) {
            opened = true;
            dialog->close();
        }
    });
    answers_ = {IDOK};
    f.TakeGdtRequest(WriteRequest(unknown));
    QApplication::processEvents();
    EXPECT_FALSE(opened);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(boxes_[0].text.contains(QStringLiteral("„0815“"))) << boxes_[0].text.toStdString();
}

// A crash during a visit that came by GDT: whether the visit is taken up again ("Ja") and
// finished later, or finished as it stood ("Nein"), its result reaches the practice's software.
TEST_P(GdtWindow, AVisitACrashLeftOpenStillSendsItsResult) {
    for (const int answer : {IDYES, IDNO}) {
        SCOPED_TRACE(answer == IDYES ? "taken up again" : "finished as it stood");
        QTemporaryDir exchange;
        settings_.folder = exchange.path();
        TForm1& f = OpenGdtWindow();
        f.TakeGdtRequest(WriteRequest(Request(answer == IDYES ? "4711" : "4712", "Weg")));
        f.RadioButton1->SetChecked(true);
        Take(6, 3);
        CloseWindow();  // a crash
        EXPECT_TRUE(Result().isEmpty());

        answers_ = {answer};  // the visit offered at the next start
        TForm1& again = OpenGdtWindow();
        again.StartGdt({});
        if (answer == IDYES) {
            EXPECT_TRUE(Result().isEmpty());
            answers_ = {IDNO};
            Click(again.janColorButton3);
        }
        const QByteArray result = Result();
        EXPECT_TRUE(result.contains(answer == IDYES ? "01330004711\r\n" : "01330004712\r\n"));
        EXPECT_TRUE(
            result.contains("0158410LI1000\r\n0128420"
                            "6.3\r\n"))
            << result.toStdString();
        EXPECT_TRUE(Result(QStringLiteral("PRAXVELM.001")).isEmpty());
        CloseWindow();
    }
}

// The real program: the request waiting at its start is taken once its records are open; a second
// start with a request hands it to the first and ends; the first takes the patient into its window
// and the records.
TEST_P(GdtWindow, TheProgramStartedAgainWithARequestHandsItToTheRunningOne) {
    QTemporaryDir home;
    const QDir dir(home.path());
    for (const char* sub : {"config/velmora", "data", "run", "exchange"}) {
        ASSERT_TRUE(dir.mkpath(QString::fromLatin1(sub)));
    }
    QFile(dir.filePath(QStringLiteral("run")))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile conf(dir.filePath(QStringLiteral("config/velmora/velmora.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[GDT]\nVerzeichnis=" + QFile::encodeName(dir.filePath(QStringLiteral("exchange"))) +
               "\n");
    conf.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PULSE_SERVER"), dir.filePath(QStringLiteral("no-server")));
    environment.insert(QStringLiteral("VELMORA_DATABASE"), QStringLiteral("sqlite://") + address_);
    QFile waiting(dir.filePath(QStringLiteral("exchange/VELMPRAX.GDT")));
    ASSERT_TRUE(waiting.open(QIODevice::WriteOnly));
    waiting.write(Request("4710", "Weg 0"));
    waiting.close();
    QProcess first;
    first.setProcessEnvironment(environment);
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(QStringLiteral(VELMORA_APP_PATH), QStringList{});
    ASSERT_TRUE(first.waitForStarted());
    const QString socket = dir.filePath(QStringLiteral("run/velmora/fenster"));
    for (int i = 0; i < 200 && !QFile::exists(socket); ++i) {
        QTest::qWait(50);
    }
    ASSERT_TRUE(QFile::exists(socket));
    std::vector<PatientSummary> found;
    for (int i = 0; i < 200 && found.empty(); ++i) {
        QTest::qWait(50);
        found = Reader().Search(QStringLiteral("4710"));
    }
    ASSERT_EQ(found.size(), 1u) << "the request waiting at the start is not in the records";

    const QString request = dir.filePath(QStringLiteral("anforderung.gdt"));
    QFile file(request);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Request("4711", "Weg 1"));
    file.close();
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(VELMORA_APP_PATH), {QStringLiteral("--gdt"), request});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    found.clear();
    for (int i = 0; i < 200 && found.empty(); ++i) {
        QTest::qWait(50);
        found = Reader().Search(QStringLiteral("4711"));
    }
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, QStringLiteral("Müller"));
    EXPECT_FALSE(QFile::exists(request));
    first.kill();
    first.waitForFinished();
}

INSTANTIATE_TEST_SUITE_P(SQLite, GdtWindow, ::testing::Values(DatabaseKind::SQLite), KindName);

}  // namespace
}  // namespace velmora::test
