// The one promise of a hearing test, checked at the monitors of a sound server of the test's own,
// on PulseAudio and on PipeWire: the patient never hears more than the gauge shows, whatever
// happens to the outputs and their volumes, and no change of level is heard as a click.
#include "tests/app/ConsoleOnServer.h"
#include "tests/support/BusyCores.h"

#include <cstdlib>
#include <thread>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::Heard;
using test::LevelAmplitude;

constexpr double kOneDecibel = 1.122;

std::size_t FramesOf(Clock::duration length) {
    return std::size_t(std::chrono::duration<double>(length).count() * test::kRate);
}

class PatientSafety : public test::ConsoleOnServer {
protected:
    double Tolerance(double amplitude) const {
        return test::AmplitudeTolerance(Server(), amplitude);
    }

    // A capture of `source` that goes on while the window's event loop runs.
    struct Recorder {
        PulseContext listener;
        PulseCapture capture;
        Recorder(const std::string& server, const std::string& source)
            : listener(server), capture(listener, source) {}
    };
    std::unique_ptr<Recorder> Record(const std::string& source = "@DEFAULT_MONITOR@") {
        auto recorder = std::make_unique<Recorder>(daemon_->Server(), source);
        EXPECT_TRUE(recorder->capture.Start()) << "no capture of " << source;
        return recorder;
    }
    static void Keep(PulseCapture& capture, Clock::duration length) {
        const auto end = Clock::now() + length;
        while (Clock::now() < end) {
            QApplication::processEvents();
            capture.Record(FramesOf(5ms), 20ms);
        }
    }

    // The longest time a channel stood above `limit`: from a frame above it to the last one of
    // the same spell (spells more than 50 ms apart are apart).
    static double LongestAbove(const std::vector<double>& x, double limit) {
        const std::size_t apart = FramesOf(50ms);
        std::size_t longest = 0;
        std::optional<std::size_t> first;
        std::size_t last = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (std::abs(x[i]) <= limit) {
                continue;
            }
            if (!first || i - last > apart) {
                first = i;
            }
            last = i;
            longest = std::max(longest, last - *first + 1);
        }
        return double(longest) / test::kRate;
    }

    // The index of this program's stream on the server.
    std::string OwnStream() {
        const std::string streams = Pactl("list short sink-inputs");
        return streams.substr(0, streams.find_first_of(" \t"));
    }

    int Told(const QString& text) const {
        return int(std::count(notices_.begin(), notices_.end(), text));
    }
};

const QString kLevelFailed = QStringLiteral(
    "Der eingestellte Pegel konnte nicht eingestellt werden.\nDer Ton bleibt stumm, bis die "
    "Tonausgabe ihn wieder annimmt.");

TEST_P(PatientSafety, ANewDefaultOutputGetsTheHeldLevelBeforeTheToneAndTheToneFollowsTheDefault) {
    for (const bool muted : {false, true}) {
        SCOPED_TRACE(muted ? "muted" : "not muted");
        SetLevel(3);
        if (muted) {
            form_->HemisphereButton1Click(nullptr);
        }
        Run(200ms);
        // Headphones plugged in: a second output at 100 %, made the default.
        const std::string module = Pactl(
            "load-module module-null-sink sink_name=second rate=96000 norewinds=1 "
            "sink_properties=monitor.channel-volumes=true");
        ASSERT_FALSE(module.empty());
        auto second = Record("second.monitor");
        Pactl("set-default-sink second");
        Keep(second->capture, 800ms);
        const auto samples = second->capture.Samples();
        for (int channel = 0; channel < 2; ++channel) {
            const double peak = test::Peak(test::Channel(samples, channel));
            if (muted) {
                EXPECT_EQ(peak, 0.0) << "channel " << channel;
            } else {
                // From its first frame on, never above the level shown; and the tone is there.
                EXPECT_LE(peak, LevelAmplitude(3) * kOneDecibel) << "channel " << channel;
                EXPECT_GE(peak, LevelAmplitude(3) - Tolerance(LevelAmplitude(3)));
            }
        }
        if (muted) {
            Pactl("unload-module " + module);
            form_->janColorButton5click(nullptr);
            continue;
        }
        // The output the tone plays on, the default, is removed: the tone goes on where the
        // server's default now is, at the held level.
        Pactl("unload-module " + module);
        const Heard back = Listen(300ms, true, "testsink.monitor");
        ASSERT_TRUE(back.firstSound.has_value()) << "the tone did not come back";
        EXPECT_LT(*back.firstSound, 2s);
        EXPECT_NEAR(back.Peak(0), LevelAmplitude(3), Tolerance(LevelAmplitude(3)));
        form_->janColorButton5click(nullptr);
    }
}

