#include "AEAudioBufferListUtilities.h"
#include "AudioTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(AEAudioBufferList, CreateFollowsTheFormatsLayout) {
    AudioStreamBasicDescription interleaved = AEAudioDescriptionWithChannelsAndRate(3, 48000);
    interleaved.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved;
    interleaved.mBytesPerFrame = interleaved.mBytesPerPacket = 12;
    struct Case {
        AudioStreamBasicDescription format;
        uint32_t buffers, channelsPerBuffer, bytes;
    };
    for (const Case& c : {Case{AEAudioDescriptionWithChannelsAndRate(3, 48000), 3, 1, 40}, Case{interleaved, 1, 3, 120}}) {
        AudioBufferList* list = AEAudioBufferListCreateWithFormat(&c.format, 10);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->mNumberBuffers, c.buffers);
        for (uint32_t i = 0; i < c.buffers; ++i) {
            EXPECT_EQ(list->mBuffers[i].mNumberChannels, c.channelsPerBuffer);
            EXPECT_EQ(list->mBuffers[i].mDataByteSize, c.bytes);
            EXPECT_EQ(static_cast<float*>(list->mBuffers[i].mData)[c.bytes / 4 - 1], 0.0f);
        }
        int channels = 0;
        EXPECT_EQ(AEAudioBufferListGetLengthWithFormat(list, &c.format, &channels), 10u);
        EXPECT_EQ(channels, 3);
        AEAudioBufferListFree(list);
    }
    AudioBufferList* empty = AEAudioBufferListCreate(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->mBuffers[0].mData, nullptr);
    AEAudioBufferListFree(empty);
}

TEST(AEAudioBufferList, CopyOwnsItsBytes) {
    OwnedList source(2, 4);
    source.fill([](uint32_t c, uint32_t k) { return float(c * 10 + k); });
    AudioBufferList* copy = AEAudioBufferListCopy(source.list);
    ASSERT_NE(copy, nullptr);
    source[1][3] = -1;
    EXPECT_EQ(static_cast<float*>(copy->mBuffers[1].mData)[3], 13.0f);
    AEAudioBufferListFree(copy);
}

TEST(AEAudioBufferList, SilenceOffsetAndAssignStayInsideTheBuffers) {
    OwnedList list(2, 8);
    list.fill([](uint32_t, uint32_t) { return 1.0f; });
    AEAudioBufferListSilence(list.list, 6, 100);  // clamped to the 8 frames there are
    EXPECT_EQ(list[0][5], 1.0f);
    EXPECT_EQ(list[1][7], 0.0f);

    AudioBufferList* view = static_cast<AudioBufferList*>(std::malloc(AudioBufferListSize(2)));
    AEAudioBufferListAssign(view, list.list, 2, 3);
    EXPECT_EQ(view->mBuffers[1].mData, list[1] + 2);
    EXPECT_EQ(view->mBuffers[1].mDataByteSize, 12u);
    AEAudioBufferListOffset(view, 5);  // more than the view holds: it becomes empty
    EXPECT_EQ(view->mBuffers[0].mDataByteSize, 0u);
    std::free(view);
}

TEST(AEAudioBufferList, CopyContentsSpreadsTheLastSourceBufferToTwoMore) {
    OwnedList mono(1, 4), target(4, 4);
    mono.fill([](uint32_t, uint32_t k) { return float(k + 1); });
    target.fill([](uint32_t, uint32_t) { return -1.0f; });
    AEAudioBufferListCopyContents(target.list, mono.list, 1, 0, 3);
    for (uint32_t c : {0u, 1u, 2u}) {
        EXPECT_EQ(target[c][0], -1.0f);
        EXPECT_EQ(target[c][1], 1.0f);
        EXPECT_EQ(target[c][3], 3.0f);
    }
    EXPECT_EQ(target[3][3], -1.0f) << "copying stops at the fourth buffer";
}

// Files: written by our writer or by the ffmpeg command, read back through the reader.
class AudioFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ndi-audiofile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string dir;
};

