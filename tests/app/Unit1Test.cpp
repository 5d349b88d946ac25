// The test console driven headless against the simulated sound output and mixer: what the
// operator sees on the window, what the speaker line is set to and which tone plays.
#include "app/Unit1.h"

#include "audio/SSVolumeController.h"
#include "audio/ToneGen.h"
#include "controls/AnalogGauge.h"
#include "controls/Credits.h"
#include "controls/DsGroup.h"
#include "controls/ExTrackBar.h"
#include "controls/Hemibtn.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Bitmap.h"
#include "framework/Dialogs.h"
#include "framework/Edit.h"
#include "framework/Label.h"
#include "framework/Memo.h"
#include "framework/MessageBox.h"
#include "framework/Notice.h"
#include "framework/RadioButton.h"
#include "framework/Shell.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"
#include "report/DocumentServers.h"

#include "tests/support/GuiTest.h"
#include "tests/support/ReportEnd.h"
#include "tests/support/ToneAnalysis.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace velmora {
namespace {

using SoundKind = SimulatedSoundOutput::CallKind;

constexpr TColor kPlotBackground = RGB(160, 233, 91);
constexpr TColor kPlotGrid = RGB(0, 87, 0);
constexpr TColor kBothEars = RGB(95, 95, 95);
constexpr TColor kLeftEar = RGB(135, 0, 255);
constexpr TColor kRightEar = RGB(255, 0, 255);

class TestConsole : public GuiTest {
protected:
    void SetUp() override {
        // Curve pictures go to a runtime directory of the test's own.
        ASSERT_TRUE(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());

        const std::uint32_t dev = mixer_.AddDevice("Card");
        const std::uint32_t speakers =
            mixer_.AddDestination(dev, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Speakers");
        speakerVolume_ = mixer_.AddControl(dev, speakers, MIXERCONTROL_CONTROLTYPE_VOLUME);
        speakerMute_ = mixer_.AddControl(dev, speakers, MIXERCONTROL_CONTROLTYPE_MUTE,
                                         MIXERCONTROL_CONTROLF_UNIFORM);
        const std::uint32_t wave =
            mixer_.AddSource(dev, 0, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, "Wave");
        waveVolume_ = mixer_.AddControl(dev, wave, MIXERCONTROL_CONTROLTYPE_VOLUME);
        waveMute_ = mixer_.AddControl(dev, wave, MIXERCONTROL_CONTROLTYPE_MUTE,
                                      MIXERCONTROL_CONTROLF_UNIFORM);
        mixer_.SetValues(dev, waveMute_, {1});

        previousBox_ = SetMessageBoxPresenter([this](const MessageBoxRequest& request) {
            boxes_.push_back(request);
            if (answers_.empty()) {
                return (request.flags & 0x0F) == MB_YESNO ? int(IDYES) : int(IDOK);
            }
            const int answer = answers_.front();
            answers_.pop_front();
            return answer;
        });
        previousShell_ = SetShellHandler([this](const ShellRequest& request) {
            opened_.push_back(request);
            return true;
        });
        previousDialog_ = TSaveDialog::SetPresenter([](TSaveDialog&) { return false; });
        previousNotice_ = SetNoticePresenter(
            [this](const MessageBoxRequest& request, std::function<void()> closed) {
                notices_.push_back(request);
                const std::size_t n = notices_.size() - 1;
                open_.insert(n);
                byUser_[n] = [this, n, closed] {
                    open_.erase(n);
                    closed();
                };
                return std::function<void()>([this, n] { open_.erase(n); });
            });
    }

    void TearDown() override {
        form_.reset();
        SetMessageBoxPresenter(previousBox_);
        SetShellHandler(previousShell_);
        TSaveDialog::SetPresenter(previousDialog_);
        SetNoticePresenter(previousNotice_);
    }

    TForm1& Open() {
        form_ = std::make_unique<TForm1>(nullptr, sound_, mixer_);
        form_->show();
        // The first paint, then the start-up tone, which follows it.
        QApplication::processEvents();
        QApplication::processEvents();
        return *form_;
    }

    // The percentage last sent to the speaker line's volume control.
    int SpeakerVolume() const {
        const auto values = mixer_.Values(0, speakerVolume_);
        return int(std::lround(values.at(0) * 100.0 / 65535.0));
    }
    bool SpeakerMuted() const { return mixer_.Values(0, speakerMute_).at(0) != 0; }
    std::size_t VolumeSends() const {
        std::size_t n = 0;
        for (const auto& call : mixer_.CallsOf(SimulatedMixerDevice::CallKind::SetControlDetails)) {
            n += call.details.dwControlID == speakerVolume_;
        }
        return n;
    }

    // The tone as the sound output plays it: channels and the wave-out volume per channel.
    int PlayingChannels() const {
        const auto& image = sound_.CurrentImage();
        return image.size() > 23 ? image[22] : 0;
    }
    int WaveLeft() const { return int(sound_.DeviceVolume() & 0xFFFF) * 100 / 65535; }
    int WaveRight() const { return int(sound_.DeviceVolume() >> 16) * 100 / 65535; }

    // "stop" or "play" for each call of PlaySound, in order.
    std::vector<std::string> PlaySoundTrace() const {
        std::vector<std::string> trace;
        for (const auto& call : sound_.CallsOf(SoundKind::PlaySound)) {
            trace.push_back(call.image.empty() ? "stop" : "play");
        }
        return trace;
    }

    QImage Plot() { return form_->PaintBox1->grab().toImage(); }
    static TColor At(const QImage& image, int x, int y) { return FromQRgb(image.pixel(x, y)); }

    void Level(int coarse, int fine) {
        form_->ExTrackBar1->SetPosition(coarse);
        form_->ExTrackBar2->SetPosition(fine);
    }
    static void ClickButton(TjanColorButton* button) {
        button->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
        button->DispatchMouseUp(mbLeft, 0, 5, 5);
    }
    static void ClickRound(THemisphereButton* button) {
        const int c = button->Width() / 2;
        button->DispatchMouseDown(mbLeft, ssLeft, c, c);
        button->DispatchMouseUp(mbLeft, 0, c, c);
    }
    static void ClickRadio(TRadioButton* radio) {
        QTest::mouseClick(radio->Button(), Qt::LeftButton, {}, QPoint(6, 8));
    }

    QTemporaryDir runtime_;
    SimulatedSoundOutput sound_;
    SimulatedMixerDevice mixer_;
    std::uint32_t speakerVolume_ = 0, speakerMute_ = 0, waveVolume_ = 0, waveMute_ = 0;
    std::vector<MessageBoxRequest> boxes_;
    std::deque<int> answers_;
    // Warnings that do not wait for an answer: every one shown, those standing, and how the user
    // closes each.
    std::vector<MessageBoxRequest> notices_;
    std::set<std::size_t> open_;
    std::map<std::size_t, std::function<void()>> byUser_;
    std::vector<ShellRequest> opened_;
    std::unique_ptr<TForm1> form_;

private:
    MessageBoxPresenter previousBox_;
    ShellHandler previousShell_;
    TSaveDialog::Presenter previousDialog_;
    NoticePresenter previousNotice_;
};

TEST_F(TestConsole, StartsAtOneKilohertzBothEarsSineAndSilence) {
    TForm1& f = Open();
    EXPECT_EQ(Form1, &f);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("  Velmora - Relativtest V 1.00"));
    EXPECT_EQ(f.size(), QSize(873, 569));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowMinimizeButtonHint);

