#pragma once

// A PostgreSQL server of the test's own: a new cluster in a temporary folder, listening only on a
// Unix socket in that folder, run as an unprivileged user (initdb refuses root: a test run as root
// runs it as "nobody"), stopped by its process id.

#include "tests/support/Spawn.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {

class PostgresServer {
public:
    PostgresServer() = default;
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;
    ~PostgresServer() { Stop(); }

    // The folder of PostgreSQL's programs (the highest version installed), empty without one.
    static std::string BinaryFolder() {
        std::string best;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
            const auto bin = entry.path() / "bin";
            if (std::filesystem::exists(bin / "initdb") &&
                (best.empty() ||
                 std::stoi(entry.path().filename().string()) >
                     std::stoi(std::filesystem::path(best).parent_path().filename().string()))) {
                best = bin.string();
            }
        }
        return best;
    }

    bool Start(std::string* error) {
        bin_ = BinaryFolder();
        if (bin_.empty()) {
            *error = "PostgreSQL is not installed (scripts/setup installs it)";
            return false;
        }
        char pattern[] = "/tmp/velmora-pg-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            *error = "no temporary folder";
            return false;
        }
        dir_ = pattern;
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (nobody == nullptr || ::chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
                *error = "cannot hand the folder to the user nobody";
                return false;
            }
            asUser_ = "nobody";
        }
        const std::string data = dir_ + "/data";
        if (Run({bin_ + "/initdb", "-D", data, "-A", "trust", "-U", "velmora", "-E", "UTF8",
                 "--locale=C.UTF-8", "-N"}) != 0) {
            *error = "initdb failed (see " + dir_ + "/run.log)";
            return false;
        }
        return StartAgain(error);
    }

    // Starts the server of a cluster made before (after Halt()).
    bool StartAgain(std::string* error) {
        const std::string data = dir_ + "/data";
        if (Run({bin_ + "/pg_ctl", "-D", data, "-o", "-c listen_addresses='' -k " + dir_, "-l",
                 dir_ + "/log", "-w", "-t", "60", "start"}) != 0) {
            *error = "pg_ctl start failed (see " + dir_ + "/log)";
            return false;
        }
        std::ifstream pidFile(data + "/postmaster.pid");
        pidFile >> pid_;
        if (pid_ <= 0) {
            *error = "no postmaster.pid";
            return false;
        }
        return true;
    }

    // Fast shutdown by the server's process id, keeping its cluster; waits until it has gone.
    void Halt() {
        if (pid_ > 0) {
            ::kill(pid_, SIGINT);
            for (int i = 0; i < 300 && ::kill(pid_, 0) == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (::kill(pid_, 0) == 0) {
                ::kill(pid_, SIGKILL);
            }
            pid_ = -1;
        }
    }

    // A fresh database; its libpq URI.
    std::string CreateDatabase(const std::string& name) {
        if (Run({bin_ + "/createdb", "-h", dir_, "-U", "velmora", name}, false) != 0) {
            return {};
        }
        return Uri(name);
    }

    std::string Uri(const std::string& database) const {
        return "postgresql://velmora@/" + database + "?host=" + dir_;
    }
    const std::string& SocketFolder() const { return dir_; }
    bool Running() const { return pid_ > 0 && ::kill(pid_, 0) == 0; }

    // Halts the server and removes its cluster.
    void Stop() {
        Halt();
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
            dir_.clear();
        }
    }

private:
    // Runs a program to its end, as the unprivileged user where the test is root; its exit code.
    int Run(std::vector<std::string> args, bool asServerUser = true) {
        if (asServerUser && !asUser_.empty()) {
            args.insert(args.begin(), {"runuser", "-u", asUser_, "--"});
        }
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        const std::string log = dir_ + "/run.log";
        ::posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                           0644);
        ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"};
        const std::string program = args.front();
        const pid_t child = Spawn(program.c_str(), args, env, &actions);
        ::posix_spawn_file_actions_destroy(&actions);
        if (child < 0) {
            return -1;
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string bin_;
    std::string dir_;
    std::string asUser_;
    pid_t pid_ = -1;
};

}  // namespace velmora::test