TEST_P(PatientSafety, ResetWhileMutedAtLevelNineIsSilentFromItsFirstStepToItsLast) {
    auto recorder = Record();
    for (int attempt = 0; attempt < 10; ++attempt) {
        form_->ExTrackBar1->SetPosition(9);
        form_->ExTrackBar2->SetPosition(9);
        form_->HemisphereButton1Click(nullptr);
        ASSERT_TRUE(form_->Muted);
        Keep(recorder->capture, 60ms);
        recorder->capture.Clear();
        form_->janColorButton5click(nullptr);
        Keep(recorder->capture, 150ms);
        const auto samples = recorder->capture.Samples();
        EXPECT_EQ(test::Peak(test::Channel(samples, 0)), 0.0) << "reset " << attempt;
        EXPECT_EQ(test::Peak(test::Channel(samples, 1)), 0.0) << "reset " << attempt;
    }
    EXPECT_FALSE(form_->Muted);
    EXPECT_EQ(form_->ExTrackBar1->Position(), 0);
}

TEST_P(PatientSafety, AVolumeAnotherProgramSetsIsPutBackAtOnceAndTheOperatorIsToldOnce) {
    SetLevel(2);
    Run(300ms);
    auto recorder = Record();
    Keep(recorder->capture, 100ms);
    // Another program (the desktop's volume keys) turns the output up to 100 %; in the
    // background, so that this window's loop goes on meanwhile.
    const std::string other =
        "pactl --server='" + daemon_->Server() + "' set-sink-volume @DEFAULT_SINK@ 100% &";
    ASSERT_EQ(std::system(other.c_str()), 0);
    Keep(recorder->capture, 600ms);
    const std::vector<double> x = test::Channel(recorder->capture.Samples(), 0);
    // How long the tone stood above the level shown: from the first frame above it to the last.
    std::optional<std::size_t> first;
    std::size_t last = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::abs(x[i]) > LevelAmplitude(2) * kOneDecibel) {
            first = first.value_or(i);
            last = i;
        }
    }
    // Put back before the server mixed a frame with it, the change is never heard at all; the
    // notice below shows that it was made and seen.
    if (first) {
        EXPECT_LT(double(last - *first) / test::kRate, 0.100)
            << "the level shown was not back in time";
    }
    EXPECT_NEAR(test::Peak(std::span(x).last(FramesOf(100ms))), LevelAmplitude(2),
                Tolerance(LevelAmplitude(2)));
    EXPECT_EQ(std::count(notices_.begin(), notices_.end(),
                         QStringLiteral("Die Lautstärke wurde von einem anderen Programm "
                                        "verändert.\nDer eingestellte Pegel wurde "
                                        "wiederhergestellt.")),
              1);
}

