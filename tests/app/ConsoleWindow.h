#pragma once

// The real program on a headless X display (Xvfb) of the test's own, with a test sound server of
// scripts/test (the test's parameter says which): started, found on the screen, clicked and heard
// as an operator would.

#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseContext.h"

#include "tests/support/PulseServerTest.h"
#include "tests/support/PulseTestServer.h"
#include "tests/support/Spawn.h"
#include "tests/support/ToneAnalysis.h"
#include "tests/support/XDisplay.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>
#include <QRect>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace velmora::test {

using namespace std::chrono_literals;

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

// The hearing curve PaintBox1 in the window's client area: at (20, 28) in DsGroup8, which lies
// at (12, 236) in the main panel DsGroup1 at (8, 128).
constexpr QPoint kPlot{8 + 12 + 20, 128 + 236 + 28};

class ConsoleWindowTest : public ::testing::TestWithParam<SoundServer> {
protected:
    SoundServer Server() const { return GetParam(); }
    // The server the program plays on and the test listens to.
    virtual std::string ServerAddress() const { return test::PulseTestServer(Server()); }

    void SetUp() override {
        VELMORA_REQUIRE_PULSE_SERVER_OF(Server());
        lock_ = std::make_unique<test::PulseTestLock>();
        ASSERT_TRUE(test::ResetTestSink(Server()));

        char pattern[] = "/tmp/velmora-console-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::filesystem::create_directories(dir_ / "home");
        std::filesystem::create_directories(dir_ / "run");
        ::chmod((dir_ / "run").c_str(), 0700);
        // The desktop's opener does nothing here: what the program hands it (a report, a web
        // address, a mail) opens no other program on the test's display.
        std::filesystem::create_directories(dir_ / "bin");
        {
            std::ofstream opener(dir_ / "bin" / "xdg-open");
            opener << "#!/bin/sh\nexit 0\n";
            // And it names a program for every type.
            std::ofstream types(dir_ / "bin" / "xdg-mime");
            types << "#!/bin/sh\necho velmora-test.desktop\n";
        }
        ::chmod((dir_ / "bin" / "xdg-open").c_str(), 0755);
        ::chmod((dir_ / "bin" / "xdg-mime").c_str(), 0755);
        const char* path = std::getenv("PATH");

        std::string error;
        ASSERT_TRUE(display_.Start(kScreenWidth, kScreenHeight, &error)) << error;
        ASSERT_EQ(display_.Xdotool({"version"}).exitCode, 0)
            << "xdotool is missing (scripts/setup installs it)";

        ASSERT_TRUE(Reconnect()) << "the test sound server " << ServerAddress()
                                 << " is not reachable";

        app_ = test::Spawn(VELMORA_APP_PATH, {VELMORA_APP_PATH},
                           test::EnvironmentWith({
                               "DISPLAY=" + display_.Name(),
                               "PULSE_SERVER=" + ServerAddress(),
                               "QT_QPA_PLATFORM=xcb",
                               "QT_SCALE_FACTOR=1",
                               "HOME=" + (dir_ / "home").string(),
                               "XDG_CONFIG_HOME=" + (dir_ / "home/.config").string(),
                               "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
                               "PATH=" + (dir_ / "bin").string() + ":" + (path ? path : "/usr/bin"),
                           }));
        ASSERT_GT(app_, 0) << "velmora could not be started";
        ASSERT_TRUE(FindWindow());
    }

    void TearDown() override {
        test::StopChild(app_);
        capture_.reset();
        pulse_.reset();
        display_.Stop();
        if (!test::PulseTestServer(Server()).empty()) {
            test::ResetTestSink(Server());
        }
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }

    // Connects the test's capture of the sink's monitor (again, after a restart of the server).
    bool Reconnect() {
        capture_.reset();
        pulse_ = std::make_unique<PulseContext>(ServerAddress());
        if (!pulse_->Connect()) {
            return false;
        }
        capture_ = std::make_unique<PulseCapture>(*pulse_);
        return capture_->Start();
    }

    // The windows on the screen whose title holds `name`.
    int CountWindows(const std::string& name) {
        const auto found = display_.Xdotool({"search", "--onlyvisible", "--name", name});
        return int(std::count(found.output.begin(), found.output.end(), '\n'));
    }

