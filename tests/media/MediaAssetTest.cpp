#include "MediaAsset.h"
#include "MediaFixtures.h"

#include <gtest/gtest.h>

using MediaFixtures::path;

TEST(MediaAsset, ReadsDurationRateSizeAndTracksOfAMovie) {
    MediaError error;
    auto asset = MediaAsset::open(path("counter25.mp4"), &error);
    ASSERT_TRUE(asset) << error.message;
    EXPECT_NEAR(asset->duration().seconds(), 2.0, 0.03);  // the AAC track may end a packet late
    EXPECT_EQ(MediaTime::compare(asset->firstVideoTrack()->duration, MediaTime::make(2, 1)), 0);
    EXPECT_FLOAT_EQ(asset->nominalFrameRate(), 25.f);
    EXPECT_EQ(asset->naturalWidth(), 320);
    EXPECT_EQ(asset->naturalHeight(), 240);
    EXPECT_EQ(asset->colorMatrix(), MediaColorMatrix::ITU_R_709);
    EXPECT_FALSE(asset->isHap());

    const MediaTrack* video = asset->firstVideoTrack();
    ASSERT_TRUE(video);
    EXPECT_EQ(fourCCString(video->codecType), "avc1");
    EXPECT_EQ(video->bitsPerComponent, 8);
    EXPECT_FALSE(video->hasAlpha);
    EXPECT_EQ(video->rotationDegrees, 0);
    const MediaTrack* audio = asset->firstAudioTrack();
    ASSERT_TRUE(audio);
    EXPECT_EQ(fourCCString(audio->codecType), "aac ");
    EXPECT_EQ(audio->channelCount, 2);
    EXPECT_EQ(audio->channelLayout, "stereo");
    EXPECT_EQ(audio->sampleRate, 48000);
    EXPECT_TRUE(asset->tracksOfKind(MediaTrackKind::Caption).empty());
}

TEST(MediaAsset, NtscRateAndItsPreciseDuration) {
    auto asset = MediaAsset::open(path("counter2997.mov"));
    ASSERT_TRUE(asset);
    EXPECT_NEAR(asset->nominalFrameRate(), 29.97, 0.001);
    EXPECT_EQ(MediaTime::compare(asset->firstVideoTrack()->minFrameDuration,
                                 MediaTime::make(1001, 30000)),
              0);
    // 60 frames of 1001/30000 s each.
    EXPECT_EQ(MediaTime::compare(asset->duration(), MediaTime::make(60 * 1001, 30000)), 0)
        << asset->duration().description();
    EXPECT_FALSE(asset->hasAudio());
}

TEST(MediaAsset, TellsCodecsColourMatrixHapCaptionsAndRotation) {
    auto hap = MediaAsset::open(path("hap.mov"));
    ASSERT_TRUE(hap);
    EXPECT_TRUE(hap->isHap());
    EXPECT_EQ(fourCCString(hap->firstVideoTrack()->codecType), "Hap1");

    auto bt2020 = MediaAsset::open(path("bt2020.mp4"));
    ASSERT_TRUE(bt2020);
    EXPECT_EQ(bt2020->colorMatrix(), MediaColorMatrix::ITU_R_2020);
    EXPECT_EQ(bt2020->firstVideoTrack()->bitsPerComponent, 10);
    EXPECT_FALSE(bt2020->isHap());

    auto prores = MediaAsset::open(path("prores.mov"));
    ASSERT_TRUE(prores);
    EXPECT_EQ(fourCCString(prores->firstVideoTrack()->codecType), "apcn");
    EXPECT_EQ(prores->colorMatrix(), MediaColorMatrix::Unspecified);

    auto captioned = MediaAsset::open(path("captions.mp4"));
    ASSERT_TRUE(captioned);
    auto captions = captioned->tracksOfKind(MediaTrackKind::Caption);
    ASSERT_EQ(captions.size(), 1u);
    EXPECT_EQ(fourCCString(captions[0]->codecType), "tx3g");

    auto rotated = MediaAsset::open(path("rotated.mp4"));
    ASSERT_TRUE(rotated);
    // The tool writes this tag as a quarter turn counter-clockwise, and shows it so itself.
    EXPECT_EQ(rotated->firstVideoTrack()->rotationDegrees, -90);
}

TEST(MediaAsset, AudioOnlyFileWithSixChannels) {
    auto asset = MediaAsset::open(path("six.wav"));
    ASSERT_TRUE(asset);
    EXPECT_FALSE(asset->hasVideo());
    EXPECT_EQ(asset->nominalFrameRate(), 0.f);
    const MediaTrack* audio = asset->firstAudioTrack();
    ASSERT_TRUE(audio);
    EXPECT_EQ(fourCCString(audio->codecType), "lpcm");
    EXPECT_EQ(audio->channelCount, 6);
    EXPECT_EQ(audio->channelLayout, "5.1");
    EXPECT_EQ(MediaTime::compare(asset->duration(), MediaTime::make(2, 1)), 0);
}

TEST(MediaAsset, BadFilesGiveClearErrors) {
    const struct {
        std::string file;
        MediaErrorCode code;
    } cases[] = {
        {MediaFixtures::folder() + "/nothing-here.mov", MediaErrorCode::FileNotFound},
        {"", MediaErrorCode::FileNotFound},
        {MediaFixtures::folder(), MediaErrorCode::Unreadable},  // a folder
        {path("notmedia.mov"), MediaErrorCode::NotMedia},
        {path("headless.mp4"), MediaErrorCode::NotMedia},  // cut off before its index
    };
    for (const auto& c : cases) {
        MediaError error;
        EXPECT_FALSE(MediaAsset::open(c.file, &error)) << c.file;
        EXPECT_EQ(error.code, c.code) << c.file << ": " << error.message;
        EXPECT_FALSE(error.message.empty());
    }
}

TEST(MediaAsset, FourCharacterCodes) {
    EXPECT_EQ(fourCC("avc1"), 0x61766331u);
    EXPECT_EQ(fourCCString(fourCC("Hap5")), "Hap5");
    EXPECT_EQ(fourCCString(24), "24");  // not printable: written as its number
}