    for (TRadioButton* r :
         {f.RadioButton1, f.RadioButton2, f.RadioButton4, f.RadioButton5, f.RadioButton6,
          f.RadioButton8, f.RadioButton9, f.RadioButton10, f.RadioButton12, f.RadioButton13}) {
        EXPECT_FALSE(r->Checked()) << r->Name().toStdString();
    }
    EXPECT_TRUE(f.RadioButton3->Checked() && f.RadioButton7->Checked() &&
                f.RadioButton11->Checked());
    EXPECT_EQ(f.AnalogGauge1->Position(), 0.0f);
    EXPECT_EQ(SpeakerVolume(), 0);
    EXPECT_FALSE(SpeakerMuted());
    EXPECT_FALSE(f.Muted);

    // The tone plays already, looping: 1000 Hz, two channels at full wave volume.
    EXPECT_TRUE(sound_.IsLooping());
    EXPECT_EQ(f.ToneGen1->Frequency(), 1000);
    EXPECT_EQ(f.ToneGen1->Waveform(), tgSine);
    EXPECT_EQ(PlayingChannels(), 2);
    EXPECT_EQ(sound_.DeviceVolume(), 0xFFFFFFFFu);
    // The wave line of the mixer got the raw values 100, 100 and mute 0.
    EXPECT_EQ(mixer_.Values(0, waveVolume_), (std::vector<std::uint32_t>{100, 100}));
    EXPECT_EQ(mixer_.Values(0, waveMute_), std::vector<std::uint32_t>{0});

    EXPECT_EQ(f.Label4->Font().Color(), RGB(255, 0, 0));
    EXPECT_EQ(f.Label5->Font().Color(), RGB(0, 0, 0));
    EXPECT_EQ(f.Label6->Font().Color(), RGB(0, 0, 0));
    for (TEdit* e : {f.Edit1, f.Edit2, f.Edit3, f.Edit4, f.Edit5, f.Edit6, f.Edit7,
                     static_cast<TEdit*>(f.NumEdit1), static_cast<TEdit*>(f.NumEdit2)}) {
        EXPECT_TRUE(e->Text().isEmpty()) << e->Name().toStdString();
    }
    EXPECT_EQ(f.Memo1->Text(), QStringLiteral("\r\n"));
    EXPECT_EQ(f.janColorButton2->Caption(), QStringLiteral("Bericht\nerstellen"));
    EXPECT_EQ(f.Label23->Caption(), QStringLiteral("Wert\nübernehmen"));
    EXPECT_TRUE(f.Label23->WordWrap());

    constexpr TColor green = RGB(102, 161, 55);
    EXPECT_EQ(f.Color(), green);
    EXPECT_EQ(f.DsGroup1->Color(), green);
    EXPECT_EQ(f.ScrollingCredits1->BackgroundColor(), green);
    EXPECT_EQ(f.ScrollingCredits1->BorderColor(), green);
    EXPECT_EQ(f.AnalogGauge1->CenterColor(), green);
    EXPECT_EQ(f.RadioButton1->Color(), kLeftEar);
    EXPECT_EQ(f.RadioButton2->Color(), kRightEar);
    EXPECT_EQ(f.RadioButton3->Color(), kBothEars);
    EXPECT_TRUE(f.ScrollingCredits1->TimerRunning());
    EXPECT_TRUE(boxes_.empty());
}

