#pragma once
// Names and user-info keys of everything the MIDI manager posts on its private notification
// centre (QVTMIDIManager::midiKitNotificationCenter()). Input notifications carry the
// receiving node (a QVTMIDIReceiverNode*) as object; every user-info value is a number.

#include <QString>

namespace TonarilNotifications {

inline const QString kSetupChanged = QStringLiteral("QVTMIDI-SETUPCHANGED");  // no object, no user info

inline const QString kNoteReceived = QStringLiteral("QVTMIDI-NOTE-RECEIVED");  // "CH", "NOTE", "VAL", "TYPE"
inline const QString kCCReceived = QStringLiteral("QVTMIDI-CC-RECEIVED");        // "CH", "CC", "VAL"
inline const QString kMTCQuarterFrameReceived =
    QStringLiteral("QVTMIDI-MTCQUARTERFRAME-RECEIVED");  // "TIMESTAMPT", "PNUM", "PACKETDATA"
inline const QString kMTCFullFrameReceived =
    QStringLiteral("QVTMIDI-MTCFULLFRAME-RECEIVED");  // "HH", "mm", "ss", "ff", "fm"
inline const QString kClockStop = QStringLiteral("QVTMIDI_RECEIVED_CLOCK_STOP");  // no user info

inline const QString kMMCStop = QStringLiteral("QVTMIDI_RECEIVED_MMC_STOP");      // "deviceID"
inline const QString kMMCPlay = QStringLiteral("QVTMIDI_RECEIVED_MMC_PLAY");      // "deviceID"
inline const QString kMMCRewind = QStringLiteral("QVTMIDI_RECEIVED_MMC_REWIND");  // "deviceID"
inline const QString kMMCLocate =
    QStringLiteral("QVTMIDI_RECEIVED_MMC_LOCATE");  // "HH", "mm", "ss", "ff", "fm", "deviceID"

inline const QString kMSCGo = QStringLiteral("QVTMIDI_RECEIVED_MSC_GO");  // "deviceID", "cueNum"
inline const QString kMSCStop = QStringLiteral("QVTMIDI_RECEIVED_MSC_STOP");
inline const QString kMSCResume = QStringLiteral("QVTMIDI_RECEIVED_MSC_RESUME");
inline const QString kMSCAllOff = QStringLiteral("QVTMIDI_RECEIVED_MSC_ALLOFF");
inline const QString kMSCRestore = QStringLiteral("QVTMIDI_RECEIVED_MSC_RESTORE");
inline const QString kMSCReset = QStringLiteral("QVTMIDI_RECEIVED_MSC_RESET");

}  // namespace TonarilNotifications
