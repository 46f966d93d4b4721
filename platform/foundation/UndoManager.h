#pragma once
// The undo manager the program's edits are written against (the original platform's
// NSUndoManager): an edit registers its own inverse, and the inverse,
// when undo runs it, registers the edit again, which the manager files as redo. Qt's
// QUndoStack (commands pushed from outside, redo run on push) does not fit that pattern.
//
// Steps and groups
// - registerUndo(target, action) records an inverse. Inside an open group it joins that group;
//   outside any group it forms a step of its own.
// - beginUndoGrouping()/endUndoGrouping() nest; everything registered between the outermost
//   begin and its end is one step. A top-level group that received nothing is dropped when it
//   ends (no empty steps).
// - undo() runs the newest undo step's actions, newest first. What they register meanwhile forms
//   one redo step; redo() likewise runs the newest redo step and what it registers forms one undo
//   step. A registration made neither by undo() nor by redo() clears the redo steps.
// - undo()/redo() are refused (answer false, nothing runs) while a group is open, while an undo
//   or redo is running, or when there is no step. canUndo()/canRedo() answer true exactly when
//   undo()/redo() would run a step.
//
// Action names
// - setActionName(name) names the step being built: the open group, or during undo()/redo() the
//   step that is collecting their registrations; with no group open it names the newest step
//   (the one just registered or just closed). So the edit pattern "begin; per-cue steps (each
//   names itself 'Change Loop Count'); end; setActionName('Change Loop Counts')" leaves the
//   plural name. An empty group is dropped, so a name set after it renames the step before it,
//   as on the original platform.
// - A redo step starts with the name of the step whose undo made it; names set while undoing
//   replace it (the inspector's per-cue steps set their singular name). The same holds for
//   undo steps made by redo().
// - undoActionName()/redoActionName() answer the newest step's name ("" when unnamed or none);
//   undoMenuItemTitle()/redoMenuItemTitle() answer "Undo <name>" / "Redo <name>", or
//   "Undo"/"Redo" for an unnamed step.
//
// Registration switch
// - disableUndoRegistration()/enableUndoRegistration() are counted: registrations are ignored
//   while the count is above zero. An enable without a disable is ignored (and logged).
// - removeAllActions() clears both stacks (the actions of open groups too, the groups stay open)
//   and re-enables registration (the count becomes 0), as on the original platform.
// - removeAllActionsWithTarget(target) removes every action registered with that target,
//   dropping steps that become empty.
//
// Threads: one thread (the main thread in the program). Not thread-safe. Actions may call back
// into the manager (register, set names). An action that throws leaves the manager consistent:
// the step being built is filed with what it got, and the exception goes on to the caller.

#include <QString>

#include <deque>
#include <functional>
#include <vector>

class UndoManager {
public:
    using Action = std::function<void()>;

    UndoManager();
    ~UndoManager();
    UndoManager(const UndoManager&) = delete;
    UndoManager& operator=(const UndoManager&) = delete;

    // Records `action` as the inverse of what the caller just did. `target` identifies the
    // object the action works on, for removeAllActionsWithTarget(); it is never dereferenced.
    // Ignored while registration is disabled.
    void registerUndo(const void* target, Action action);

    void beginUndoGrouping();
    // Ends the innermost open group; an end without a begin is ignored (and logged).
    void endUndoGrouping();
    // Number of open groups.
    int groupingLevel() const;

    bool canUndo() const;
    bool canRedo() const;
    // Answer whether a step ran.
    bool undo();
    bool redo();
    bool isUndoing() const { return undoing_; }
    bool isRedoing() const { return redoing_; }

    void setActionName(const QString& name);
    QString undoActionName() const;
    QString redoActionName() const;
    QString undoMenuItemTitle() const;
    QString redoMenuItemTitle() const;
    // Marks the step being built (as setActionName chooses it) as discardable.
    void setActionIsDiscardable(bool discardable);
    bool undoActionIsDiscardable() const;
    bool redoActionIsDiscardable() const;

    void disableUndoRegistration();
    void enableUndoRegistration();
    bool isUndoRegistrationEnabled() const { return disableCount_ == 0; }

    void removeAllActions();
    void removeAllActionsWithTarget(const void* target);

    // Keeps at most this many undo steps (and as many redo steps), dropping the oldest;
    // 0 (the default) means no limit.
    void setLevelsOfUndo(int levels);
    int levelsOfUndo() const { return levels_; }

    int undoCount() const { return static_cast<int>(undoStack_.size()); }
    int redoCount() const { return static_cast<int>(redoStack_.size()); }

private:
    struct Entry {
        const void* target;
        Action action;
    };
    struct Step {
        std::vector<Entry> entries;
        QString name;
        bool discardable = false;
    };

    Step* stepBeingNamed();
    void pushStep(std::deque<Step>& stack, Step step);
    bool perform(bool undoing);

    std::deque<Step> undoStack_;
    std::deque<Step> redoStack_;
    Step open_;              // the step of the open groups (groupDepth_ > 0)
    int groupDepth_ = 0;
    Step* collecting_ = nullptr;  // during undo()/redo(): the step that gathers registrations
    bool undoing_ = false;
    bool redoing_ = false;
    int disableCount_ = 0;
    int levels_ = 0;
};
