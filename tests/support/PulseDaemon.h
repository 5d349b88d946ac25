#pragma once

// A PulseAudio daemon of a test's own, with a null sink as its only sink, for the tests that stop
// and restart the server. Started and stopped by its process id.

#include "tests/support/Spawn.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {

class PulseDaemon {
public:
    PulseDaemon() {
        char pattern[] = "/tmp/velmora-pulse-XXXXXX";
        if (::mkdtemp(pattern)) {
            dir_ = pattern;
            std::filesystem::create_directories(dir_ / "home");
            std::filesystem::create_directories(dir_ / "run");
            ::chmod((dir_ / "run").c_str(), 0700);
        }
    }
    ~PulseDaemon() {
        Stop();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    PulseDaemon(const PulseDaemon&) = delete;
    PulseDaemon& operator=(const PulseDaemon&) = delete;

    pid_t Pid() const { return pid_; }

    std::string Server() const { return "unix:" + (dir_ / "run/pulse/native").string(); }

    // Starts the daemon and waits until its socket exists; false when it did not come up.
    bool Start() {
        if (pid_ > 0 || dir_.empty()) {
            return pid_ > 0;
        }
        std::vector<std::string> env{"HOME=" + (dir_ / "home").string(),
                                     "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
                                     "DBUS_SESSION_BUS_ADDRESS=disabled:", "PATH=/usr/bin:/bin"};
        std::vector<std::string> args{
            "pulseaudio",
            "--daemonize=no",
            "-n",
            "--exit-idle-time=-1",
            "--log-target=file:" + (dir_ / "pa.log").string(),
            "--load=module-null-sink sink_name=testsink format=s16le rate=96000 channels=2 "
            "norewinds=1",
            "--load=module-native-protocol-unix auth-anonymous=1"};
        pid_ = Spawn("pulseaudio", std::move(args), std::move(env));
        if (pid_ <= 0) {
            return false;
        }
        // The socket file appears when the server binds it, a moment before it listens: ready
        // means that a connection is accepted.
        const auto socket = dir_ / "run/pulse/native";
        for (int i = 0; i < 500; ++i) {
            if (Accepts(socket)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // A server that hangs: stopped and continued by signal.
    void Freeze() {
        if (pid_ > 0) {
            ::kill(pid_, SIGSTOP);
        }
    }
    void Thaw() {
        if (pid_ > 0) {
            ::kill(pid_, SIGCONT);
        }
    }

    void Stop() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGCONT);
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    static bool Accepts(const std::filesystem::path& socket) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = socket.string();
        if (path.size() >= sizeof address.sun_path) {
            return false;
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        const bool accepted =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return accepted;
    }

    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

}  // namespace velmora::test
