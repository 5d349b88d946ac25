#pragma once

#include "platform/sound/SoundOutput.h"

#include <cstdint>
#include <span>
#include <utility>

namespace velmora {

// Passes every call on to a sound output, except that while it is held, sounds that play on their
// own and stops are only noted: Release() plays the last of them.
//
// The window's start-up checks its radio buttons from code, and each of their handlers starts the
// tone anew. Held, the tone starts once, after every level has been set, instead of a stream being
// faded out and replaced per handler. The image of the last such sound stays with its caller until
// it is replaced or stopped (see SoundOutput), so it is still there on release.
class HeldSoundOutput final : public SoundOutput {
public:
    explicit HeldSoundOutput(SoundOutput& output) : output_(output) {}

    void Hold() { held_ = true; }
    void Release() {
        held_ = false;
        if (pending_) {
            pending_ = false;
            output_.PlaySound(image_, flags_);
        }
    }

    bool PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) override {
        if (held_ && (image.empty() || (flags & SND_ASYNC) != 0)) {
            image_ = image;
            flags_ = flags;
            pending_ = true;
            return true;
        }
        // A sound played to its end replaces whatever was noted.
        pending_ = false;
        return output_.PlaySound(image, flags);
    }
    MMRESULT GetDevCaps(std::uint32_t deviceId, WaveOutCaps* caps) override {
        return output_.GetDevCaps(deviceId, caps);
    }
    MMRESULT GetVolume(std::uint32_t deviceId, std::uint32_t* volume) override {
        return output_.GetVolume(deviceId, volume);
    }
    MMRESULT SetVolume(std::uint32_t deviceId, std::uint32_t volume) override {
        return output_.SetVolume(deviceId, volume);
    }
    bool IsAvailable() override { return output_.IsAvailable(); }
    void SetSoundLostHandler(SoundLostHandler handler) override {
        output_.SetSoundLostHandler(std::move(handler));
    }
    void SetSoundBackHandler(SoundBackHandler handler) override {
        output_.SetSoundBackHandler(std::move(handler));
    }

private:
    SoundOutput& output_;
    bool held_ = false;
    bool pending_ = false;
    std::span<const std::uint8_t> image_;
    std::uint32_t flags_ = 0;
};

}  // namespace velmora
