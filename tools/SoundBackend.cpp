#include "tools/SoundBackend.h"

#include "platform/sound/SimulatedSoundOutput.h"

namespace velmora {

std::unique_ptr<SoundOutput> CreatePlaybackOutput() {
    return std::make_unique<SimulatedSoundOutput>();
}

}  // namespace velmora
