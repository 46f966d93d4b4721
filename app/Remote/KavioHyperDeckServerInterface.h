#pragma once
// The HyperDeck-protocol server as the cue list controller sees it. Its implementation in
// app/Remote/ implements it; tests give a recording fake. The switcher manager switches it
// on and off.

class KavioHyperDeckServerInterface {
public:
    virtual ~KavioHyperDeckServerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // Reads the cue list again (after every rebuild of the order). Any thread.
    virtual void refreshPlaylist() = 0;

    // --- Switcher manager (its HyperDeck switch) ------------------------------------------------
    // Starts listening; false (logged) when the port cannot be had. Main thread.
    virtual bool start() = 0;
    // Closes the port and every connection. Main thread.
    virtual void stop() = 0;
};
