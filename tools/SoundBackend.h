#pragma once

#include "platform/sound/SoundOutput.h"

#include <memory>

namespace velmora {

// The sound output the command-line tools play through: the one place where the backend is
// chosen. By default the PulseAudio server (which reports itself unavailable when there is none);
// VELMORA_SOUND_OUTPUT=simulated in the environment selects the recorder that plays nothing (for
// tests and machines without a sound server).
std::unique_ptr<SoundOutput> CreatePlaybackOutput();

}  // namespace velmora