// The defaults check three radio buttons, whose handlers each start the tone: the output is
// given the tone once, the one it then loops (a replaced stream waits for its fade-out).
TEST_F(TestConsole, StartUpStartsTheToneOnceAfterTheFirstPaintOrFromTheMessageLoop) {
    // The sound server's answers must not hold up the window: a shown window starts the tone once
    // its first picture is out, one that is not shown from the message loop.
    struct PlaysAtFirstPaint : QObject {
        explicit PlaysAtFirstPaint(std::function<std::size_t()> count) : count(std::move(count)) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && !plays) {
                plays = count();
            }
            return false;
        }
        std::function<std::size_t()> count;
        std::optional<std::size_t> plays;
    };
    for (const bool shown : {true, false}) {
        SCOPED_TRACE(shown ? "shown" : "not shown");
        form_.reset();
        sound_.ClearCalls();
        form_ = std::make_unique<TForm1>(nullptr, sound_, mixer_);
        PlaysAtFirstPaint firstPaint([this] { return PlaySoundTrace().size(); });
        form_->installEventFilter(&firstPaint);
        if (shown) {
            form_->show();
        }
        EXPECT_TRUE(PlaySoundTrace().empty());
        for (int turn = 0; turn < 10 && PlaySoundTrace().empty(); ++turn) {
            QApplication::processEvents();
        }
        EXPECT_EQ(PlaySoundTrace(), std::vector<std::string>{"play"});
        const auto plays = sound_.CallsOf(SoundKind::PlaySound);
        ASSERT_EQ(plays.size(), 1u);
        EXPECT_EQ(plays[0].flags, std::uint32_t(SND_MEMORY | SND_ASYNC | SND_LOOP));
        EXPECT_EQ(plays[0].image, sound_.CurrentImage());
        EXPECT_TRUE(sound_.IsLooping());
        EXPECT_EQ(firstPaint.plays, shown ? std::optional<std::size_t>(0) : std::nullopt);
        form_->removeEventFilter(&firstPaint);
    }

    // Held no longer: a click's new tone reaches the output at once.
    const std::vector<std::uint8_t> first = sound_.CurrentImage();
    sound_.ClearCalls();
    form_->RadioButton8->SetChecked(true);
    ASSERT_FALSE(PlaySoundTrace().empty());
    EXPECT_EQ(PlaySoundTrace().back(), "play");
    EXPECT_TRUE(sound_.IsLooping());
    EXPECT_NE(sound_.CurrentImage(), first);
}

TEST_F(TestConsole, LevelBecomesGaugePositionVolumeAndPlotValue) {
    TForm1& f = Open();
    struct Case {
        int coarse, fine;
        float gauge;
        int volume, plot;
    };
    for (const Case& c : {Case{0, 7, 0.699999988f, 7, 8}, Case{1, 3, 1.29999995f, 13, 15},
                          Case{9, 9, 9.89999962f, 99, 118}, Case{0, 5, 0.5f, 5, 6},
                          Case{3, 4, 3.4f, 34, 40}, Case{2, 5, 2.5f, 25, 30}}) {
        Level(c.coarse, c.fine);
        EXPECT_EQ(f.AnalogGauge1->Position(), c.gauge) << c.coarse << "." << c.fine;
        EXPECT_EQ(SpeakerVolume(), c.volume) << c.coarse << "." << c.fine;
        ClickRound(f.HemisphereButton2);
        EXPECT_EQ(f.Thresholds[3], c.plot) << c.coarse << "." << c.fine;
        Level(0, 0);
    }
    // 0.7 reached from the other side: the coarse bar moved from 1 to 0 while fine is at 7.
    Level(1, 7);
    f.ExTrackBar1->SetPosition(0);
    EXPECT_EQ(f.AnalogGauge1->Position(), 0.699999988f);
    EXPECT_EQ(SpeakerVolume(), 7);
}

TEST_F(TestConsole, MuteHoldsWhileTheBarsMoveAndUnmutingRestoresTheLevel) {
    TForm1& f = Open();
    Level(3, 4);
    ClickRound(f.HemisphereButton1);
    EXPECT_TRUE(f.Muted);
    EXPECT_TRUE(SpeakerMuted());
    EXPECT_EQ(f.AnalogGauge1->Position(), 0.0f);
    EXPECT_EQ(f.HemisphereButton1->FaceColor(), RGB(255, 0, 0));

    f.ExTrackBar2->SetPosition(5);  // still muted, the gauge shows the new level
    EXPECT_EQ(f.AnalogGauge1->Position(), 3.5f);
    EXPECT_EQ(SpeakerVolume(), 35);
    EXPECT_TRUE(SpeakerMuted());

    const std::size_t sends = VolumeSends();
    ClickRound(f.HemisphereButton1);
    EXPECT_FALSE(f.Muted);
    EXPECT_FALSE(SpeakerMuted());
    EXPECT_EQ(f.AnalogGauge1->Position(), 3.5f);
    EXPECT_EQ(f.HemisphereButton1->FaceColor(), RGB(0, 128, 0));
    EXPECT_EQ(VolumeSends(), sends);  // the volume is not sent again

    // A frequency change while muted keeps the mute and brings the level to 0.
    ClickRound(f.HemisphereButton1);
    ClickRadio(f.RadioButton5);
    EXPECT_TRUE(SpeakerMuted());
    EXPECT_EQ(f.HemisphereButton1->FaceColor(), RGB(255, 0, 0));
    EXPECT_EQ(f.ExTrackBar1->Position() + f.ExTrackBar2->Position(), 0);
    EXPECT_EQ(SpeakerVolume(), 0);
    EXPECT_EQ(f.AnalogGauge1->Position(), 0.0f);
    EXPECT_EQ(f.ToneGen1->Frequency(), 250);
}

