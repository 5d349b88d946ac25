// "Bericht erstellen" in the real program on a headless X display, with a sound server of the
// test's own: a LibreOffice that ends in the middle of a report, a closed pipe, a sound server
// that goes away under the tone and a LibreOffice that does not answer cost the operator nothing:
// the program lives on with the fields as typed, the report is written, and the window stays
// operable while the report waits ("Stumm" mutes at once, the window repaints).

#include "ConsoleWindow.h"

#include "report/LibreOfficeProfile.h"

#include "tests/support/HeadlessWriter.h"
#include "tests/support/PulseDaemon.h"

#include "DocxReader.h"

#include <QDir>
#include <QFileInfo>

#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cmath>
#include <cstdio>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Places in the window's client area, from the layout.
// "Patienten-ID" (Edit1, 121 x 22 at (16, 24) in DsGroup13 at (8, 0)) and "Vorname" (Edit2, at
// (152, 24)).
constexpr QPoint kPatientId{8 + 16 + 60, 24 + 11};
constexpr QPoint kFirstName{8 + 152 + 80, 24 + 11};
// "Bericht erstellen" (janColorButton2, 99 x 37 at (12, 72) in DsGroup9 at (728, 20) in the main
// panel DsGroup1 at (8, 128)).
constexpr QPoint kReport{8 + 728 + 12 + 49, 128 + 20 + 72 + 18};
// "Stumm" (HemisphereButton1, 37 x 37 at (8, 28) in DsGroup6 at (368, 20) in DsGroup3 at
// (276, 20)).
constexpr QPoint kMute{8 + 276 + 368 + 8 + 18, 128 + 20 + 20 + 28 + 18};
// The thumb of the coarse level bar at 0.
constexpr QPoint kCoarseThumb{8 + 276 + 12 + 8 + 7, 128 + 20 + 120 + 20 + 9};

// Stands on the program's LibreOffice pipe in LibreOffice's place: passes what the program and a
// Writer of the test's own say to each other on, until the program's side carries `marker`
// (a text the report types); from then on nothing more reaches Writer. Without a Writer, it takes
// the program's connections and never answers: a Writer that is slow to start.
class PipeStandIn {
public:
    PipeStandIn(const std::string& path, std::string writer, std::string marker)
        : path_(path), writer_(std::move(writer)), marker_(std::move(marker)) {
        ::unlink(path_.c_str());
        listener_ = Listen(path_);
        thread_ = std::thread([this] { Run(); });
    }
    ~PipeStandIn() { Close(); }

    bool Listening() const { return listener_ >= 0; }
    // Whether the program's side carried the marker.
    bool Held() const { return held_; }
    // The program's connections go, as when their peer ends.
    void Close() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        for (Session& s : sessions_) {
            for (const int fd : {s.program, s.writer}) {
                if (fd >= 0) {
                    ::close(fd);
                }
            }
        }
        sessions_.clear();
        if (listener_ >= 0) {
            ::close(listener_);
            listener_ = -1;
        }
        ::unlink(path_.c_str());
    }

