// The PulseAudio mixer against the daemon that scripts/test starts (a null sink as the default
// sink), or against a daemon of the test's own where the server must go away.

#include "platform/mixer/PulseMixerDevice.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"

#include "tests/support/MixerRequests.h"
#include "tests/support/PulseDaemon.h"
#include "tests/support/PulseProxy.h"
#include "tests/support/PulseServerTest.h"
#include "tests/support/Spawn.h"
#include "tests/support/WaveBuilder.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora {
namespace {

using Values = std::vector<std::uint32_t>;
constexpr std::uint32_t kLoopFlags = SND_MEMORY | SND_ASYNC | SND_LOOP;

// Runs the event loop until `done` or two seconds have passed.
template <typename Predicate>
bool ProcessEventsUntil(Predicate done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

class PulseMixerDeviceTest : public test::PulseServerTest {
protected:
    void SetUp() override {
        PulseServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        test::EnsureCoreApplication();
        mixer_ = std::make_unique<PulseMixerDevice>(*pulse_, *sound_);
    }

    std::optional<MIXERLINE> Line(std::uint32_t destination, std::optional<std::uint32_t> source) {
        MIXERLINE line{};
        line.cbStruct = sizeof line;
        line.dwDestination = destination;
        line.dwSource = source.value_or(0);
        if (mixer_->GetLineInfo(
                0, &line, source ? MIXER_GETLINEINFOF_SOURCE : MIXER_GETLINEINFOF_DESTINATION) !=
            MMSYSERR_NOERROR) {
            return std::nullopt;
        }
        return line;
    }

    // The control of `type` on a line.
    std::optional<MIXERCONTROL> Control(const MIXERLINE& line, std::uint32_t type) {
        MIXERCONTROL control{};
        MIXERLINECONTROLS request = test::ControlByTypeRequest(line.dwLineID, type, &control);
        if (mixer_->GetLineControls(0, &request, MIXER_GETLINECONTROLSF_ONEBYTYPE) !=
            MMSYSERR_NOERROR) {
            return std::nullopt;
        }
        return control;
    }

    MMRESULT Set(const MIXERCONTROL& control, Values values) {
        const MIXERCONTROLDETAILS details = test::ValueRequest(
            control.dwControlID, static_cast<std::uint32_t>(values.size()), 0, values.data());
        return mixer_->SetControlDetails(0, &details, 0);
    }

    Values Get(const MIXERCONTROL& control, std::uint32_t channels) {
        Values values(channels, 0xDEAD);
        MIXERCONTROLDETAILS details =
            test::ValueRequest(control.dwControlID, channels, 0, values.data());
        EXPECT_EQ(mixer_->GetControlDetails(0, &details, 0), MMSYSERR_NOERROR);
        return values;
    }

    std::unique_ptr<PulseMixerDevice> mixer_;
};

TEST_P(PulseMixerDeviceTest, TheServerIsDeviceZeroWithTheSpeakersAndThisProgramsWaveFirst) {
    ASSERT_EQ(mixer_->GetNumDevs(), 1u);
    MIXERCAPS caps{};
    ASSERT_EQ(mixer_->GetDevCaps(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname), Server() == test::SoundServer::PulseAudio
                                             ? "pulseaudio"
                                             : "PulseAudio (on PipeWire 0.3.65)");
    // The null sink only: its monitor is no recording destination.
    EXPECT_EQ(caps.cDestinations, 1u);

    const auto speakers = Line(0, std::nullopt);
    ASSERT_TRUE(speakers);
    EXPECT_EQ(speakers->dwComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(speakers->cChannels, 2u);
    EXPECT_EQ(speakers->cConnections, 1u);
    EXPECT_EQ(speakers->cControls, 2u);

    // Nothing plays, and the wave line is there.
    auto wave = Line(0, 0u);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    EXPECT_EQ(wave->fdwLine & MIXERLINE_LINEF_ACTIVE, 0u);
    EXPECT_TRUE(Control(*wave, MIXERCONTROL_CONTROLTYPE_VOLUME));
    EXPECT_TRUE(Control(*wave, MIXERCONTROL_CONTROLTYPE_MUTE));

    // The server tells of the new stream a moment after it plays.
    ASSERT_TRUE(sound_->PlaySound(test::SineImage(1000.0, 960), kLoopFlags));
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return (Line(0, 0u).value_or(MIXERLINE{}).fdwLine & MIXERLINE_LINEF_ACTIVE) != 0; }));
    EXPECT_EQ(Line(0, std::nullopt)->cConnections, 1u) << "this program's stream is the wave line";
}

