#pragma once

#include "platform/sound/SoundOutput.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QTimer;

namespace velmora {

class PulseContext;
class PulseLoopLock;

// The sound output on a PulseAudio server: one playback stream on the default sink.
//
// Lifecycle: takes the connection by reference; `pulse` outlives this object. Destruction stops
// the sound.
//
// PlaySound copies the sound's frames into the backend, so the caller's image is not read after
// the call returns (also not while the sound plays). The stream always has two channels: a mono
// image sounds on both, and the wave-out volume (left, right) is the stream's per-channel volume.
// The volume and the mute of the playback are held here and given to every new stream when it is
// created, so an ear chosen before a sound is the ear that sounds from its first frame; they also
// change a sound that is playing.
//
// Without a server, PlaySound and GetDevCaps fail; the held volume and mute can still be read and
// set and reach the next sound. A server that comes back is used at the next call.
//
// A looping sound is kept until it is stopped or replaced. When its stream is lost with the
// server (or could not be started because no server answered), the output tries, twice a second
// on the thread that owns it and without waiting for the server, to reach a server again; then it
// runs the before-resume handler (the mixer puts back the speaker levels the program set) and
// plays the sound again with the held volume and mute. The lost handler is told once per loss.
// That thread must run a Qt event loop for this.
class PulseSoundOutput final : public SoundOutput {
public:
    explicit PulseSoundOutput(PulseContext& pulse);
    ~PulseSoundOutput() override;

    PulseSoundOutput(const PulseSoundOutput&) = delete;
    PulseSoundOutput& operator=(const PulseSoundOutput&) = delete;

    bool PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) override;
    MMRESULT GetDevCaps(std::uint32_t deviceId, WaveOutCaps* caps) override;
    MMRESULT GetVolume(std::uint32_t deviceId, std::uint32_t* volume) override;
    MMRESULT SetVolume(std::uint32_t deviceId, std::uint32_t volume) override;
    bool IsAvailable() override;
    void SetSoundLostHandler(SoundLostHandler handler) override;

    // Runs before a lost sound is played again, with the loop unlocked; when it returns false
    // the sound waits for the next try.
    void SetBeforeResumeHandler(std::function<bool()> handler);

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
    struct Playback;
    struct Sound;

    // Both with the loop locked.
    void StopLocked(std::unique_lock<PulseLoopLock>& lock);
    bool StartLocked(std::unique_lock<PulseLoopLock>& lock, const Sound& sound, bool async);
    // User interface thread: the stream of the kept sound broke off; and the retry's tick.
    void SoundLost();
    void TryResume();
    bool ReadStreamLocked(std::unique_lock<PulseLoopLock>& lock);

    PulseContext& pulse_;
    std::unique_ptr<Playback> playback_;  // changed with the loop locked
    std::uint64_t underflows_ = 0;        // written on the loop thread, with the loop locked
    std::uint32_t volume_ = 0xFFFFFFFFu;
    bool mute_ = false;
    std::unique_ptr<Sound> kept_;  // the looping sound to play again; changed with the loop locked
    SoundLostHandler lostHandler_;
    std::function<bool()> beforeResume_;
    bool lossReported_ = false;
    std::unique_ptr<QTimer> retry_;  // lives on the owning thread
};

}  // namespace velmora
