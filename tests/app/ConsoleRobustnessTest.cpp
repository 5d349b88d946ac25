// The real program under random use: thousands of clicks on the window's controls and keys typed
// into its fields, the boxes and dialogs that some buttons open answered with Escape. The program
// must not end or stop answering, and after each change of ear, frequency or waveform the level
// is 0 and (checked on a sample of the changes, with the level raised) the tone that reaches the
// sink's monitor is the one the checked radio buttons name, in the ear they name.
//
// VELMORA_ROBUSTNESS_ACTIONS (default 2000), VELMORA_ROBUSTNESS_SECONDS (default 45 on each server:
// the actions stop there) and VELMORA_ROBUSTNESS_SEED (default 1) make longer or other runs; a
// failure names its seed and action.

#include "ConsoleWindow.h"

#include <QColor>

#include <cmath>
#include <deque>
#include <random>
#include <sstream>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Places in the window's client area, from the layout (the main panel DsGroup1 at (8, 128)).
struct Place {
    QRect rect;  // what a click may hit
    const char* name;
};
// Radio buttons are 17 pixels high; their indicator lies 7 to the right and 8 down of their top
// left corner.
QRect Radio(int left, int top, int width) {
    return QRect(left, top, width, 17);
}
// Ears: DsGroup4 at (296, 168).
const Place kEars[3] = {{Radio(304, 188, 61), "Links"},
                        {Radio(304, 208, 61), "Rechts"},
                        {Radio(304, 228, 61), "Beide"}};
// Frequencies: DsGroup5 at (384, 168).
const Place kFrequencies[7] = {{Radio(400, 188, 57), "125 Hz"},  {Radio(484, 188, 57), "250 Hz"},
                               {Radio(568, 188, 57), "500 Hz"},  {Radio(400, 208, 61), "1000 Hz"},
                               {Radio(484, 208, 61), "2000 Hz"}, {Radio(568, 208, 61), "4000 Hz"},
                               {Radio(400, 228, 113), "8000 Hz"}};
constexpr int kHertz[7] = {125, 250, 500, 1000, 2000, 4000, 8000};
// Waveforms: DsGroup12 at (624, 380).
const Place kWaves[3] = {{Radio(640, 400, 17), "Sinus"},
                         {Radio(640, 428, 17), "Dreieck"},
                         {Radio(640, 456, 17), "Rechteck"}};
// Crest factors (peak / RMS) of a sine, a triangle and a square, and the amplitude of their
// fundamental for a peak of 1.
const double kCrest[3] = {std::sqrt(2.0), std::sqrt(3.0), 1.0};
const double kFundamental[3] = {1.0, 8.0 / (M_PI * M_PI), 4.0 / M_PI};

// The round "Stumm" button (37 x 37 at (660, 196)) and the others that are clicked on purpose.
const QPoint kMute{678, 214};
const QPoint kTakeOver{436, 404};
const QPoint kSaveCurve{476, 472};
const QPoint kReset{797, 188};
const QPoint kReport{797, 238};
const QPoint kNewPatient{797, 292};
const QPoint kClearFields{653, 100};
// The coarse level bar (ExTrackBar1, 389 x 45 at (304, 288)), its thumb at 0, and the fine one.
const QRect kCoarseBar{304, 288, 389, 45};
const QPoint kCoarseThumb{311, 289};
const QRect kFineBar{564, 392, 45, 153};
// The fields of the patient band (DsGroup13 at (8, 0)).
const QRect kFields[10] = {{24, 24, 121, 22}, {160, 24, 161, 22}, {340, 24, 233, 22},
                           {24, 60, 45, 22},  {80, 60, 121, 22},  {224, 60, 349, 22},
                           {24, 96, 121, 22}, {160, 96, 161, 22}, {340, 96, 233, 22},
                           {584, 24, 273, 49}};
// What random clicks stay out of: the groups of radio buttons (a radio button takes a click on
// its indicator and caption only, not on the rest of its width), the groups of the round buttons,
// of "Felder löschen" and "Kurve abspeichern", and the functions column (clicked only on purpose,
// so that their effect is known; "Homepage", "Post an Autor" and "Beenden" never).
const QRect kNoRandomClicks[] = {{296, 168, 81, 85}, {384, 168, 261, 85}, {624, 380, 81, 105},
                                 {656, 192, 45, 45}, {408, 364, 137, 73}, {736, 148, 121, 400},
                                 {576, 72, 133, 49}, {408, 440, 137, 57}};

