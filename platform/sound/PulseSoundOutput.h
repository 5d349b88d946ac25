#pragma once

#include "platform/sound/SoundOutput.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace velmora {

class PulseContext;
class PulseLevelKeeper;

// The sound output on a PulseAudio server (or PipeWire's PulseAudio server): one playback stream.
//
// Lifecycle: takes the connection by reference; `pulse` outlives this object. Destruction stops
// the sound. All calls come from one thread, which runs a Qt event loop.
//
// PlaySound copies the sound's frames into the backend, so the caller's image is not read after
// the call returns (also not while the sound plays). The stream always has two channels: a mono
// image sounds on both. The wave-out volume (left, right) and the playback mute are applied to
// the frames, so that the ear not chosen gets digital silence; the stream itself is held at
// unity, whatever the server or a session manager would put there.
//
// Every sound plays only on an output that holds the speaker level of the program (the mixer's
// speaker controls): the level keeper behind this output (PulseLevelKeeper) keeps that promise on
// the sound server's own thread, through outages, refusals and changes made by other programs.
//
// Without a server, PlaySound and GetDevCaps fail; the held volume and mute can still be read and
// set and reach the next sound. A looping sound is kept until it is stopped or replaced; when its
// stream is lost it is played again where and as soon as it can be; the lost handler is told
// once per loss that could not be mended at once, the back handler when the sound plays again.
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
    void SetSoundBackHandler(SoundBackHandler handler) override;

    // Mute of the program's playback; holds across sounds like the volume.
    MMRESULT GetPlaybackMute(bool* mute);
    MMRESULT SetPlaybackMute(bool mute);

    // The name of the output the sound plays on; empty while none plays.
    std::string PlayingSink();

    // True from the start of a sound until it has been played, stopped, replaced or lost with
    // the server.
    bool IsPlaying();

    // Times the server ran out of frames in the middle of a sound, since construction: each is
    // a gap in the sound (the machine was too busy to refill the short buffer in time).
    std::uint64_t Underflows();

    // What keeps the levels; the mixer's speaker controls are its speaker level.
    PulseLevelKeeper& Keeper() { return *keeper_; }

private:
    PulseContext& pulse_;
    std::unique_ptr<PulseLevelKeeper> keeper_;
};

}  // namespace velmora
