#include "Cue/KavioVideoItem.h"

#include "Log.h"
#include "NotificationCenter.h"

#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr int kCropRecordSize = 16;
constexpr int kCueIDLength = 6;

// Values of a record may come from damaged files or hand-made clipboard data: each reader below
// answers nothing for a value of the wrong kind, logs it, and the caller keeps what it had.
void logIgnored(const char* key, const QVariant& value, const char* why)
{
    KLOG_WARN("cue record: \"{}\" ({}) {}, ignored", key, value.typeName() ? value.typeName() : "invalid",
              why);
}

// The value under `key` when it is of `kind`; nullptr when absent or (logged) of another kind.
const QVariant* findOfKind(const QVariantMap& data, const char* key, int kind, const char* otherKind)
{
    const auto it = data.constFind(QLatin1String(key));
    if (it == data.constEnd())
        return nullptr;
    if (it->typeId() != kind) {
        logIgnored(key, *it, otherKind);
        return nullptr;
    }
    return &*it;
}

bool isNumberKind(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

std::optional<double> readReal(const QVariantMap& data, const char* key)
{
    const auto it = data.constFind(QLatin1String(key));
    if (it == data.constEnd())
        return std::nullopt;
    if (!isNumberKind(*it)) {
        logIgnored(key, *it, "is not a number");
        return std::nullopt;
    }
    const double value = it->toDouble();
    if (!std::isfinite(value)) {
        logIgnored(key, *it, "is not finite");
        return std::nullopt;
    }
    return value;
}

std::optional<float> readFloat(const QVariantMap& data, const char* key, float lowest = -std::numeric_limits<float>::max())
{
    const auto value = readReal(data, key);
    if (!value)
        return std::nullopt;
    if (*value < double(lowest) || std::abs(*value) > double(std::numeric_limits<float>::max())) {
        logIgnored(key, data.value(QLatin1String(key)), "is out of range");
        return std::nullopt;
    }
    return float(*value);
}

// For the keys that older files rely on reading without a presence test: absent is 0.
std::optional<float> readFloatOrZero(const QVariantMap& data, const char* key)
{
    return data.contains(QLatin1String(key)) ? readFloat(data, key) : std::optional<float>(0.0f);
}

// Integers are read the way the platform's intValue reads any number: reals truncated.
std::optional<qint64> toInteger(const char* key, const QVariant& variant, qint64 lowest, qint64 highest)
{
    std::optional<qint64> value;
    if (variant.typeId() == QMetaType::ULongLong) {
        if (variant.toULongLong() <= quint64(std::numeric_limits<qint64>::max()))
            value = qint64(variant.toULongLong());
    } else if (variant.typeId() == QMetaType::Float || variant.typeId() == QMetaType::Double) {
        const double real = variant.toDouble();
        if (std::isfinite(real) && std::abs(real) < 9.2e18)
            value = qint64(real);
    } else if (isNumberKind(variant)) {
        value = variant.toLongLong();
    } else {
        logIgnored(key, variant, "is not a number");
        return std::nullopt;
    }
    if (!value || *value < lowest || *value > highest) {
        logIgnored(key, variant, "is out of range");
        return std::nullopt;
    }
    return value;
}

std::optional<qint64> readInteger(const QVariantMap& data, const char* key, qint64 lowest, qint64 highest)
{
    const auto it = data.constFind(QLatin1String(key));
    if (it == data.constEnd())
        return std::nullopt;
    return toInteger(key, *it, lowest, highest);
}

std::optional<std::int32_t> readInt32(const QVariantMap& data, const char* key,
                                      std::int32_t lowest = std::numeric_limits<std::int32_t>::min())
{
    const auto value = readInteger(data, key, lowest, std::numeric_limits<std::int32_t>::max());
    return value ? std::optional<std::int32_t>(std::int32_t(*value)) : std::nullopt;
}

// Booleans are numbers in records: any non-zero value is YES.
std::optional<bool> readBool(const QVariantMap& data, const char* key)
{
    const auto value = readReal(data, key);
    return value ? std::optional<bool>(*value != 0.0) : std::nullopt;
}

std::optional<QString> readString(const QVariantMap& data, const char* key)
{
    const QVariant* value = findOfKind(data, key, QMetaType::QString, "is not a string");
    return value ? std::optional<QString>(value->toString()) : std::nullopt;
}

std::optional<QByteArray> readData(const QVariantMap& data, const char* key, int size = -1)
{
    const QVariant* value = findOfKind(data, key, QMetaType::QByteArray, "is not data");
    if (!value)
        return std::nullopt;
    const QByteArray bytes = value->toByteArray();
    if (size >= 0 && bytes.size() != size) {
        logIgnored(key, *value, "has the wrong length");
        return std::nullopt;
    }
    return bytes;
}

std::optional<MediaTime> readMediaTime(const QVariantMap& data, const char* key)
{
    const auto bytes = readData(data, key, MediaTime::kRecordSize);
    return bytes ? std::optional<MediaTime>(MediaTime::fromData(*bytes)) : std::nullopt;
}

std::optional<QVariantMap> readDictionary(const QVariantMap& data, const char* key)
{
    const QVariant* value = findOfKind(data, key, QMetaType::QVariantMap, "is not a dictionary");
    return value ? std::optional<QVariantMap>(value->toMap()) : std::nullopt;
}

// More channels than any device has: a larger channel number or count in a record is damage,
// and bounding them keeps the counts computed from them far inside 32 bits.
constexpr qint64 kMaxDeviceChannels = 1024;

// A channel mapping: one entry per device channel, each a source channel from 1 or 0 for silence.
std::optional<QList<int>> readChannelMapping(const QVariantMap& data, const char* key)
{
    const QVariant* value = findOfKind(data, key, QMetaType::QVariantList, "is not a channel mapping");
    if (!value)
        return std::nullopt;
    const QVariantList entries = value->toList();
    if (entries.isEmpty() || entries.size() > kMaxDeviceChannels) {
        logIgnored(key, *value, "has no entries or more than a device has channels");
        return std::nullopt;
    }
    QList<int> mapping;
    for (const QVariant& entry : entries) {
        const auto channel = toInteger(key, entry, 0, kMaxDeviceChannels);
        if (!channel)
            return std::nullopt;
        mapping << int(*channel);
    }
    return mapping;
}

// A record without "maxchannels" feeds as many channels as its last entry names, plus one.
std::int32_t channelCount(const QVariantMap& data, const QList<int>& mapping)
{
    if (const auto count = readInteger(data, "maxchannels", 1, kMaxDeviceChannels))
        return std::int32_t(*count);
    return std::int32_t(std::min<qint64>(qint64(mapping.last()) + 1, kMaxDeviceChannels));
}

QVariantList channelMappingToRecord(const QList<int>& mapping)
{
    QVariantList list;
    for (int channel : mapping)
        list << qint32(channel);
    return list;
}

QByteArray cropToData(const KavioGeometryCrop& crop)
{
    QByteArray bytes(kCropRecordSize, '\0');
    char* out = bytes.data();
    for (float edge : {crop.top, crop.right, crop.bottom, crop.left}) {
        qToLittleEndian(edge, out);
        out += sizeof(float);
    }
    return bytes;
}

std::optional<KavioGeometryCrop> readCrop(const QVariantMap& data, const char* key)
{
    const auto bytes = readData(data, key, kCropRecordSize);
    if (!bytes)
        return std::nullopt;
    const char* in = bytes->constData();
    float edges[4];
    for (float& edge : edges) {
        edge = qFromLittleEndian<float>(in);
        in += sizeof(float);
        if (!std::isfinite(edge)) {
            logIgnored(key, data.value(QLatin1String(key)), "holds a non-finite edge");
            return std::nullopt;
        }
    }
    return KavioGeometryCrop{edges[0], edges[1], edges[2], edges[3]};
}

// The older single-digit scale modes were stored as tens.
std::int32_t currentScaleMode(std::int32_t mode)
{
    return mode > 5 ? mode / 10 : mode;
}

}  // namespace