TEST_F(TestConsole, EarChangeGoesBackToOneKilohertzAtSilenceWithAnEmptyCurve) {
    TForm1& f = Open();
    ClickRadio(f.RadioButton8);
    EXPECT_EQ(f.ToneGen1->Frequency(), 2000);
    Level(4, 2);
    ClickRound(f.HemisphereButton2);
    EXPECT_EQ(f.Thresholds[4], 50);

    sound_.ClearCalls();
    ClickRadio(f.RadioButton1);  // "Links"
    EXPECT_TRUE(f.RadioButton1->Checked());
    EXPECT_FALSE(f.RadioButton3->Checked());
    EXPECT_TRUE(f.RadioButton7->Checked());
    EXPECT_FALSE(f.RadioButton8->Checked());
    EXPECT_EQ(f.ExTrackBar1->Position() + f.ExTrackBar2->Position(), 0);
    EXPECT_EQ(f.AnalogGauge1->Position(), 0.0f);
    EXPECT_EQ(SpeakerVolume(), 0);
    EXPECT_EQ(f.Thresholds, (std::array<int, 7>{}));
    // The nested 1000 Hz handler stopped and started the tone; the ear handler played it again
    // as one channel on the left only.
    // (a new image is rendered after a stop of its own).
    EXPECT_EQ(PlaySoundTrace(),
              (std::vector<std::string>{"stop", "stop", "stop", "play", "stop", "play"}));
    EXPECT_EQ(f.ToneGen1->Frequency(), 1000);
    EXPECT_EQ(PlayingChannels(), 1);
    EXPECT_EQ(WaveLeft(), 100);
    EXPECT_EQ(WaveRight(), 0);
    EXPECT_EQ(At(Plot(), 100, 2), kLeftEar);

    ClickRadio(f.RadioButton2);
    EXPECT_EQ(WaveLeft(), 0);
    EXPECT_EQ(WaveRight(), 100);
    EXPECT_EQ(At(Plot(), 100, 2), kRightEar);

    // Back to both at 1000 Hz with the bars at 0: no frequency or level handler runs.
    sound_.ClearCalls();
    const std::size_t sends = VolumeSends();
    ClickRadio(f.RadioButton3);
    EXPECT_EQ(PlaySoundTrace(), (std::vector<std::string>{"stop", "stop", "play"}));
    EXPECT_EQ(VolumeSends(), sends);
    EXPECT_EQ(PlayingChannels(), 2);
    EXPECT_EQ(sound_.DeviceVolume(), 0xFFFFFFFFu);
    EXPECT_EQ(At(Plot(), 100, 2), kBothEars);
}

TEST_F(TestConsole, ClickingTheSelectedButtonChangesNothing) {
    TForm1& f = Open();
    Level(2, 0);
    sound_.ClearCalls();
    for (TRadioButton* r : {f.RadioButton3, f.RadioButton7, f.RadioButton11}) {
        ClickRadio(r);
        EXPECT_TRUE(r->Checked());
    }
    EXPECT_TRUE(sound_.Calls().empty());
    EXPECT_EQ(f.ExTrackBar1->Position(), 2);
    EXPECT_EQ(SpeakerVolume(), 20);
}

TEST_F(TestConsole, WaveformChangeSilencesInItsOwnOrderAndKeepsTheCurve) {
    TForm1& f = Open();
    ClickRadio(f.RadioButton6);
    Level(2, 5);
    ClickRound(f.HemisphereButton2);
    // Note how many PlaySound calls had been made when the coarse bar's handler ran.
    std::vector<std::size_t> callsAtLevelChange;
    const TNotifyEvent coarse = f.ExTrackBar1->OnChange;
    f.ExTrackBar1->OnChange = [&](TComponent* sender) {
        callsAtLevelChange.push_back(sound_.CallsOf(SoundKind::PlaySound).size());
        coarse(sender);
    };

    sound_.ClearCalls();
    ClickRadio(f.RadioButton12);  // triangle: the bars go to 0 before the tone stops
    EXPECT_EQ(callsAtLevelChange, std::vector<std::size_t>{0});
    EXPECT_EQ(f.ToneGen1->Waveform(), tgTriangle);
    EXPECT_EQ(f.Label5->Font().Color(), RGB(255, 0, 0));
    EXPECT_EQ(f.Label4->Font().Color(), RGB(0, 0, 0));

    Level(2, 0);
    callsAtLevelChange.clear();
    sound_.ClearCalls();
    ClickRadio(f.RadioButton11);  // sine: the tone stops first
    EXPECT_EQ(callsAtLevelChange, std::vector<std::size_t>{1});
    EXPECT_EQ(f.ToneGen1->Waveform(), tgSine);
    EXPECT_TRUE(sound_.IsLooping());
    EXPECT_EQ(f.Thresholds[2], 30);
    ClickRadio(f.RadioButton13);
    EXPECT_EQ(f.ToneGen1->Waveform(), tgSquare);
    EXPECT_EQ(f.Label6->Font().Color(), RGB(255, 0, 0));
    EXPECT_EQ(f.Thresholds[2], 30);
}

TEST_F(TestConsole, LowTestTonesLoopWithoutASeam) {
    TForm1& f = Open();
    for (TRadioButton* r : {f.RadioButton4, f.RadioButton5}) {
        ClickRadio(r);
        // The looping image, read on past its end into its start again: one clean sine.
        const auto& image = sound_.CurrentImage();
        const std::uint32_t dataSize =
            image[40] | image[41] << 8 | image[42] << 16 | image[43] << 24;
        std::vector<double> left;
        for (int pass = 0; pass < 2; ++pass) {
            for (std::uint32_t i = 0; i < dataSize; i += 4) {
                left.push_back(std::int16_t(image[44 + i] | image[45 + i] << 8));
            }
        }
        const double hz = f.ToneGen1->Frequency();
        EXPECT_LT(test::LargestSineResidual(left, hz, 96000.0), 4.0) << hz << " Hz";
    }
}

