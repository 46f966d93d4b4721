#pragma once
// Application-wide settings (the platform's user defaults), kept with QSettings in INI format.
//
// Where: standardUserDefaults() uses $XDG_CONFIG_HOME/Kavio/Kavio.conf, or
// ~/.config/Kavio/Kavio.conf when XDG_CONFIG_HOME is unset, empty or not an absolute path. The
// variable is read when the object is made (for standardUserDefaults(), at first use). Tests
// make their own object on a file of their choice.
//
// Keys are plain names ("appSetup", "displayTRT", ...). Avoid "/" in keys: QSettings
// reads it as a group separator.
//
// Values and their kinds
// - Stored values: setObject() or the typed setters. A stored value is written to the file at
//   synchronize(), at destruction, or when QSettings decides to; other objects on the same file
//   in this process see it at once.
// - Dictionaries (QVariantMap) and arrays (QVariantList, QStringList) keep every value's kind,
//   at any depth, also after the file is read again.
// - Scalars (bool, integers, float, double, strings) are stored as text, so after the file is
//   read again objectForKey() answers them as QString ("true", "5", "0.25"). The typed getters
//   convert, so read scalars with boolForKey(), integerForKey(), doubleForKey().
// - Registered defaults (registerDefaults) answer for keys that hold no stored value. They live
//   in memory only and are never written to the file.
// - hasKey() tells whether a value is stored: an absent key is not the same as false or 0.
//
// Typed getters answer, in order: the stored value, else the registered default, else the type's
// empty value (false, 0, 0.0, "", empty data, empty map, empty list). A value of another kind
// converts where the platform's getters convert (a number or numeric text for integerForKey,
// "true"/"false"/"YES"/"NO" and numbers for boolForKey, a number for stringForKey); data, map
// and array getters answer empty for values of another kind.
//
// Thread-safe: every operation may be called from any thread.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <mutex>

class QSettings;

class UserDefaults {
public:
    // The program's settings, made on first use at defaultFilePath().
    static UserDefaults& standardUserDefaults();
    // $XDG_CONFIG_HOME/Kavio/Kavio.conf (or ~/.config/Kavio/Kavio.conf), read from the
    // environment now.
    static QString defaultFilePath();

    // Settings at defaultFilePath().
    UserDefaults();
    // Settings in the given INI file (its folder is made when missing).
    explicit UserDefaults(const QString& filePath);
    // Writes what is not yet written.
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    QString filePath() const;

    // Whether a value is stored for the key (registered defaults do not count).
    bool hasKey(const QString& key) const;
    // The stored value, else the registered default, else an invalid QVariant.
    QVariant objectForKey(const QString& key) const;

    bool boolForKey(const QString& key) const;
    long integerForKey(const QString& key) const;
    float floatForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;
    QByteArray dataForKey(const QString& key) const;
    QVariantMap dictionaryForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;
    QStringList stringArrayForKey(const QString& key) const;

    // Stores the value; an invalid QVariant removes the key (as setting nil does).
    void setObject(const QVariant& value, const QString& key);
    void setBool(bool value, const QString& key);
    void setInteger(long value, const QString& key);
    void setFloat(float value, const QString& key);
    void setDouble(double value, const QString& key);
    void setString(const QString& value, const QString& key);
    void setData(const QByteArray& value, const QString& key);
    void setDictionary(const QVariantMap& value, const QString& key);
    void setArray(const QVariantList& value, const QString& key);

    void removeObjectForKey(const QString& key);

    // Adds to (and replaces entries of) the registered defaults.
    void registerDefaults(const QVariantMap& defaults);
    QVariantMap registeredDefaults() const;

    // The keys that hold a stored value.
    QStringList storedKeys() const;

    // Writes pending changes and reads changes made by other processes. Answers false when the
    // file could not be written or read.
    bool synchronize();

private:
    QVariant lookup(const QString& key) const;  // caller holds mutex_

    mutable std::mutex mutex_;
    QString filePath_;
    std::unique_ptr<QSettings> settings_;
    QVariantMap registered_;
};