TEST_P(PulseMixerDeviceTest, WaveLineIsTheWaveOutVolumeAndNeverAnotherProgramsStream) {
    // Another program plays (silence) on the same sink.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/zero", O_RDONLY, 0);
    // A name of this run's own: a session manager keeps a program's last volume for its next run.
    const std::string name = "Other program " + std::to_string(::getpid());
    const pid_t other =
        test::Spawn("pacat", {"pacat", "--server=" + Address(), "--client-name=" + name},
                    {"PATH=/usr/bin:/bin", "HOME=/tmp"}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_GT(other, 0);
    struct Ending {
        pid_t pid;
        ~Ending() {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    } ending{other};

    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return Line(0, std::nullopt).value_or(MIXERLINE{}).cConnections == 2; }));
    // A session manager gives a new stream its volume a moment after the stream appears.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto otherLine = Line(0, 1u);
    ASSERT_TRUE(otherLine);
    EXPECT_NE(std::string(otherLine->szName).find("Other program"), std::string::npos);
    const auto otherVolume = Control(*otherLine, MIXERCONTROL_CONTROLTYPE_VOLUME);
    ASSERT_TRUE(otherVolume);

    // The start-up step: destination 0, connection 0 to the raw level 100, unmuted.
    const auto wave = Line(0, 0u);
    ASSERT_TRUE(wave);
    ASSERT_EQ(Set(*Control(*wave, MIXERCONTROL_CONTROLTYPE_VOLUME), {100, 100}), MMSYSERR_NOERROR);
    ASSERT_EQ(Set(*Control(*wave, MIXERCONTROL_CONTROLTYPE_MUTE), {0}), MMSYSERR_NOERROR);
    std::uint32_t volume = 0;
    ASSERT_EQ(sound_->GetVolume(0, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 100u | (100u << 16));
    EXPECT_EQ(Get(*otherVolume, 2), (Values{65535, 65535}));

    // Addressed by its own line, the other stream does change on the server.
    ASSERT_EQ(Set(*otherVolume, {1000, 2000}), MMSYSERR_NOERROR);
    EXPECT_EQ(Get(*otherVolume, 2), (Values{1000, 2000}));
    const auto otherMute = Control(*otherLine, MIXERCONTROL_CONTROLTYPE_MUTE);
    ASSERT_TRUE(otherMute);
    ASSERT_EQ(Set(*otherMute, {1}), MMSYSERR_NOERROR);
    EXPECT_EQ(Get(*otherMute, 1), (Values{1}));
}

