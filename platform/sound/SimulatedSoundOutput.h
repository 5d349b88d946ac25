#pragma once

#include "platform/sound/SoundOutput.h"

#include <vector>

namespace velmora {

// A sound output that plays nothing and records every call, for tests and for tools that run
// without a sound server. Its capabilities and volume can be set.
class SimulatedSoundOutput final : public SoundOutput {
public:
    enum class CallKind { PlaySound, GetDevCaps, GetVolume, SetVolume };

    struct Call {
        CallKind kind;
        std::uint32_t deviceId = 0;         // wave-out calls
        std::uint32_t flags = 0;            // PlaySound
        std::vector<std::uint8_t> image{};  // PlaySound: a copy of the bytes it was given
        std::uint32_t volume = 0;           // SetVolume: the value set; GetVolume: the value read
    };

    SimulatedSoundOutput();

    bool PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) override;
    MMRESULT GetDevCaps(std::uint32_t deviceId, WaveOutCaps* caps) override;
    MMRESULT GetVolume(std::uint32_t deviceId, std::uint32_t* volume) override;
    MMRESULT SetVolume(std::uint32_t deviceId, std::uint32_t volume) override;
    bool IsAvailable() override { return available_; }
    void SetSoundLostHandler(SoundLostHandler handler) override {
        lostHandler_ = std::move(handler);
    }

    void SetSoundBackHandler(SoundBackHandler handler) override {
        backHandler_ = std::move(handler);
    }

    // The output goes away under a looping sound: the sound ends and the handler hears of it.
    void LoseSound();
    // The output comes back: the last looping sound plays again and the handler hears of it.
    void BringSoundBack();

    // Configuration.
    void SetCaps(const WaveOutCaps& caps) { caps_ = caps; }
    void SetSeparateChannelVolume(bool separate);
    void SetDeviceVolume(std::uint32_t volume) { volume_ = volume; }
    void SetAvailable(bool available) { available_ = available; }

    // Inspection.
    std::uint32_t DeviceVolume() const { return volume_; }
    bool IsPlaying() const { return playing_; }
    bool IsLooping() const { return playing_ && (currentFlags_ & SND_LOOP) != 0; }
    const std::vector<std::uint8_t>& CurrentImage() const { return currentImage_; }
    const std::vector<Call>& Calls() const { return calls_; }
    std::vector<Call> CallsOf(CallKind kind) const;
    void ClearCalls() { calls_.clear(); }

private:
    WaveOutCaps caps_;
    std::uint32_t volume_ = 0xFFFFFFFFu;
    bool available_ = true;
    bool playing_ = false;
    std::uint32_t currentFlags_ = 0;
    std::vector<std::uint8_t> currentImage_;
    std::vector<Call> calls_;
    SoundLostHandler lostHandler_;
    SoundBackHandler backHandler_;
};

}  // namespace velmora
