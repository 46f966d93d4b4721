// The Geometry section at a 1920 × 1080 canvas and after the outputs change it to 1280 × 720:
// pixel fields and their bounds, the link, the crop and the resets, each undone and redone.

#include "InspectorTestSupport.h"

#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioSlider.h"

#include "UndoManager.h"

#include <QTest>

#include <cmath>

#include <gtest/gtest.h>

using InspectorTest::Fixture;

namespace {

struct ThreeStills : Fixture {
    std::shared_ptr<KavioVideoItem> a, b, c;
    ThreeStills()
    {
        a = add(still(QStringLiteral("a.png")));
        b = add(still(QStringLiteral("b.png")));
        c = add(still(QStringLiteral("c.png")));
        setRenderSize({1920, 1080});
    }
};

KavioGeometryCrop cropOf(float top, float right, float bottom, float left)
{
    return {top, right, bottom, left};
}

bool sameCrop(const KavioGeometryCrop& x, const KavioGeometryCrop& y)
{
    return x.top == y.top && x.right == y.right && x.bottom == y.bottom && x.left == y.left;
}

TEST(KavioInspectorGeometry, PixelFieldsTakeWhatTheCanvasHoldsAndFollowARenderSizeChange)
{
    ThreeStills f;
    f.select({f.a});
    const auto& o = f.o();
    struct Bound {
        KavioTextField* field;
        long lowest, highest;  // at 1920 × 1080, then at 1280 × 720
        long lowestSmall, highestSmall;
    };
    const Bound bounds[] = {
        {o.geometryPosXField, -1920, 1920, -1280, 1280}, {o.geometryPosYField, -1080, 1080, -720, 720},
        {o.cropLeftField, 0, 960, 0, 640},               {o.cropRightField, 960, 1920, 640, 1280},
        {o.cropTopField, 540, 1080, 360, 720},           {o.cropBottomField, 0, 540, 0, 360},
    };
    const auto checkBounds = [&](bool small) {
        for (const Bound& b : bounds) {
            const long lowest = small ? b.lowestSmall : b.lowest;
            const long highest = small ? b.highestSmall : b.highest;
            SCOPED_TRACE(QStringLiteral("%1..%2").arg(lowest).arg(highest).toStdString());
            for (const long edge : {lowest, highest}) {
                Fixture::type(b.field, QString::number(edge));
                EXPECT_EQ(b.field->text(), QString::number(edge));
            }
            for (const long beyond : {lowest - 1, highest + 1}) {
                const QString before = b.field->text();
                const int records = f.undo().undoCount();
                Fixture::type(b.field, QString::number(beyond));
                EXPECT_EQ(b.field->text(), before);
                EXPECT_EQ(f.undo().undoCount(), records);
            }
        }
    };
    checkBounds(false);

    Fixture::type(o.geometryPosXField, QStringLiteral("960"));
    const float s = f.a->geometryPosX();
    EXPECT_EQ(long(std::trunc(double(o.geometryPosXSlider->floatValue()) * 1920)), 960);
    EXPECT_EQ(long(std::trunc(double(s) * 1920)), 960);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Geometry X Positions"));
    Fixture::type(o.cropRightField, QStringLiteral("1500"));
    EXPECT_EQ(f.a->geometryCropRightAsPixels(), 1500);

    f.setRenderSize({1280, 720});
    EXPECT_EQ(o.geometryPosXField->text(), QString::number(long(std::trunc(double(s) * 1280))));
    EXPECT_EQ(o.cropRightField->text(), QString::number(f.a->geometryCropRightAsPixels()));
    checkBounds(true);

    // No canvas: no pixels to place by, so nothing changes.
    f.setRenderSize({0, 0});
    const float x = f.a->geometryPosX();
    const int records = f.undo().undoCount();
    for (KavioTextField* field : {o.geometryPosXField, o.cropLeftField})
        Fixture::type(field, QStringLiteral("0"));
    EXPECT_EQ(f.a->geometryPosX(), x);
    EXPECT_EQ(f.undo().undoCount(), records);
}

TEST(KavioInspectorGeometry, ScaleFieldsSpeakPercentAndALinkedCueMovesBothScales)
{
    ThreeStills f;
    const auto& o = f.o();
    f.a->setGeometryScaleH(0.5f);
    f.select({f.a});
    EXPECT_EQ(o.geometryScaleHField->text(), QStringLiteral("150"));

    f.a->setGeometryScaleH(0);
    f.a->setGeometryScaleLink(false);
    f.b->setGeometryScaleLink(true);
    f.select({f.a, f.b});
    Fixture::type(o.geometryScaleHField, QStringLiteral("150"));
    EXPECT_FLOAT_EQ(o.geometryScaleHSlider->floatValue(), 0.5f);
    for (const auto& cue : {f.a, f.b})
        EXPECT_FLOAT_EQ(cue->geometryScaleH(), 0.5f);
    EXPECT_FLOAT_EQ(f.a->geometryScaleV(), 0.0f);
    EXPECT_FLOAT_EQ(f.b->geometryScaleV(), 0.5f);
    EXPECT_FLOAT_EQ(o.geometryScaleVSlider->floatValue(), 0.5f);
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Geometry Scales"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FLOAT_EQ(f.b->geometryScaleH(), 0.0f);
    EXPECT_FLOAT_EQ(f.b->geometryScaleV(), 0.0f);
    ASSERT_TRUE(f.undo().redo());
    EXPECT_FLOAT_EQ(f.b->geometryScaleV(), 0.5f);

    // Rotation and scale keep to their ranges; letters never reach the field.
    for (const auto& [field, typed] : {std::pair{o.geometryScaleHField, "201"}, std::pair{o.geometryScaleHField, "-1"},
                                        std::pair{o.geometryRotateField, "181"}, std::pair{o.geometryRotateField, "abc"}}) {
        SCOPED_TRACE(typed);
        const QString before = field->text();
        const int records = f.undo().undoCount();
        Fixture::type(field, QString::fromUtf8(typed));
        EXPECT_EQ(field->text(), before);
        EXPECT_EQ(f.undo().undoCount(), records);
    }
    Fixture::type(o.geometryRotateField, QStringLiteral("-45"));
    EXPECT_FLOAT_EQ(f.a->geometryRotate(), -45.0f);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Geometry Rotates"));

    // A link click: one record per cue, no group; linking gives V the H value.
    f.select({f.a, f.b, f.c});
    for (const auto& cue : {f.a, f.b, f.c})
        cue->setGeometryScaleLink(false);
    f.c->setGeometryScaleH(0.25f);
    f.undo().removeAllActions();
    o.geometryScaleLinkButton->setState(1);
    f.panel->changeGeometryScaleLink();
    EXPECT_EQ(f.undo().undoCount(), 3);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Geometry Scale Link"));
    EXPECT_TRUE(f.c->geometryScaleLink());
    EXPECT_FLOAT_EQ(f.c->geometryScaleV(), 0.25f);
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FALSE(f.c->geometryScaleLink());
}

TEST(KavioInspectorGeometry, CropAndResetsGiveEachCueItsOwnValuesBackOnUndo)
{
    ThreeStills f;
    const auto& o = f.o();
    const KavioGeometryCrop crops[] = {cropOf(0.1f, 0.2f, 0.3f, 0.4f), cropOf(0.5f, 0, 0, 0), cropOf(0, 0, 0, 0.25f)};
    f.a->setGeometryCrop(crops[0]);
    f.b->setGeometryCrop(crops[1]);
    f.c->setGeometryCrop(crops[2]);
    f.a->setGeometryPosX(0.25f);
    f.b->setGeometryRotate(30);
    f.select({f.a, f.b, f.c});
    EXPECT_EQ(Fixture::placeholder(o.cropLeftField), kKavioMixedTitle);
    f.undo().removeAllActions();

    const QStringList titles = Fixture::chooseFromOptionsMenu(o.geometryOptionsButton, QStringLiteral("Reset Crop"));
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Reset All Parameters"), QString(), QStringLiteral("Reset Scale"),
                                   QStringLiteral("Reset Position"), QStringLiteral("Reset Rotate"), QStringLiteral("Reset Crop")}));
    for (const auto& cue : {f.a, f.b, f.c})
        EXPECT_TRUE(sameCrop(cue->geometryCrop(), {}));
    EXPECT_EQ(o.cropLeftField->text(), QStringLiteral("0"));
    EXPECT_EQ(o.cropRightField->text(), QStringLiteral("1920"));
    EXPECT_EQ(o.cropTopField->text(), QStringLiteral("1080"));
    EXPECT_EQ(o.cropBottomField->text(), QStringLiteral("0"));
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Crops"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_TRUE(sameCrop(f.a->geometryCrop(), crops[0]));
    EXPECT_TRUE(sameCrop(f.b->geometryCrop(), crops[1]));
    EXPECT_TRUE(sameCrop(f.c->geometryCrop(), crops[2]));
    EXPECT_EQ(f.undo().redoActionName(), QStringLiteral("Change Crop"));
    ASSERT_TRUE(f.undo().redo());
    EXPECT_TRUE(sameCrop(f.b->geometryCrop(), {}));
    ASSERT_TRUE(f.undo().undo());

    f.undo().removeAllActions();
    Fixture::chooseFromOptionsMenu(o.geometryOptionsButton, QStringLiteral("Reset All Parameters"));
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Reset All Parameters"));
    EXPECT_FLOAT_EQ(f.a->geometryPosX(), 0.0f);
    EXPECT_FLOAT_EQ(f.b->geometryRotate(), 0.0f);
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FLOAT_EQ(f.a->geometryPosX(), 0.25f);
    EXPECT_FLOAT_EQ(f.b->geometryRotate(), 30.0f);
    EXPECT_TRUE(sameCrop(f.a->geometryCrop(), crops[0]));
    ASSERT_TRUE(f.undo().redo());
    EXPECT_FLOAT_EQ(f.b->geometryRotate(), 0.0f);
}

