#pragma once
// The HyperDeck-protocol server as the cue list controller sees it. Its implementation in
// app/Remote/ implements it; tests give a recording fake.

class KavioHyperDeckServerInterface {
public:
    virtual ~KavioHyperDeckServerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // Reads the cue list again (after every rebuild of the order). Any thread.
    virtual void refreshPlaylist() = 0;
};
