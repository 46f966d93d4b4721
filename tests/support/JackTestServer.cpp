#include "JackTestServer.h"

#include "TestServerProcess.h"

#include <jack/jack.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace {

bool serverAnswers() {
    jack_status_t status{};
    jack_client_t* probe = jack_client_open("kavio-probe", JackNoStartServer, &status);
    if (!probe) return false;
    jack_client_close(probe);
    return true;
}

struct Server : TestServerState {
    std::string name;
};

Server& server() {
    static Server instance;
    return instance;
}

}  // namespace

namespace JackTestServer {

bool ensureRunning(std::string* reason) {
    Server& s = server();
    std::lock_guard lock(s.guard);
    if (!s.tried) {
        s.tried = true;
        const std::string program = findProgram({"/usr/bin/jackd", "/usr/local/bin/jackd"});
        s.folder = makeRuntimeFolder("kavio-jack");
        s.name = "kavio-test-" + std::to_string(getpid());
        if (program.empty()) {
            s.reason = "jackd is not installed";
        } else if (s.folder.empty()) {
            s.reason = "no runtime folder";
        } else {
            setenv("JACK_DEFAULT_SERVER", s.name.c_str(), 1);
            const std::vector<std::string> argv = {program, "-n", s.name, "--no-realtime", "--sync", "-t", "2000",
                                                   "-d", "dummy", "-r", "48000", "-p", "256", "-P", "8", "-C", "8"};
            if (!s.process.start(argv, {"XDG_RUNTIME_DIR=" + s.folder}, serverAnswers))
                s.reason = "jackd did not start";
        }
    }
    if (s.process.pid() > 0) return true;
    if (reason) *reason = s.reason;
    return false;
}

std::string serverName() { return server().name; }

}  // namespace JackTestServer
