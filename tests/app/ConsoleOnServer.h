#pragma once

// The test console on a sound server of the test's own, of each kind (PulseAudio, and PipeWire
// with its PulseAudio server): the window's real sound output and mixer, driven through the
// window's handlers, heard at the sink's monitor. The server can be stopped, restarted and
// changed (outputs added and removed, volumes set as another program would) while the tone loops.

#include "app/Unit1.h"

#include "controls/ExTrackBar.h"
#include "framework/MessageBox.h"
#include "framework/Notice.h"
#include "framework/RadioButton.h"
#include "platform/mixer/PulseMixerDevice.h"
#include "platform/pulse/PulseCapture.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"

#include "tests/support/GuiTest.h"
#include "tests/support/PulseDaemon.h"
#include "tests/support/PulseProxy.h"
#include "tests/support/PulseTestServer.h"
#include "tests/support/ToneAnalysis.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kRate = 96000.0;
constexpr int kThreshold = 64;  // above the rounding noise of a silent sink

// The peak amplitude of the full-scale tone at coarse level c: the speakers at 10 c %, whose
// amplitude is the cube of that.
inline double LevelAmplitude(int coarse) {
    return 32767.0 * std::pow((coarse * 10 * 65535 / 100) / 65535.0, 3.0);
}

// What the sink's monitor carried.
struct Heard {
    std::vector<std::int16_t> samples;          // interleaved left, right
    std::optional<Clock::duration> firstSound;  // after the start of the recording
    std::vector<double> Channel(int channel) const { return test::Channel(samples, channel); }
    double Rms(int channel) const { return test::Rms(Channel(channel)); }
    double Peak(int channel) const { return test::Peak(Channel(channel)); }
    double Frequency(int channel) const { return test::Frequency(Channel(channel), kRate); }
    // The amplitude of a steady sine, from its RMS (over the whole recording, so that the two
    // resamplers of PipeWire's path move it less than a peak).
    double Level(int channel) const { return Rms(channel) * std::sqrt(2.0); }
    // Whether the sound of a channel is a tone of `frequency`: its energy lies there.
    bool IsToneOf(int channel, double frequency) const {
        return test::Amplitude(Channel(channel), frequency, kRate) >= 0.95 * Level(channel);
    }
};

class ConsoleOnServer : public GuiTestOf<::testing::TestWithParam<SoundServer>> {
protected:
    SoundServer Server() const { return GetParam(); }

    void SetUp() override {
        VELMORA_REQUIRE_PULSE_SERVER_OF(Server());
        lock_ = std::make_unique<PulseTestLock>();
        daemon_ = std::make_unique<PulseDaemon>(Server());
        PrepareServer(*daemon_);
        if (ServerFirst()) {
            ASSERT_TRUE(daemon_->Start()) << "the sound server could not be started";
        }
        if (ThroughProxy()) {
            PulseProxy::UseWithoutSharedMemory();
            proxy_ = std::make_unique<PulseProxy>(daemon_->Server());
        }
        // As the program makes it: opened by the window's first sound.
        pulse_ = std::make_unique<PulseContext>(proxy_ ? proxy_->Server() : daemon_->Server(),
                                                "Velmora", PulseContext::Opening::WhenAsked);
        sound_ = std::make_unique<PulseSoundOutput>(*pulse_);
        mixer_ = std::make_unique<PulseMixerDevice>(*pulse_, *sound_);
        previousBox_ = SetMessageBoxPresenter([this](const MessageBoxRequest& request) {
            boxes_.push_back(request.text);
            return int(IDOK);
        });
        // Warnings that do not wait for an answer: counted, and how many stand at once.
        previousNotice_ =
            SetNoticePresenter([this](const MessageBoxRequest& request, std::function<void()>) {
                notices_.push_back(request.text);
                mostStanding_ = std::max(mostStanding_, ++standing_);
                return std::function<void()>([this] { --standing_; });
            });
        form_ = std::make_unique<TForm1>(nullptr, *sound_, *mixer_);
    }

    void TearDown() override {
        form_.reset();
        mixer_.reset();
        sound_.reset();
        pulse_.reset();
        proxy_.reset();
        daemon_.reset();
        SetNoticePresenter(previousNotice_);
        SetMessageBoxPresenter(previousBox_);
    }

