#pragma once
// The ALSA sequencer backend: hardware MIDI interfaces and other programs of this machine.
// Sources and destinations are the sequencer ports of other clients that allow subscription
// for reading or writing; the system announce port tells of set-up changes; time-stamped
// sends go out on a real-time queue of our own.

#include "MIDIServices.h"

// True when the sequencer device exists and can be opened.
bool alsaSequencerAvailable();
std::shared_ptr<MidiBackend> makeAlsaMidiBackend();
