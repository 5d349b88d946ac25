#pragma once

// The sound servers of the end-to-end tests. scripts/test starts a PulseAudio daemon and a
// PipeWire stack (with its PulseAudio server), each with a null sink as the default sink, and
// exports their addresses in VELMORA_E2E_PULSE_SERVER and VELMORA_E2E_PIPEWIRE_SERVER. Every
// end-to-end sound test runs on both. Without those variables (a plain ctest run) the tests are
// skipped with a message; with them, a server that cannot be reached fails them.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velmora::test {

enum class SoundServer { PulseAudio, PipeWire };

// For parameterised tests: the servers, and a test name's suffix for each.
inline const auto kBothServers = ::testing::Values(SoundServer::PulseAudio, SoundServer::PipeWire);
inline std::string ServerName(const ::testing::TestParamInfo<SoundServer>& info) {
    return info.param == SoundServer::PulseAudio ? "PulseAudio" : "PipeWire";
}

inline std::string PulseTestServer(SoundServer kind = SoundServer::PulseAudio) {
    const char* server =
        std::getenv(kind == SoundServer::PulseAudio ? "VELMORA_E2E_PULSE_SERVER"
                                                    : "VELMORA_E2E_PIPEWIRE_SERVER");
    return server ? server : "";
}

// Puts the test server's default sink back to 100 % and unmuted, whatever an earlier test left.
inline bool ResetTestSink(SoundServer kind = SoundServer::PulseAudio) {
    const std::string pactl = "pactl --server='" + PulseTestServer(kind) + "' ";
    const std::string command = pactl + "set-sink-volume @DEFAULT_SINK@ 100% && " + pactl +
                                "set-sink-mute @DEFAULT_SINK@ 0";
    return std::system(command.c_str()) == 0;
}

// The tolerance of an amplitude measured at the monitor. PulseAudio mixes the program's 96 kHz
// sound at 96 kHz, bit for bit: a peak is exact to the rounding of the volume. PipeWire mixes at
// its own 48 kHz and the monitor is read at 96 kHz again: two resamplings, whose pass-band
// ripple moves a peak by up to about 1 % (0.1 dB); RMS over whole periods moves less.
inline double AmplitudeTolerance(SoundServer kind, double amplitude) {
    return kind == SoundServer::PulseAudio ? 2.0 + amplitude * 0.0005 : 2.0 + amplitude * 0.012;
}

// Tests that capture a sink's monitor must not overlap (ctest runs tests in parallel, and a busy
// machine leaves gaps in a sound): each holds this lock while it runs.
class PulseTestLock {
public:
    PulseTestLock() {
        const auto path = std::filesystem::temp_directory_path() / "velmora-pulse-e2e.lock";
        fd_ = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_EX);
        }
    }
    ~PulseTestLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PulseTestLock(const PulseTestLock&) = delete;
    PulseTestLock& operator=(const PulseTestLock&) = delete;

private:
    int fd_ = -1;
};

// A QCoreApplication for notifications posted to the test's thread.
inline void EnsureCoreApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "velmora-e2e";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
}

}  // namespace velmora::test

// Skips the test when no test server of this kind was started for this run.
#define VELMORA_REQUIRE_PULSE_SERVER_OF(kind)                                                   \
    do {                                                                                        \
        if (::velmora::test::PulseTestServer(kind).empty()) {                                   \
            GTEST_SKIP() << "end-to-end test needs the sound servers that scripts/test starts " \
                            "(VELMORA_E2E_PULSE_SERVER, VELMORA_E2E_PIPEWIRE_SERVER)";          \
        }                                                                                       \
    } while (0)
#define VELMORA_REQUIRE_PULSE_SERVER() \
    VELMORA_REQUIRE_PULSE_SERVER_OF(::velmora::test::SoundServer::PulseAudio)