TEST(KavioInspectorGeometry, DifferingCuesShowMixedPerControlAndAgreeingOnesTheirValue)
{
    ThreeStills f;
    const auto& o = f.o();
    f.a->setGeometryScaleMode(1);
    f.b->setGeometryScaleMode(2);
    f.a->setGeometryCrop(cropOf(0, 0, 0, 0.5f));
    f.select({f.a, f.b});
    KavioPopUpButton* modes = o.geometryScaleModePopup;
    EXPECT_EQ(modes->titleOfSelectedItem(), kKavioMixedTitle);
    EXPECT_FALSE(modes->itemAtIndex(0).enabled);
    EXPECT_EQ(Fixture::placeholder(o.cropLeftField), kKavioMixedTitle);
    for (KavioTextField* same : {o.cropRightField, o.cropTopField, o.cropBottomField, o.geometryPosXField})
        EXPECT_EQ(Fixture::placeholder(same), QString());

    modes->chooseItemAtIndex(modes->indexOfItemWithTag(3));
    EXPECT_EQ(f.a->geometryScaleMode(), 3);
    EXPECT_EQ(f.b->geometryScaleMode(), 3);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Scale Modes"));
    EXPECT_EQ(modes->indexOfItemWithTitle(kKavioMixedTitle), -1);
    EXPECT_EQ(modes->selectedTag(), 3);
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.a->geometryScaleMode(), 1);
    EXPECT_EQ(f.b->geometryScaleMode(), 2);

    o.geometryOriginPopup->chooseItemAtIndex(o.geometryOriginPopup->indexOfItemWithTag(1));
    EXPECT_EQ(f.b->geometryOrigin(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Origin"));
}

}  // namespace
