#pragma once

// Child processes of a test, started by their process id.

#include <string>
#include <vector>

#include <spawn.h>

namespace velmora::test {

// The strings as the null-terminated array of pointers that exec takes; valid while `strings`
// lives unchanged.
inline std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Starts `program` (a path, or a name looked up in the test's PATH) with the arguments `args`,
// the first of which is the program's name, and exactly the environment `env`. The process id,
// or -1 when the program could not be started.
inline pid_t Spawn(const char* program, std::vector<std::string> args, std::vector<std::string> env,
                   const posix_spawn_file_actions_t* actions = nullptr) {
    std::vector<char*> argv = CStrings(args);
    std::vector<char*> envp = CStrings(env);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, program, actions, nullptr, argv.data(), envp.data()) != 0) {
        return -1;
    }
    return pid;
}

}  // namespace velmora::test
