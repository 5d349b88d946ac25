#pragma once

// A sound server of a test's own, for the tests that stop and restart it: a PulseAudio daemon
// with a null sink as its only sink, or a PipeWire stack (session bus, pipewire, wireplumber,
// pipewire-pulse) whose only sink is a null sink that PipeWire owns. Everything is started in a
// private runtime directory and home, and stopped by its process id.

#include "tests/support/PulseTestServer.h"
#include "tests/support/Spawn.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {

class PulseDaemon {
public:
    explicit PulseDaemon(SoundServer kind = SoundServer::PulseAudio) : kind_(kind) {
        char pattern[] = "/tmp/velmora-sound-XXXXXX";
        if (::mkdtemp(pattern)) {
            dir_ = pattern;
            for (const char* sub : {"home", "run", "config/pipewire/pipewire.conf.d", "state"}) {
                std::filesystem::create_directories(dir_ / sub);
            }
            ::chmod((dir_ / "run").c_str(), 0700);
            std::filesystem::copy_file(VELMORA_PIPEWIRE_TEST_CONF,
                                       dir_ / "config/pipewire/pipewire.conf.d/test.conf");
        }
    }
    ~PulseDaemon() {
        Stop();
        for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
            End(*it);
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    PulseDaemon(const PulseDaemon&) = delete;
    PulseDaemon& operator=(const PulseDaemon&) = delete;

    SoundServer Kind() const { return kind_; }
    // The process that is the sound server the program talks to.
    pid_t Pid() const { return pid_; }
    std::string Server() const { return "unix:" + (dir_ / "run/pulse/native").string(); }

    // Before the first start: the session manager's stored volume of this program's stream, as
    // a desktop keeps it from an earlier run (PipeWire only; the value is an amplitude).
    void StoreStreamVolume(double amplitude) {
        std::filesystem::create_directories(dir_ / "state/wireplumber");
        std::ofstream state(dir_ / "state/wireplumber/restore-stream");
        state << "[restore-stream]\n";
        for (const char* key : {"application.name:Velmora", "media.role:test"}) {
            state << "Output/Audio:" << key << ":channelMap=FL;FR;\n"
                  << "Output/Audio:" << key << ":channelVolumes=" << amplitude << ";" << amplitude
                  << ";\n"
                  << "Output/Audio:" << key << ":mute=false\n"
                  << "Output/Audio:" << key << ":volume=1.0\n";
        }
    }

    // Before the first start (PulseAudio only): a null sink with rewinds, which renders far
    // ahead of the clock and so reads a new stream only after what it has rendered.
    void RenderAhead() { renderAhead_ = true; }

    // Before the first start (PulseAudio only): "flat volumes", as some distributions configure
    // it: an output is raised to the volume of its loudest stream, and a stream's volume is its
    // volume at the output.
    void FlatVolumes() {
        std::filesystem::create_directories(dir_ / "config/pulse");
        std::ofstream(dir_ / "config/pulse/daemon.conf") << "flat-volumes = yes\n";
        environment_.push_back("PULSE_CONFIG=" + (dir_ / "config/pulse/daemon.conf").string());
    }

    // Starts the server and waits until it takes connections and its null sink is the default;
    // false when it did not come up. On PipeWire the rest of the stack is started the first
    // time and stays; a restart is one of pipewire-pulse, as a desktop does it.
    bool Start() {
        if (pid_ > 0 || dir_.empty()) {
            return pid_ > 0;
        }
        if (kind_ == SoundServer::PipeWire && stack_.empty() && !StartStack()) {
            return false;
        }
        pid_ = kind_ == SoundServer::PulseAudio
                   ? Launch("pulseaudio",
                            {"pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
                             "--log-target=file:" + (dir_ / "pa.log").string(),
                             std::string("--load=module-null-sink sink_name=testsink "
                                         "format=s16le rate=96000 channels=2") +
                                 (renderAhead_ ? "" : " norewinds=1"),
                             "--load=module-native-protocol-unix auth-anonymous=1"},
                            "pa-stderr.log")
                   : Launch("pipewire-pulse", {"pipewire-pulse"}, "pipewire-pulse.log");
        if (pid_ <= 0) {
            return false;
        }
        // The socket file appears when the server binds it, a moment before it listens: ready
        // means that a connection is accepted and the test sink is the default.
        for (int i = 0; i < 500; ++i) {
            if (Accepts(dir_ / "run/pulse/native") && DefaultSinkIsTestSink()) {
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

    void Stop() { End(pid_); }

private:
    std::vector<std::string> Environment() const {
        std::vector<std::string> environment = environment_;
        environment.insert(
            environment.end(),
            {"HOME=" + (dir_ / "home").string(), "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
             "XDG_CONFIG_HOME=" + (dir_ / "config").string(),
             "XDG_STATE_HOME=" + (dir_ / "state").string(),
             "DBUS_SESSION_BUS_ADDRESS=" + (kind_ == SoundServer::PipeWire
                                                ? "unix:path=" + (dir_ / "run/bus").string()
                                                : std::string("disabled:")),
             "PATH=/usr/bin:/bin"});
        return environment;
    }

    pid_t Launch(const char* program, std::vector<std::string> args, const char* log) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string path = (dir_ / log).string();
        posix_spawn_file_actions_addopen(&actions, 1, path.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const pid_t pid = Spawn(program, std::move(args), Environment(), &actions);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    bool StartStack() {
        const pid_t bus = Launch("dbus-daemon",
                                 {"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                  "--address=unix:path=" + (dir_ / "run/bus").string()},
                                 "dbus.log");
        stack_.push_back(bus);
        if (bus <= 0 || !WaitFor([&] { return Accepts(dir_ / "run/bus"); })) {
            return false;
        }
        const pid_t pipewire = Launch("pipewire", {"pipewire"}, "pipewire.log");
        stack_.push_back(pipewire);
        if (pipewire <= 0 || !WaitFor([&] { return Accepts(dir_ / "run/pipewire-0"); })) {
            return false;
        }
        const pid_t session = Launch("wireplumber", {"wireplumber"}, "wireplumber.log");
        stack_.push_back(session);
        return session > 0;
    }

    template <typename Ready>
    static bool WaitFor(Ready ready) {
        for (int i = 0; i < 500; ++i) {
            if (ready()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    bool DefaultSinkIsTestSink() const {
        const std::string command =
            "pactl --server='" + Server() + "' get-default-sink 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) {
            return false;
        }
        char line[256] = {};
        const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
        ::pclose(pipe);
        return read && std::string(line) == "testsink\n";
    }

    static void End(pid_t& pid) {
        if (pid <= 0) {
            return;
        }
        ::kill(pid, SIGCONT);
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
    }

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

    SoundServer kind_;
    bool renderAhead_ = false;
    std::vector<std::string> environment_;  // beside the private directories
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    std::vector<pid_t> stack_;  // PipeWire: the bus, pipewire, wireplumber, in their order
};

}  // namespace velmora::test
