#include "UndoManager.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The inspector's edit pattern: an edit action opens a group, runs the per-cue step for every
// selected cue and names the group; the per-cue step changes one cue, registers its own inverse
// (itself with the old value) and names the step.
struct Inspector {
    UndoManager& undoManager;
    std::map<std::string, int> loopCounts;  // cue uid -> loop count
    std::vector<std::string> selected;
    std::vector<bool> undoingSeen;

    void changeLoopCount(int value)
    {
        undoManager.beginUndoGrouping();
        for (const std::string& uid : selected) undoChangeLoopCount(value, uid);
        undoManager.endUndoGrouping();
        undoManager.setActionName(QStringLiteral("Change Loop Counts"));
    }

    void undoChangeLoopCount(int value, const std::string& uid)
    {
        auto it = loopCounts.find(uid);
        if (it == loopCounts.end()) return;
        const int old = it->second;
        if (old == value) return;
        it->second = value;
        undoingSeen.push_back(undoManager.isUndoing());
        undoManager.registerUndo(this, [this, old, uid] { undoChangeLoopCount(old, uid); });
        undoManager.setActionName(QStringLiteral("Change Loop Count"));
    }
};

TEST(UndoManager, AGroupOfPerCueStepsUndoesAndRedoesAsOneStep)
{
    UndoManager um;
    Inspector inspector{um, {{"a", 1}, {"b", 2}, {"c", 3}}, {"a", "b"}, {}};
    EXPECT_FALSE(um.canUndo());
    EXPECT_EQ(um.undoMenuItemTitle(), "Undo");

    inspector.changeLoopCount(5);
    EXPECT_EQ(inspector.loopCounts, (std::map<std::string, int>{{"a", 5}, {"b", 5}, {"c", 3}}));
    EXPECT_EQ(um.undoCount(), 1);
    EXPECT_EQ(um.undoActionName(), "Change Loop Counts");  // the name set last, after the group
    EXPECT_EQ(um.undoMenuItemTitle(), "Undo Change Loop Counts");
    EXPECT_FALSE(um.canRedo());

    ASSERT_TRUE(um.undo());
    EXPECT_EQ(inspector.loopCounts, (std::map<std::string, int>{{"a", 1}, {"b", 2}, {"c", 3}}));
    EXPECT_FALSE(um.canUndo());
    EXPECT_TRUE(um.canRedo());
    EXPECT_EQ(um.redoCount(), 1);
    // The per-cue steps ran by undo set their own name on the redo step.
    EXPECT_EQ(um.redoActionName(), "Change Loop Count");
    EXPECT_EQ(um.redoMenuItemTitle(), "Redo Change Loop Count");
    EXPECT_FALSE(um.isUndoing());

    ASSERT_TRUE(um.redo());
    EXPECT_EQ(inspector.loopCounts, (std::map<std::string, int>{{"a", 5}, {"b", 5}, {"c", 3}}));
    EXPECT_EQ(um.undoCount(), 1);
    EXPECT_EQ(um.redoCount(), 0);
    EXPECT_TRUE(um.undo());
    EXPECT_EQ(inspector.loopCounts["a"], 1);
    EXPECT_EQ(inspector.undoingSeen, (std::vector<bool>{false, false, true, true, false, false, true, true}));
}

TEST(UndoManager, EqualValueStepAndVanishedCueRegisterNothing)
{
    UndoManager um;
    Inspector inspector{um, {{"a", 4}}, {"a", "gone"}, {}};
    inspector.changeLoopCount(4);  // equal value: no record; the group stays empty
    EXPECT_FALSE(um.canUndo());
    EXPECT_EQ(um.undoActionName(), "");
}

TEST(UndoManager, RegistrationsOutsideAGroupAreStepsOfTheirOwn)
{
    UndoManager um;
    std::vector<int> ran;
    um.registerUndo(nullptr, [&] { ran.push_back(1); });
    um.setActionName(QStringLiteral("First"));
    um.registerUndo(nullptr, [&] { ran.push_back(2); });
    um.setActionName(QStringLiteral("Second"));
    EXPECT_EQ(um.undoCount(), 2);
    EXPECT_EQ(um.undoActionName(), "Second");
    ASSERT_TRUE(um.undo());
    EXPECT_EQ(ran, std::vector<int>{2});
    EXPECT_EQ(um.undoActionName(), "First");
    // A redo step that registered nothing during undo is not kept.
    EXPECT_FALSE(um.canRedo());
}