// A level step at 4000 Hz and a mute and unmute at level 3, as a patient with a high-frequency
// loss would hear them: in every 20 ms around the change, the energy below 2000 Hz (where such a
// patient hears well) stays 60 dB under the steady tone, and the new level stands (how soon is
// measured by the console benchmark's level steps). Then the same with every core busy with
// something else (a report being typed, a build): the tone's stream is refilled, and its fades
// are written, in time all the same; a gap where the server ran out of frames, or a fade that
// reached the server after it had mixed the frames it changes, is a click.
TEST_P(PatientSafety, LevelStepsAndMuteAreFreeOfClicks) {
    form_->RadioButton9->SetChecked(true);  // 4000 Hz
    Run(300ms);
    auto recorder = Record();
    PulseCapture& capture = recorder->capture;
    Keep(capture, 100ms);
    const std::size_t window = FramesOf(20ms);
    std::vector<double> steadyTone;  // 20 ms of the tone at level 3, once it was heard
    const struct {
        const char* name;
        std::function<void()> change;
        bool soundsAfter;
    } changes[] = {
        {"level 0 to 3", [&] { form_->ExTrackBar1->SetPosition(3); }, true},
        {"mute", [&] { form_->HemisphereButton1Click(nullptr); }, false},
        {"unmute", [&] { form_->HemisphereButton1Click(nullptr); }, true},
    };
    for (const bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "every core busy" : "quiet");
        std::optional<test::BusyCores> load;
        if (busy) {
            SetLevel(0);
            load.emplace();
            Keep(capture, 300ms);
        }
        for (const auto& step : changes) {
            SCOPED_TRACE(step.name);
            capture.Clear();
            Keep(capture, 60ms);
            const std::uint64_t underflows = sound_->Underflows();
            step.change();
            Keep(capture, 300ms);
            const std::vector<double> x = test::Channel(capture.Samples(), 0);
            ASSERT_GT(x.size(), 3 * window);
            const auto tail = std::span(x).last(window);
            if (steadyTone.empty()) {
                steadyTone.assign(tail.begin(), tail.end());
            }
            const double target = step.soundsAfter ? test::Rms(tail) : 0.0;
            if (step.soundsAfter) {
                EXPECT_NEAR(test::Rms(tail), test::Rms(steadyTone), test::Rms(steadyTone) * 0.03);
            }
            double worst = -400.0;
            for (std::size_t at = 0; at + window <= x.size(); at += window / 20) {
                worst = std::max(worst, test::LowBandDb(std::span(x).subspan(at, window),
                                                        steadyTone, test::kRate, 2000.0));
            }
            EXPECT_LE(worst, -60.0) << "energy below 2000 Hz, dB under the steady tone; the server "
                                       "ran out of the tone's frames "
                                    << sound_->Underflows() - underflows << " times meanwhile";
            // Within 1 dB of the new level (or silent), measured over whole periods of the tone.
            const std::size_t settled = test::SettledFrom(x, 24 * 4, target, 0.12);
            EXPECT_TRUE(capture.ArrivalOf(settled).has_value()) << "never settled";
        }
    }
}