TEST_F(TestConsole, ThresholdsFollowTheGaugeAndDrawTheCurve) {
    TForm1& f = Open();
    QImage plot = Plot();
    // Flat curve along the top, grid and background.
    EXPECT_EQ(At(plot, 100, 2), kBothEars);
    EXPECT_EQ(At(plot, 20, 20), kPlotBackground);
    EXPECT_EQ(At(plot, 43, 20), kPlotGrid);
    EXPECT_EQ(At(plot, 20, 14), kPlotGrid);

    ClickRadio(f.RadioButton6);  // 500 Hz at 2.5
    Level(2, 5);
    ClickRound(f.HemisphereButton2);
    EXPECT_EQ(f.Thresholds, (std::array<int, 7>{0, 0, 30, 0, 0, 0, 0}));
    plot = Plot();
    for (int y = 30; y < 34; ++y) {  // the marker, rows 30 to 34
        EXPECT_EQ(At(plot, 130, y), kBothEars) << y;
    }
    EXPECT_EQ(At(plot, 130, 36), kPlotBackground);
    EXPECT_NE(At(plot, 130, 2), kBothEars);  // no longer at the top

    Level(1, 0);  // taken again: only the second value stays
    ClickRound(f.HemisphereButton2);
    EXPECT_EQ(f.Thresholds[2], 12);

    ClickRound(f.HemisphereButton1);  // muted: nothing is heard, so 0 is taken
    ClickRound(f.HemisphereButton2);
    EXPECT_EQ(f.Thresholds[2], 0);
    Level(5, 0);  // the bars still move the gauge while muted, but nothing is heard
    EXPECT_EQ(f.AnalogGauge1->Position(), 5.0f);
    ClickRound(f.HemisphereButton2);
    EXPECT_EQ(f.Thresholds[2], 0);
    ClickRound(f.HemisphereButton1);

    ClickRadio(f.RadioButton10);
    Level(9, 9);
    ClickRound(f.HemisphereButton2);
    EXPECT_EQ(f.Thresholds[6], 118);
    plot = Plot();
    EXPECT_EQ(At(plot, 300, 119), kBothEars);  // the top of the marker
    EXPECT_NE(At(plot, 300, 121), kBothEars);  // covered by its label
    // The segment dropping to it from the 4000 Hz marker, (260, 2) to (300, 120), at x = 280.
    int sum = 0, count = 0;
    for (int y = 0; y < 120; ++y) {
        if (At(plot, 280, y) == kBothEars) {
            sum += y;
            ++count;
        }
    }
    ASSERT_GT(count, 0);
    EXPECT_NEAR(double(sum) / count, 61, 1.5);

    ClickRadio(f.RadioButton1);  // a new ear starts a new curve
    EXPECT_EQ(f.Thresholds, (std::array<int, 7>{}));
}

TEST_F(TestConsole, ResetReturnsToTheStartUpState) {
    TForm1& f = Open();
    ClickRadio(f.RadioButton2);
    ClickRadio(f.RadioButton9);
    ClickRadio(f.RadioButton13);
    Level(5, 5);
    ClickRound(f.HemisphereButton2);
    ClickRound(f.HemisphereButton1);
    f.Edit2->SetText(QStringLiteral("Erika"));

    ClickButton(f.janColorButton5);
    EXPECT_TRUE(f.RadioButton3->Checked() && f.RadioButton7->Checked() &&
                f.RadioButton11->Checked());
    EXPECT_FALSE(f.Muted);
    EXPECT_FALSE(SpeakerMuted());
    EXPECT_EQ(f.HemisphereButton1->FaceColor(), RGB(0, 128, 0));
    EXPECT_EQ(f.AnalogGauge1->Position(), 0.0f);
    EXPECT_EQ(SpeakerVolume(), 0);
    EXPECT_EQ(f.Thresholds, (std::array<int, 7>{}));
    EXPECT_EQ(f.ToneGen1->Frequency(), 1000);
    EXPECT_EQ(PlayingChannels(), 2);
    EXPECT_EQ(sound_.DeviceVolume(), 0xFFFFFFFFu);
    EXPECT_TRUE(sound_.IsLooping());
    EXPECT_EQ(f.Edit2->Text(), QStringLiteral("Erika"));  // the record is not touched

    // Muted at a high level: no step of the reset lets the speakers sound at any level.
    Level(9, 9);
    ClickRound(f.HemisphereButton1);
    ASSERT_TRUE(f.Muted);
    mixer_.ClearCalls();
    ClickButton(f.janColorButton5);
    bool muted = SpeakerMuted();
    std::uint32_t volume = mixer_.Values(0, speakerVolume_).at(0);
    for (const auto& call : mixer_.CallsOf(SimulatedMixerDevice::CallKind::SetControlDetails)) {
        if (call.details.dwControlID == speakerMute_) {
            muted = call.values.at(0) != 0;
        } else if (call.details.dwControlID == speakerVolume_) {
            volume = std::max(call.values.at(0), call.values.at(1));
        }
        EXPECT_TRUE(muted || volume == 0) << "the speakers sounded at " << volume;
    }
    EXPECT_FALSE(SpeakerMuted());
    EXPECT_EQ(SpeakerVolume(), 0);

    // Already at the defaults: still stops and restarts the tone, no radio handler runs.
    sound_.ClearCalls();
    ClickButton(f.janColorButton5);
    EXPECT_EQ(PlaySoundTrace(), (std::vector<std::string>{"stop", "stop", "stop", "stop", "play"}));
}

TEST_F(TestConsole, ClearingTheRecordAsksFirstAndFocusesThePatientId) {
    TForm1& f = Open();
    // The remarks hold one line break, so the first press asks.
    ClickButton(f.janColorButton7);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text,
              QStringLiteral("Sie wollen alle Eingabefelder löschen.\nEventuelle Eingaben gehen "
                             "verloren.\nWollen Sie das tun?"));
    EXPECT_EQ(boxes_[0].caption, QStringLiteral("   Achtung!"));
    EXPECT_EQ(boxes_[0].flags, unsigned(MB_YESNO));
    EXPECT_TRUE(f.Memo1->Text().isEmpty());
    EXPECT_EQ(f.focusWidget(), f.Edit1->Editor());
    ClickButton(f.janColorButton7);
    EXPECT_EQ(boxes_.size(), 1u);  // all empty: nothing at all

    f.NumEdit2->SetText(QStringLiteral("0301234567"));
    answers_ = {IDNO};
    ClickButton(f.janColorButton7);
    EXPECT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(f.NumEdit2->Text(), QStringLiteral("0301234567"));
}

