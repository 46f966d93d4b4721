#pragma once
// The timecode-field interface on a plain Qt line edit, until the custom field takes over. The
// thread-safe text lives in a fixed buffer guarded by a sequence counter, so the clock thread
// never waits: a write that finds another writer at work is dropped (the next tick writes
// again), and the comparison answers "not equal" while a write is under way. The field shows the
// text 25 times a second unless the operator is typing in it.

#include "Support/KavioPlainTextField.h"
#include "Support/KavioTimecodeTextFieldInterface.h"

#include <array>
#include <atomic>

class KavioPlainTimecodeField : public KavioPlainTextField, public KavioTimecodeTextFieldInterface {
public:
    // Longer texts are cut to this many UTF-16 units ("-00:00:00:00" has 12).
    static constexpr int kMaxLength = 31;

    explicit KavioPlainTimecodeField(QWidget* parent = nullptr);

    bool isEditable() const override { return !isReadOnly(); }
    void setEditable(bool editable) override { setReadOnly(!editable); }

    bool threadsafeTimecodeEquals(const QString& timecode) const override;
    void setThreadsafeTimecode(const QString& timecode) override;
    QString threadsafeTimecode() const override;

private:
    void refresh();

    mutable std::atomic<unsigned> sequence_{0};  // odd while a write is under way
    std::atomic_flag writing_;
    std::array<std::atomic<char16_t>, kMaxLength> units_{};
    std::atomic<int> length_{0};
};
