#pragma once
// The JACK MIDI backend, for studios that route MIDI through a JACK server (or PipeWire's).
// Sources and destinations are the MIDI ports of other JACK clients; the server's
// JACK_DEFAULT_SERVER applies. The process callback only moves bytes through lock-free ring
// buffers; read procs run on a reader thread of the backend.

#include "MIDIServices.h"

// True when a JACK server answers (none is started for the question).
bool jackServerRunning();
std::shared_ptr<MidiBackend> makeJackMidiBackend();
