#pragma once
// A server program a test process starts once and stops by its process id: spawned with extra
// environment, output to /dev/null, waited for until `ready` answers true.

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class TestServerProcess {
public:
    ~TestServerProcess() { stop(); }
    // False when the program is missing, cannot be spawned, exits, or is not ready in
    // `timeoutSeconds`; the spawned process is stopped again then.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
               const std::function<bool()>& ready, double timeoutSeconds = 10);
    // SIGTERM, then SIGKILL after 3 s. Nothing when not running.
    void stop();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = 0;
};

// The first of `candidates` that is an executable file, or "".
std::string findProgram(const std::vector<std::string>& candidates);
// A fresh folder under /tmp (mode 0700) named after `stem`; "" on failure.
std::string makeRuntimeFolder(const std::string& stem);
// Runs `command` through /bin/sh; true on exit status 0. Its standard output goes to *output.
bool runCommand(const std::string& command, std::string* output = nullptr);

// What a test server keeps for the process: tried once, under its own runtime folder, the reason
// it is not running. Destruction stops the process and removes the folder.
struct TestServerState {
    std::mutex guard;
    TestServerProcess process;
    std::string folder;
    std::string reason;
    bool tried = false;
    ~TestServerState();
};