QVariantMap KavioVideoItem::saveData() const
{
    QVariantMap data;
    const int type = mediaType();
    // A movie keeps part of its record until its media is ready. Saved in between (a quick save
    // after opening, a copy, a media that never loads), the cue writes those kept settings
    // rather than the defaults it shows meanwhile, so they are not lost.
    const QVariantMap kept = cachedRestoreData();
    const auto keptToggle = [&kept](const char* key, const KavioRowButton& button) {
        return readBool(kept, key).value_or(button.state != 0);
    };
    data.insert(QStringLiteral("mediaPath"), mediaPath());
    if (const QByteArray bookmark = bookmarkdata(); !bookmark.isEmpty())
        data.insert(QStringLiteral("bookmarkdata"), bookmark);
    data.insert(QStringLiteral("displayTitle"), displayTitle());
    data.insert(QStringLiteral("isLooping"), isLooping());
    data.insert(QStringLiteral("usesCustomTitleKey"), hasCustomTitle());
    data.insert(QStringLiteral("mediaType"), qint32(type));
    data.insert(QStringLiteral("isDeckLink"), isDeckLinkDevice());
    data.insert(QStringLiteral("duration"), cachedGoodDurationWhenMissing());
    data.insert(QStringLiteral("autoalignduration"), qint32(autoAlignToDuration()));
    data.insert(QStringLiteral("index"), quint64(index()));
    data.insert(QStringLiteral("uid"), uid());
    if (const QString device = deviceUID(); !device.isNull())
        data.insert(QStringLiteral("deviceUID"), device);
    data.insert(QStringLiteral("collapsed"), isCollapsed());
    data.insert(QStringLiteral("volume"), readFloat(kept, "volume", 0.0f).value_or(volume()));
    data.insert(QStringLiteral("opacity"), opacity());
    data.insert(QStringLiteral("brightness"), brightness());
    data.insert(QStringLiteral("contrast"), contrast());
    data.insert(QStringLiteral("hue"), hue());
    data.insert(QStringLiteral("saturation"), saturation());
    data.insert(QStringLiteral("vibrance"), vibrance());
    data.insert(QStringLiteral("fadein"), keptToggle("fadein", fadeInButton_));
    data.insert(QStringLiteral("fadeout"), keptToggle("fadeout", fadeOutButton_));
    data.insert(QStringLiteral("stopatbeginning"), shouldStopAtBeginning());
    data.insert(QStringLiteral("stopatend"), shouldStopAtEnd());
    data.insert(QStringLiteral("transition"), hasTransition());
    data.insert(QStringLiteral("transitiontype"), qint32(transitionType()));
    data.insert(QStringLiteral("cueid"), cueID_);
    data.insert(QStringLiteral("cuenotes"), cueNotes());
    data.insert(QStringLiteral("gotoitem"), gotoItemUID_.load());
    data.insert(QStringLiteral("gotoitemstate"), gotoButton_.state != 0);
    data.insert(QStringLiteral("loopcount"), qint32(loopCount()));
    if (!isUsingDefaultFadeDuration())
        data.insert(QStringLiteral("fadetime"), fadetime());
    if (!isUsingDefaultTransitionDuration())
        data.insert(QStringLiteral("transitiontime"), float(transitionTime()));
    if (const QString format = decklinkFormatString(); isDeckLinkDevice() && !format.isNull())
        data.insert(QStringLiteral("deckLinkFormatString"), format);
    if (type == KavioMediaTypeMovie || type == KavioMediaTypeAudio) {
        data.insert(QStringLiteral("_intime"), inTime().toData());
        data.insert(QStringLiteral("_outtime"), outTime().toData());
    }
    data.insert(QStringLiteral("_thumbtime"), thumbTime().toData());
    if (const auto keptMapping = readChannelMapping(kept, "channelmap")) {
        data.insert(QStringLiteral("channelmap"), channelMappingToRecord(*keptMapping));
        data.insert(QStringLiteral("maxchannels"), qint32(channelCount(kept, *keptMapping)));
    } else if (const auto player = audioPlayer()) {
        if (!isUsingDefaultAudioChannels())
            data.insert(QStringLiteral("channelmap"), channelMappingToRecord(player->channelMapping()));
        data.insert(QStringLiteral("maxchannels"), qint32(player->deviceChannels()));
    }
    data.insert(QStringLiteral("soundbutton"), keptToggle("soundbutton", soundButton_));
    data.insert(QStringLiteral("geometryscalemode"), qint32(geometryScaleMode()));
    data.insert(QStringLiteral("geometryorigin"), qint32(geometryOrigin()));
    data.insert(QStringLiteral("geometryscaleh"), geometryScaleH());
    data.insert(QStringLiteral("geometryscaley"), geometryScaleV());
    data.insert(QStringLiteral("geometryscalelink"), geometryScaleLink() ? 1.0f : 0.0f);
    data.insert(QStringLiteral("geometryscaleposx"), geometryPosX());
    data.insert(QStringLiteral("geometryscaleposy"), geometryPosY());
    data.insert(QStringLiteral("geometryrotate"), geometryRotate());
    data.insert(QStringLiteral("geometrycrop"), cropToData(geometryCrop()));
    if (isPDF())
        data.insert(QStringLiteral("pdfpage"), qint64(pdfPage()));
    data.insert(QStringLiteral("ColorTag"), qint32(colorTag()));
    if (type == KavioMediaTypeBrowser && browserSource_)
        data.insert(QStringLiteral("browsersource"), browserSource_->saveData());
    if (type == KavioMediaTypeWindow && windowSource_)
        data.insert(QStringLiteral("windowsource"), windowSource_->saveData());
    if (type == KavioMediaTypeMovie)
        data.insert(QStringLiteral("subtitletrack"), qint32(selectedCaptionTrack()));
    data.insert(QStringLiteral("playbackrate"), qint64(playbackRateAsPercent()));
    return data;
}

