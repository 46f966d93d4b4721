#include "UndoManager.h"

#include "Log.h"

#include <algorithm>
#include <utility>

UndoManager::UndoManager() = default;
UndoManager::~UndoManager() = default;

void UndoManager::registerUndo(const void* target, Action action)
{
    if (disableCount_ > 0 || !action) return;
    Entry entry{target, std::move(action)};
    if (collecting_) {
        collecting_->entries.push_back(std::move(entry));
        return;
    }
    // A new edit: what could be redone no longer applies.
    redoStack_.clear();
    if (groupDepth_ > 0) {
        open_.entries.push_back(std::move(entry));
        return;
    }
    Step step;
    step.entries.push_back(std::move(entry));
    pushStep(undoStack_, std::move(step));
}

void UndoManager::beginUndoGrouping()
{
    if (groupDepth_ == 0) open_ = Step();
    ++groupDepth_;
}

void UndoManager::endUndoGrouping()
{
    if (groupDepth_ == 0) {
        KLOG_WARN("endUndoGrouping without beginUndoGrouping");
        return;
    }
    if (--groupDepth_ > 0) return;
    Step step = std::move(open_);
    open_ = Step();
    if (!step.entries.empty()) pushStep(undoStack_, std::move(step));
}

int UndoManager::groupingLevel() const { return groupDepth_; }

bool UndoManager::canUndo() const
{
    return groupDepth_ == 0 && !undoing_ && !redoing_ && !undoStack_.empty();
}

bool UndoManager::canRedo() const
{
    return groupDepth_ == 0 && !undoing_ && !redoing_ && !redoStack_.empty();
}

bool UndoManager::undo() { return perform(true); }
bool UndoManager::redo() { return perform(false); }

bool UndoManager::perform(bool undoing)
{
    if (undoing_ || redoing_) {
        KLOG_WARN("{} while an undo or redo is running", undoing ? "undo" : "redo");
        return false;
    }
    if (groupDepth_ > 0) {
        KLOG_WARN("{} while {} undo group(s) are open", undoing ? "undo" : "redo", groupDepth_);
        return false;
    }
    std::deque<Step>& from = undoing ? undoStack_ : redoStack_;
    if (from.empty()) return false;

    Step step = std::move(from.back());
    from.pop_back();

    Step collected;
    collected.name = step.name;
    collected.discardable = step.discardable;

    // Files what the actions registered on the other stack, also when one of them throws.
    struct Finish {
        UndoManager* self;
        Step* collected;
        bool undoing;
        ~Finish()
        {
            self->collecting_ = nullptr;
            self->undoing_ = false;
            self->redoing_ = false;
            if (!collected->entries.empty())
                self->pushStep(undoing ? self->redoStack_ : self->undoStack_, std::move(*collected));
        }
    } finish{this, &collected, undoing};

    collecting_ = &collected;
    (undoing ? undoing_ : redoing_) = true;
    for (auto it = step.entries.rbegin(); it != step.entries.rend(); ++it) it->action();
    return true;
}

UndoManager::Step* UndoManager::stepBeingNamed()
{
    if (collecting_) return collecting_;
    if (groupDepth_ > 0) return &open_;
    if (!undoStack_.empty()) return &undoStack_.back();
    return nullptr;
}

void UndoManager::setActionName(const QString& name)
{
    if (Step* step = stepBeingNamed()) step->name = name;
}

QString UndoManager::undoActionName() const
{
    return undoStack_.empty() ? QString() : undoStack_.back().name;
}

QString UndoManager::redoActionName() const
{
    return redoStack_.empty() ? QString() : redoStack_.back().name;
}

QString UndoManager::undoMenuItemTitle() const
{
    const QString name = undoActionName();
    return name.isEmpty() ? QStringLiteral("Undo") : QStringLiteral("Undo ") + name;
}

QString UndoManager::redoMenuItemTitle() const
{
    const QString name = redoActionName();
    return name.isEmpty() ? QStringLiteral("Redo") : QStringLiteral("Redo ") + name;
}

void UndoManager::setActionIsDiscardable(bool discardable)
{
    if (Step* step = stepBeingNamed()) step->discardable = discardable;
}

bool UndoManager::undoActionIsDiscardable() const
{
    return !undoStack_.empty() && undoStack_.back().discardable;
}

bool UndoManager::redoActionIsDiscardable() const
{
    return !redoStack_.empty() && redoStack_.back().discardable;
}

void UndoManager::disableUndoRegistration() { ++disableCount_; }

void UndoManager::enableUndoRegistration()
{
    if (disableCount_ == 0) {
        KLOG_WARN("enableUndoRegistration without disableUndoRegistration");
        return;
    }
    --disableCount_;
}

void UndoManager::removeAllActions()
{
    undoStack_.clear();
    redoStack_.clear();
    open_.entries.clear();
    if (collecting_) collecting_->entries.clear();
    disableCount_ = 0;
}

void UndoManager::removeAllActionsWithTarget(const void* target)
{
    auto strip = [target](std::vector<Entry>& entries) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [target](const Entry& e) { return e.target == target; }),
                      entries.end());
    };
    for (std::deque<Step>* stack : {&undoStack_, &redoStack_}) {
        for (Step& step : *stack) strip(step.entries);
        stack->erase(std::remove_if(stack->begin(), stack->end(),
                                    [](const Step& s) { return s.entries.empty(); }),
                     stack->end());
    }
    strip(open_.entries);
    if (collecting_) strip(collecting_->entries);
}

void UndoManager::setLevelsOfUndo(int levels)
{
    levels_ = std::max(0, levels);
    if (levels_ == 0) return;
    while (static_cast<int>(undoStack_.size()) > levels_) undoStack_.pop_front();
    while (static_cast<int>(redoStack_.size()) > levels_) redoStack_.pop_front();
}

void UndoManager::pushStep(std::deque<Step>& stack, Step step)
{
    stack.push_back(std::move(step));
    if (levels_ > 0)
        while (static_cast<int>(stack.size()) > levels_) stack.pop_front();
}