private:
    struct Session {
        int program = -1;
        int writer = -1;
        std::string seen;  // the program's side, as far as the marker can straddle two reads
    };

    static int Socket(const std::string& path, bool listen) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        const auto* a = reinterpret_cast<const sockaddr*>(&address);
        const bool made =
            fd >= 0 && (listen ? ::bind(fd, a, sizeof(address)) == 0 && ::listen(fd, 8) == 0
                               : ::connect(fd, a, sizeof(address)) == 0);
        if (!made && fd >= 0) {
            ::close(fd);
        }
        return made ? fd : -1;
    }
    static int Listen(const std::string& path) { return Socket(path, true); }

    void Run() {
        while (!stop_) {
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            for (const Session& s : sessions_) {
                fds.push_back({s.program, POLLIN, 0});
                fds.push_back({s.writer, POLLIN, 0});  // -1 is left out by poll
            }
            if (::poll(fds.data(), fds.size(), 20) <= 0) {
                continue;
            }
            if (fds[0].revents & POLLIN) {
                Session s;
                s.program = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                s.writer = writer_.empty() ? -1 : Socket(writer_, false);
                sessions_.push_back(std::move(s));
            }
            for (std::size_t i = 0; i < sessions_.size() && 1 + 2 * i + 1 < fds.size(); ++i) {
                Session& s = sessions_[i];
                for (const bool fromProgram : {true, false}) {
                    const pollfd& p = fds[1 + 2 * i + (fromProgram ? 0 : 1)];
                    if (p.fd < 0 || (p.revents & (POLLIN | POLLHUP)) == 0) {
                        continue;
                    }
                    char buffer[65536];
                    const ssize_t n = ::read(p.fd, buffer, sizeof buffer);
                    if (n <= 0) {
                        // One side went (the program's question who listens, say): both go.
                        for (int* fd : {&s.program, &s.writer}) {
                            if (*fd >= 0) {
                                ::close(*fd);
                                *fd = -1;
                            }
                        }
                        break;
                    }
                    if (!fromProgram) {
                        (void)::write(s.program, buffer, std::size_t(n));
                        continue;
                    }
                    s.seen.append(buffer, std::size_t(n));
                    if (!marker_.empty() && s.seen.find(marker_) != std::string::npos) {
                        held_ = true;  // this, and what follows, never reaches Writer
                    }
                    if (s.seen.size() > marker_.size()) {
                        s.seen.erase(0, s.seen.size() - marker_.size());
                    }
                    if (!held_ && s.writer >= 0) {
                        (void)::write(s.writer, buffer, std::size_t(n));
                    }
                }
            }
            std::erase_if(sessions_, [](const Session& s) { return s.program < 0; });
        }
    }

    std::string path_;
    std::string writer_;
    std::string marker_;
    int listener_ = -1;
    std::vector<Session> sessions_;
    std::atomic<bool> held_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The program on a sound server of the test's own, which the test can end under the tone.
class ConsoleReportTest : public test::ConsoleWindowTest {
protected:
    void SetUp() override {
        VELMORA_REQUIRE_PULSE_SERVER_OF(Server());
        daemon_ = std::make_unique<test::PulseDaemon>(Server());
        ASSERT_TRUE(daemon_->Start()) << "the sound server could not be started";
        ConsoleWindowTest::SetUp();
        // The stand-in writes to a program that may be gone. Only now: the program, started
        // above, must not inherit the test's disposition.
        std::signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override {
        standIn_.reset();
        writer_.Stop();
        ConsoleWindowTest::TearDown();
        daemon_.reset();
    }
    std::string ServerAddress() const override { return daemon_->Server(); }

    // The pipe the program reaches its LibreOffice on: the one of the user's profile in the
    // test's home.
    std::string ProgramPipe() const {
        return test::LibreOfficePipePath(LibreOfficePipeName(
            QString::fromStdString((dir_ / "home/.config/libreoffice/4").string())));
    }

    static bool Within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
        for (auto end = Clock::now() + limit; Clock::now() < end;
             std::this_thread::sleep_for(50ms)) {
            if (done()) {
                return true;
            }
        }
        return done();
    }

    void Type(QPoint field, const std::string& text) {
        Click(field);
        EXPECT_EQ(display_.Xdotool({"type", "--delay", "30", text}).exitCode, 0);
    }

    // The coarse level bar to `level` with the keys.
    void Level(int level) {
        Click(kCoarseThumb);
        std::vector<std::string> keys{"key", "--delay", "50", "Home"};
        for (int i = 0; i < level; ++i) {
            keys.push_back("Right");
        }
        EXPECT_EQ(display_.Xdotool(keys).exitCode, 0);
    }

    // The reports in the program's documents folder, oldest first.
    QFileInfoList Reports() const {
        QFileInfoList reports =
            QDir(QString::fromStdString((dir_ / "home/Documents/Velmora").string()))
                .entryInfoList({QStringLiteral("*.docx")}, QDir::Files,
                               QDir::Time | QDir::Reversed);
        return reports;
    }
    static QString PatientLine(const QFileInfo& report) {
        test::ReadDocument doc;
        QString error;
        if (!test::ReadDocx(report.filePath(), &doc, &error) || doc.paragraphs.size() < 5) {
            return QStringLiteral("(unreadable: %1)").arg(error);
        }
        return doc.paragraphs[3].Text() + QLatin1Char('|') + doc.paragraphs[4].Text();
    }

