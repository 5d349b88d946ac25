#pragma once

#include "platform/MMResult.h"

#include <cstdint>
#include <functional>
#include <span>

namespace velmora {

// Flags of PlaySound, with their classic values.
enum SoundFlags : std::uint32_t {
    SND_SYNC = 0x0000,    // return when the sound has been played
    SND_ASYNC = 0x0001,   // return at once; the sound plays on its own
    SND_MEMORY = 0x0004,  // the sound is a wave image in memory
    SND_LOOP = 0x0008,    // repeat until stopped (only together with SND_ASYNC)
};

// Support flags of WaveOutCaps::dwSupport.
constexpr std::uint32_t WAVECAPS_VOLUME = 0x0004;
constexpr std::uint32_t WAVECAPS_LRVOLUME = 0x0008;

// Capabilities of a wave-out device, laid out as the 52-byte record callers expect.
struct WaveOutCaps {
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    std::uint32_t vDriverVersion = 0;
    char szPname[32] = {};
    std::uint32_t dwFormats = 0;
    std::uint16_t wChannels = 0;
    std::uint16_t wReserved1 = 0;
    std::uint32_t dwSupport = 0;
};
static_assert(sizeof(WaveOutCaps) == 52);

// The program's sound output: playback of in-memory wave images and the per-channel volume of
// its wave-out device 0.
//
// Lifecycle: a backend is created once by whoever owns the window (or by a tool or a test) and
// handed to the components by reference; it outlives them. All calls come from one thread.
//
// Playback: PlaySound(image, flags) with SND_MEMORY starts a new sound and replaces the current
// one. The image is a complete RIFF/WAVE block (44-byte header, PCM data) that stays owned by
// the caller. With SND_ASYNC the call returns at once and the backend reads the image until the
// sound ends, is replaced or is stopped; the caller keeps the image unchanged until then. Without
// SND_ASYNC the call returns when the sound has been played. PlaySound with an empty image stops
// any sound; when it returns, nothing reads the previous image any more.
//
// Volume: a 32-bit value, low word left, high word right, 0..65535 each. It holds across sounds.
// A device without WAVECAPS_LRVOLUME has one volume for both channels, in the low word.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;

    // Returns true when the sound was started (or, synchronously, played), or stopped.
    virtual bool PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) = 0;

    virtual MMRESULT GetDevCaps(std::uint32_t deviceId, WaveOutCaps* caps) = 0;
    virtual MMRESULT GetVolume(std::uint32_t deviceId, std::uint32_t* volume) = 0;
    virtual MMRESULT SetVolume(std::uint32_t deviceId, std::uint32_t volume) = 0;

    // Whether a sound output can be reached at all (for the window's warning).
    virtual bool IsAvailable() = 0;

    // Loss: a looping sound that stops because the output went away (a sound server that quit)
    // is played again by the output itself, with the volume it last had, as soon as the output
    // can be reached again. The handler is told once per loss, on the thread that owns the
    // output; an output that cannot lose its sound never calls it.
    using SoundLostHandler = std::function<void()>;
    virtual void SetSoundLostHandler(SoundLostHandler handler) { (void)handler; }
    // Told, on the same thread, when a lost sound plays again.
    using SoundBackHandler = std::function<void()>;
    virtual void SetSoundBackHandler(SoundBackHandler handler) { (void)handler; }
};

}  // namespace velmora
