#pragma once

// Child processes of a test, started by their process id.

#include <string>
#include <vector>

#include <spawn.h>

namespace velmora::test {

// Starts `program` (a path, or a name looked up in the test's PATH) with the arguments `args`,
// the first of which is the program's name, and exactly the environment `env`. The process id,
// or -1 when the program could not be started.
inline pid_t Spawn(const char* program, std::vector<std::string> args,
                   std::vector<std::string> env) {
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, program, nullptr, nullptr, argv.data(), envp.data()) != 0) {
        return -1;
    }
    return pid;
}

}  // namespace velmora::test
