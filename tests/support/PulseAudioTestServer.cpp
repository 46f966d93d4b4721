#include "PulseAudioTestServer.h"

#include "TestServerProcess.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <mutex>

namespace {

struct Server : TestServerState {
    bool launch() {
        const std::string program = findProgram({"/usr/bin/pulseaudio", "/usr/local/bin/pulseaudio"});
        if (program.empty()) {
            reason = "pulseaudio is not installed";
            return false;
        }
        const std::string socket = folder + "/pulse/native";
        const std::vector<std::string> argv = {
            program, "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
            "-L", "module-null-sink sink_name=stereo channels=2 rate=48000 format=float32le",
            "-L", "module-null-sink sink_name=multi channels=8 rate=48000 format=float32le",
            "-L", "module-native-protocol-unix auth-anonymous=1"};
        const bool started = process.start(argv, {"XDG_RUNTIME_DIR=" + folder, "HOME=" + folder},
                                           [&] {
                                               struct stat st;
                                               return ::stat(socket.c_str(), &st) == 0 &&
                                                      runCommand("pactl info >/dev/null 2>&1");
                                           });
        if (!started) reason = "pulseaudio did not start";
        return started;
    }
};

Server& server() {
    static Server instance;
    return instance;
}

}  // namespace

namespace PulseAudioTestServer {

bool ensureRunning(std::string* reason) {
    Server& s = server();
    std::lock_guard lock(s.guard);
    if (!s.tried) {
        s.tried = true;
        s.folder = makeRuntimeFolder("kavio-pulse");
        if (s.folder.empty()) {
            s.reason = "no runtime folder";
        } else {
            setenv("PULSE_SERVER", ("unix:" + s.folder + "/pulse/native").c_str(), 1);
            s.launch();
        }
    }
    if (s.process.pid() > 0) return true;
    if (reason) *reason = s.reason;
    return false;
}

void kill() {
    Server& s = server();
    std::lock_guard lock(s.guard);
    if (s.process.pid() <= 0) return;
    ::kill(s.process.pid(), SIGKILL);
    s.process.stop();
}

bool restart(std::string* reason) {
    Server& s = server();
    std::lock_guard lock(s.guard);
    if (s.process.pid() > 0) return true;
    if (s.launch()) return true;
    if (reason) *reason = s.reason;
    return false;
}

bool pactl(const std::string& arguments, std::string* output) {
    std::string text;
    const bool ok = runCommand("pactl " + arguments + " 2>/dev/null", &text);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (output) *output = text;
    return ok;
}

std::string folder() { return server().folder; }

}  // namespace PulseAudioTestServer