TEST(UndoManager, NestedGroupsAreOneStepRunNewestFirst)
{
    UndoManager um;
    std::vector<char> ran;
    um.beginUndoGrouping();
    um.registerUndo(nullptr, [&] { ran.push_back('A'); });
    um.beginUndoGrouping();
    EXPECT_EQ(um.groupingLevel(), 2);
    um.registerUndo(nullptr, [&] { ran.push_back('B'); });
    um.endUndoGrouping();
    EXPECT_EQ(um.undoCount(), 0);  // still inside the outer group
    EXPECT_FALSE(um.canUndo());
    EXPECT_FALSE(um.undo());        // refused while a group is open
    um.registerUndo(nullptr, [&] { ran.push_back('C'); });
    um.endUndoGrouping();
    um.endUndoGrouping();           // one end too many: ignored
    EXPECT_EQ(um.groupingLevel(), 0);
    EXPECT_EQ(um.undoCount(), 1);
    ASSERT_TRUE(um.undo());
    EXPECT_EQ(ran, (std::vector<char>{'C', 'B', 'A'}));
}

TEST(UndoManager, ANameAfterAnEmptyGroupRenamesTheStepBefore)
{
    UndoManager um;
    um.registerUndo(nullptr, [] {});
    um.setActionName(QStringLiteral("Move Item"));
    um.beginUndoGrouping();
    um.endUndoGrouping();
    um.setActionName(QStringLiteral("Change Cue IDs"));
    EXPECT_EQ(um.undoCount(), 1);
    EXPECT_EQ(um.undoActionName(), "Change Cue IDs");
}

TEST(UndoManager, RedoStackClearsOnlyOnNewEdits)
{
    UndoManager um;
    int value = 0;
    std::function<void(int)> set = [&](int v) {
        const int old = value;
        value = v;
        um.registerUndo(&value, [&set, old] { set(old); });
    };
    set(1);
    set(2);
    ASSERT_TRUE(um.undo());
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(um.undo());
    EXPECT_EQ(value, 0);
    EXPECT_EQ(um.redoCount(), 2);
    ASSERT_TRUE(um.redo());  // registrations made by redo keep the rest of the redo stack
    EXPECT_EQ(value, 1);
    EXPECT_EQ(um.redoCount(), 1);
    EXPECT_EQ(um.undoCount(), 1);
    set(7);                  // a new edit drops what could be redone
    EXPECT_FALSE(um.canRedo());
    EXPECT_EQ(um.undoCount(), 2);
}

TEST(UndoManager, RegistrationSwitchIsCounted)
{
    UndoManager um;
    um.disableUndoRegistration();
    um.disableUndoRegistration();
    um.enableUndoRegistration();
    EXPECT_FALSE(um.isUndoRegistrationEnabled());
    um.registerUndo(nullptr, [] {});
    EXPECT_FALSE(um.canUndo());
    um.enableUndoRegistration();
    um.enableUndoRegistration();  // without a disable: ignored, the count stays at 0
    EXPECT_TRUE(um.isUndoRegistrationEnabled());
    um.registerUndo(nullptr, [] {});
    EXPECT_TRUE(um.canUndo());

    um.disableUndoRegistration();
    um.removeAllActions();  // clears and re-enables
    EXPECT_TRUE(um.isUndoRegistrationEnabled());
    EXPECT_FALSE(um.canUndo());
}

TEST(UndoManager, RemoveAllActionsWithTarget)
{
    UndoManager um;
    int a = 0;
    int b = 0;
    std::vector<std::string> ran;
    um.registerUndo(&a, [&] { ran.push_back("a1"); });
    um.beginUndoGrouping();
    um.registerUndo(&a, [&] { ran.push_back("a2"); });
    um.registerUndo(&b, [&] { ran.push_back("b2"); });
    um.endUndoGrouping();
    um.registerUndo(&a, [&] { ran.push_back("a3"); });
    EXPECT_EQ(um.undoCount(), 3);

    um.removeAllActionsWithTarget(&a);
    EXPECT_EQ(um.undoCount(), 1);  // the steps holding only a's actions are gone
    ASSERT_TRUE(um.undo());
    EXPECT_EQ(ran, std::vector<std::string>{"b2"});
    EXPECT_FALSE(um.canUndo());
}

TEST(UndoManager, ActionThatThrowsLeavesTheManagerConsistent)
{
    UndoManager um;
    um.registerUndo(nullptr, [] {});
    um.registerUndo(nullptr, [&um] {
        um.registerUndo(nullptr, [] {});
        throw std::runtime_error("boom");
    });
    EXPECT_THROW(um.undo(), std::runtime_error);
    EXPECT_FALSE(um.isUndoing());
    EXPECT_EQ(um.redoCount(), 1);  // what was registered before the throw
    EXPECT_EQ(um.undoCount(), 1);
    EXPECT_TRUE(um.undo());
}

TEST(UndoManager, LevelsOfUndoDropTheOldestSteps)
{
    UndoManager um;
    std::vector<int> ran;
    for (int i = 1; i <= 3; ++i) um.registerUndo(nullptr, [&ran, i] { ran.push_back(i); });
    um.setLevelsOfUndo(2);
    EXPECT_EQ(um.undoCount(), 2);
    while (um.undo()) {
    }
    EXPECT_EQ(ran, (std::vector<int>{3, 2}));
}

}  // namespace
