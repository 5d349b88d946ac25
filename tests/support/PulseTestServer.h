#pragma once

// The sound server of the end-to-end tests. scripts/test starts a PulseAudio daemon whose default
// sink is a null sink and exports its address in VELMORA_E2E_PULSE_SERVER. Without that variable
// (a plain ctest run) the end-to-end tests are skipped with a message; with it, a server that
// cannot be reached fails them.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velmora::test {

inline std::string PulseTestServer() {
    const char* server = std::getenv("VELMORA_E2E_PULSE_SERVER");
    return server ? server : "";
}

// Puts the test server's default sink back to 100 % and unmuted, whatever an earlier test left.
inline bool ResetTestSink() {
    const std::string pactl = "pactl --server='" + PulseTestServer() + "' ";
    const std::string command = pactl + "set-sink-volume @DEFAULT_SINK@ 100% && " + pactl +
                                "set-sink-mute @DEFAULT_SINK@ 0";
    return std::system(command.c_str()) == 0;
}

// Tests that capture the sink's monitor must not overlap (ctest runs tests in parallel): each
// holds this lock while it runs.
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

// Skips the test when no test server was started for this run.
#define VELMORA_REQUIRE_PULSE_SERVER()                                                         \
    do {                                                                                       \
        if (::velmora::test::PulseTestServer().empty()) {                                      \
            GTEST_SKIP() << "end-to-end test needs the sound server that scripts/test starts " \
                            "(VELMORA_E2E_PULSE_SERVER is not set)";                           \
        }                                                                                      \
    } while (0)
