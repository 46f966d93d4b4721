#pragma once
// The PulseAudio server of this test process: started on first use under its own runtime
// folder, with two 48 kHz float null sinks, "stereo" (2 channels) and "multi" (8 channels), and
// the native protocol without authentication. PULSE_SERVER then points this process (and the
// pactl, parec and pacat it runs) at it. Stopped by its process id at exit.

#include <string>

namespace PulseAudioTestServer {

// True when the server runs; otherwise *reason says why (for GTEST_SKIP).
bool ensureRunning(std::string* reason);
// Kills the server (SIGKILL, as a crash would) and leaves it down.
void kill();
// Starts it again after kill(), in the same runtime folder and with the same sinks.
bool restart(std::string* reason);
// Runs pactl with `arguments` against the server; true on success.
bool pactl(const std::string& arguments, std::string* output = nullptr);
// The runtime folder (for files the tests write next to it).
std::string folder();

}  // namespace PulseAudioTestServer
