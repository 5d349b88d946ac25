#include "FontConfiguration.h"

#include <fontconfig/fontconfig.h>

namespace velmora {

FontConfigurationReader::FontConfigurationReader() {
    // A configuration that cannot be read is no error here: the font database reports it as it
    // always has when it asks for the configuration itself.
    reader_ = std::thread([] { FcInit(); });
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