TEST_F(TestConsole, NewPatientResetsTheTestWhateverTheAnswer) {
    TForm1& f = Open();
    f.Edit3->SetText(QStringLiteral("Mustermann"));
    ClickRadio(f.RadioButton1);
    ClickRadio(f.RadioButton12);
    Level(3, 0);
    answers_ = {IDNO};
    ClickButton(f.janColorButton3);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text,
              QStringLiteral("Sie wollen alle Patientendaten löschen.\nSind Sie sicher?"));
    EXPECT_EQ(f.Edit3->Text(), QStringLiteral("Mustermann"));
    EXPECT_TRUE(f.RadioButton3->Checked() && f.RadioButton7->Checked() &&
                f.RadioButton11->Checked());
    EXPECT_EQ(SpeakerVolume(), 0);

    ClickButton(f.janColorButton3);  // Yes
    EXPECT_TRUE(f.Edit3->Text().isEmpty());
    EXPECT_TRUE(f.Memo1->Text().isEmpty());
    ClickButton(f.janColorButton3);  // nothing filled: no box, straight to the reset
    EXPECT_EQ(boxes_.size(), 2u);
}

TEST_F(TestConsole, CurvePicturesAreSavedPrivatelyAndDeletedWithTheSession) {
    TForm1& f = Open();
    ClickRadio(f.RadioButton1);
    ClickRadio(f.RadioButton6);
    Level(2, 5);
    ClickRound(f.HemisphereButton2);
    ClickButton(f.janColorButton1);

    const QString left = f.PicturePaths[1];
    EXPECT_EQ(left, QDir(runtime_.path()).filePath(QStringLiteral("velmora/links_tmp.bmp")));
    EXPECT_EQ(QFile(QFileInfo(left).path()).permissions() & 0x0077, 0);
    TBitmap saved;
    ASSERT_TRUE(saved.LoadFromFile(left));
    EXPECT_EQ(saved.Image().size(), QSize(340, 140));
    EXPECT_EQ(FromQRgb(saved.Image().pixel(128, 32)), kLeftEar);
    EXPECT_TRUE(f.PicturePaths[0].isEmpty() && f.PicturePaths[2].isEmpty());

    // A copy where the operator chooses, as PNG.
    const QString copy = QDir(runtime_.path()).filePath(QStringLiteral("kopie"));
    TSaveDialog::SetPresenter([&](TSaveDialog& dialog) {
        dialog.SetFileName(copy);
        dialog.SetFilterIndex(1);
        return true;
    });
    ClickRadio(f.RadioButton2);
    ClickButton(f.janColorButton1);
    EXPECT_TRUE(QFile::exists(f.PicturePaths[2]));
    QImage png(copy + QStringLiteral(".png"));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(FromQRgb(png.pixel(100, 2)), kRightEar);

    answers_ = {IDNO};
    ClickButton(f.janColorButton3);  // "Neuer Patient" deletes both pictures
    EXPECT_FALSE(QFile::exists(left));
    EXPECT_FALSE(QFile::exists(f.PicturePaths[2]));

    ClickButton(f.janColorButton1);  // the copy's name is taken now: asked, and replaced
    const QString both = f.PicturePaths[0];
    EXPECT_TRUE(QFile::exists(both));
    f.close();  // and so does closing the window
    EXPECT_FALSE(QFile::exists(both));
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_TRUE(boxes_[1].text.startsWith(QStringLiteral("kopie.png ist bereits vorhanden.")));
}

TEST_F(TestConsole, ACopyOfTheCurveAsksBeforeReplacingAndTakesTheTypedFormat) {
    TForm1& f = Open();
    const QDir dir(runtime_.path());
    QString name;
    int filter = 1;
    TSaveDialog::SetPresenter([&](TSaveDialog& dialog) {
        dialog.SetFileName(dir.filePath(name));
        dialog.SetFilterIndex(filter);
        return true;
    });
    auto head = [&](const QString& file) {
        QFile read(dir.filePath(file));
        return read.open(QIODevice::ReadOnly) ? read.read(4) : QByteArray();
    };
    {
        QFile old(dir.filePath(QStringLiteral("Kopie.png")));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old!");
    }
    // "Kopie" as PNG beside an existing "Kopie.png": asked about the name the file will have.
    name = QStringLiteral("Kopie");
    answers_ = {IDNO};
    ClickButton(f.janColorButton1);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(boxes_[0].text.startsWith(QStringLiteral("Kopie.png ist bereits vorhanden.")));
    EXPECT_EQ(boxes_[0].flags, unsigned(MB_YESNO));
    EXPECT_EQ(head(QStringLiteral("Kopie.png")), QByteArray("old!"));
    answers_ = {IDYES};
    ClickButton(f.janColorButton1);
    EXPECT_EQ(head(QStringLiteral("Kopie.png")), QByteArray("\x89PNG"));
    // The extension typed decides the format, whatever type was chosen; none takes the type's.
    const struct {
        const char* typed;
        int filter;
        const char* file;
        const char* magic;
    } cases[] = {
        {"a.png", 2, "a.png", "\x89PNG"}, {"b.BMP", 1, "b.BMP", "BM"}, {"c", 2, "c.bmp", "BM"}};
    for (const auto& c : cases) {
        name = QString::fromLatin1(c.typed);
        filter = c.filter;
        ClickButton(f.janColorButton1);
        EXPECT_TRUE(head(QString::fromLatin1(c.file)).startsWith(c.magic)) << c.typed;
    }
    EXPECT_EQ(boxes_.size(), 2u);
}