    // The program's windows titled `title`.
    std::vector<std::string> Windows(const std::string& title) {
        const auto found = display_.Xdotool(
            {"search", "--all", "--onlyvisible", "--pid", std::to_string(app_), "--name", title});
        std::vector<std::string> ids;
        std::istringstream lines(found.output);
        for (std::string id; std::getline(lines, id);) {
            if (!id.empty()) {
                ids.push_back(id);
            }
        }
        return ids;
    }
    void CloseBox(const std::string& id) {
        display_.Xdotool(
            {"windowfocus", "--sync", id, "mousemove", "--window", id, "5", "5", "key", "Escape"});
    }

    bool Alive() { return !test::WaitForExit(app_, 0ms).has_value(); }

    void StummWhileTheReportWaits(const std::function<bool()>& waiting);

    std::unique_ptr<test::PulseDaemon> daemon_;
    test::HeadlessWriter writer_;
    std::unique_ptr<PipeStandIn> standIn_;
};

const QString kPatient = QStringLiteral("Patient:") + QString(25, QLatin1Char(' ')) +
                         QStringLiteral("Erika ") + QLatin1Char('|') +
                         QStringLiteral("Patienten-ID:") + QString(16, QLatin1Char(' ')) +
                         QStringLiteral("4711");

// The program is sent SIGPIPE, LibreOffice ends while the report is typed into it and the sound
// server goes away under the tone: the program lives on, the built-in writer saves the report
// and one box says where; the next report is written too, with the fields as typed.
TEST_P(ConsoleReportTest, LibreOfficeEndingMidReportCostsTheOperatorNothing) {
    // A closed pipe's signal, before anything of the report is loaded (LibreOffice's runtime
    // ignores it once it is).
    ::kill(app_, SIGPIPE);
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(Alive()) << "a SIGPIPE ended the program";
    Type(kPatientId, "4711");
    Type(kFirstName, "Erika");
    Level(3);  // the tone plays: the program writes to the sound server's socket
    const QString office = QStringLiteral("velmora-e2e-%1").arg(::getpid());
    ASSERT_TRUE(writer_.Start(QString::fromStdString((dir_ / "lo").string()), office))
        << "headless LibreOffice did not start";
    standIn_ = std::make_unique<PipeStandIn>(ProgramPipe(), test::LibreOfficePipePath(office),
                                             "Relativtest vom");
    ASSERT_TRUE(standIn_->Listening());

    Click(kReport);
    ASSERT_TRUE(Within(30000ms, [&] { return standIn_->Held(); }))
        << "the report never reached Writer";
    // In the middle of the report: Writer ends, its pipe closes, and the sound server goes away
    // while the tone streams.
    writer_.Signal(SIGKILL);
    standIn_->Close();
    ::kill(daemon_->Pid(), SIGKILL);

    std::vector<std::string> box;
    EXPECT_TRUE(Within(30000ms, [&] { return !(box = Windows("Fehler")).empty(); }))
        << "no box about the lost connection";
    ASSERT_TRUE(Alive()) << "the program ended";
    ASSERT_EQ(Reports().size(), 1) << "the report was not saved";
    EXPECT_EQ(PatientLine(Reports()[0]), kPatient);
    EXPECT_EQ(box.size(), 1u);
    for (const std::string& id : box) {
        CloseBox(id);
    }

    // The sound server back, the warning about it closes by itself. The next report: no Writer
    // on the pipe, the built-in writer takes it without a box.
    EXPECT_TRUE(Within(5000ms, [&] { return Windows("Fehler").empty(); }));
    daemon_->Stop();  // the ended server's leftovers
    ASSERT_TRUE(daemon_->Start());
    EXPECT_TRUE(Within(10000ms, [&] { return Windows("Achtung").empty(); }));
    Click(kReport);
    EXPECT_TRUE(Within(30000ms, [&] { return Reports().size() == 2; }))
        << "the second report was not written";
    ASSERT_TRUE(Alive()) << "the program ended";
    ASSERT_EQ(Reports().size(), 2);
    EXPECT_EQ(PatientLine(Reports()[1]), kPatient);
    EXPECT_TRUE(Windows("Fehler").empty());
}