    // Waits for the window titled "... Relativtest ..." and reads where it lies on the screen.
    ::testing::AssertionResult FindWindow() {
        std::string window;
        for (int i = 0; i < 300 && window.empty(); ++i) {
            if (const auto code = test::WaitForExit(app_, 0ms)) {
                app_ = -1;
                return ::testing::AssertionFailure()
                       << "velmora ended at start-up with exit code " << *code;
            }
            const auto found =
                display_.Xdotool({"search", "--onlyvisible", "--name", "Relativtest"});
            window = found.output.substr(0, found.output.find('\n'));
            if (window.empty()) {
                std::this_thread::sleep_for(100ms);
            }
        }
        if (window.empty()) {
            return ::testing::AssertionFailure() << "no window \"Relativtest\" within 30 s";
        }
        const auto geometry = display_.Xdotool({"getwindowgeometry", "--shell", window});
        std::map<std::string, int> values;
        std::istringstream lines(geometry.output);
        for (std::string line; std::getline(lines, line);) {
            const auto equals = line.find('=');
            if (equals != std::string::npos) {
                values[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
            }
        }
        origin_ = QPoint(values["X"], values["Y"]);
        size_ = QPoint(values["WIDTH"], values["HEIGHT"]);
        return ::testing::AssertionSuccess();
    }

    // What the screen shows now.
    QImage Screen() {
        const std::string file = (dir_ / "screen.png").string();
        const auto taken =
            test::RunCommand({VELMORA_SCREENSHOT_PATH, file},
                             test::EnvironmentWith({"DISPLAY=" + display_.Name(),
                                                    "XDG_RUNTIME_DIR=" + (dir_ / "run").string()}));
        EXPECT_EQ(taken.exitCode, 0) << "velmora-screenshot failed";
        return QImage(QString::fromStdString(file));
    }

    // Takes pictures of the screen until `shows` holds for one (at most 20 s); the last one.
    QImage ScreenWhen(const std::function<bool(const QImage&)>& shows) {
        QImage screen;
        for (int i = 0; i < 100; ++i) {
            screen = Screen();
            if (!screen.isNull() && shows(screen)) {
                break;
            }
            std::this_thread::sleep_for(200ms);
        }
        return screen;
    }

    // A pixel of the window's client area, and of the hearing curve.
    QRgb Client(const QImage& screen, QPoint at) const { return screen.pixel(origin_ + at); }
    QRgb Plot(const QImage& screen, int x, int y) const {
        return Client(screen, kPlot + QPoint(x, y));
    }
    int CountInPlot(const QImage& screen, const QRect& area, QRgb colour) const {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                count += Plot(screen, x, y) == colour ? 1 : 0;
            }
        }
        return count;
    }

    void Click(QPoint at) {
        const QPoint p = origin_ + at;
        EXPECT_EQ(display_
                      .Xdotool({"mousemove", "--sync", std::to_string(p.x()), std::to_string(p.y()),
                                "click", "1"})
                      .exitCode,
                  0);
    }

    // `ms` milliseconds of what reaches the sink's monitor. When a `frequency` is given, a
    // recording with a jump in the sine (a gap that a busy machine left in the program's stream)
    // is made again.
    std::vector<std::int16_t> Listen(int ms, double frequency = 0.0) {
        capture_->Record(test::FramesOf(60), 2s);
        std::vector<std::int16_t> samples;
        for (int attempt = 0; attempt < 5; ++attempt) {
            capture_->Clear();
            EXPECT_TRUE(capture_->Record(test::FramesOf(ms), 2s));
            samples = capture_->Samples();
            if (frequency == 0.0 || test::LargestSineResidual(test::Channel(samples, 0), frequency,
                                                              test::kSinkRate) < 8.0) {
                break;
            }
        }
        return samples;
    }

    std::unique_ptr<test::PulseTestLock> lock_;
    std::filesystem::path dir_;
    test::XvfbDisplay display_;
    std::unique_ptr<PulseContext> pulse_;
    std::unique_ptr<PulseCapture> capture_;
    pid_t app_ = -1;
    QPoint origin_;  // the client area's top left corner on the screen
    QPoint size_;
};

}  // namespace velmora::test
