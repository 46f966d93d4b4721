#pragma once
// A show of `count` copies of a counter movie, saved and opened from its file as the operator
// opens one (rendering running), every cue ready and the first one current.

#include "ShellTestSupport.h"

#include "../media/MediaFixtures.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/KavioWindow.h"
#include "DispatchQueue.h"
#include "Views/KavioButton.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

struct MovieShow {
    ShellTestEnvironment env;
    ShellTestProgram program{env};
    std::shared_ptr<KavioVideoItemManager> controller;
    KavioVideoItemListSnapshot cues;

    explicit MovieShow(int count)
    {
        program.launch();
        controller = program.ui->controller();
        const QString movie = QString::fromStdString(MediaFixtures::path("counter25.mp4"));
        for (int n = 0; n < count; ++n) {
            const QString copy = env.dir.filePath(QStringLiteral("cue%1.mp4").arg(n));
            EXPECT_TRUE(QFile::copy(movie, copy));
            EXPECT_TRUE(controller->createItemWithPath(copy));
        }
        AppDelegate& app = program.app();
        const QString path = env.dir.filePath(QStringLiteral("Show.kavio2"));
        EXPECT_TRUE(app.processSaveWithURL(path));
        app.newProject();
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return controller->items()->empty(); }, 30));
        program.load(path);
        cues = controller->items();
        EXPECT_EQ(cues->size(), std::size_t(count));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return allReady() && controller->canJump(); }, 30));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&program.ui->window()));
    }

    bool allReady() const
    {
        return std::all_of(cues->begin(), cues->end(), [](const auto& cue) { return cue->isReady(); });
    }
    void click(KavioButtonInterface* control)
    {
        auto* widget = dynamic_cast<KavioButton*>(control);
        ASSERT_TRUE(widget);
        ASSERT_TRUE(widget->isEnabled());
        QTest::mouseClick(widget, Qt::LeftButton);
    }
    // The jump has made `position` current and may take the next press.
    bool becomesCurrent(std::size_t position)
    {
        return DispatchQueue::runMainUntil(
            [&] { return controller->currentItem() == (*cues)[position] && controller->canJump(); }, 30);
    }
};

