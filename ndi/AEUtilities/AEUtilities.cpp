#include "AEUtilities.h"

#include "AETime.h"
#include "Log.h"

#include <atomic>

const AudioStreamBasicDescription AEAudioDescription = {
    .mSampleRate = 0,
    .mFormatID = kAudioFormatLinearPCM,
    .mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved,
    .mBytesPerPacket = 4,
    .mFramesPerPacket = 1,
    .mBytesPerFrame = 4,
    .mChannelsPerFrame = 2,
    .mBitsPerChannel = 32,
    .mReserved = 0,
};

const AEChannelSet AEChannelSetDefault = {0, 1};

AudioStreamBasicDescription AEAudioDescriptionWithChannelsAndRate(int channels, double rate) {
    AudioStreamBasicDescription description = AEAudioDescription;
    description.mChannelsPerFrame = uint32_t(channels);
    description.mSampleRate = rate;
    return description;
}

AudioComponentDescription AEAudioComponentDescriptionMake(uint32_t manufacturer, uint32_t type, uint32_t subtype) {
    AudioComponentDescription description{};
    description.componentManufacturer = manufacturer;
    description.componentType = type;
    description.componentSubType = subtype;
    return description;
}

QVariant AEChannelSetValue::valueWithChannelSet(AEChannelSet set) { return QVariant::fromValue(set); }

AEChannelSet AEChannelSetValue::channelSetValue(const QVariant& value) {
    return value.canConvert<AEChannelSet>() ? value.value<AEChannelSet>() : AEChannelSet{0, 0};
}

bool AERateLimit() {
    // Tolerates races between threads: at worst a message more or less gets through.
    static std::atomic<double> windowStart{-1.0};
    static std::atomic<int> messages{0};
    const double now = AECurrentTimeInSeconds();
    const double start = windowStart.load();
    if (start < 0 || now - start > 1.0) {
        windowStart.store(now);
        messages.store(0);
    }
    const int count = ++messages;
    if (count <= 9) return true;
    if (count == 10) KLOG_WARN("TAAE: Suppressing some messages");
    return false;
}

bool AEError(int32_t status, const char* operation, const char* file, int line) {
    if (status == 0) return false;
    if (!AERateLimit()) return true;
    const auto code = uint32_t(status);
    if ((code & 0x80808000u) != 0) {
        KLOG_ERROR("{}:{}: {}: {}", file, line, operation, status);
    } else {
        const char chars[5] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code), 0};
        KLOG_ERROR("{}:{}: {}: '{}' ({})", file, line, operation, chars, status);
    }
    return true;
}