// The window's thread held for seconds (a report, a slow desktop call) while another program
// turns the output up to 100 % and the tone's stream up to 150 %: the sound server's thread puts
// the level back, and the patient never hears more than the gauge shows for longer than a period
// of the server (20 ms). "Links" stays in the left ear: the right channel is silent throughout.
TEST_P(PatientSafety, AHeldWindowLetsNothingAboveTheGaugeThrough) {
    form_->RadioButton1->SetChecked(true);  // "Links"
    SetLevel(3);
    Run(300ms);
    const std::string stream = OwnStream();
    ASSERT_FALSE(stream.empty());
    auto recorder = Record();
    Keep(recorder->capture, 100ms);
    const std::string pactl = "pactl --server='" + daemon_->Server() + "' ";
    const std::string others = "(sleep 0.3; " + pactl + "set-sink-volume @DEFAULT_SINK@ 100%; " +
                               "sleep 0.6; " + pactl + "set-sink-input-volume " + stream +
                               " 150%) >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(others.c_str()), 0);
    std::this_thread::sleep_for(2s);  // the window's thread does not answer meanwhile
    Keep(recorder->capture, 300ms);
    const auto samples = recorder->capture.Samples();
    const std::vector<double> left = test::Channel(samples, 0);
    EXPECT_LE(LongestAbove(left, LevelAmplitude(3) * kOneDecibel), 0.020)
        << "seconds above the level shown";
    EXPECT_EQ(test::Peak(test::Channel(samples, 1)), 0.0) << "the right ear heard the tone";
    EXPECT_NEAR(test::Peak(std::span(left).last(FramesOf(100ms))), LevelAmplitude(3),
                Tolerance(LevelAmplitude(3)));
    EXPECT_NE(Pactl("get-sink-volume @DEFAULT_SINK@").find("/  30% /"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(BothServers, PatientSafety, test::kBothServers, test::ServerName);

// The program starts while no server runs; the server that starts later has its output at 100 %.
class LateServer : public test::ConsoleOnServer {
    bool ServerFirst() const override { return false; }
};

TEST_P(LateServer, GetsTheHeldLevelBeforeAnySound) {
    Run(300ms);
    ASSERT_TRUE(daemon_->Start());
    const Heard atZero = Listen(1500ms);
    EXPECT_EQ(atZero.Peak(0), 0.0);
    EXPECT_EQ(atZero.Peak(1), 0.0);
    EXPECT_NE(Pactl("get-sink-volume testsink").find("/   0% /"), std::string::npos)
        << "the output did not get the level 0 of the gauge";
    EXPECT_FALSE(form_->NoSoundNotice().IsShown()) << "the warning stayed with the sound back";
    SetLevel(3);
    const Heard atThree = ListenToTone(300ms, 1000.0);
    EXPECT_NEAR(atThree.Level(0), LevelAmplitude(3),
                test::AmplitudeTolerance(Server(), LevelAmplitude(3)));
}

INSTANTIATE_TEST_SUITE_P(BothServers, LateServer, test::kBothServers, test::ServerName);

// A desktop that stored a near-silent volume for the program's stream (as WirePlumber does
// after an earlier run set it so): the server puts it back on every new stream.
class StoredStreamVolume : public test::ConsoleOnServer {
    void PrepareServer(test::PulseDaemon& daemon) override {
        daemon.StoreStreamVolume(std::pow(100.0 / 65536.0, 3.0));
    }
};

TEST_P(StoredStreamVolume, TheChosenEarHearsTheLevelShownAndTheOtherEarNothing) {
    struct Ear {
        const char* name;
        TRadioButton* button;
        bool left;
        bool right;
    };
    for (const Ear& ear : {Ear{"Links", form_->RadioButton1, true, false},
                           Ear{"Rechts", form_->RadioButton2, false, true},
                           Ear{"Beide", form_->RadioButton3, true, true}}) {
        SCOPED_TRACE(ear.name);
        ear.button->SetChecked(true);
        SetLevel(3);
        const Heard heard = ListenToTone(300ms, 1000.0);
        const double level = LevelAmplitude(3);
        const double silence = 32767.0 * 0.001;  // -60 dB of full scale
        EXPECT_NEAR(heard.Level(0), ear.left ? level : 0.0,
                    ear.left ? test::AmplitudeTolerance(Server(), level) : silence);
        EXPECT_NEAR(heard.Level(1), ear.right ? level : 0.0,
                    ear.right ? test::AmplitudeTolerance(Server(), level) : silence);
    }
}

INSTANTIATE_TEST_SUITE_P(BothServers, StoredStreamVolume, test::kBothServers, test::ServerName);

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// The program talks to the server through a proxy that answers late, refuses or changes sets.
class MisbehavingServer : public test::ConsoleOnServer {
protected:
    bool ThroughProxy() const override { return true; }
    int Told(const QString& text) const {
        return int(std::count(notices_.begin(), notices_.end(), text));
    }
};

// A set answered past the limit is an outage like any other, never an abort: the connection is
// given up, the tone is lost and told, and it comes back at the level the gauge shows.
TEST_P(MisbehavingServer, ASetAnsweredPastItsLimitIsAnOutage) {
    const struct {
        const char* name;
        std::uint32_t command;
        std::function<void()> act;
    } cases[] = {
        {"the output's volume", test::kCommandSetSinkVolume,
         [&] { form_->ExTrackBar1->SetPosition(4); }},
        {"the stream's volume", test::kCommandSetSinkInputVolume,
         [&] {
             // Another program changes the stream: the server's thread puts it back.
             const std::string streams = Pactl("list short sink-inputs");
             Pactl("set-sink-input-volume " + streams.substr(0, streams.find('\t')) + " 50%");
             form_->ExTrackBar1->SetPosition(4);
         }},
    };
    for (const auto& step : cases) {
        SCOPED_TRACE(step.name);
        form_->janColorButton5click(nullptr);
        SetLevel(3);
        ASSERT_GT(Listen(200ms).Peak(0), test::kThreshold);
        const std::uint32_t command = step.command;
        proxy_->SetRule([command](std::uint32_t asked) {
            test::PulseProxy::Reply reply;
            if (asked == command) {
                reply.delay = 900ms;
            }
            return reply;
        });
        step.act();
        Run(1000ms);
        proxy_->SetRule({});
        // A set sent just before may still be answered late, and given up on once more.
        Run(1500ms);
        const Heard back = Listen(300ms, true);
        ASSERT_TRUE(back.firstSound.has_value()) << "the tone did not come back";
        Run(200ms);  // past its fade-in
        const Heard tone = ListenToTone(300ms, 1000.0);
        EXPECT_NEAR(tone.Level(0), test::LevelAmplitude(4),
                    test::AmplitudeTolerance(Server(), test::LevelAmplitude(4)));
        Run(600ms);
        EXPECT_FALSE(form_->NoSoundNotice().IsShown());
        EXPECT_FALSE(form_->LevelFailedNotice().IsShown());
    }
}

// A set the server refuses, or takes with another value, never fades the tone back in above the
// gauge: it stays silent, the operator is told once, and once the server takes the level the
// tone is back at it and the notice gone.
TEST_P(MisbehavingServer, ARefusedOrChangedSetLeavesTheToneSilentAndIsToldOnce) {
    const struct {
        const char* name;
        std::uint32_t refused;  // or 0
        bool changed;           // the server takes 100 % for whatever volume is asked
        bool mute;              // "Stumm" rather than level 5
    } cases[] = {
        {"Stumm refused", test::kCommandSetSinkMute, false, true},
        {"level step refused", test::kCommandSetSinkVolume, false, false},
        {"level step taken as 100 %", 0, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        form_->janColorButton5click(nullptr);
        SetLevel(3);
        ASSERT_GT(Listen(200ms).Peak(0), test::kThreshold);
        const int toldBefore = Told(kLevelFailed);
        const std::uint32_t refused = c.refused;
        proxy_->SetRule([refused](std::uint32_t asked) {
            test::PulseProxy::Reply reply;
            reply.refuse = refused != 0 && asked == refused;
            return reply;
        });
        if (c.changed) {
            proxy_->SetVolumeRule([](std::uint32_t command, std::vector<std::uint32_t>& volumes) {
                if (command == test::kCommandSetSinkVolume) {
                    volumes.assign(volumes.size(), 0x10000);
                }
            });
        }
        if (c.mute) {
            form_->HemisphereButton1Click(nullptr);
        } else {
            form_->ExTrackBar1->SetPosition(5);
        }
        const Heard during = Listen(1200ms);
        EXPECT_EQ(during.Peak(0), 0.0) << "heard while the level did not hold";
        EXPECT_EQ(during.Peak(1), 0.0);
        EXPECT_EQ(Told(kLevelFailed), toldBefore + 1);
        EXPECT_TRUE(form_->LevelFailedNotice().IsShown());

        proxy_->SetRule({});
        proxy_->SetVolumeRule({});
        const auto mended = Clock::now();
        while (form_->LevelFailedNotice().IsShown() && Clock::now() - mended < 3s) {
            Run(50ms);
        }
        EXPECT_FALSE(form_->LevelFailedNotice().IsShown()) << "the notice outlived the fault";
        Run(200ms);  // past the fade-in
        EXPECT_EQ(Told(kLevelFailed), toldBefore + 1);
        const Heard after = c.mute ? Listen(300ms) : ListenToTone(300ms, 1000.0);
        const double shown = c.mute ? 0.0 : test::LevelAmplitude(5);
        EXPECT_NEAR(after.Level(0), shown, test::AmplitudeTolerance(Server(), shown));
        if (c.mute) {
            form_->HemisphereButton1Click(nullptr);
        }
    }
    EXPECT_LE(mostStanding_, 2);  // the failure and at most the lost tone, never one twice
}

INSTANTIATE_TEST_SUITE_P(BothServers, MisbehavingServer, test::kBothServers, test::ServerName);

// A PulseAudio configured with flat volumes raises the output to the tone's stream: the level
// heard is still the level shown.
class FlatVolumes : public test::ConsoleOnServer {
    void PrepareServer(test::PulseDaemon& daemon) override { daemon.FlatVolumes(); }
};

TEST_P(FlatVolumes, TheLevelHeardIsTheLevelShown) {
    for (const int level : {3, 5, 2}) {
        SCOPED_TRACE(level);
        SetLevel(level);
        const Heard heard = ListenToTone(300ms, 1000.0);
        EXPECT_NEAR(heard.Level(0), test::LevelAmplitude(level),
                    test::AmplitudeTolerance(Server(), test::LevelAmplitude(level)));
        if (Server() == test::SoundServer::PulseAudio) {
            // With flat volumes a stream's volume is its volume at the output: the level's.
            const std::string percent = "/  " + std::to_string(level * 10) + "% /";
            EXPECT_NE(Pactl("list sink-inputs").find(percent), std::string::npos)
                << "the server does not keep flat volumes";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothServers, FlatVolumes, test::kBothServers, test::ServerName);

}  // namespace
}  // namespace velmora
