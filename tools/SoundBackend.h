#pragma once

#include "platform/sound/SoundOutput.h"

#include <memory>

namespace velmora {

// The sound output the command-line tools play through: the one place where the backend is
// chosen.
std::unique_ptr<SoundOutput> CreatePlaybackOutput();

}  // namespace velmora
