// The Color Controls section: the six adjustments typed for two cues, the resets' undo steps,
// and what the fields refuse.

#include "InspectorTestSupport.h"

#include "Views/KavioButton.h"
#include "Views/KavioSlider.h"

#include "UndoManager.h"

#include <gtest/gtest.h>

using InspectorTest::Fixture;
using InspectorTest::TwoStills;

namespace {

using Outlets = KavioVideoItemPreferencesOutlets;

struct Adjustment {
    const char* typed;
    float value;  // slider and cue
    KavioSlider* Outlets::*slider;
    KavioTextField* Outlets::*field;
    float (KavioVideoItem::*get)() const;
    void (KavioVideoItem::*set)(float);
    const char* plural;
    const char* singular;
};

const Adjustment kAdjustments[] = {
    {"50", 0.5f, &Outlets::videoBrightness, &Outlets::videoBrightnessField, &KavioVideoItem::brightness,
     &KavioVideoItem::setBrightness, "Change Cues Brightness", "Change Cue Brightness"},
    {"-25", -0.25f, &Outlets::videoContrast, &Outlets::videoContrastField, &KavioVideoItem::contrast,
     &KavioVideoItem::setContrast, "Change Cues Contrast", "Change Video Contrast"},
    {"90", 0.5f, &Outlets::videoHue, &Outlets::videoHueField, &KavioVideoItem::hue, &KavioVideoItem::setHue,
     "Change Cues Hue", "Change Video Hue"},
    {"100", 1.0f, &Outlets::videoSaturation, &Outlets::videoSaturationField, &KavioVideoItem::saturation,
     &KavioVideoItem::setSaturation, "Change Cues Saturation", "Change Video Saturation"},
    {"-100", -1.0f, &Outlets::videoVibrance, &Outlets::videoVibranceField, &KavioVideoItem::vibrance,
     &KavioVideoItem::setVibrance, "Change Cues Vibrance", "Change Video Vibrance"},
    {"50", 0.5f, &Outlets::videoOpacity, &Outlets::videoOpacityField, &KavioVideoItem::opacity, &KavioVideoItem::setOpacity,
     "Change Cues Opacity", "Change Video Opacity"},
};

TEST(KavioInspectorColor, ATypedValueMovesTheSliderAndBothCuesInOneStepAndUndoShowsMixed)
{
    TwoStills f;
    for (const Adjustment& adj : kAdjustments) {
        SCOPED_TRACE(adj.plural);
        ((*f.a).*adj.set)(0.1f);
        ((*f.b).*adj.set)(0.2f);
        f.select({f.a, f.b});
        KavioTextField* field = f.o().*adj.field;
        EXPECT_EQ(Fixture::placeholder(field), kKavioMixedTitle);
        f.undo().removeAllActions();
        Fixture::type(field, QString::fromUtf8(adj.typed));
        EXPECT_FLOAT_EQ((f.o().*adj.slider)->floatValue(), adj.value);
        EXPECT_FLOAT_EQ(((*f.a).*adj.get)(), adj.value);
        EXPECT_FLOAT_EQ(((*f.b).*adj.get)(), adj.value);
        EXPECT_EQ(field->text(), QString::fromUtf8(adj.typed));
        EXPECT_EQ(Fixture::placeholder(field), QString());
        EXPECT_EQ(f.undo().undoCount(), 1);
        EXPECT_EQ(f.undo().undoActionName(), QString::fromUtf8(adj.plural));
        ASSERT_TRUE(f.undo().undo());
        EXPECT_FLOAT_EQ(((*f.a).*adj.get)(), 0.1f);
        EXPECT_FLOAT_EQ(((*f.b).*adj.get)(), 0.2f);
        EXPECT_EQ(Fixture::placeholder(field), kKavioMixedTitle);
        EXPECT_EQ(f.undo().redoActionName(), QString::fromUtf8(adj.singular));
        ASSERT_TRUE(f.undo().redo());
        EXPECT_FLOAT_EQ(((*f.b).*adj.get)(), adj.value);
    }
}

TEST(KavioInspectorColor, ResetsMakeOneStepPerAdjustmentAndResetAllOneOuterStep)
{
    TwoStills f;
    for (const Adjustment& adj : kAdjustments) {
        ((*f.a).*adj.set)(0.3f);
        ((*f.b).*adj.set)(-0.3f);
    }
    f.select({f.a, f.b});
    const struct {
        const char* title;
        int steps;
    } resets[] = {{"Reset HSV", 3}, {"Reset Brightness & Contrast", 2}, {"Reset Opacity", 1}, {"Reset All Parameters", 1}};
    for (const auto& reset : resets) {
        SCOPED_TRACE(reset.title);
        f.undo().removeAllActions();
        const QStringList titles = Fixture::chooseFromOptionsMenu(f.o().colorControlsOptionsButton, QString::fromUtf8(reset.title));
        EXPECT_EQ(titles.size(), 5);
        EXPECT_EQ(f.undo().undoCount(), reset.steps);
    }
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Reset All Parameters"));
    EXPECT_FLOAT_EQ(f.a->opacity(), 1.0f);
    EXPECT_EQ(f.o().videoOpacityField->text(), QStringLiteral("100"));
    EXPECT_FLOAT_EQ(f.b->hue(), 0.0f);

    // One undo of "Reset All Parameters" brings every adjustment of both cues back.
    f.undo().removeAllActions();
    f.a->setHue(0.3f);
    f.b->setOpacity(0.4f);
    Fixture::chooseFromOptionsMenu(f.o().colorControlsOptionsButton, QStringLiteral("Reset All Parameters"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FLOAT_EQ(f.a->hue(), 0.3f);
    EXPECT_FLOAT_EQ(f.b->opacity(), 0.4f);
    EXPECT_FALSE(f.undo().canUndo());
}

TEST(KavioInspectorColor, FieldsRefuseLettersAndValuesBeyondTheirRange)
{
    TwoStills f;
    f.select({f.a});
    const auto& o = f.o();
    for (const auto& [field, typed] : {std::pair{o.videoBrightnessField, "101"}, std::pair{o.videoContrastField, "-101"},
                                        std::pair{o.videoHueField, "181"}, std::pair{o.videoOpacityField, "-1"},
                                        std::pair{o.videoOpacityField, "101"}, std::pair{o.videoSaturationField, "abc"},
                                        std::pair{o.videoVibranceField, "-"}}) {
        SCOPED_TRACE(typed);
        const QString before = field->text();
        Fixture::type(field, QString::fromUtf8(typed));
        EXPECT_EQ(field->text(), before);
        EXPECT_EQ(f.undo().undoCount(), 0);
    }
    for (const Adjustment& adj : kAdjustments)
        EXPECT_TRUE(std::isfinite(((*f.a).*adj.get)()));
}

}  // namespace
