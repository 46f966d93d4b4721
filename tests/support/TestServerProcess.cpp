#include "TestServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

bool TestServerProcess::start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                              const std::function<bool()>& ready, double timeoutSeconds) {
    if (pid_ > 0 || argv.empty() || access(argv[0].c_str(), X_OK) != 0) return false;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& e : extraEnv) env.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e; ++e) env.push_back(*e);
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = 0;
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            return false;
        }
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop();
    return false;
}

void TestServerProcess::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
}

std::string findProgram(const std::vector<std::string>& candidates) {
    for (const std::string& candidate : candidates)
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    return {};
}

std::string makeRuntimeFolder(const std::string& stem) {
    std::string pattern = "/tmp/" + stem + "-XXXXXX";
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

bool runCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        if (output) output->append(chunk, n);
    return pclose(pipe) == 0;
}

TestServerState::~TestServerState() {
    process.stop();
    if (!folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}
