#pragma once
// Fakes for cue tests: a recording OSC output, a recording controller, and a cue that records
// its OSC address-space rebuilds.

#include "KavioVideoItem.h"

#include <QSizeF>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Keeps what each send carried at the moment it was sent.
struct RecordingOSCOutput {
    std::vector<QVTOSCMessage::Snapshot> sent;

    KavioOSCFeedbackSender sender()
    {
        return [this](const QVTOSCMessage& message) { sent.push_back(message.snapshot()); };
    }
    QStringList addresses() const
    {
        QStringList list;
        for (const auto& s : sent)
            list << s.address;
        return list;
    }
    void clear() { sent.clear(); }
};

class FakeKavioVideoItemManager : public KavioVideoItemManagerInterface {
public:
    bool loadingProject = false;
    QSizeF size{1920, 1080};
    int unsavedChangesCount = 0;

    bool isLoadingProject() const override { return loadingProject; }
    void setHasUnsavedChanges(bool hasUnsavedChanges) override
    {
        if (hasUnsavedChanges)
            ++unsavedChangesCount;
    }
    QSizeF renderSize() const override { return size; }
};

class RecordingCue : public KavioVideoItem {
public:
    using KavioVideoItem::KavioVideoItem;
    QStringList rebuilds;

    void buildOSCAddressSpaceForID(const QString& identifier) override
    {
        rebuilds << identifier;
        KavioVideoItem::buildOSCAddressSpaceForID(identifier);
    }
};

// A cue at `index` under a fake controller, with the creation feedback already cleared.
struct CueUnderTest {
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<RecordingCue> cue;

    explicit CueUnderTest(std::uint64_t index = 3)
    {
        cue = std::make_shared<RecordingCue>(osc.sender());
        cue->setManager(controller);
        cue->setIndex(index);
        cue->rebuilds.clear();
        osc.clear();
    }
};
