#pragma once
// The cue prefixes of incoming OSC addresses: "/kavio/current/…", "/kavio/next/…",
// "/kavio/previous/…", "/kavio/all/…" and "/kavio/selected/…" name cues by their role; the
// application controller rewrites them into the cues' index form "/kavio/<index>/…" before
// handing the message on. Pure: the caller passes the state of the cue list.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

struct KavioOSCCueListState {
    std::optional<std::uint64_t> currentIndex;  // 1-based; nothing without a current cue
    std::uint64_t count = 0;
    std::vector<std::uint64_t> selectedIndexes;  // in the controller's selection order
};

// The addresses a message to `address` (four or more "/" parts) is handed on under:
// - "current" / "next" / "previous" with a current cue C: every "/kavio/<role>/" replaced by
//   "/kavio/<C>/", "/kavio/<C + 1>/", "/kavio/<C - 1>/" (no bounds: the ends name no cue);
// - "all": one address for each index 1..count, in order (none without cues);
// - "selected": one for each selected index, in order (none without a selection);
// - anything else, or a role without a current cue: the address unchanged.
QStringList kavioRewrittenCueAddresses(const QString& address, const KavioOSCCueListState& state);

// Whether the third part of `address` is one of the role words: only then does the list state
// matter (the common direct form "/kavio/<index>/…" skips reading it).
bool kavioAddressHasCueRole(const QString& address);
