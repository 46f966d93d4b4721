// Geometry and colour adjustments of a cue, their read-outs, and the OSC feedback they send.

#include "CueTestSupport.h"

#include "QVTOSCManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace {

using Setter = void (KavioVideoItem::*)(float);
using Getter = float (KavioVideoItem::*)() const;

struct ScalarCase {
    const char* parameter;
    Setter set;
    Getter get;
};

const ScalarCase kScalars[] = {
    {"opacity", &KavioVideoItem::setOpacity, &KavioVideoItem::opacity},
    {"brightness", &KavioVideoItem::setBrightness, &KavioVideoItem::brightness},
    {"contrast", &KavioVideoItem::setContrast, &KavioVideoItem::contrast},
    {"hue", &KavioVideoItem::setHue, &KavioVideoItem::hue},
    {"saturation", &KavioVideoItem::setSaturation, &KavioVideoItem::saturation},
    {"vibrance", &KavioVideoItem::setVibrance, &KavioVideoItem::vibrance},
    {"volume", &KavioVideoItem::setVolume, &KavioVideoItem::volume},
    {"rotate", &KavioVideoItem::setGeometryRotate, &KavioVideoItem::geometryRotate},
    {"posX", &KavioVideoItem::setGeometryPosX, &KavioVideoItem::geometryPosX},
    {"posY", &KavioVideoItem::setGeometryPosY, &KavioVideoItem::geometryPosY},
};

TEST(KavioVideoItemAdjustments, EachSetterSendsOneFloatToItsIndexAddressAndMarksTheProject)
{
    for (const ScalarCase& c : kScalars) {
        SCOPED_TRACE(c.parameter);
        CueUnderTest t(3);
        t.cue->setCueID("a1");  // value feedback still goes under the index
        t.osc.clear();
        (t.cue.get()->*c.set)(0.25f);
        EXPECT_FLOAT_EQ((t.cue.get()->*c.get)(), 0.25f);
        ASSERT_EQ(t.osc.sent.size(), 1u);
        EXPECT_EQ(t.osc.sent[0].address, QStringLiteral("/kavio/3/") + c.parameter);
        ASSERT_EQ(t.osc.sent[0].values.size(), 1u);
        EXPECT_EQ(t.osc.sent[0].values[0].first, QVTOSCValueTypeFloat);
        EXPECT_FLOAT_EQ(t.osc.sent[0].values[0].second.toFloat(), 0.25f);
        EXPECT_EQ(t.controller->unsavedChangesCount, 1);
    }
}

TEST(KavioVideoItemAdjustments, AMovedCueSendsUnderItsNewIndex)
{
    CueUnderTest t(3);
    t.cue->setIndex(5);
    t.cue->setOpacity(0.5f);
    EXPECT_EQ(t.osc.addresses(), QStringList{"/kavio/5/opacity"});
}

TEST(KavioVideoItemAdjustments, ASkipFlagSuppressesExactlyOneEcho)
{
    CueUnderTest t(3);
    t.cue->setOpacityFeedbackShouldSkip(true);
    t.cue->setOpacity(0.4f);
    EXPECT_TRUE(t.osc.sent.empty());
    EXPECT_FALSE(t.cue->opacityFeedbackShouldSkip());
    EXPECT_FLOAT_EQ(t.cue->opacity(), 0.4f);
    EXPECT_EQ(t.controller->unsavedChangesCount, 1);
    t.cue->setOpacity(0.6f);
    EXPECT_EQ(t.osc.addresses(), QStringList{"/kavio/3/opacity"});

    t.osc.clear();
    t.cue->setScaleFeedbackShouldSkip(true);
    t.cue->setGeometryScaleH(0.1f);
    t.cue->setGeometryScaleV(0.1f);
    EXPECT_EQ(t.osc.addresses(), QStringList{"/kavio/3/scale"});
}