TEST_F(TestConsole, CurvePictureRefusesADirectoryPlantedByAnotherHand) {
    TForm1& f = Open();
    QTemporaryDir elsewhere;
    ASSERT_TRUE(
        QFile::link(elsewhere.path(), QDir(runtime_.path()).filePath(QStringLiteral("velmora"))));
    ClickButton(f.janColorButton1);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(
        boxes_[0].text.startsWith(QStringLiteral("Die Hörkurve konnte nicht gespeichert werden.")));
    EXPECT_TRUE(f.PicturePaths[0].isEmpty());
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

TEST_F(TestConsole, LinksOpenThroughTheDesktopAndBeendenCloses) {
    TForm1& f = Open();
    ClickButton(f.janColorButton6);
    ClickButton(f.janColorButton8);
    ASSERT_EQ(opened_.size(), 2u);
    EXPECT_EQ(opened_[0].operation, QStringLiteral("open"));
    EXPECT_EQ(
        opened_[0].file,
        QStringLiteral("mailto:velmora@example.org?subject=Betrifft: Rückmeldung Velmora&body="));
    EXPECT_EQ(opened_[0].showCommand, SW_SHOWNORMAL);
    EXPECT_EQ(opened_[1].file, TForm1::kHomePage);
    ClickButton(f.janColorButton4);
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(TestConsole, MissingSoundOutputIsReportedOnce) {
    sound_.SetAvailable(false);
    TForm1& f = Open();
    QApplication::processEvents();
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0].text,
              QStringLiteral("Es wurde keine Tonausgabe gefunden.\nDer Testton kann "
                             "nicht wiedergegeben werden."));
    EXPECT_EQ(notices_[0].caption, QStringLiteral("   Achtung!"));
    f.hide();
    f.show();
    QApplication::processEvents();
    f.WarnWithoutSoundOutput();
    EXPECT_EQ(notices_.size(), 1u);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(f.RadioButton7->Checked());  // and the window goes on as usual
}

// However often the sound goes and comes back, and whatever another program does to the levels,
// the operator sees at most one warning of each kind, and none once the sound plays again.
TEST_F(TestConsole, WarningsStandOneAtATimeAndTheSoundWarningGoesWhenTheSoundComesBack) {
    TForm1& f = Open();
    sound_.LoseSound();
    QApplication::processEvents();
    ClickRadio(f.RadioButton8);  // the next stimulus, lost again while the warning stands
    sound_.LoseSound();
    QApplication::processEvents();
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_TRUE(notices_[0].text.startsWith(QStringLiteral("Es wurde keine Tonausgabe gefunden.")));
    EXPECT_EQ(open_, (std::set<std::size_t>{0}));

    sound_.BringSoundBack();
    EXPECT_TRUE(open_.empty()) << "the warning stays after the sound is back";
    sound_.LoseSound();
    QApplication::processEvents();
    EXPECT_EQ(open_, (std::set<std::size_t>{1}));  // a new loss, a new warning
    byUser_[1]();                                  // the operator closes it
    sound_.BringSoundBack();
    EXPECT_TRUE(open_.empty());

    mixer_.TellLevelRestored();
    mixer_.TellLevelRestored();
    ASSERT_EQ(notices_.size(), 3u);
    EXPECT_EQ(notices_[2].text, QStringLiteral("Die Lautstärke wurde von einem anderen Programm "
                                               "verändert.\nDer eingestellte Pegel wurde "
                                               "wiederhergestellt."));
    EXPECT_EQ(notices_[2].caption, QStringLiteral("   Achtung!"));
    byUser_[2]();
    mixer_.TellLevelRestored();
    EXPECT_EQ(notices_.size(), 4u);

    // A level the output does not take: told once, and closed when it holds again.
    mixer_.TellLevelHeld(false);
    mixer_.TellLevelHeld(false);
    ASSERT_EQ(notices_.size(), 5u);
    EXPECT_EQ(notices_[4].text, QStringLiteral("Der eingestellte Pegel konnte nicht eingestellt "
                                               "werden.\nDer Ton bleibt stumm, bis die "
                                               "Tonausgabe ihn wieder annimmt."));
    EXPECT_TRUE(open_.count(4));
    mixer_.TellLevelHeld(true);
    EXPECT_FALSE(open_.count(4));
    EXPECT_TRUE(boxes_.empty());
}

// A warning never holds the window: while one stands, the operator can still mute (a click that
// reaches the window through the window system, as a user's does).
TEST_F(TestConsole, WhileANoticeStandsStummStillMutes) {
    TForm1& f = Open();
    SetNoticePresenter({});  // the real boxes
    mixer_.TellLevelRestored();
    QApplication::processEvents();
    ASSERT_TRUE(f.LevelRestoredNotice().IsShown());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    const int c = f.HemisphereButton1->Width() / 2;
    QTest::mouseClick(f.HemisphereButton1, Qt::LeftButton, {}, QPoint(c, c));
    EXPECT_TRUE(f.Muted) << "the click did not reach the window";
    EXPECT_TRUE(SpeakerMuted());
    f.LevelRestoredNotice().Close();
}

TEST_F(TestConsole, RestoringTheWindowFocusesThePatientIdAndTabFollowsTheRecord) {
    TForm1& f = Open();
    f.Edit5->SetFocus();
    // Repaints of children (the credits scroll every 70 ms) leave the focus alone.
    for (int i = 0; i < 5; ++i) {
        f.ScrollingCredits1->DispatchTimer();
        f.PaintBox1->Repaint();
    }
    QApplication::processEvents();
    EXPECT_EQ(f.focusWidget(), f.Edit5->Editor());
    f.showMinimized();
    QApplication::processEvents();
    f.showNormal();
    QApplication::processEvents();
    EXPECT_EQ(f.focusWidget(), f.Edit1->Editor());

    const std::vector<QWidget*> order = {f.Edit1->Editor(),    f.Edit2->Editor(), f.Edit3->Editor(),
                                         f.NumEdit1->Editor(), f.Edit4->Editor(), f.Edit5->Editor(),
                                         f.NumEdit2->Editor(), f.Edit6->Editor(), f.Edit7->Editor(),
                                         f.Memo1->Editor()};
    QWidget* w = order.front();
    for (std::size_t i = 1; i < order.size(); ++i) {
        do {
            w = w->nextInFocusChain();
        } while (w->focusPolicy() == Qt::NoFocus || !w->isVisible());
        EXPECT_EQ(w, order[i]) << "after field " << i;
    }
}

