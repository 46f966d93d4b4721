#pragma once
// The JACK server of this test process: `jackd -d dummy` (48 kHz, 256-frame periods, 8 capture
// and 8 playback ports, synchronous mode so a slow client delays a cycle instead of losing
// data) under a server name of this process and its own runtime folder, started on first use
// and stopped by its process id at exit. JACK_DEFAULT_SERVER then names it for this process.

#include <string>

namespace JackTestServer {

// True when the server runs; otherwise *reason says why (for GTEST_SKIP).
bool ensureRunning(std::string* reason);
// The server name clients use.
std::string serverName();

}  // namespace JackTestServer