void KavioVideoItem::applyImportantDataToRestoreOnInit(const QVariantMap& data)
{
    if (const auto in = readMediaTime(data, "_intime"))
        setInTime(*in);
    // A rate below 1 % would stop the cue's clock and divide its times by zero.
    if (const auto rate = readInteger(data, "playbackrate", 1, std::numeric_limits<qint64>::max()))
        playbackRateAsPercent_.store(*rate);
    if (readBool(data, "isLooping").value_or(false)) {
        loopButton_.state = 1;
        setIsLooping(true);
    }
    if (!QFileInfo::exists(mediaPath())) {
        if (const auto bookmark = readData(data, "bookmarkdata"))
            setBookmarkdata(*bookmark);
    }
}

void KavioVideoItem::loadWithData(const QVariantMap& data)
{
    if (data.isEmpty())
        return;
    const auto controller = manager();

    if (const auto value = readInteger(data, "index", 1, std::numeric_limits<qint64>::max()))
        setIndex(std::uint64_t(*value));
    if (const auto value = readString(data, "cueid"))
        setCueID(value->left(kCueIDLength));
    if (const auto value = readString(data, "cuenotes"))
        setCueNotes(*value);
    // An empty uid would make the cue indistinguishable: it keeps the fresh one it was given.
    if (const auto value = readString(data, "uid"); value && !value->isEmpty())
        setUid(*value);
    if (const auto value = readString(data, "gotoitem")) {
        setGotoItemUID(*value);
        updateTransitionOnGotoItemChangeIfNeeded();
    }
    if (const auto value = readBool(data, "gotoitemstate")) {
        gotoButton_.state = *value ? 1 : 0;
        gotoTargetButton_.state = gotoButton_.state;
    }
    // A negative count is no number of plays (the endless marker is the largest count).
    if (const auto value = readInt32(data, "loopcount", 0))
        setLoopCount(*value);
    if (const auto value = readInt32(data, "transitiontype"))
        setTransitionType(*value);
    if (const auto value = readBool(data, "transition")) {
        setHasTransition(*value);
        transitionButton_.state = *value ? 1 : 0;
    }
    if (mediaType() != KavioMediaTypeMovie) {
        if (const auto value = readBool(data, "isLooping")) {
            loopButton_.state = *value ? 1 : 0;
            if (loopButton_.state == 1)
                setIsLooping(true);
        }
    }
    if (const auto value = readBool(data, "stopatbeginning")) {
        setShouldStopAtBeginning(*value);
        pauseAtBeginningButton_.state = *value ? 1 : 0;
    }
    std::optional<bool> stopAtEnd = readBool(data, "stopatend");
    if (!data.contains(QStringLiteral("stopatend")) && controller &&
        controller->shouldEnablePauseAtEndBecauseOfOldProject())
        stopAtEnd = true;
    if (stopAtEnd) {
        setShouldStopAtEnd(*stopAtEnd);
        pauseAtEndButton_.state = *stopAtEnd ? 1 : 0;
    }
    if (const auto value = readMediaTime(data, "_outtime"))
        setOutTime(*value);
    if (const auto value = readMediaTime(data, "_thumbtime"))
        setThumbTime(*value);
    if (const auto value = readBool(data, "isDeckLink"))
        setIsDeckLinkDevice(*value);
    if (const auto value = readString(data, "deviceUID"))
        setDeviceUID(*value);
    if (const auto value = readString(data, "deckLinkFormatString"))
        setDecklinkFormatString(*value);
    if (const auto value = readBool(data, "usesCustomTitleKey"))
        setHasCustomTitle(*value);
    if (const auto value = readString(data, "displayTitle")) {
        setDisplayTitle(*value);
        refreshTitle();
    }
    if (const auto value = readBool(data, "collapsed"))
        setIsCollapsed(*value);
    if (!isCollapsed()) {
        setIsCollapsed(true);
        expand();
    }
    if (const auto duration = readFloatOrZero(data, "duration")) {
        setCachedGoodDurationWhenMissing(*duration);
        setDurationOfNonMovies(*duration);
    }
    if (const auto value = readInt32(data, "autoalignduration"))
        setAutoAlignToDuration(*value);

    setGeometryScaleH(0.0f);
    if (const auto value = readFloat(data, "geometryscale")) {
        setGeometryScaleH(*value);
        if (geometryScaleLink())
            setGeometryScaleV(*value);
    }
    if (const auto value = readFloat(data, "geometryscaleh"))
        setGeometryScaleH(*value);
    if (const auto value = readFloat(data, "geometryscaley"))
        setGeometryScaleV(*value);
    if (const auto value = readReal(data, "geometryscalelink"))
        setGeometryScaleLink(*value != 0.0);
    if (const auto value = readFloat(data, "geometryscaleposx"))
        setGeometryPosX(*value);
    if (const auto value = readFloat(data, "geometryscaleposy"))
        setGeometryPosY(*value);
    if (const auto value = readInt32(data, "geometryscalemode"))
        setGeometryScaleMode(*value);
    if (const auto value = readInt32(data, "geometryorigin"))
        setGeometryOrigin(*value);
    setGeometryScaleMode(currentScaleMode(geometryScaleMode()));
    if (!data.contains(QStringLiteral("geometryrotate")))
        setGeometryRotate(0.0f);
    else if (const auto value = readFloat(data, "geometryrotate"))
        setGeometryRotate(*value);
    // Stored without the setter: restoring sends no crop feedback.
    if (const auto value = readCrop(data, "geometrycrop"))
        geometryCrop_.store(*value);

    const struct {
        const char* key;
        void (KavioVideoItem::*set)(float);
    } adjustments[] = {
        {"opacity", &KavioVideoItem::setOpacity},       {"brightness", &KavioVideoItem::setBrightness},
        {"contrast", &KavioVideoItem::setContrast},     {"hue", &KavioVideoItem::setHue},
        {"saturation", &KavioVideoItem::setSaturation}, {"vibrance", &KavioVideoItem::setVibrance},
    };
    for (const auto& adjustment : adjustments) {
        if (const auto value = readFloatOrZero(data, adjustment.key))
            (this->*adjustment.set)(*value);
    }

    if (const auto value = readFloat(data, "fadetime", 0.0f)) {
        setFadetime(*value);
        setIsUsingDefaultFadeDuration(false);
    }
    if (const auto value = readFloat(data, "transitiontime", 0.0f)) {
        setTransitionTime(*value);
        setIsUsingDefaultTransitionDuration(false);
    }
    if (const auto value = readInteger(data, "pdfpage", 1, std::numeric_limits<qint64>::max()))
        setPdfPage(std::uint64_t(*value));
    if (const auto value = readInt32(data, "ColorTag"))
        setColorTag(*value);

    validateToggles();
    setCachedRestoreData(data);
    if (mediaType() != KavioMediaTypeMovie)
        applyCachedLoadData();
    else if (const auto track = readInt32(data, "subtitletrack", -1))
        setSelectedCaptionTrack(*track);
    // The controller rebuilds the following cues' times from a missing cue's transition.
    if (isMissing())
        setTransitionTime(transitionTime());
    NotificationCenter::defaultCenter().post(kKavioItemBecameReadyNotification);
}

