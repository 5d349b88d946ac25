#include "tools/SoundBackend.h"

#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include <cstdlib>
#include <string_view>

namespace velmora {

namespace {

// The connection to the sound server together with the sound output on it.
class ServerPlayback final : public SoundOutput {
public:
    ServerPlayback() : pulse_({}, "velmora-tone"), sound_(pulse_) {}

    bool PlaySound(std::span<const std::uint8_t> image, std::uint32_t flags) override {
        return sound_.PlaySound(image, flags);
    }
    MMRESULT GetDevCaps(std::uint32_t deviceId, WaveOutCaps* caps) override {
        return sound_.GetDevCaps(deviceId, caps);
    }
    MMRESULT GetVolume(std::uint32_t deviceId, std::uint32_t* volume) override {
        return sound_.GetVolume(deviceId, volume);
    }
    MMRESULT SetVolume(std::uint32_t deviceId, std::uint32_t volume) override {
        return sound_.SetVolume(deviceId, volume);
    }
    bool IsAvailable() override { return sound_.IsAvailable(); }

private:
    PulseContext pulse_;
    PulseSoundOutput sound_;
};

}  // namespace

std::unique_ptr<SoundOutput> CreatePlaybackOutput() {
    const char* choice = std::getenv("VELMORA_SOUND_OUTPUT");
    if (choice != nullptr && std::string_view(choice) == "simulated") {
        return std::make_unique<SimulatedSoundOutput>();
    }
    // The desktop's sound server (PULSE_SERVER or the client configuration). Without one the
    // output says it is not available, and the tool says so rather than playing nothing.
    return std::make_unique<ServerPlayback>();
}

}  // namespace velmora