TEST(KavioVideoItemAdjustments, LinkedScalesShareOneAddressCarryingTheHorizontalScale)
{
    CueUnderTest t(3);
    t.cue->setGeometryScaleH(0.5f);
    t.cue->setGeometryScaleV(-0.25f);
    ASSERT_EQ(t.osc.sent.size(), 2u);
    EXPECT_EQ(t.osc.addresses(), (QStringList{"/kavio/3/scale", "/kavio/3/scale"}));
    EXPECT_FLOAT_EQ(t.osc.sent[1].values[0].second.toFloat(), 0.5f);
    EXPECT_FLOAT_EQ(t.cue->geometryScaleH(), 0.5f);  // neither setter moves the other scale
    EXPECT_FLOAT_EQ(t.cue->geometryScaleV(), -0.25f);

    t.osc.clear();
    t.cue->setGeometryScaleLink(false);
    t.cue->setGeometryScaleH(0.2f);
    t.cue->setGeometryScaleV(0.3f);
    EXPECT_EQ(t.osc.addresses(), (QStringList{"/kavio/3/scaleH", "/kavio/3/scaleV"}));
    EXPECT_FLOAT_EQ(t.osc.sent[1].values[0].second.toFloat(), 0.3f);
}

TEST(KavioVideoItemAdjustments, CropSendsChangedEdgesLeftRightTopBottom)
{
    CueUnderTest t(3);
    t.cue->setGeometryCrop({0.1f, 0.2f, 0.3f, 0.4f});
    EXPECT_EQ(t.osc.addresses(), (QStringList{"/kavio/3/cropLeft", "/kavio/3/cropRight", "/kavio/3/cropTop",
                                              "/kavio/3/cropBottom"}));
    EXPECT_FLOAT_EQ(t.osc.sent[0].values[0].second.toFloat(), 0.4f);
    EXPECT_EQ(t.controller->unsavedChangesCount, 1);

    // The same crop again: nothing to send, but the project is still marked.
    t.osc.clear();
    t.cue->setGeometryCrop({0.1f, 0.2f, 0.3f, 0.4f});
    EXPECT_TRUE(t.osc.sent.empty());
    EXPECT_EQ(t.controller->unsavedChangesCount, 2);

    // A skipped edge only clears its flag; an unchanged edge keeps its flag.
    t.cue->setCropTopFeedbackShouldSkip(true);
    t.cue->setCropBottomFeedbackShouldSkip(true);
    t.cue->setGeometryCrop({0.5f, 0.2f, 0.3f, 0.0f});
    EXPECT_EQ(t.osc.addresses(), QStringList{"/kavio/3/cropLeft"});
    EXPECT_FALSE(t.cue->cropTopFeedbackShouldSkip());
    EXPECT_TRUE(t.cue->cropBottomFeedbackShouldSkip());
    EXPECT_FLOAT_EQ(t.cue->geometryCrop().top, 0.5f);
}

TEST(KavioVideoItemAdjustments, NonFiniteValuesAreRefusedAndNothingIsSent)
{
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (const ScalarCase& c : kScalars) {
        SCOPED_TRACE(c.parameter);
        CueUnderTest t(3);
        const float before = (t.cue.get()->*c.get)();
        for (float v : bad)
            (t.cue.get()->*c.set)(v);
        EXPECT_EQ((t.cue.get()->*c.get)(), before);
        EXPECT_TRUE(t.osc.sent.empty());
        EXPECT_EQ(t.controller->unsavedChangesCount, 0);
    }
    CueUnderTest t(3);
    t.cue->setGeometryScaleH(bad[0]);
    t.cue->setGeometryCrop({0.2f, bad[1], 0.0f, 0.0f});
    t.cue->setFadeOpacity(bad[0]);
    EXPECT_EQ(t.cue->geometryScaleH(), 0.0f);
    EXPECT_EQ(t.cue->geometryCrop().top, 0.0f);
    EXPECT_EQ(t.cue->fadeOpacity(), 1.0f);
    EXPECT_TRUE(t.osc.sent.empty());
}

