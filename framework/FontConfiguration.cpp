#include "FontConfiguration.h"

#include <fontconfig/fontconfig.h>

#include <system_error>

namespace velmora {

FontConfigurationReader::FontConfigurationReader() {
    // A configuration that cannot be read is no error here, nor a thread that cannot be started:
    // the font database then reads it itself, as it always has, and reports what fails.
    try {
        reader_ = std::thread([] { FcInit(); });
    } catch (const std::system_error&) {
    }
}

FontConfigurationReader::~FontConfigurationReader() {
    Wait();
}

void FontConfigurationReader::Wait() {
    if (reader_.joinable()) {
        reader_.join();
    }
}

}  // namespace velmora
