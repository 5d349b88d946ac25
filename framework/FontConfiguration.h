#pragma once

#include <thread>

namespace velmora {

// Reads the system's font configuration (its files and the font caches) on a thread of its own.
//
// Made before the application object, the reading runs while the program connects to the display
// server; the first font the window asks for would otherwise read it on the way to the first
// paint. Wait() before anything resolves a font, so that the configuration is not read twice.
class FontConfigurationReader {
public:
    FontConfigurationReader();
    ~FontConfigurationReader();
    FontConfigurationReader(const FontConfigurationReader&) = delete;
    FontConfigurationReader& operator=(const FontConfigurationReader&) = delete;

    // Returns once the configuration is read (at once when it was, or could not be).
    void Wait();

private:
    std::thread reader_;
};

}  // namespace velmora
