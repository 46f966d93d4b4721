#pragma once
// The main time display and entry: what a timecode field adds to a text field. Besides the
// text the operator edits (main thread) it holds a thread-safe text that the clock thread writes
// every frame and the field shows at its next refresh. KavioTimecodeTextField implements it.

#include <QString>

class KavioTimecodeTextFieldInterface {
public:
    virtual ~KavioTimecodeTextFieldInterface() = default;

    // Main thread.
    virtual bool isEditable() const = 0;
    virtual void setEditable(bool editable) = 0;

    // Any thread; neither blocks nor allocates: the clock thread calls them every frame.
    virtual bool threadsafeTimecodeEquals(const QString& timecode) const = 0;
    virtual void setThreadsafeTimecode(const QString& timecode) = 0;
    // Any thread.
    virtual QString threadsafeTimecode() const = 0;
};
