#pragma once
// Keyed archives: the format of project files and of the clipboard's cue records, as the
// original program's platform archiver writes them and as its secure unarchiver reads them.
//
// An archive is a binary property list ("bplist00") holding one dictionary:
//   "$archiver" "NSKeyedArchiver", "$version" 100000, "$top" {"root": UID},
//   "$objects" [ "$null", ... ]
// Every value is an entry of "$objects", referred to by UID (its index there; UID 0 is nil):
//   strings, data and numbers stand there as plain property-list values; a container is a
//   dictionary with "$class" (a UID of {"$classname": ..., "$classes": [...]}) and
//   "NS.keys"/"NS.objects" (dictionaries) or "NS.objects" (arrays), arrays of UIDs.
//
// Values, both ways (the program's record types):
//
//   archive                                  QVariant
//   ---------------------------------------  -------------------------------------------------
//   NSDictionary, NSMutableDictionary        QVariantMap (keys must be strings)
//   NSArray, NSMutableArray                  QVariantList
//   string; NSString/NSMutableString         QString
//     {"NS.string": string}
//   data; NSData/NSMutableData               QByteArray
//     {"NS.data": data}
//   boolean                                  bool
//   integer (1, 2, 4, 8 bytes)               qint64 (read); written from any signed or unsigned
//                                            integer type: qint32 as qint32's value, and so on
//   integer of 16 bytes, high half zero      quint64 (read); written for an unsigned value
//                                            above INT64_MAX, as the platform does
//   4-byte real                              float
//   8-byte real                              double
//
// A property list cannot say "32-bit": every integer reads back as qint64 (as on the original
// platform, where it reads back as a 64-bit number), except a 16-byte unsigned one (quint64).
// Float and double keep their kind, by the real's width. Read records with toInt(), toFloat()...
//
// Reading is all or nothing: any other class (NSDate, NSURL, an unknown name), a date or other
// property-list type where a value is expected, a nil (UID 0) inside a container, a UID out of
// range, a reference cycle, nesting deeper than kMaxDepth, an expanded size above
// kMaxExpandedValues, truncated or damaged bytes, or a missing root give std::nullopt and an
// error text, never a partial value and never a crash.
//
// What archive() writes is what the platform's NSKeyedArchiver writes for immutable values:
// the class names NSDictionary, NSArray (with "$classes" [name, "NSObject"]); strings and data
// as plain values; equal strings, data and numbers written once and shared by UID; the class
// entry after its object's contents; floats as 4-byte reals and doubles as 8-byte reals.
//
// The codec is pure (bytes in, values out), keeps no state and may be used from any thread.
// It is our own binary property-list code rather than libplist 2.2's: libplist 2.2 picks a
// real's width from its value (0.5 as a double would be written as a 4-byte real), cannot write
// an unsigned 64-bit integer, and drops the width when reading. The tests use libplist as an
// independent reader and writer of fixtures.

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

class KeyedArchive {
public:
    // Containers nested deeper than this are refused both ways (a real record is ~6 deep).
    // Reading checks every place an object is reached from, so an object shared by several
    // containers cannot stand deeper than this at any of them: what reads can be written back.
    static constexpr int kMaxDepth = 512;
    // A read archive may share one object from many places; the value it expands to (every
    // container, key and value counted once per place), plus the entries passed over while
    // looking up objects' fields, must stay below this. Each object is decoded once however
    // many UIDs name it, so reading time and memory follow this count too: at this bound under
    // half a second and 32 MB of values. A cue record counts about 130, so a show of 7,000 cues
    // stays inside it.
    static constexpr qint64 kMaxExpandedValues = 1024 * 1024;

    // Reads an archive and answers its root object. On failure answers std::nullopt and, when
    // `error` is given, a sentence saying why ("unsupported class NSDate", ...).
    static std::optional<QVariant> unarchive(const QByteArray& data, QString* error = nullptr);

    // Convenience for the usual case: the root must be a dictionary (else an error).
    static std::optional<QVariantMap> unarchiveDictionary(const QByteArray& data,
                                                          QString* error = nullptr);

    // Writes `root` (any of the types above, usually a QVariantMap) as a binary keyed archive.
    // Also accepted: QVariantHash as a dictionary, QStringList as an array. Anything else
    // (an invalid QVariant, QDateTime, QUrl, ...) gives an empty QByteArray and an error text.
    static QByteArray archive(const QVariant& root, QString* error = nullptr);
};