TEST(KavioVideoItemAdjustments, OpacityAndFadesStayWithinZeroToOneAndVolumeAtZeroOrAbove)
{
    CueUnderTest t(3);
    t.cue->setOpacity(1.5f);
    EXPECT_FLOAT_EQ(t.cue->opacity(), 1.0f);
    EXPECT_FLOAT_EQ(t.osc.sent.back().values[0].second.toFloat(), 1.0f);
    t.cue->setOpacity(-0.5f);
    EXPECT_FLOAT_EQ(t.cue->opacity(), 0.0f);
    t.cue->setVolume(-2.0f);
    EXPECT_FLOAT_EQ(t.cue->volume(), 0.0f);
    t.cue->setVolume(2.5f);  // loudness normalisation may raise the gain above unity
    EXPECT_FLOAT_EQ(t.cue->volume(), 2.5f);
    t.cue->setFadeOpacity(3.0f);
    t.cue->setAudioFade(-1.0f);
    EXPECT_FLOAT_EQ(t.cue->fadeOpacity(), 1.0f);
    EXPECT_FLOAT_EQ(t.cue->audioFade(), 0.0f);
}

TEST(KavioVideoItemReadOuts, ScaleAsPercentTruncates)
{
    const std::pair<float, long> cases[] = {{-0.255f, 74}, {0.0f, 100}, {-1.0f, 0}, {1.0f, 200}};
    CueUnderTest t(3);
    for (const auto& [scale, percent] : cases) {
        t.cue->setGeometryScaleH(scale);
        t.cue->setGeometryScaleV(scale);
        EXPECT_EQ(t.cue->geometryScaleHAsPercent(), percent) << scale;
        EXPECT_EQ(t.cue->geometryScaleVAsPercent(), percent) << scale;
    }
}

TEST(KavioVideoItemReadOuts, CropAndPositionInPixelsAt1920x1080)
{
    struct Case {
        KavioGeometryCrop crop;
        long left, right, top, bottom;
    };
    const Case cases[] = {
        {{0.25f, 0.5f, 0.125f, 0.75f}, 720, 1440, 945, 67},
        {{0.1f, 0.2f, 0.0f, 0.0f}, 0, 1727, 1025, 0},
        {{0.0f, 0.0f, 0.0f, 0.0f}, 0, 1920, 1080, 0},
    };
    CueUnderTest t(3);
    for (const Case& c : cases) {
        t.cue->setGeometryCrop(c.crop);
        EXPECT_EQ(t.cue->geometryCropLeftAsPixels(), c.left);
        EXPECT_EQ(t.cue->geometryCropRightAsPixels(), c.right);
        EXPECT_EQ(t.cue->geometryCropTopAsPixels(), c.top);
        EXPECT_EQ(t.cue->geometryCropBottomAsPixels(), c.bottom);
    }
    t.cue->setGeometryPosX(0.5f);
    t.cue->setGeometryPosY(-0.1f);
    EXPECT_EQ(t.cue->geometryPosXAsPixels(), 960);
    EXPECT_EQ(t.cue->geometryPosYAsPixels(), -108);

    // The render size is read afresh, truncated; a zero size (or no controller) gives 0.
    t.controller->size = QSizeF(1280.9, 720.9);
    EXPECT_EQ(t.cue->geometryPosXAsPixels(), 640);
    t.controller->size = QSizeF(0, 0);
    t.cue->setGeometryCrop({0.25f, 0.5f, 0.125f, 0.75f});
    for (long v : {t.cue->geometryCropLeftAsPixels(), t.cue->geometryCropRightAsPixels(),
                   t.cue->geometryCropTopAsPixels(), t.cue->geometryCropBottomAsPixels(),
                   t.cue->geometryPosXAsPixels()})
        EXPECT_EQ(v, 0);
    t.cue->setManager({});
    EXPECT_EQ(t.cue->geometryCropRightAsPixels(), 0);
}

TEST(KavioVideoItemReadOuts, VolumeAsDecibels)
{
    CueUnderTest t(3);
    t.cue->setVolume(0.5f);
    EXPECT_NEAR(t.cue->volumeAsDecibels(), -6.0206f, 1e-3f);
    t.cue->setVolume(1.0f);
    EXPECT_FLOAT_EQ(t.cue->volumeAsDecibels(), 0.0f);
    t.cue->setVolume(0.0f);
    EXPECT_TRUE(std::isinf(t.cue->volumeAsDecibels()) && t.cue->volumeAsDecibels() < 0);
}

