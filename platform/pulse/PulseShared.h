#pragma once

// What the PulseAudio backends share besides the connection: their logging category and the
// reading of the server's description.

#include <QLoggingCategory>

#include <cstdint>
#include <cstdio>
#include <string>

Q_DECLARE_LOGGING_CATEGORY(lcPulse)

namespace velmora {

// The server's version "major.minor..." as a driver version word: major in the high byte.
inline std::uint32_t DriverVersionOf(const std::string& serverVersion) {
    unsigned major = 0;
    unsigned minor = 0;
    std::sscanf(serverVersion.c_str(), "%u.%u", &major, &minor);
    return ((major & 0xFFu) << 8) | (minor & 0xFFu);
}

}  // namespace velmora