// A set that the server refuses is a failure. A second sink goes away after the model was read,
// while the news of it is held back: another thread holds the loop until the set is waiting for
// it, so the model the set is checked against still has the sink. The server refuses to mute it.
TEST_P(PulseMixerDeviceTest, ASetTheServerRefusesFails) {
    const std::string pactl = "pactl --server='" + Address() + "' ";
    std::unique_ptr<FILE, int (*)(FILE*)> out(
        popen((pactl + "load-module module-null-sink sink_name=velmora_second").c_str(), "r"),
        pclose);
    char text[32] = {};
    ASSERT_TRUE(out && std::fgets(text, sizeof text, out.get())) << "no second sink";
    const std::string unload =
        pactl + "unload-module " + std::to_string(std::atoi(text)) + " >/dev/null 2>&1";
    struct Unload {
        std::string command;
        ~Unload() { (void)std::system(command.c_str()); }
    } cleanup{unload};
    ASSERT_TRUE(ProcessEventsUntil([&] { return Line(1, std::nullopt).has_value(); }));
    // The news of the new sink may still be on its way. It comes before the answer to any later
    // request, so after one read of the sink the model has heard all of it.
    auto mute = Control(*Line(1, std::nullopt), MIXERCONTROL_CONTROLTYPE_MUTE);
    ASSERT_TRUE(mute);
    EXPECT_EQ(Get(*mute, 1), Values{0});
    const auto second = Line(1, std::nullopt);
    ASSERT_TRUE(second);
    mute = Control(*second, MIXERCONTROL_CONTROLTYPE_MUTE);
    ASSERT_TRUE(mute);
    // Through a handle, a set asks the loop for nothing before it has looked at the model.
    HMIXER handle = 0;
    ASSERT_EQ(mixer_->Open(&handle, 0, {}, 0, 0), MMSYSERR_NOERROR);

    const std::string state = "/proc/self/task/" + std::to_string(::gettid()) + "/stat";
    auto waiting = [&] {  // this thread sleeps: it waits for the loop
        std::ifstream stat(state);
        std::string all;
        std::getline(stat, all);
        const auto end = all.rfind(')');
        return end != std::string::npos && end + 2 < all.size() && all[end + 2] == 'S';
    };
    std::promise<void> held;
    std::atomic<bool> release{false};
    std::thread holder([&] {
        std::unique_lock hold(pulse_->Loop());
        held.set_value();
        while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (int i = 0; i < 2000 && !waiting(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    held.get_future().wait();
    const bool unloaded = std::system(unload.c_str()) == 0;
    release = true;
    std::uint32_t on = 1;
    const MIXERCONTROLDETAILS details = test::ValueRequest(mute->dwControlID, 1, 0, &on);
    const MMRESULT result = mixer_->SetControlDetails(handle, &details, MIXER_OBJECTF_HMIXER);
    holder.join();
    mixer_->Close(handle);
    ASSERT_TRUE(unloaded) << "the second sink did not go";
    // PipeWire may tell of the removal before it answers the unload: then the model knows the
    // control is gone before the set is sent, a failure too.
    EXPECT_TRUE(result == MMSYSERR_ERROR ||
                (Server() == test::SoundServer::PipeWire && result == MIXERR_INVALCONTROL))
        << "a refused set did not fail as one: " << result;

    // The speakers, still there, take their sets as before.
    ASSERT_TRUE(ProcessEventsUntil([&] { return !Line(1, std::nullopt).has_value(); }));
    const auto speakers = Line(0, std::nullopt);
    ASSERT_TRUE(speakers);
    EXPECT_EQ(Set(*Control(*speakers, MIXERCONTROL_CONTROLTYPE_MUTE), {0}), MMSYSERR_NOERROR);
}

TEST_P(PulseMixerDeviceTest, SpeakerControlsAreTheDefaultSinksVolumeAndMute) {
    const auto speakers = Line(0, std::nullopt);
    ASSERT_TRUE(speakers);
    const auto volume = Control(*speakers, MIXERCONTROL_CONTROLTYPE_VOLUME);
    const auto mute = Control(*speakers, MIXERCONTROL_CONTROLTYPE_MUTE);
    ASSERT_TRUE(volume && mute);
    ASSERT_EQ(Set(*volume, {65535, 19660}), MMSYSERR_NOERROR);
    EXPECT_EQ(Get(*volume, 2), (Values{65535, 19660}));
    EXPECT_EQ(Get(*volume, 1), (Values{65535}));
    ASSERT_EQ(Set(*mute, {1}), MMSYSERR_NOERROR);
    EXPECT_EQ(Get(*mute, 1), Values{1});
    ASSERT_EQ(Set(*mute, {0}), MMSYSERR_NOERROR);
    EXPECT_EQ(Get(*mute, 1), Values{0});
}

TEST_P(PulseMixerDeviceTest, ServerChangesArriveAsNotificationsOnThisThread) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
    HMIXER handle = 0;
    ASSERT_EQ(mixer_->Open(
                  &handle, 0,
                  [&](std::uint32_t message, HMIXER, std::uint32_t id) {
                      seen.emplace_back(message, id);
                  },
                  0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    const auto speakers = Line(0, std::nullopt);
    ASSERT_TRUE(speakers);
    const auto volume = Control(*speakers, MIXERCONTROL_CONTROLTYPE_VOLUME);
    ASSERT_TRUE(volume);
    auto saw = [&](std::uint32_t message, std::uint32_t id) {
        return std::find(seen.begin(), seen.end(), std::make_pair(message, id)) != seen.end();
    };

    // Another program changes the speakers: the level this program holds on them (silence until
    // it sets one) is put back on the server's own thread, and this thread is told so. Whether
    // the other program's level is seen in passing depends on how soon this thread reads the
    // server after it, so the control's notification is not asked for.
    bool restored = false;
    mixer_->SetLevelRestoredHandler([&restored] { restored = true; });
    const std::string command =
        "pactl --server='" + Address() + "' set-sink-volume @DEFAULT_SINK@ 40%";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(ProcessEventsUntil([&] { return restored; }));
    EXPECT_EQ(Get(*volume, 2), (Values{0, 0}));
    EXPECT_FALSE(saw(MM_MIXM_LINE_CHANGE, speakers->dwLineID));
    mixer_->SetLevelRestoredHandler({});

    // This program starts playing: its wave line becomes active.
    seen.clear();
    ASSERT_TRUE(sound_->PlaySound(test::SineImage(1000.0, 960), kLoopFlags));
    const auto wave = Line(0, 0u);
    ASSERT_TRUE(wave);
    EXPECT_TRUE(ProcessEventsUntil([&] { return saw(MM_MIXM_LINE_CHANGE, wave->dwLineID); }));

    // Another program starts playing: a new line on the speakers.
    seen.clear();
    PulseContext otherPulse(Address(), "Other program");
    PulseSoundOutput other(otherPulse);
    ASSERT_TRUE(other.PlaySound(test::SineImage(500.0, 960), kLoopFlags));
    EXPECT_TRUE(ProcessEventsUntil([&] { return saw(MM_MIXM_LINE_CHANGE, speakers->dwLineID); }));
    mixer_->Close(handle);
}

// A server slow to answer the look made at the opening (past the request's limit, so that the
// context gives it up and connects again): the first state read after it is what a change is
// compared with, and another program's stream is reported as it starts.
TEST_P(PulseMixerDeviceTest, AStreamStartedAfterAnUnansweredOpeningLookIsReported) {
    test::PulseProxy::UseWithoutSharedMemory();
    test::PulseProxy proxy(Address());
    mixer_.reset();
    sound_.reset();
    pulse_ = std::make_unique<PulseContext>(proxy.Server());
    ASSERT_TRUE(pulse_->Connect());
    sound_ = std::make_unique<PulseSoundOutput>(*pulse_);
    mixer_ = std::make_unique<PulseMixerDevice>(*pulse_, *sound_);
    std::atomic<bool> slow = true;
    proxy.SetRule([&slow](std::uint32_t command) {
        const bool look = command >= 20 && command <= 34;  // the server's, sinks', streams' info
        return test::PulseProxy::Reply{slow && look ? std::chrono::milliseconds(800)
                                                    : std::chrono::milliseconds(0)};
    });
    std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
    HMIXER handle = 0;
    ASSERT_EQ(mixer_->Open(
                  &handle, 0,
                  [&](std::uint32_t message, HMIXER, std::uint32_t id) {
                      seen.emplace_back(message, id);
                  },
                  0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    slow = false;
    // The context gave the server up after the request's limit; the pause before it connects
    // again is over.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const auto speakers = Line(0, std::nullopt);
    ASSERT_TRUE(speakers);

    PulseContext otherPulse(Address(), "Other program");
    PulseSoundOutput other(otherPulse);
    ASSERT_TRUE(other.PlaySound(test::SineImage(500.0, 960), kLoopFlags));
    EXPECT_TRUE(ProcessEventsUntil([&] {
        return std::find(seen.begin(), seen.end(),
                         std::make_pair(MM_MIXM_LINE_CHANGE, speakers->dwLineID)) != seen.end();
    }));
    mixer_->Close(handle);
    mixer_.reset();
    sound_.reset();
    pulse_.reset();
}

class PulseMixerDeviceServerTest : public test::OwnServerTest {};

// A server that goes away leaves no device to find, but the speakers stay the program's: their
// controls take and show the level while the server is away, and the server that comes back has
// that level on its default output before anything plays.
TEST_P(PulseMixerDeviceServerTest, ServerGoingAwayKeepsTheSpeakerLevelForItsReturn) {
    test::EnsureCoreApplication();
    test::PulseDaemon daemon(GetParam());
    ASSERT_TRUE(daemon.Start()) << "the sound server could not be started";
    PulseContext pulse(daemon.Server());
    PulseSoundOutput sound(pulse);
    PulseMixerDevice mixer(pulse, sound);
    ASSERT_EQ(mixer.GetNumDevs(), 1u);
    MIXERLINE line{};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    ASSERT_EQ(mixer.GetLineInfo(0, &line, MIXER_GETLINEINFOF_COMPONENTTYPE), MMSYSERR_NOERROR);
    MIXERCONTROL volume{};
    MIXERLINECONTROLS request =
        test::ControlByTypeRequest(line.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &volume);
    ASSERT_EQ(mixer.GetLineControls(0, &request, MIXER_GETLINECONTROLSF_ONEBYTYPE),
              MMSYSERR_NOERROR);
    HMIXER handle = 0;
    ASSERT_EQ(mixer.Open(
                  &handle, 0, [](std::uint32_t, HMIXER, std::uint32_t) {}, 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);

    daemon.Stop();
    QCoreApplication::processEvents();
    EXPECT_EQ(mixer.GetNumDevs(), 0u);
    std::uint32_t values[2] = {13107, 13107};  // 20 %
    MIXERCONTROLDETAILS details = test::ValueRequest(volume.dwControlID, 2, 0, values);
    EXPECT_EQ(mixer.SetControlDetails(0, &details, 0), MMSYSERR_NOERROR);
    values[0] = values[1] = 0;
    EXPECT_EQ(mixer.GetControlDetails(handle, &details, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(values[0], 13107u) << "the level held while the server is away";
    EXPECT_EQ(mixer.GetLineInfo(0, &line, MIXER_GETLINEINFOF_COMPONENTTYPE), MMSYSERR_NOERROR);

    ASSERT_TRUE(daemon.Start());  // its output at 100 %
    EXPECT_EQ(mixer.GetNumDevs(), 1u);
    const std::string pactl = "pactl --server='" + daemon.Server() + "' get-sink-volume testsink";
    std::string level;
    for (int i = 0; i < 100 && level.find("/  20% /") == std::string::npos; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        level.clear();
        if (FILE* pipe = ::popen(pactl.c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, pipe)) {
                level += buffer;
            }
            ::pclose(pipe);
        }
    }
    EXPECT_NE(level.find("/  20% /"), std::string::npos) << level;
    // The speakers' controls address the default sink of the new server.
    values[0] = values[1] = 32768;
    EXPECT_EQ(mixer.SetControlDetails(handle, &details, 0), MMSYSERR_NOERROR);
    values[0] = values[1] = 0;
    EXPECT_EQ(mixer.GetControlDetails(handle, &details, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(values[0], 32768u);
    QCoreApplication::processEvents();
    mixer.Close(handle);
}

INSTANTIATE_TEST_SUITE_P(BothServers, PulseMixerDeviceTest, test::kBothServers, test::ServerName);

INSTANTIATE_TEST_SUITE_P(BothServers, PulseMixerDeviceServerTest, test::kBothServers,
                         test::ServerName);

}  // namespace
}  // namespace velmora
