#include "PcmFormat.h"

#include "AEUtilities/AEUtilities.h"

PcmFormat::PcmFormat(double sampleRate, uint32_t channelCount, bool stereoLayout)
    : sampleRate_(sampleRate), channelCount_(channelCount), stereoLayout_(stereoLayout) {}

bool PcmFormat::isValid() const { return channelCount_ > 0 && sampleRate_ > 0; }

AudioStreamBasicDescription PcmFormat::streamDescription() const {
    return AEAudioDescriptionWithChannelsAndRate(int(channelCount_), sampleRate_);
}