// While a report waits, "Stumm" mutes the tone at once and the window shows it: `waiting` tells
// whether the report still waits.
void ConsoleReportTest::StummWhileTheReportWaits(const std::function<bool()>& waiting) {
    Level(3);
    const double loud = 0.5 * 32767.0 * std::pow(0.3, 3.0);  // half the level of 3
    ASSERT_TRUE(Within(5000ms, [&] { return test::Peak(test::Channel(Listen(100), 0)) > loud; }))
        << "the tone is not heard";

    Click(kReport);
    // 0.6 s into the report, "Stumm": from the moment the click is sent to the last frame of the
    // tone at the sink's monitor (the recording's own delay counts against the program).
    const QPoint mute = origin_ + kMute;
    display_.Xdotool({"mousemove", "--sync", std::to_string(mute.x()), std::to_string(mute.y())});
    std::this_thread::sleep_for(600ms);
    capture_->Clear();
    EXPECT_EQ(display_.Xdotool({"click", "1"}).exitCode, 0);
    ASSERT_TRUE(capture_->Record(test::FramesOf(600), 3s));
    const std::vector<double> left = test::Channel(capture_->Samples(), 0);
    ASSERT_GT(test::Peak(left), loud) << "the tone did not play up to the click";
    std::size_t last = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (std::abs(left[i]) > 64) {
            last = i;
        }
    }
    const double mutedAfter = double(last) / test::kSinkRate;
    RecordProperty("mutedAfterMs", std::to_string(int(mutedAfter * 1000)));
    std::printf("\"Stumm\" 0.6 s into the report: the tone silent %.1f ms after the click\n",
                mutedAfter * 1000);
    EXPECT_LT(mutedAfter, 0.1) << "the tone played on after \"Stumm\"";

    // The window shows it while the report still waits: the round button turned red.
    QImage screen;
    for (int i = 0; i < 3 && Client(screen = Screen(), kMute) != qRgb(255, 0, 0); ++i) {
    }
    EXPECT_EQ(Client(screen, kMute), qRgb(255, 0, 0)) << "the window did not repaint";
    EXPECT_TRUE(waiting()) << "the report did not wait: the test shows nothing";

    // The report ends, written by the built-in writer, without a box.
    EXPECT_TRUE(Within(30000ms, [&] { return Reports().size() == 1; }));
    EXPECT_TRUE(Windows("Fehler").empty());
    EXPECT_TRUE(Alive());
}

// A Writer that does not answer (until the watchdog lets it go after 10 s).
TEST_P(ConsoleReportTest, StummMutesAtOnceWhileTheReportWaitsForWriter) {
    standIn_ = std::make_unique<PipeStandIn>(ProgramPipe(), std::string(), std::string());
    ASSERT_TRUE(standIn_->Listening());
    StummWhileTheReportWaits([&] { return Reports().empty(); });
}

// A desktop slow to say which program opens a .docx (the program asks for up to 3 s).
TEST_P(ConsoleReportTest, StummMutesAtOnceWhileTheReportWaitsForTheDesktop) {
    const std::filesystem::path answered = dir_ / "answered";
    {
        std::ofstream types(dir_ / "bin" / "xdg-mime");
        types << "#!/bin/sh\nsleep 5\ntouch '" << answered.string()
              << "'\necho velmora-test.desktop\n";
    }
    StummWhileTheReportWaits([&] { return !std::filesystem::exists(answered); });
}

INSTANTIATE_TEST_SUITE_P(BothServers, ConsoleReportTest, test::kBothServers, test::ServerName);

}  // namespace
}  // namespace velmora
