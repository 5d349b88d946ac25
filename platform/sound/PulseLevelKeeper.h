#pragma once

// The level the patient hears, kept where the sound is. A backend unit of PulseSoundOutput and
// PulseMixerDevice; nothing else includes it.

#include "platform/mixer/PulseMixerModel.h"
#include "platform/pulse/PulseContext.h"
#include "platform/pulse/PulseOperations.h"
#include "platform/sound/PulsePlayback.h"

#include <QObject>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;

namespace velmora {

// Owns everything that decides how loud the program's sound is at the patient's ears, on a
// PulseAudio server (or PipeWire's PulseAudio server):
// - the speaker level: the volume and mute the program holds for whatever output is the default
//   (silence until it sets another);
// - the playback level: the program's own per-channel level and mute, which choose the ear. They
//   are applied to the samples (the other ear gets digital silence), so the stream itself is held
//   at unity and unmuted: a volume a session manager restores for it, or another program sets,
//   can only be told apart and put back;
// - the stream and the gain its frames are played with.
//
// The promise: the sound is heard only from an output whose volume and mute hold the speaker
// level and from a stream that holds unity, both read back from the server. A sound starts
// corked and is uncorked only once both hold. A change of the program's levels fades the sound
// out, waits until the server has played the fade, sets the levels, reads them back and fades in
// only if they hold. Whatever the server reports meanwhile (a volume or mute of the output or of
// the stream, a new default, a port or profile of a card, a moved stream) is looked at on the
// server's own thread: unless the output and the stream hold the level, the sound goes silent at
// once, the level is put back and read back, and only then does the sound fade in again. Nothing
// of this waits for the owner's thread, which a report or a dialog may hold; the owner is told
// afterwards, for its notices.
//
// Levels set while no server answers are held and are what a returning server gets before the
// sound plays again. A set the server refuses, or takes with another value, leaves the sound
// silent until the level holds; it is tried again twice a second.
//
// Lifecycle: `pulse` outlives the keeper. Made and called on one thread (the owner's, which runs
// a Qt event loop for the lost sound's retries and for the handlers); no call waits longer than
// the server's timeouts.
class PulseLevelKeeper {
public:
    explicit PulseLevelKeeper(PulseContext& pulse);
    ~PulseLevelKeeper();

    PulseLevelKeeper(const PulseLevelKeeper&) = delete;
    PulseLevelKeeper& operator=(const PulseLevelKeeper&) = delete;

    // Length of the fades, and of the silencing when a level no longer holds.
    static constexpr std::chrono::milliseconds kFadeIn{20};
    static constexpr std::chrono::milliseconds kFadeOut{12};
    static constexpr std::chrono::milliseconds kSilenceAtOnce{4};
    // Twice a second: "at once" for an operator, and cheap while no server answers.
    static constexpr std::chrono::milliseconds kRetryInterval{500};
    // Sets in a row that did not make the level hold before the operator is told.
    static constexpr int kSetAttempts = 3;
    // How long a set the server has answered may take to show (PipeWire answers a set before
    // its graph has taken it, and tells of the change a moment later).
    static constexpr std::chrono::milliseconds kSettle{200};

    // --- The speaker level (0..65535 for left and right, and mute). ---
    // From now on the outputs' volume and mute are the program's to keep: silence until it sets
    // another level. Until then (a tool that only plays sounds) they are left as they are.
    void HoldSpeakers();
    // Holds the level at once and puts it on the output the sound plays on (or the default
    // output), unheard. True when the output holds it, or when no server answers (it then gets
    // it when it comes back); false when the server did not take it (the sound stays silent
    // until it does).
    bool SetSpeakers(std::vector<std::uint32_t> values, bool mute);
    std::vector<std::uint32_t> SpeakerValues();
    bool SpeakerMute();

    // --- The playback level: low word left, high word right, 0..65535 each; and mute. ---
    void SetPlaybackVolume(std::uint32_t volume);
    void SetPlaybackMute(bool mute);
    std::uint32_t PlaybackVolume();
    bool PlaybackMute();

    // --- Sounds. ---
    // Replaces the current sound. A looping sound is kept: after a loss it is played again at
    // once where it can, else twice a second. Without `async`, returns when it has been played.
    // False when it could not be started now.
    bool Play(PulseSound sound, bool async);
    void Stop();
    // Plays the kept looping sound again from its start on the output that is the default now.
    bool Replay();
    bool IsPlaying();
    std::string PlayingSink();
    std::uint64_t Underflows();
    bool IsAvailable();

    // --- What the owner is told, on its thread. ---
    // The kept sound was lost and could not be played again at once; and it plays again.
    void SetLostHandler(std::function<void()> handler) { lost_ = std::move(handler); }
    void SetBackHandler(std::function<void()> handler) { back_ = std::move(handler); }
    // Another program changed the level the output held, and it was put back.
    void SetRestoredHandler(std::function<void()> handler) { restored_ = std::move(handler); }
    // The level could not be put on the output (false; the sound is silent), and it holds again
    // (true). Told once per such spell.
    void SetHeldHandler(std::function<void(bool)> handler) { held_ = std::move(handler); }

private:
    using Snapshot = pulsemixer::Snapshot;
    using Set = std::function<pa_operation*(pa_context*, PulseContext::SuccessCallback, void*)>;
    struct Check;
    struct Fix;
    struct Callbacks;  // the library's callbacks

