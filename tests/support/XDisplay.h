#pragma once

// A headless X display of a test's own (Xvfb), and the requests that an end-to-end test of a
// window makes to it from outside, as a person at the screen would: find the window, click,
// press keys (xdotool) and look at the screen (a picture taken by velmora-screenshot). Every
// process is started and stopped by its process id.

#include "tests/support/Spawn.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::test {

// The test's own environment with `overrides` ("NAME=value") in place of the variables of the
// same names.
inline std::vector<std::string> EnvironmentWith(const std::vector<std::string>& overrides) {
    std::vector<std::string> env = overrides;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& o : overrides) {
            const std::string name = o.substr(0, o.find('=') + 1);
            replaced = replaced || entry.rfind(name, 0) == 0;
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    return env;
}

// Waits up to `timeout` for the child `pid` to end: its exit code, 128 + the signal that ended
// it, or nothing while it still runs.
inline std::optional<int> WaitForExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 || std::chrono::steady_clock::now() >= until) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Ends a child that the test started: SIGTERM, then SIGKILL if it does not go within 5 s.
inline void StopChild(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    if (!WaitForExit(pid, std::chrono::seconds(5))) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

struct CommandResult {
    int exitCode = -1;  // -1: could not be started
    std::string output;
};

// Runs `args` (the program first, looked up in PATH) with the environment `env` to its end and
// returns its exit code and what it wrote to its standard output.
inline CommandResult RunCommand(std::vector<std::string> args, std::vector<std::string> env) {
    CommandResult result;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::string program = args.empty() ? std::string() : args.front();
    const pid_t pid = Spawn(program.c_str(), std::move(args), std::move(env), &actions);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (pid > 0) {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) {
            result.output.append(buffer, static_cast<std::size_t>(n));
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ::close(out[0]);
    return result;
}

// An Xvfb server on the first free display number: one 24-bit screen of the given size at
// 96 dots per inch, so that the window is laid out pixel for pixel as designed.
class XvfbDisplay {
public:
    XvfbDisplay() = default;
    ~XvfbDisplay() { Stop(); }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // Starts the server and waits until it accepts clients; false with the reason otherwise.
    bool Start(int width, int height, std::string* error) {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) {
            *error = "no pipe";
            return false;
        }
        // The server writes its display number to descriptor 3 once it accepts clients.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args{
            "Xvfb",    "-displayfd", "3",
            "-screen", "0",          std::to_string(width) + "x" + std::to_string(height) + "x24",
            "-dpi",    "96",         "-nolisten",
            "tcp",     "-noreset"};
        std::vector<char*> argv = CStrings(args);
        const int failed = ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ready[1]);
        if (failed != 0) {
            pid_ = -1;
            ::close(ready[0]);
            *error = "Xvfb could not be started (is it installed? scripts/setup installs it)";
            return false;
        }
        std::string number;
        pollfd wait{ready[0], POLLIN, 0};
        char c = 0;
        while (::poll(&wait, 1, 10000) == 1 && ::read(ready[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(ready[0]);
        if (number.empty()) {
            *error = "Xvfb did not report a display within 10 s";
            Stop();
            return false;
        }
        name_ = ":" + number;
        return true;
    }

    void Stop() {
        StopChild(pid_);
        pid_ = -1;
    }

    // The value of DISPLAY for clients of this server, such as ":1".
    const std::string& Name() const { return name_; }

    // Runs xdotool on this display with the given arguments.
    CommandResult Xdotool(std::vector<std::string> args) const {
        args.insert(args.begin(), "xdotool");
        return RunCommand(std::move(args), EnvironmentWith({"DISPLAY=" + name_}));
    }

private:
    pid_t pid_ = -1;
    std::string name_;
};

}  // namespace velmora::test