TEST_F(TestConsole, AnErrorInAHandlerIsShownAndTheWindowGoesOn) {
    TForm1& f = Open();
    SetMessageBoxPresenter([this](const MessageBoxRequest& request) -> int {
        boxes_.push_back(request);
        if (boxes_.size() == 1) {
            throw std::runtime_error("Zugriffsverletzung");
        }
        return IDOK;
    });
    ClickButton(f.janColorButton7);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, QStringLiteral("Zugriffsverletzung"));
    EXPECT_EQ(boxes_[1].flags, unsigned(MB_OK | MB_ICONERROR));
    ClickRadio(f.RadioButton8);
    EXPECT_EQ(f.ToneGen1->Frequency(), 2000);
}

// The word processor servers are modules loaded by the first report. Each case needs a process of
// its own (CTest runs every test alone), as a loaded module stays loaded.
class ConsoleServerModules : public TestConsole {
protected:
    void SetUp() override {
        TestConsole::SetUp();
        if (reportMade_) {
            GTEST_SKIP() << "a report was made earlier in this process";
        }
        ASSERT_TRUE(home_.isValid());
        savedHome_ = qgetenv("HOME");
        qputenv("HOME", home_.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home_.filePath(QStringLiteral("config")).toLocal8Bit());
        builtModules_ = ServerModuleFolder();
        SetServerModuleFolder(home_.filePath(QStringLiteral("modules")));
        QDir().mkpath(ServerModuleFolder());
    }
    void TearDown() override {
        SetServerModuleFolder(QString());
        qputenv("HOME", savedHome_);
        qunsetenv("XDG_CONFIG_HOME");
        TestConsole::TearDown();
    }

    // The modules of this run: copies of those the build made.
    void Install(const char* module) {
        const QString built = QDir(builtModules_).filePath(QLatin1String(module));
        ASSERT_TRUE(QFile::copy(built, QDir(ServerModuleFolder()).filePath(QLatin1String(module))))
            << built.toStdString();
    }

    // A whole test of one frequency, then "Bericht erstellen".
    void TestAndReport() {
        TForm1& f = Open();
        EXPECT_EQ(Mapped(), QStringList()) << "a word processor's library came with the window";
        ClickRadio(f.RadioButton6);  // 500 Hz at 2.5
        Level(2, 5);
        ClickRound(f.HemisphereButton2);
        EXPECT_EQ(f.Thresholds[2], 30);
        EXPECT_EQ(SpeakerVolume(), 25);
        EXPECT_EQ(Mapped(), QStringList());
        reportMade_ = true;
        ClickButton(f.janColorButton2);
        ASSERT_TRUE(test::ReportEnded(f));
    }

    // The servers' libraries mapped into this process: the modules, libzip, UNO's runtime.
    static QStringList Mapped() {
        QFile maps(QStringLiteral("/proc/self/maps"));
        EXPECT_TRUE(maps.open(QIODevice::ReadOnly));
        QStringList found;
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const QString file =
                QFileInfo(QString::fromLocal8Bit(line.mid(line.indexOf('/')))).fileName();
            for (const char* library : {"velmora-", "libzip", "libuno_", "libcrypto"}) {
                if (line.contains('/') && file.startsWith(QLatin1String(library)) &&
                    !found.contains(file)) {
                    found << file;
                }
            }
        }
        found.sort();
        return found;
    }

    QStringList Reports() const {
        return QDir(home_.filePath(QStringLiteral("Documents/Velmora")))
            .entryList({QStringLiteral("*.docx")}, QDir::Files);
    }

    QTemporaryDir home_;
    QString builtModules_;

private:
    inline static bool reportMade_ = false;
    QByteArray savedHome_;
};

TEST_F(ConsoleServerModules, WithoutAnyTheTestRunsAndTheReportSaysThereIsNoWordProcessor) {
    TestAndReport();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(boxes_[0].text.startsWith(QStringLiteral("Das Programm 'MS Word' ist nicht")));
    EXPECT_TRUE(Reports().isEmpty());
    EXPECT_EQ(Mapped(), QStringList());
}

TEST_F(ConsoleServerModules, TheBuiltInWriterAloneTakesTheReportAndBringsOnlyLibzip) {
    Install("velmora-docx.so");
    TestAndReport();
    EXPECT_TRUE(boxes_.empty());
    ASSERT_EQ(Reports().size(), 1);
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(QUrl(opened_[0].file).fileName(), Reports()[0]);
    const QStringList mapped = Mapped();
    EXPECT_TRUE(mapped.contains(QStringLiteral("velmora-docx.so")))
        << mapped.join(u' ').toStdString();
    EXPECT_TRUE(std::any_of(mapped.begin(), mapped.end(), [](const QString& f) {
        return f.startsWith(QLatin1String("libzip"));
    }));
    EXPECT_FALSE(std::any_of(mapped.begin(), mapped.end(), [](const QString& f) {
        return f.startsWith(QLatin1String("libuno_"));
    }));
}

TEST_F(ConsoleServerModules, TheLibreOfficeModuleFindsUnoInLibreOfficesOwnFolder) {
    if (!QFileInfo::exists(
            QDir(builtModules_).filePath(QStringLiteral("velmora-libreoffice.so")))) {
        GTEST_SKIP() << "built without LibreOffice's SDK";
    }
    Install("velmora-libreoffice.so");
    // Without a display no LibreOffice is started: the module loads, its server fails, and
    // there is no other.
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    TestAndReport();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(boxes_[0].text.startsWith(QStringLiteral("Das Programm 'MS Word' ist nicht")));
    const QStringList mapped = Mapped();
    for (const char* library : {"velmora-libreoffice.so", "libuno_cppu.so.3", "libuno_sal.so.3"}) {
        EXPECT_TRUE(mapped.contains(QLatin1String(library))) << mapped.join(u' ').toStdString();
    }
}

}  // namespace
}  // namespace velmora