TEST_F(AudioFileTest, EveryWrittenTypeReadsBack) {
    struct Case {
        AEAudioFileType type;
        const char* name;
        float tolerance;
    };
    OwnedList tone(2, 4800);
    tone.fill([](uint32_t c, uint32_t k) { return 0.5f * std::sin(float(k) * (c == 0 ? 0.05f : 0.09f)); });
    for (const Case& c : {Case{AEAudioFileTypeAIFFFloat32, "a.aifc", 0}, Case{AEAudioFileTypeAIFFInt16, "b.aiff", 1e-4f},
                          Case{AEAudioFileTypeWAVInt16, "c.wav", 1e-4f}, Case{AEAudioFileTypeM4A, "d.m4a", -1}}) {
        const std::string path = dir + "/" + c.name;
        AEFileError error;
        AEExtAudioFile* file = AEExtAudioFileCreate(path, c.type, 48000, 2, &error);
        ASSERT_NE(file, nullptr) << c.name << ": " << error.description;
        EXPECT_EQ(AEExtAudioFileWrite(file, 4800, tone.list), 0) << c.name;
        EXPECT_EQ(AEExtAudioFileDispose(file), 0) << c.name;

        AudioBufferList* read = AEAudioBufferListCreateWithContentsOfFile(path, AEAudioDescription);
        ASSERT_NE(read, nullptr) << c.name;
        ASSERT_EQ(read->mNumberBuffers, 2u);
        const uint32_t frames = AEAudioBufferListGetLength(read, nullptr);
        const auto* right = static_cast<const float*>(read->mBuffers[1].mData);
        if (c.tolerance >= 0) {
            ASSERT_EQ(frames, 4800u) << c.name;
            for (uint32_t k = 0; k < frames; k += 97) EXPECT_NEAR(right[k], tone[1][k], c.tolerance) << c.name << " " << k;
        } else {
            // Lossy: the encoder adds priming and padding; the sound is there.
            EXPECT_GE(frames, 4800u);
            EXPECT_LT(frames, 4800u + 4096u);
            float peak = 0;
            for (uint32_t k = 0; k < frames; ++k) peak = std::max(peak, std::fabs(right[k]));
            EXPECT_NEAR(peak, 0.5f, 0.1f);
        }
        AEAudioBufferListFree(read);
    }
}

TEST_F(AudioFileTest, ReadsAnotherRateAtTheAskedRate) {
    const std::string path = dir + "/sine.wav";
    const std::string command = "ffmpeg -v error -f lavfi -i 'sine=frequency=440:sample_rate=44100:duration=0.5' -ac 1 '" +
                                path + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);

    AudioStreamBasicDescription fileFormat{};
    uint64_t length = 0;
    AEFileError error;
    AEExtAudioFile* file = AEExtAudioFileOpen(path, &fileFormat, &length, &error);
    ASSERT_NE(file, nullptr) << error.description;
    EXPECT_EQ(fileFormat.mSampleRate, 44100);
    EXPECT_EQ(fileFormat.mChannelsPerFrame, 1u);
    EXPECT_EQ(length, 22050u);
    AEExtAudioFileDispose(file);

    AudioBufferList* read =
        AEAudioBufferListCreateWithContentsOfFile(path, AEAudioDescriptionWithChannelsAndRate(2, 48000));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->mNumberBuffers, 2u);
    EXPECT_NEAR(double(AEAudioBufferListGetLength(read, nullptr)), 24000, 64);
    AEAudioBufferListFree(read);
}

TEST_F(AudioFileTest, BadFilesAndTypesFailWithAnError) {
    const std::string garbage = dir + "/garbage.wav";
    ASSERT_EQ(std::system(("head -c 3000 /dev/urandom > '" + garbage + "'").c_str()), 0);
    for (const std::string& path : {dir + "/missing.wav", garbage}) {
        AEFileError error;
        EXPECT_EQ(AEExtAudioFileOpen(path, nullptr, nullptr, &error), nullptr) << path;
        EXPECT_NE(error.code, 0);
        EXPECT_FALSE(error.description.empty());
        EXPECT_EQ(AEAudioBufferListCreateWithContentsOfFile(path, AEAudioDescription), nullptr);
    }
    AEFileError error;
    EXPECT_EQ(AEExtAudioFileOpen(dir + "/missing.wav", nullptr, nullptr, &error), nullptr);
    EXPECT_EQ(error.description, "Couldn't open source file");

    EXPECT_EQ(AEExtAudioFileCreate(dir + "/x.wav", AEAudioFileType(7), 48000, 2, &error), nullptr);
    EXPECT_EQ(error.description.rfind("Couldn't prepare the output format (error -50/", 0), 0u) << error.description;
    EXPECT_EQ(AEExtAudioFileCreate(dir + "/no/such/dir/x.wav", AEAudioFileTypeWAVInt16, 48000, 2, &error), nullptr);
    EXPECT_EQ(error.description, "Couldn't open the output file");
}

}  // namespace