TEST(KavioVideoItemFeedback, ResendSendsEverythingInOrderWithoutMarkingTheProject)
{
    CueUnderTest t(3);
    t.cue->setCueName("Intro");
    t.cue->setOpacityFeedbackShouldSkip(true);
    t.cue->setCropTopFeedbackShouldSkip(true);
    t.cue->setGeometryScaleLink(false);
    t.osc.clear();
    t.controller->unsavedChangesCount = 0;

    t.cue->sendOSCFeedback();
    const QStringList expected{"/kavio/3/playbackSpeed", "/kavio/3/volume",   "/kavio/3/opacity",
                               "/kavio/3/brightness",    "/kavio/3/contrast", "/kavio/3/hue",
                               "/kavio/3/saturation",    "/kavio/3/vibrance", "/kavio/3/scaleH",
                               "/kavio/3/posX",          "/kavio/3/posY",     "/kavio/3/cueName"};
    EXPECT_EQ(t.osc.addresses(), expected);
    ASSERT_EQ(t.osc.sent[0].values.size(), 1u);
    EXPECT_EQ(t.osc.sent[0].values[0].first, QVTOSCValueTypeInteger);
    EXPECT_EQ(t.osc.sent[0].values[0].second.toLongLong(), 100);
    EXPECT_EQ(t.osc.sent.back().values[0].first, QVTOSCValueTypeString);
    EXPECT_EQ(t.osc.sent.back().values[0].second.toString(), "Intro");
    EXPECT_EQ(t.controller->unsavedChangesCount, 0);
    EXPECT_FALSE(t.cue->isProcessingOSCFeedbacks());
    EXPECT_TRUE(t.cue->cropTopFeedbackShouldSkip());
}

TEST(KavioVideoItemFeedback, ResendWithLinkedScalesUsesTheSharedAddress)
{
    CueUnderTest t(7);
    t.cue->sendOSCFeedback();
    EXPECT_TRUE(t.osc.addresses().contains("/kavio/7/scale"));
    EXPECT_FALSE(t.osc.addresses().contains("/kavio/7/scaleH"));
}

// Collects what an OSC input receives. Declared before the kit objects, so that it outlives
// their receiving threads.
struct ReceivedOSC {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<QVariantMap> messages;

    void observe(QVTOSCManager& manager)
    {
        manager.oscKitNotificationCenter().addObserver(this, kQVTOSCReceivedNotification, nullptr,
                                                       [this](const Notification& n) {
                                                           std::lock_guard lock(mutex);
                                                           messages.push_back(n.userInfo);
                                                           arrived.notify_all();
                                                       });
    }
    // The type code of the first argument sent to `address`, waiting up to three seconds; 0 when
    // nothing came.
    int waitForTypeAt(const QString& address)
    {
        std::unique_lock lock(mutex);
        int type = 0;
        arrived.wait_for(lock, std::chrono::seconds(3), [&] {
            for (const auto& info : messages)
                if (info.value(kQVTOSCAddressKey) == address)
                    type = info.value("0").toMap().value(kQVTOSCTypeKey).toInt();
            return type != 0;
        });
        return type;
    }
};

// The real OSC kit on 127.0.0.1: what the cue sends arrives with the argument types the clients
// rely on (float values, integer speed, string name).
TEST(KavioVideoItemFeedback, ReachesAnOSCClientWithItsTypes)
{
    ReceivedOSC received;
    QVTOSCManager client(nullptr);
    ASSERT_TRUE(client.createInputWithName("client", 0));
    received.observe(client);
    QVTOSCManager kit(nullptr);
    ASSERT_TRUE(kit.createOutputWithName("target", "127.0.0.1", client.portOfInputWithName("client")));

    KavioVideoItem cue([&kit](const QVTOSCMessage& m) { kit.sendOSCMessage(m); });
    cue.setIndex(4);
    cue.setCueName("Finale");
    cue.sendOSCFeedback();
    EXPECT_EQ(received.waitForTypeAt("/kavio/0/opacity"), QVTOSCValueTypeFloat);
    EXPECT_EQ(received.waitForTypeAt("/kavio/4/cueName"), QVTOSCValueTypeString);
    EXPECT_EQ(received.waitForTypeAt("/kavio/4/playbackSpeed"), QVTOSCValueTypeInteger);
}

}  // namespace
