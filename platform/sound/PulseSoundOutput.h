#pragma once

#include "platform/sound/SoundOutput.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QTimer;

namespace velmora {

class PulseContext;
class PulseLoopLock;
class PulsePlayback;
struct PulseSound;

// The sound output on a PulseAudio server (or PipeWire's PulseAudio server): one playback stream.
//
// Lifecycle: takes the connection by reference; `pulse` outlives this object. Destruction stops
// the sound.
//
// PlaySound copies the sound's frames into the backend, so the caller's image is not read after
// the call returns (also not while the sound plays). The stream always has two channels: a mono
// image sounds on both, and the wave-out volume (left, right) is the stream's per-channel volume.
//
// The volume and mute of the playback are held here and are what the stream carries, whatever the
// server or a session manager would put there: a new stream starts corked, gets them set and read
// back, and only then plays; when the server reports them changed on a playing stream (a stored
// volume put back, another program), they are set again at once. GetVolume reads what is held.
//
// The speakers: with a speaker handler (the mixer's), every sound plays on the output the handler
// names, after the handler has put the program's speaker levels on it, and the server must not
// move it elsewhere; the handler is run again before the sound plays on any other output. Without
// one, the sound plays on the server's default output.
//
// Fades: a looping sound starts with a short fade-in and stops with a fade-out, and
// ChangeUnheard() fades it out around a change of the output's levels and in again after, so that
// neither a start, a stop nor a change of level is heard as a click.
//
// Without a server, PlaySound and GetDevCaps fail; the held volume and mute can still be read and
// set and reach the next sound. A server that comes back is used at the next call.
//
// A looping sound is kept until it is stopped or replaced. When its stream is lost (the server
// went away, or the output it played on was removed), the output plays it again at once where it
// can, else tries twice a second on the thread that owns it, without waiting for the server; the
// lost handler is told once per loss that could not be mended at once, the back handler when the
// sound plays again. That thread must run a Qt event loop for this.
class PulseSoundOutput final : public SoundOutput {
public:
    explicit PulseSoundOutput(PulseContext& pulse);
    ~PulseSoundOutput() override;

    PulseSoundOutput(const PulseSoundOutput&) = delete;
    PulseSoundOutput& operator=(const PulseSoundOutput&) = delete;

    // Length of the fades.
    static constexpr std::chrono::milliseconds kFadeIn{20};
    static constexpr std::chrono::milliseconds kFadeOut{12};

    bool PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) override;
    MMRESULT GetDevCaps(std::uint32_t deviceId, WaveOutCaps* caps) override;
    MMRESULT GetVolume(std::uint32_t deviceId, std::uint32_t* volume) override;
    MMRESULT SetVolume(std::uint32_t deviceId, std::uint32_t volume) override;
    bool IsAvailable() override;
    void SetSoundLostHandler(SoundLostHandler handler) override;
    void SetSoundBackHandler(SoundBackHandler handler) override;

    // Puts the speaker levels on the output a sound is to play on, with the loop unlocked, and
    // names it; nothing when they could not be put there (the sound then waits for the next
    // try).
    using SpeakerHandler = std::function<std::optional<std::string>()>;
    void SetSpeakerHandler(SpeakerHandler handler);

    // Runs `change` (with the loop unlocked) while the sound is faded out at the output: the
    // sound fades out (or, when `audible` is false because the output is silent anyway, stops
    // at once), the server plays what is left of it, `change` runs, and the sound fades in
    // again. Returns what `change` returned.
    bool ChangeUnheard(bool audible, const std::function<bool()>& change);

    // Plays the kept looping sound again from its start on the output the speaker handler names
    // now (after a fade-out where it plays). False when it could not be started.
    bool Replay();

    // The name of the output the sound plays on; empty while none plays.
    std::string PlayingSink();

    // Mute of the program's playback; holds across sounds like the volume.
    MMRESULT GetPlaybackMute(bool* mute);
    MMRESULT SetPlaybackMute(bool mute);

    // True from the start of a sound until it has been played, stopped, replaced or lost with
    // the server.
    bool IsPlaying();

    // Times the server ran out of frames in the middle of a sound, since construction: each is
    // a gap in the sound (the machine was too busy to refill the short buffer in time).
    std::uint64_t Underflows();

private:
    // All with the loop locked.
    void StopLocked(std::unique_lock<PulseLoopLock>& lock, bool fade);
    bool StartLocked(std::unique_lock<PulseLoopLock>& lock, const PulseSound& sound, bool async);
    // Whether the playing stream carries the held volume and mute; nothing when none plays.
    std::optional<bool> StreamHoldsLocked(std::unique_lock<PulseLoopLock>& lock);
    // Sets the held volume and mute on the playing stream until the server reports them.
    bool EnforceStreamLevelsLocked(std::unique_lock<PulseLoopLock>& lock);
    bool FadeOutLocked(std::unique_lock<PulseLoopLock>& lock, bool audible);
    void FadeInLocked(std::unique_lock<PulseLoopLock>& lock);
    bool ChangeStreamLevelsLocked(std::unique_lock<PulseLoopLock>& lock);
    // User interface thread: the stream of the kept sound broke off; the retry's tick; a change
    // of the stream on the server.
    void SoundLost();
    void TryResume();
    void CheckStream();
    void SinkRemoved(std::uint32_t sink);
    // No looping sound is kept, or it plays.
    bool KeptSoundPlays();

    PulseContext& pulse_;
    std::unique_ptr<PulsePlayback> playback_;  // changed with the loop locked
    std::uint64_t underflows_ = 0;             // written on the loop thread, with the loop locked
    std::uint32_t volume_ = 0xFFFFFFFFu;
    bool mute_ = false;
    std::unique_ptr<PulseSound> kept_;  // the looping sound to play again; loop locked
    SoundLostHandler lostHandler_;
    SoundBackHandler backHandler_;
    SpeakerHandler speakerHandler_;
    bool lossReported_ = false;
    bool checkPosted_ = false;  // loop locked
    int changeHandler_ = 0;
    std::unique_ptr<QTimer> retry_;  // lives on the owning thread
};

}  // namespace velmora