int EnvOr(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

// What the window's radio buttons and the mute button say, as the test follows its clicks.
struct Stimulus {
    int ear = 2;        // Beide
    int frequency = 0;  // 125 Hz at start
    int wave = 0;       // sine
    bool muted = false;
};

class ConsoleRobustnessTest : public test::ConsoleWindowTest {
protected:
    void SetUp() override {
        ConsoleWindowTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        const auto found = display_.Xdotool({"search", "--onlyvisible", "--name", "Relativtest"});
        main_ = found.output.substr(0, found.output.find('\n'));
        ASSERT_FALSE(main_.empty());
    }

    // A click without waiting for the pointer to be seen there (the server keeps the order of
    // the requests); a second click on the same place waits out the double-click time, so that
    // it counts as a click of its own.
    void Click(QPoint at) {
        if (at == lastClick_ && Clock::now() - lastClickTime_ < 500ms) {
            std::this_thread::sleep_for(500ms - (Clock::now() - lastClickTime_));
        }
        const QPoint p = origin_ + at;
        display_.Xdotool({"mousemove", std::to_string(p.x()), std::to_string(p.y()), "click",
                          "--delay", "1", "1"});
        lastClick_ = at;
        lastClickTime_ = Clock::now();
    }

    bool Running() { return app_ > 0 && !test::WaitForExit(app_, 0ms).has_value(); }

    void Key(std::vector<std::string> keys) {
        keys.insert(keys.begin(), {"key", "--delay", "20"});
        display_.Xdotool(keys);
    }

    // Closes every window of the program but the main one with Escape (a question is answered
    // No, a dialog cancelled); false when one stays open.
    bool CloseDialogs() {
        for (int round = 0; round < 30; ++round) {
            const auto found = display_.Xdotool(
                {"search", "--onlyvisible", "--pid", std::to_string(app_), "--name", "."});
            std::istringstream ids(found.output);
            std::vector<std::string> others;
            for (std::string id; std::getline(ids, id);) {
                if (!id.empty() && id != main_) {
                    others.push_back(id);
                }
            }
            if (others.empty()) {
                if (round > 0) {
                    display_.Xdotool({"windowfocus", "--sync", main_});
                }
                return true;
            }
            ++dialogs_;
            const std::string& dialog = others.back();
            display_.Xdotool({"windowfocus", "--sync", dialog, "mousemove", "--window", dialog, "5",
                              "5", "key", "Escape"});
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // Waits up to `wait` for the program's first box or dialog (a button that may open one has
    // been clicked) and closes it.
    bool AnswerBoxes(Clock::duration wait) {
        const auto until = Clock::now() + wait;
        while (Clock::now() < until) {
            const auto found = display_.Xdotool(
                {"search", "--onlyvisible", "--pid", std::to_string(app_), "--name", "."});
            if (found.output.find('\n') != found.output.rfind('\n')) {
                break;  // more than the main window
            }
            std::this_thread::sleep_for(50ms);
        }
        return CloseDialogs();
    }

    // Silence on both channels within a second: the level is 0 (or the sound muted).
    ::testing::AssertionResult Silent() {
        double loudest = 0;
        for (int i = 0; i < 10; ++i) {
            const auto samples = Listen(60);
            loudest = std::max(test::Peak(test::Channel(samples, 0)),
                               test::Peak(test::Channel(samples, 1)));
            if (loudest == 0.0) {
                return ::testing::AssertionSuccess();
            }
        }
        return ::testing::AssertionFailure() << "still heard at peak " << loudest;
    }

    // With the coarse level raised from 0 to 3: the tone named by `s` in the ears it names, or
    // silence when muted.
    ::testing::AssertionResult TonePlays(const Stimulus& s) {
        Click(kCoarseThumb);
        Key({"Home", "Right", "Right", "Right"});
        const double expected = 32767.0 * std::pow((30 * 65535 / 100) / 65535.0, 3.0);
        if (s.muted) {
            return Silent();
        }
        const bool left = s.ear != 1;
        const bool right = s.ear != 0;
        const int loud = left ? 0 : 1;
        // The keys reach the program one by one: listen until the level stands (two recordings
        // alike, at the expected peak).
        std::vector<std::int16_t> samples;
        double previous = -1;
        for (int i = 0; i < 40; ++i) {
            samples = Listen(100);
            const auto x = test::Channel(samples, loud);
            const double rms = test::Rms(x);
            const double fundamental = test::Amplitude(x, kHertz[s.frequency], test::kSinkRate);
            if (std::abs(rms - previous) < rms * 0.02 &&
                std::abs(fundamental - expected * kFundamental[s.wave]) < expected * 0.05) {
                break;
            }
            previous = rms;
        }
        const double hertz = kHertz[s.frequency];
        samples = Listen(200);
        std::ostringstream why;
        for (int channel = 0; channel < 2; ++channel) {
            const auto x = test::Channel(samples, channel);
            const bool heard = channel == 0 ? left : right;
            if (!heard) {
                if (test::Peak(x) > 64) {
                    why << " channel " << channel << " should be silent, peak " << test::Peak(x);
                }
                continue;
            }
            const double measured = test::Frequency(x, test::kSinkRate);
            if (std::abs(measured - hertz) > hertz * 0.01 + 1) {
                why << " channel " << channel << " at " << measured << " Hz, not " << hertz;
            }
            // The waveform by its crest factor, where the server keeps its harmonics: PipeWire
            // mixes at 48 kHz and drops those above 24 kHz (an 8000 Hz square wave keeps its
            // fundamental only).
            const double crest = test::Peak(x) / std::max(test::Rms(x), 1.0);
            if (Server() == test::SoundServer::PulseAudio &&
                std::abs(crest - kCrest[s.wave]) > 0.12) {
                why << " channel " << channel << " crest " << crest << ", not that of "
                    << kWaves[s.wave].name;
            }
            // The level by the fundamental, which every server keeps as it is (a band limit
            // changes the peak of a square wave, not its fundamental).
            const double fundamental = test::Amplitude(x, hertz, test::kSinkRate);
            const double wanted = expected * kFundamental[s.wave];
            if (std::abs(fundamental - wanted) > wanted * 0.05) {
                why << " channel " << channel << " fundamental " << fundamental << ", not "
                    << wanted;
            }
        }
        if (!why.str().empty()) {
            return ::testing::AssertionFailure()
                   << kEars[s.ear].name << ", " << kFrequencies[s.frequency].name << ", "
                   << kWaves[s.wave].name << ":" << why.str();
        }
        return ::testing::AssertionSuccess();
    }

    // The last actions, named in a failure.
    void Note(const std::string& action) {
        recent_.push_back(action);
        if (recent_.size() > 12) {
            recent_.pop_front();
        }
    }
    std::string Recent() const {
        std::string all;
        for (const std::string& action : recent_) {
            all += "\n  " + action;
        }
        return all;
    }

    std::string main_;
    std::deque<std::string> recent_;
    int dialogs_ = 0;
    QPoint lastClick_{-1, -1};
    Clock::time_point lastClickTime_;
};

TEST_P(ConsoleRobustnessTest, RandomClicksAndKeysKeepTheWindowAnsweringAndTheToneRight) {
    const int actions = EnvOr("VELMORA_ROBUSTNESS_ACTIONS", 2000);
    const auto budget = std::chrono::seconds(EnvOr("VELMORA_ROBUSTNESS_SECONDS", 45));
    const unsigned seed = unsigned(EnvOr("VELMORA_ROBUSTNESS_SEED", 1));
    std::mt19937 random(seed);
    auto below = [&](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(random)); };
    auto inside = [&](const QRect& r) {
        return QPoint(r.left() + below(r.width()), r.top() + below(r.height()));
    };

    // Start: a known stimulus (1000 Hz, both ears, sine, not muted).
    Stimulus s;
    Click(kReset);
    s.frequency = 3;
    ASSERT_TRUE(Silent());

    int done = 0;
    int changes = 0;
    int checked = 0;
    const auto start = Clock::now();
    for (; done < actions && Clock::now() - start < budget; ++done) {
        SCOPED_TRACE(::testing::Message()
                     << "seed " << seed << ", action " << done << ", after:" << Recent());
        ASSERT_TRUE(Running()) << "velmora ended";
        const Stimulus before = s;
        const int kind = below(100);
        // A box that came late would swallow a click whose effect the test follows.
        if ((kind >= 40 && kind < 52) || kind >= 84) {
            ASSERT_TRUE(CloseDialogs()) << "a box or dialog stays open";
        }
        bool boxes = false;
        if (kind < 40) {
            // Anywhere in the client area but where only purposeful clicks go.
            QPoint p;
            bool allowed = false;
            while (!allowed) {
                p = QPoint(below(size_.x()), below(size_.y()));
                allowed = true;
                for (const QRect& r : kNoRandomClicks) {
                    allowed = allowed && !r.contains(p);
                }
            }
            Click(p);
            Note("click at " + std::to_string(p.x()) + "," + std::to_string(p.y()));
        } else if (kind < 52) {
            // A radio button on purpose.
            const int group = below(3);
            if (group == 0) {
                const int i = below(3);
                Click(kEars[i].rect.topLeft() + QPoint(7, 8));
                if (s.ear != i) {
                    s.ear = i;
                    s.frequency = 3;
                }
            } else if (group == 1) {
                s.frequency = below(7);
                Click(kFrequencies[s.frequency].rect.topLeft() + QPoint(7, 8));
            } else {
                s.wave = below(3);
                Click(kWaves[s.wave].rect.topLeft() + QPoint(7, 8));
            }
            Note(std::string("radio buttons: ") + kEars[s.ear].name + ", " +
                 kFrequencies[s.frequency].name + ", " + kWaves[s.wave].name);
        } else if (kind < 70) {
            // Keys into a field: text, deletions and caret moves.
            const int field = below(10);
            Click(inside(kFields[field]));
            static const char* const kTexts[] = {"Müller",   "12,5", "3-7", "a&b<c>", "4711",
                                                 "Straße 1", "x",    "0,0", "@",      "  "};
            const char* text = kTexts[below(10)];
            display_.Xdotool({"type", "--delay", "2", text});
            static const char* const kMoves[] = {"BackSpace", "Delete", "Left",  "Right",
                                                 "Home",      "End",    "minus", "comma"};
            const char* first = kMoves[below(8)];
            const char* second = kMoves[below(8)];
            Key({first, second});
            Note("field " + std::to_string(field) + ": \"" + text + "\", " + first + ", " + second);
            boxes = true;
        } else if (kind < 84) {
            // A level bar: a click on its track, then keys.
            const bool coarse = below(2) == 0;
            Click(inside(coarse ? kCoarseBar : kFineBar));
            static const char* const kBarKeys[] = {"Left",  "Right", "Up",   "Down",
                                                   "Prior", "Next",  "Home", "End"};
            const char* first = kBarKeys[below(8)];
            const char* second = kBarKeys[below(8)];
            Key({first, second});
            Note(std::string(coarse ? "coarse" : "fine") + " bar: " + first + ", " + second);
        } else if (kind < 88) {
            Click(kMute);
            s.muted = !s.muted;
            Note(s.muted ? "mute" : "unmute");
            // The button's face turns red when muted, green when not.
            const QImage screen = ScreenWhen([&](const QImage& shown) {
                const QColor face(Client(shown, kMute));
                return s.muted ? face.red() > 2 * face.green() : face.green() > 2 * face.red();
            });
            const QColor face(Client(screen, kMute));
            ASSERT_TRUE(s.muted ? face.red() > 2 * face.green() : face.green() > 2 * face.red())
                << "the mute button shows " << face.name().toStdString();
        } else if (kind < 95) {
            Click(kTakeOver);
            Note("take over");
        } else {
            // The functions that reset the stimulus or open boxes and dialogs. A question comes
            // only when a field is filled; the file dialog always.
            const int which = below(9);
            Clock::duration wait = 800ms;
            if (which < 3) {
                Click(kReset);
                s = Stimulus{2, 3, 0, false};
                wait = 0s;
            } else if (which < 5) {
                Click(kNewPatient);  // asks first when a field is filled, then resets
                s = Stimulus{2, 3, 0, false};
            } else if (which < 7) {
                Click(kClearFields);
            } else if (which < 8) {
                Click(kSaveCurve);
                wait = 5s;
            } else {
                Click(kReport);
            }
            static const char* const kFunctions[] = {"reset",        "reset",       "reset",
                                                     "new patient",  "new patient", "clear fields",
                                                     "clear fields", "save curve",  "report"};
            Note(kFunctions[which]);
            ASSERT_TRUE(AnswerBoxes(wait)) << "a box or dialog stays open";
        }
        if (boxes || done % 10 == 0) {
            ASSERT_TRUE(CloseDialogs()) << "a box or dialog stays open";
        }
        const bool changed =
            s.ear != before.ear || s.frequency != before.frequency || s.wave != before.wave;
        if (changed) {
            ++changes;
            ASSERT_TRUE(Silent()) << "the level is not 0 after a change of the stimulus";
            if (changes % 4 == 1) {
                ++checked;
                ASSERT_TRUE(CloseDialogs()) << "a box or dialog stays open";
                ASSERT_TRUE(TonePlays(s));
            }
        }
    }
    // At the end the window still answers: a reset and the tone it names.
    ASSERT_TRUE(Running()) << "velmora ended";
    ASSERT_TRUE(CloseDialogs());
    Click(kReset);
    s = Stimulus{2, 3, 0, false};
    ASSERT_TRUE(Silent());
    EXPECT_TRUE(TonePlays(s));
    std::printf(
        "robustness: %d actions in %lld s, %d changes of the stimulus (%d tones checked), "
        "%d boxes and dialogs closed, seed %u\n",
        done,
        (long long)std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count(),
        changes, checked, dialogs_, seed);
    EXPECT_GE(done, std::min(actions, 200)) << "too few actions in the time";
}

INSTANTIATE_TEST_SUITE_P(BothServers, ConsoleRobustnessTest, test::kBothServers, test::ServerName);

}  // namespace
}  // namespace velmora