    // Before the server starts, a test may prepare it (a stored stream volume, say).
    virtual void PrepareServer(PulseDaemon&) {}
    // Whether the server runs before the window is made.
    virtual bool ServerFirst() const { return true; }
    // Whether the program talks to the server through a proxy that the test can make misbehave
    // (proxy_); the test itself always talks to the server directly.
    virtual bool ThroughProxy() const { return false; }

    // Runs pactl on the test's server; its output.
    std::string Pactl(const std::string& arguments) {
        const std::string command = "pactl --server='" + daemon_->Server() + "' " + arguments;
        std::string output;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, pipe)) {
                output += buffer;
            }
            ::pclose(pipe);
        }
        while (!output.empty() && output.back() == '\n') {
            output.pop_back();
        }
        return output;
    }

    // Keeps the window's event loop running for `length`.
    static void Run(Clock::duration length) {
        const auto end = Clock::now() + length;
        while (Clock::now() < end) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }

    // A steady tone of `frequency` for `length`, at the monitor; the tone's stream must not have
    // run dry meanwhile (a gap is a click the patient hears).
    Heard ListenToTone(Clock::duration length, double frequency) {
        const std::uint64_t underflows = sound_->Underflows();
        Heard heard = Listen(length);
        EXPECT_EQ(sound_->Underflows(), underflows) << "gaps in the " << frequency << " Hz tone";
        return heard;
    }

    // Records a monitor for `length`, keeping the window's event loop running meanwhile; with
    // `untilSound`, stops `length` after the first sound instead (or after 3 s of none).
    Heard Listen(Clock::duration length, bool untilSound = false,
                 const std::string& source = "@DEFAULT_MONITOR@") {
        // The test's own connection: a server that has just thawed or restarted, on a loaded
        // machine, may take longer than a connection's timeout to answer it.
        std::unique_ptr<PulseContext> listener;
        std::unique_ptr<PulseCapture> recording;
        Heard heard;
        for (int attempt = 0; attempt < 5 && !recording; ++attempt) {
            if (attempt > 0) {
                Run(200ms);
            }
            listener = std::make_unique<PulseContext>(daemon_->Server());
            recording = std::make_unique<PulseCapture>(*listener, source);
            if (!recording->Start()) {
                recording.reset();
            }
        }
        if (!recording) {
            ADD_FAILURE() << "no capture of " << source;
            return heard;
        }
        PulseCapture& capture = *recording;
        const auto start = Clock::now();
        auto end = start + (untilSound ? 3s : length);
        while (Clock::now() < end) {
            QApplication::processEvents();
            capture.Record(std::size_t(kRate / 100), 50ms);
            if (untilSound && !heard.firstSound) {
                if (const auto first = capture.FirstSoundTime(kThreshold)) {
                    heard.firstSound = *first - start;
                    capture.Clear();  // from the first fragment with sound on
                    end = Clock::now() + length;
                }
            }
        }
        heard.samples = capture.Samples();
        return heard;
    }

    void Restart(Clock::duration away = 300ms) {
        daemon_->Stop();
        Run(away);
        ASSERT_TRUE(daemon_->Start());
    }

    // The coarse level, and time for it to stand (the fade-in and the server's buffer) before a
    // test listens to it.
    void SetLevel(int coarse) {
        form_->ExTrackBar1->SetPosition(coarse);
        Run(100ms);
    }

    std::unique_ptr<PulseTestLock> lock_;
    std::unique_ptr<PulseDaemon> daemon_;
    std::unique_ptr<PulseProxy> proxy_;
    std::unique_ptr<PulseContext> pulse_;
    std::unique_ptr<PulseSoundOutput> sound_;
    std::unique_ptr<PulseMixerDevice> mixer_;
    std::unique_ptr<TForm1> form_;
    std::vector<QString> boxes_;
    std::vector<QString> notices_;
    int standing_ = 0;
    int mostStanding_ = 0;
    MessageBoxPresenter previousBox_;
    NoticePresenter previousNotice_;
};

}  // namespace velmora::test
