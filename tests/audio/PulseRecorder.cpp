#include "PulseRecorder.h"

#include "PulseAudioTestServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <iterator>

extern char** environ;

PulseRecorder::PulseRecorder(const std::string& sink, int channels)
    : sink_(sink), channels_(channels),
      file_(PulseAudioTestServer::folder() + "/rec-" + sink + "-" + std::to_string(getpid()) + ".raw") {}

PulseRecorder::~PulseRecorder() { stop(); }

bool PulseRecorder::start() {
    const std::string device = "--device=" + sink_ + ".monitor";
    const std::string channels = "--channels=" + std::to_string(channels_);
    const char* argv[] = {"/usr/bin/parec", device.c_str(), "--format=float32le", "--rate=48000",
                          channels.c_str(), "--raw", "--no-remix", "--no-remap", "--latency-msec=20", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int result = posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    pid_ = result == 0 ? pid : 0;
    if (pid_ <= 0) return false;
    // An idle null sink may still sleep out its long default latency before the monitor
    // delivers: recording starts when the first frames have arrived.
    for (int i = 0; i < 500; ++i) {
        struct stat st;
        if (::stat(file_.c_str(), &st) == 0 && st.st_size > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::vector<float> PulseRecorder::stop() {
    if (pid_ <= 0) return {};
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
    std::ifstream in(file_, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(file_.c_str());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + long(samples.size() * sizeof(float)),
              reinterpret_cast<char*>(samples.data()));
    return samples;
}
