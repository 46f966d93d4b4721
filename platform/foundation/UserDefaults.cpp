#include "UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <cmath>
#include <limits>

namespace {

// QSettings writes a top-level list of two or more values as comma-separated text and loses the
// kinds of its values; a dictionary goes through QDataStream and keeps them. So an array is
// stored inside a one-entry dictionary under this key and taken out again when read.
const QString kArrayWrapperKey = QStringLiteral("@KavioArray");

bool isList(const QVariant& v)
{
    return v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList;
}

QVariant unwrap(const QVariant& stored)
{
    if (stored.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = stored.toMap();
        if (map.size() == 1 && map.contains(kArrayWrapperKey)) return map.value(kArrayWrapperKey);
    }
    return stored;
}

// Text as the platform's number getters read it: "true"/"YES" count as 1.
bool textIsTrue(const QString& text)
{
    const QString t = text.trimmed();
    return t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
           t.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
}

double textToDouble(const QString& text)
{
    if (textIsTrue(text)) return 1.0;
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    return ok ? d : 0.0;
}

double toDouble(const QVariant& v)
{
    if (!v.isValid()) return 0.0;
    if (v.typeId() == QMetaType::QString) return textToDouble(v.toString());
    if (v.typeId() == QMetaType::Bool) return v.toBool() ? 1.0 : 0.0;
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok ? d : 0.0;
}

long toLong(const QVariant& v)
{
    if (!v.isValid()) return 0;
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool() ? 1 : 0;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar: return static_cast<long>(v.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: return static_cast<long>(v.toULongLong());
    case QMetaType::QString: {
        const QString text = v.toString().trimmed();
        bool ok = false;
        const qlonglong i = text.toLongLong(&ok);
        if (ok) return static_cast<long>(i);
        break;
    }
    default: break;
    }
    const double d = toDouble(v);
    if (std::isnan(d)) return 0;
    if (d >= static_cast<double>(std::numeric_limits<long>::max())) return std::numeric_limits<long>::max();
    if (d <= static_cast<double>(std::numeric_limits<long>::min())) return std::numeric_limits<long>::min();
    return static_cast<long>(d);  // toward zero, like the platform
}

bool toBool(const QVariant& v)
{
    if (!v.isValid()) return false;
    if (v.typeId() == QMetaType::Bool) return v.toBool();
    if (v.typeId() == QMetaType::QString) {
        const QString t = v.toString().trimmed();
        if (textIsTrue(t)) return true;
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 ||
            t.compare(QLatin1String("no"), Qt::CaseInsensitive) == 0)
            return false;
        return textToDouble(t) != 0.0;
    }
    return toDouble(v) != 0.0;
}

}  // namespace

UserDefaults& UserDefaults::standardUserDefaults()
{
    static UserDefaults defaults;
    return defaults;
}

QString UserDefaults::defaultFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Kavio/Kavio.conf");
}

UserDefaults::UserDefaults() : UserDefaults(defaultFilePath()) {}

UserDefaults::UserDefaults(const QString& filePath) : filePath_(filePath)
{
    QDir().mkpath(QFileInfo(filePath_).absolutePath());
    settings_ = std::make_unique<QSettings>(filePath_, QSettings::IniFormat);
}

UserDefaults::~UserDefaults()
{
    std::lock_guard lock(mutex_);
    settings_->sync();
}

QString UserDefaults::filePath() const { return filePath_; }

QVariant UserDefaults::lookup(const QString& key) const
{
    if (settings_->contains(key)) {
        const QVariant stored = settings_->value(key);
        return unwrap(stored);
    }
    return registered_.value(key);
}

bool UserDefaults::hasKey(const QString& key) const
{
    std::lock_guard lock(mutex_);
    return settings_->contains(key);
}

QVariant UserDefaults::objectForKey(const QString& key) const
{
    std::lock_guard lock(mutex_);
    return lookup(key);
}

bool UserDefaults::boolForKey(const QString& key) const { return toBool(objectForKey(key)); }

long UserDefaults::integerForKey(const QString& key) const { return toLong(objectForKey(key)); }

float UserDefaults::floatForKey(const QString& key) const
{
    return static_cast<float>(toDouble(objectForKey(key)));
}

double UserDefaults::doubleForKey(const QString& key) const { return toDouble(objectForKey(key)); }

QString UserDefaults::stringForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
    case QMetaType::QString: return v.toString();
    case QMetaType::QByteArray:
    case QMetaType::QVariantMap:
    case QMetaType::QVariantList:
    case QMetaType::QStringList: return QString();
    default: break;
    }
    return v.canConvert<QString>() ? v.toString() : QString();
}

QByteArray UserDefaults::dataForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QVariantMap) return v.toMap();
    if (v.typeId() == QMetaType::QVariantHash) {
        QVariantMap map;
        const QVariantHash hash = v.toHash();
        for (auto it = hash.constBegin(); it != hash.constEnd(); ++it) map.insert(it.key(), it.value());
        return map;
    }
    return QVariantMap();
}

QVariantList UserDefaults::arrayForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    return isList(v) ? v.toList() : QVariantList();
}

QStringList UserDefaults::stringArrayForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (!isList(v)) return QStringList();
    QStringList out;
    for (const QVariant& item : v.toList()) {
        if (item.typeId() != QMetaType::QString) return QStringList();
        out.append(item.toString());
    }
    return out;
}

void UserDefaults::setObject(const QVariant& value, const QString& key)
{
    if (!value.isValid()) {
        removeObjectForKey(key);
        return;
    }
    std::lock_guard lock(mutex_);
    if (isList(value)) settings_->setValue(key, QVariantMap{{kArrayWrapperKey, value}});
    else settings_->setValue(key, value);
}

void UserDefaults::setBool(bool value, const QString& key) { setObject(QVariant(value), key); }
void UserDefaults::setInteger(long value, const QString& key) { setObject(QVariant(qint64(value)), key); }
void UserDefaults::setFloat(float value, const QString& key) { setObject(QVariant(value), key); }
void UserDefaults::setDouble(double value, const QString& key) { setObject(QVariant(value), key); }
void UserDefaults::setString(const QString& value, const QString& key) { setObject(QVariant(value), key); }
void UserDefaults::setData(const QByteArray& value, const QString& key) { setObject(QVariant(value), key); }
void UserDefaults::setDictionary(const QVariantMap& value, const QString& key) { setObject(QVariant(value), key); }
void UserDefaults::setArray(const QVariantList& value, const QString& key) { setObject(QVariant(value), key); }

void UserDefaults::removeObjectForKey(const QString& key)
{
    std::lock_guard lock(mutex_);
    settings_->remove(key);
}

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    std::lock_guard lock(mutex_);
    for (auto it = defaults.constBegin(); it != defaults.constEnd(); ++it) registered_.insert(it.key(), it.value());
}

QVariantMap UserDefaults::registeredDefaults() const
{
    std::lock_guard lock(mutex_);
    return registered_;
}

QStringList UserDefaults::storedKeys() const
{
    std::lock_guard lock(mutex_);
    return settings_->allKeys();
}

bool UserDefaults::synchronize()
{
    std::lock_guard lock(mutex_);
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}