    // --- The owner's thread, with the loop locked. ---
    bool StartLocked(std::unique_lock<PulseLoopLock>& lock, const PulseSound& sound, bool async);
    void StopLocked(std::unique_lock<PulseLoopLock>& lock, bool fade);
    bool FadeOutLocked(std::unique_lock<PulseLoopLock>& lock, bool audible);
    // The default output (or, while the server names none, the first), read now.
    std::optional<Snapshot::Sink> ReadSinkLocked(std::unique_lock<PulseLoopLock>& lock,
                                                 std::optional<std::uint32_t> index);
    std::optional<Snapshot::Stream> ReadStreamLocked(std::unique_lock<PulseLoopLock>& lock);
    // Puts the speaker level on `sink` (and, where the stream plays there, unity on the stream)
    // and reads it back; true when it holds.
    bool PutLevelsLocked(std::unique_lock<PulseLoopLock>& lock, const Snapshot::Sink& sink);
    // The default output with the speaker level put on it; nothing when it did not take it.
    std::optional<Snapshot::Sink> PutLevelsOnDefaultLocked(std::unique_lock<PulseLoopLock>& lock);
    // Runs `change` while the sound is faded out, and fades it in again only if the levels hold
    // afterwards.
    bool ChangeUnheardLocked(std::unique_lock<PulseLoopLock>& lock, bool audible,
                             const std::function<bool()>& change);
    // The playback's channel gains changed from `before`: faded over where a sound plays.
    void ChangeChannelsLocked(std::unique_lock<PulseLoopLock>& lock,
                              const std::array<double, 2>& before);
    bool SpeakersAudible() const;
    std::array<double, 2> ChannelGains() const;

    // --- Both. ---
    bool SinkHolds(const Snapshot::Sink& sink) const;
    bool StreamHolds(const Snapshot::Stream& stream, const Snapshot::Sink& sink) const;
    // What the stream's volume must be on `sink`: unity, or where the server keeps flat volumes
    // (a stream's volume is then its volume at the output) the speaker level.
    pa_cvolume StreamVolumeOn(const Snapshot::Sink& sink) const;
    // The sets that make `sink` and the stream (when `stream` is given) hold the level, in their
    // order: muting first and unmuting last, so nothing is heard at a level not yet in place.
    std::vector<Set> SetsFor(const Snapshot::Sink& sink,
                             const std::optional<Snapshot::Stream>& stream) const;
    void NoteHeld(const std::string& sink);
    void NoteFailed();
    void NoteHolds();
    void Post(std::function<void()> call);

    // --- The loop thread: the server reports a change. ---
    void OnServerChange(std::uint32_t event, std::uint32_t index);
    void ScheduleCheck();
    void StartCheck();
    void Evaluate(Check& check);
    void CheckAnswered(Check* check);
    void StartFix(const Snapshot::Sink& sink, const std::optional<Snapshot::Stream>& stream);
    void FixAnswered(Fix* fix);
    void Silence();
    void FadeIn();
    void PostReplay();
    void OnWatchdog();

    // --- The owner's thread: the kept sound. ---
    void SoundLost();
    void TryResume();
    bool KeptSoundPlays();
    void SinkGone(const PulsePlayback* playback);

    PulseContext& pulse_;
    std::unique_ptr<QObject> receiver_;  // lives on the owner's thread
    std::unique_ptr<QTimer> resume_;     // lives on the owner's thread

    // Everything below is read and written with the loop locked.
    bool speakersHeld_ = false;
    std::vector<std::uint32_t> speakerValues_{0, 0};
    bool speakerMute_ = false;
    std::uint32_t playbackVolume_ = 0xFFFFFFFFu;
    bool playbackMute_ = false;

    std::unique_ptr<PulsePlayback> playback_;
    std::unique_ptr<PulseSound> kept_;  // the looping sound to play again
    std::uint64_t underflows_ = 0;

    // What was last read back: the output that held the level, on which connection, and whether
    // the playing stream and its output hold it now.
    std::string heldSink_;
    std::uint64_t heldGeneration_ = 0;
    bool confirmed_ = false;
    // The owner's thread is changing levels or starting a sound (the loop thread then only
    // notes that it must look again afterwards).
    bool changing_ = false;
    bool recheck_ = false;
    int attempts_ = 0;
    bool retryDue_ = false;
    bool settling_ = false;           // sets were answered; what the server holds may still follow
    std::uint64_t serverEvents_ = 0;  // changes the server reported, counted
    bool failedTold_ = false;
    bool restoredPending_ = false;
    bool replayPosted_ = false;
    bool lossReported_ = false;
    std::shared_ptr<Check> check_;
    std::shared_ptr<Fix> fix_;
    PulseOperations operations_;  // the loop thread's requests
    std::unique_ptr<PulseContext::Timer> watchdog_;
    std::unique_ptr<PulseContext::Timer> retry_;
    std::unique_ptr<PulseContext::Timer> settle_;
    int changeHandler_ = 0;
    int readyHandler_ = 0;

    std::function<void()> lost_;
    std::function<void()> back_;
    std::function<void()> restored_;
    std::function<void(bool)> held_;
};

}  // namespace velmora
