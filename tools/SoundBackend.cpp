#include "tools/SoundBackend.h"

#include "platform/sound/SimulatedSoundOutput.h"

#include <cstdlib>
#include <string_view>

namespace velmora {

std::unique_ptr<SoundOutput> CreatePlaybackOutput() {
    const char* choice = std::getenv("VELMORA_SOUND_OUTPUT");
    if (choice != nullptr && std::string_view(choice) == "simulated") {
        return std::make_unique<SimulatedSoundOutput>();
    }
    // Until the PulseAudio backend is in place, the default plays nothing too.
    return std::make_unique<SimulatedSoundOutput>();
}

}  // namespace velmora