void KavioVideoItem::applyCachedLoadData()
{
    const QVariantMap data = cachedRestoreData();
    if (data.isEmpty())
        return;
    if (const auto mapping = readChannelMapping(data, "channelmap")) {
        setIsUsingDefaultAudioChannels(false);
        if (const auto player = audioPlayer())
            player->setOutputChannelMapping(*mapping, channelCount(data, *mapping));
    }
    if (const auto value = readFloat(data, "volume", 0.0f))
        setVolume(*value);
    for (const auto& [key, button] : {std::pair<const char*, KavioRowButton*>{"fadein", &fadeInButton_},
                                      {"fadeout", &fadeOutButton_},
                                      {"soundbutton", &soundButton_}}) {
        if (const auto value = readBool(data, key))
            button->state = *value ? 1 : 0;
    }
    if (browserSource_) {
        if (const auto value = readDictionary(data, "browsersource"))
            browserSource_->loadWithData(*value);
    }
    if (windowSource_) {
        if (const auto value = readDictionary(data, "windowsource"))
            windowSource_->loadWithData(*value);
    }
    setCachedRestoreData({});
    volumeChanged();
}

QVariantMap KavioVideoItem::sharedCueData() const
{
    const auto controller = manager();
    const double start = controller ? controller->secondsForSMPTEString(originalItemStartSMPTETime()) : 0.0;
    return {
        {QStringLiteral("name"), hasCustomTitle() ? displayTitle() : defaultTitle()},
        {QStringLiteral("time"), float(start)},
    };
}
